#pragma once
// The one way the program starts a thread: a task that runs once, whose exception, of any kind,
// reaches whoever joins it instead of ending the process.
#include <atomic>
#include <exception>
#include <functional>
#include <system_error>
#include <thread>
#include <utility>

class JoinedThread {
public:
    // What happens to the task when the system gives no thread.
    enum class WithoutThread { runHere, skip };

    JoinedThread() = default;
    explicit JoinedThread(std::function<void()> task, WithoutThread without = WithoutThread::runHere)
        : task_(std::move(task))
    {
        try {
            thread_ = std::thread([this] { run(); });
            return;
        } catch (const std::system_error&) {
            // Left to `without`.
        }
        if (without == WithoutThread::runHere)
            run();
        else
            finished_ = true;
    }
    // Waits for the task; what it threw is dropped, as whoever leaves without join() is
    // already on a way out.
    ~JoinedThread()
    {
        if (thread_.joinable()) thread_.join();
    }
    JoinedThread(const JoinedThread&) = delete;
    JoinedThread& operator=(const JoinedThread&) = delete;

    // Whether the task runs on a thread of its own (not here, and not skipped).
    bool separate() const { return thread_.joinable(); }
    // Whether the task has ended; it may still be finishing its return.
    bool finished() const { return finished_.load(); }

    // Waits for the task and throws what it threw, once.
    void join()
    {
        if (thread_.joinable()) thread_.join();
        if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
    }

private:
    void run()
    {
        try {
            task_();
        } catch (...) {
            failure_ = std::current_exception();
        }
        finished_ = true;
    }

    std::function<void()> task_;
    std::exception_ptr failure_;
    std::atomic<bool> finished_{false};
    std::thread thread_;
};
