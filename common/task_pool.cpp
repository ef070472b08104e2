#include "common/task_pool.h"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>

// A task's work and where it stands; whoever claims it first (a pool's thread, its own thread, or
// its waiter) runs it, or withdraws it.
struct TaskState {
    enum Stage { queued, begun, ended };

    explicit TaskState(std::function<void()> task) : work(std::move(task)) {}

    bool claim()
    {
        Stage expected = queued;
        return stage.compare_exchange_strong(expected, begun);
    }
    // Only after a claim.
    void run()
    {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
        end();
    }
    void end()
    {
        work = nullptr;
        {
            const std::lock_guard<std::mutex> lock(mutex);
            stage = ended;
        }
        changed.notify_all();
    }
    void waitForEnd()
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return stage.load() == ended; });
    }

    std::function<void()> work;
    std::atomic<Stage> stage{queued};
    std::exception_ptr failure;
    std::mutex mutex;
    std::condition_variable changed;
};

namespace {

std::atomic<TaskPool*> sharedPool{nullptr};

}  // namespace

Task::~Task()
{
    if (!state_) return;
    try {
        if (!withdraw()) wait();
    } catch (...) {
        // Whoever leaves without wait() is on a way out already.
    }
}

Task::Task(Task&&) noexcept = default;

void Task::wait()
{
    if (!state_) return;
    if (state_->claim())
        state_->run();
    else
        state_->waitForEnd();
    if (ownThread_) ownThread_->join();
    if (state_->failure) std::rethrow_exception(std::exchange(state_->failure, nullptr));
}

bool Task::withdraw()
{
    // A thread of its own begins it for certain.
    if (!state_ || (ownThread_ && ownThread_->separate()) || !state_->claim()) return false;
    state_->end();
    return true;
}

Task runAside(std::function<void()> work)
{
    Task task;
    task.state_ = std::make_shared<TaskState>(std::move(work));
    TaskPool* pool = sharedPool.load();
    if (pool != nullptr && pool->post(task.state_)) return task;
    task.ownThread_ = std::make_unique<JoinedThread>(
        [state = task.state_] {
            if (state->claim()) state->run();
        },
        JoinedThread::WithoutThread::skip);
    return task;
}

TaskPool::TaskPool(int threads)
{
    for (int i = 0; i < threads; ++i) {
        auto thread = std::make_unique<JoinedThread>([this] { runTasks(); }, JoinedThread::WithoutThread::skip);
        if (!thread->separate()) break;
        threads_.push_back(std::move(thread));
    }
}

TaskPool::~TaskPool()
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        closing_ = true;
    }
    queued_.notify_all();
    threads_.clear();
}

bool TaskPool::post(const std::shared_ptr<TaskState>& task)
{
    if (threads_.empty()) return false;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        tasks_.push_back(task);
    }
    queued_.notify_one();
    return true;
}

void TaskPool::runTasks()
{
    for (;;) {
        std::shared_ptr<TaskState> task;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            queued_.wait(lock, [&] { return closing_ || !tasks_.empty(); });
            if (closing_) return;
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        // Claimed already by its waiter, or withdrawn: nothing to run.
        if (task->claim()) task->run();
    }
}

int processorCount() { return static_cast<int>(std::max(1u, std::thread::hardware_concurrency())); }

SharedTaskPool::SharedTaskPool(TaskPool& pool) { sharedPool = &pool; }

SharedTaskPool::~SharedTaskPool() { sharedPool = nullptr; }
