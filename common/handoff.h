#pragma once
// How two threads hand work to each other a piece at a time, through atomic counters: a waiter
// spins briefly before it sleeps, and a change wakes a sleeper only when there is one. Where
// the thread library sleeps and wakes through another process (Wine's), each sleep costs more
// than a band of pixels.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

class Handoff {
public:
    // Returns once ready() holds; ready() reads only atomics that a change() follows.
    template <typename Ready>
    void waitUntil(Ready ready)
    {
        const auto sleepFrom = std::chrono::steady_clock::now() + spinning;
        while (!ready()) {
            if (std::chrono::steady_clock::now() < sleepFrom) {
                std::this_thread::yield();
                continue;
            }
            std::unique_lock<std::mutex> lock(mutex_);
            ++sleepers_;
            woken_.wait(lock, ready);
            --sleepers_;
            return;
        }
    }
    // After an atomic that some ready() reads has changed.
    void changed()
    {
        if (sleepers_.load() == 0) return;
        const std::lock_guard<std::mutex> lock(mutex_);
        woken_.notify_all();
    }

private:
    static constexpr std::chrono::microseconds spinning{250};

    std::mutex mutex_;
    std::condition_variable woken_;
    std::atomic<int> sleepers_{0};
};
