#pragma once
// Work handed aside to threads that are kept: a pool of a thread per processor, made once by the
// worker and shared for as long as it runs, so that no file or call pays for a thread start. A
// task no thread has begun is run by whoever waits for it: a waiter never waits on work that has
// no thread to begin on. Outside a shared pool (the fuzzers, a test's single call) each task gets
// a thread of its own.
#include "common/joined_thread.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

struct TaskState;

// One piece of work handed aside. Whoever holds it waits for it (or withdraws it) before anything
// the work touches goes: the destructor does, dropping what the work threw.
class Task {
public:
    Task() = default;
    ~Task();
    Task(Task&&) noexcept;
    Task& operator=(Task&&) = delete;
    Task(const Task&) = delete;
    Task& operator=(const Task&) = delete;

    // Waits for the work, running it here when no thread has begun it, and throws what it threw,
    // once.
    void wait();
    // Takes back work that no thread has begun, which then never runs. False once it has begun,
    // and for work on a thread of its own, which begins it for certain.
    bool withdraw();

private:
    friend Task runAside(std::function<void()> work);
    std::shared_ptr<TaskState> state_;
    std::unique_ptr<JoinedThread> ownThread_;
};

// Hands `work` to the shared pool, or to a thread of its own when none is shared (or none can be
// had: then it runs when waited for).
Task runAside(std::function<void()> work);

// Runs work(first, end) over `count` items in `parts` ranges (at most one an item, at least one),
// all but the last handed aside. What any range throws is thrown here once every range has ended.
template <typename Work>
void inParts(int count, int parts, const Work& work)
{
    parts = std::max(1, std::min(parts, count));
    const auto itemAt = [count, parts](int part) { return static_cast<int>(static_cast<long long>(count) * part / parts); };
    std::vector<Task> aside;
    for (int part = 0; part + 1 < parts; ++part)
        aside.push_back(runAside([&work, first = itemAt(part), end = itemAt(part + 1)] { work(first, end); }));
    std::exception_ptr failure;
    try {
        work(itemAt(parts - 1), count);
    } catch (...) {
        failure = std::current_exception();
    }
    for (Task& task : aside) {
        try {
            task.wait();
        } catch (...) {
            if (!failure) failure = std::current_exception();
        }
    }
    if (failure) std::rethrow_exception(failure);
}

class TaskPool {
public:
    explicit TaskPool(int threads);
    // Ends the threads once they finish what they run; tasks still queued run when waited for.
    ~TaskPool();
    TaskPool(const TaskPool&) = delete;
    TaskPool& operator=(const TaskPool&) = delete;

    // False when the pool has no thread to run it.
    bool post(const std::shared_ptr<TaskState>& task);

private:
    void runTasks();

    std::mutex mutex_;
    std::condition_variable queued_;
    std::deque<std::shared_ptr<TaskState>> tasks_;
    bool closing_ = false;
    // Last: the threads start once everything they touch is there.
    std::vector<std::unique_ptr<JoinedThread>> threads_;
};

// The number of processors, at least 1.
int processorCount();

// While it lives, runAside hands work to `pool`. Made and ended only while no other thread hands
// work aside.
class SharedTaskPool {
public:
    explicit SharedTaskPool(TaskPool& pool);
    ~SharedTaskPool();
    SharedTaskPool(const SharedTaskPool&) = delete;
    SharedTaskPool& operator=(const SharedTaskPool&) = delete;
};
