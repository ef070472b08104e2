#pragma once
// Whether work in hand is still wanted, asked now and then by anything that may take long, on
// any thread. Its owner cancels it; it also counts as cancelled while whatever it was told to
// follow says so (the close, or a stop, for work done ahead of its turn).
#include <atomic>
#include <functional>
#include <utility>

class Cancellation {
public:
    Cancellation() = default;
    explicit Cancellation(std::function<bool()> alsoWhen) : alsoWhen_(std::move(alsoWhen)) {}
    Cancellation(const Cancellation&) = delete;
    Cancellation& operator=(const Cancellation&) = delete;

    void cancel() { set_.store(true, std::memory_order_relaxed); }
    bool cancelled() const { return set_.load(std::memory_order_relaxed) || (alsoWhen_ && alsoWhen_()); }

private:
    std::atomic<bool> set_{false};
    const std::function<bool()> alsoWhen_;
};

// For work that nothing cancels.
inline const Cancellation& neverCancelled()
{
    static const Cancellation never;
    return never;
}
