#pragma once
// One thread that runs the tasks handed to it one after another, in the order given: the work of
// successive files, which must not overlap, without a thread start for each. Each task catches
// what its work may throw and tells its own waiter; one that throws anyway only ends itself.
#include "common/joined_thread.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

class TaskLine {
public:
    TaskLine() : thread_([this] { runTasks(); }, JoinedThread::WithoutThread::skip) {}
    // Runs what is still waiting, then ends the thread.
    ~TaskLine()
    {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            closing_ = true;
        }
        changed_.notify_all();
    }
    TaskLine(const TaskLine&) = delete;
    TaskLine& operator=(const TaskLine&) = delete;

    // False when the line has no thread: whoever posted does the work itself.
    bool post(std::function<void()> task)
    {
        if (!thread_.separate()) return false;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            tasks_.push_back(std::move(task));
        }
        changed_.notify_all();
        return true;
    }

    // Waits until every task posted so far has run.
    void finish()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return tasks_.empty() && !busy_; });
    }

private:
    void runTasks()
    {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            changed_.wait(lock, [&] { return closing_ || !tasks_.empty(); });
            if (tasks_.empty()) return;
            const std::function<void()> task = std::move(tasks_.front());
            tasks_.pop_front();
            busy_ = true;
            lock.unlock();
            try {
                task();
            } catch (...) {
                // Its waiter was told by the task, or waits for nothing.
            }
            lock.lock();
            busy_ = false;
            changed_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::function<void()>> tasks_;
    bool busy_ = false;
    bool closing_ = false;
    // Last: the thread starts once everything it touches is there, and is waited for before any
    // of it goes.
    JoinedThread thread_;
};
