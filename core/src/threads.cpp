#include "core/threads.h"

#include <algorithm>
#include <cstdio>
#include <exception>
#include <limits>
#include <thread>

#include "core/logger.h"
#include "platform/platform.h"

namespace nox {

// ---------------------------------------------------------------- SyncEvent

void SyncEvent::signal()
{
    std::lock_guard<platform::Monitor> lock(monitor_);
    count_ = kAll;
    monitor_.wakeAll();
}

void SyncEvent::post()
{
    std::lock_guard<platform::Monitor> lock(monitor_);
    if (count_ < kAll)
        ++count_;
    monitor_.wakeAll();
}

void SyncEvent::reset()
{
    std::lock_guard<platform::Monitor> lock(monitor_);
    count_ = 0;
}

bool SyncEvent::isSignalled() const
{
    std::lock_guard<platform::Monitor> lock(monitor_);
    return count_ > 0;
}

uint32_t SyncEvent::waiters() const
{
    std::lock_guard<platform::Monitor> lock(monitor_);
    return waiters_;
}

void SyncEvent::setManualReset(bool manual)
{
    std::lock_guard<platform::Monitor> lock(monitor_);
    manualReset_ = manual;
}

void SyncEvent::wait() { wait(platform::Monitor::kForever); }

bool SyncEvent::wait(uint32_t milliseconds)
{
    std::lock_guard<platform::Monitor> lock(monitor_);
    ++waiters_;
    while (count_ == 0) {
        // Each sleep restarts the full timeout.
        if (!monitor_.wait(milliseconds) && count_ == 0) {
            --waiters_;
            return false;
        }
    }
    --waiters_;
    // A broadcast signal is consumed by the last waiter to leave; a post by
    // one waiter each.
    if (!manualReset_) {
        if (count_ < kAll)
            --count_;
        else if (waiters_ == 0)
            count_ = 0;
    }
    return true;
}

// ------------------------------------------------------------------- Thread

struct Thread::Impl {
    std::unique_ptr<platform::ThreadPimpl> thread = platform::makeThreadPimpl();
    std::atomic<bool> hasHandle{false};  // a thread is running the body
    std::string name;
    int priority = 0;
};

Thread::Thread(std::string name) : impl_(std::make_unique<Impl>()), name_(std::move(name)) {}

Thread::~Thread()
{
    // Subclasses whose run() uses their own members must stop the thread in
    // their own destructor; this one catches the rest.
    stop(250);
    impl_->thread->join();
}

int Thread::priorityForLevel(int level)
{
    if (level <= 0)
        return -15;
    if (level == 1)
        return -2;
    if (level <= 4)
        return -1;
    if (level <= 6)
        return 0;
    if (level <= 8)
        return 1;
    if (level == 9)
        return 2;
    return 15;
}

void Thread::start() { start(5); }

void Thread::start(int priorityLevel)
{
    stopRequested_.store(false, std::memory_order_release);
    if (impl_->hasHandle) {
        std::printf("NxThread: thread already running\n");
        std::fflush(stdout);
        return;
    }
    // The previous run has signalled finished; collect it before reuse.
    impl_->thread->join();
    impl_->name = name_;
    impl_->priority = priorityForLevel(priorityLevel);
    finished_.reset();
    impl_->hasHandle = true;
    running_.store(true, std::memory_order_release);
    if (!impl_->thread->start(&Thread::threadMain, this, impl_->priority)) {
        impl_->hasHandle = false;
        running_.store(false, std::memory_order_release);
        throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again),
                                "cannot start thread '" + name_ + "'");
    }
}

void Thread::threadMain(void* arg)
{
    auto* self = static_cast<Thread*>(arg);
    self->run();
    self->finished();
}

void Thread::finished()
{
    impl_->hasHandle = false;
    running_.store(false, std::memory_order_release);
    stopRequested_.store(false, std::memory_order_release);
    finished_.signal();
}

void Thread::requestStop()
{
    stopRequested_.store(true, std::memory_order_release);
    wake_.signal();
}

bool Thread::sleepUnlessStopped(uint32_t milliseconds)
{
    if (isStopRequested())
        return true;
    wake_.wait(milliseconds);
    return isStopRequested();
}

bool Thread::stop(uint32_t timeoutMs) { return stopImpl(true, timeoutMs); }
bool Thread::stopAndWait() { return stopImpl(false, 0); }

bool Thread::stopImpl(bool bounded, uint32_t timeoutMs)
{
    if (!running_.load(std::memory_order_acquire)) {
        impl_->thread->join();
        return true;
    }
    requestStop();
    bool stopped = bounded ? finished_.wait(timeoutMs) : (finished_.wait(), true);
    if (stopped) {
        impl_->thread->join();
        stopRequested_.store(false, std::memory_order_release);
        return true;
    }
    logParts(LOG_ERROR, "Forcefully killing thread '", name_,
             bounded ? "' because it wouldn't stop on it's own within the allowed time."
                     : "' because it wouldn't stop on it's own.");
    // A thread cannot be killed safely here: its body may hold locks or be
    // inside the allocator, and cancelling it would leave them taken. Instead
    // the stop request stays raised and we wait until the body returns; the
    // result still tells the caller that the deadline was missed.
    finished_.wait();
    impl_->thread->join();
    stopRequested_.store(false, std::memory_order_release);
    finished_.reset();
    return false;
}

// ------------------------------------------------------------- TaskManager

void Task::run()
{
    // An exception must not leave a worker (it would end the process) nor
    // skip the signal its submitter waits for: the work is what failed, and
    // it is for the work to say so in its own result.
    try {
        if (work)
            work();
    } catch (const std::exception& e) {
        logParts(LOG_ERROR, "A task of the worker pool ended with an exception: ", e.what());
    } catch (...) {
        logParts(LOG_ERROR, "A task of the worker pool ended with an exception");
    }
    for (auto& dep : dependents)
        if (dep.first)
            dep.first->fetch_sub(1);
    if (done)
        done->signal();
}

class TaskManager::Worker : public Thread {
public:
    Worker(TaskManager& manager, unsigned number) : Thread("Unnamed NoxCore Thread"), manager_(manager)
    {
        setName("NoxCore Task Thread #" + std::to_string(number));
    }
    ~Worker() override { stop(250); }

protected:
    void run() override
    {
        constexpr uint32_t kForever = std::numeric_limits<uint32_t>::max();
        uint32_t timeout = kForever;
        for (;;) {
            if (timeout == kForever)
                manager_.work_.wait();
            else
                manager_.work_.wait(timeout);
            timeout = kForever;
            for (;;) {
                if (isStopRequested())
                    return;
                Task* task = manager_.takeReady(1, &timeout);
                if (!task)
                    break;
                task->run();
                if (task->repeat)
                    manager_.enqueue(task);
                else
                    manager_.release(task);
            }
        }
    }

private:
    TaskManager& manager_;
};

namespace {
std::mutex g_instanceMutex;
std::atomic<TaskManager*> g_instance{nullptr};
}  // namespace

TaskManager* TaskManager::instance(uint8_t workers)
{
    TaskManager* m = g_instance.load(std::memory_order_acquire);
    if (m)
        return m;
    std::lock_guard<std::mutex> lock(g_instanceMutex);
    m = g_instance.load(std::memory_order_acquire);
    if (!m) {
        m = new TaskManager(workers);
        g_instance.store(m, std::memory_order_release);
    }
    return m;
}

TaskManager* TaskManager::existing() { return g_instance.load(std::memory_order_acquire); }

void TaskManager::destroyInstance()
{
    std::lock_guard<std::mutex> lock(g_instanceMutex);
    delete g_instance.exchange(nullptr);
}

uint8_t TaskManager::workerCountFor(unsigned hardwareConcurrency, unsigned processorCount)
{
    unsigned n = hardwareConcurrency == 0 ? 4 : hardwareConcurrency;
    if (processorCount != n)
        n = processorCount;
    uint8_t count = n < 4 ? 4 : uint8_t(n & 0xFF);
    return uint8_t(count - 2);
}

uint8_t TaskManager::defaultWorkerCount()
{
    return workerCountFor(std::thread::hardware_concurrency(), platform::processorCount());
}

TaskManager::TaskManager(uint8_t workers)
{
    poolBlocks_.push_back(std::make_unique<Task[]>(kPoolBlock));
    freeRecords_.reserve(kPoolBlock);
    for (uint32_t i = kPoolBlock; i-- > 0;)
        freeRecords_.push_back(&poolBlocks_.back()[i]);
    for (unsigned i = 1; i <= workers; ++i) {
        workers_.push_back(std::make_unique<Worker>(*this, i));
        workers_.back()->start();
    }
    logf(LOG_INFO, "Created TaskManager with %u threads.", unsigned(workers));
}

TaskManager::~TaskManager()
{
    for (auto& w : workers_)
        w->requestStop();
    work_.setManualReset(true);
    work_.signal();
    drainQueues();
    workers_.clear();
    drainQueues();
}

void TaskManager::drainQueues()
{
    for (auto& q : queues_) {
        std::vector<Task*> moved;
        {
            std::lock_guard<SpinLock> lock(q.listLock);
            moved.swap(q.tasks);
        }
        for (Task* t : moved)
            release(t);
    }
}

Task* TaskManager::createTask(uint32_t queue, uint8_t urgency, std::function<void()> work)
{
    Task* task;
    {
        std::lock_guard<SpinLock> lock(poolLock_);
        if (freeRecords_.empty()) {
            poolBlocks_.push_back(std::make_unique<Task[]>(kPoolBlock));
            for (uint32_t i = kPoolBlock; i-- > 0;)
                freeRecords_.push_back(&poolBlocks_.back()[i]);
        }
        task = freeRecords_.back();
        freeRecords_.pop_back();
        ++task->generation;
    }
    task->done = nullptr;
    task->work = std::move(work);
    task->queue = queue < kQueues ? queue : kQueues - 1;
    task->urgency = urgency;
    task->repeat = 0;
    return task;
}

void TaskManager::release(Task* task)
{
    if (!task)
        return;
    // Destroying the work here releases whatever it captured (a frame's
    // pixel buffer, for instance) with the task.
    task->work = nullptr;
    task->gate.reset();
    task->dependents.clear();
    task->dependencyCounter = nullptr;
    task->resources.reset();
    task->done = nullptr;
    std::lock_guard<SpinLock> lock(poolLock_);
    freeRecords_.push_back(task);
}

void TaskManager::enqueue(Task* task)
{
    // Once in its queue the task may run, end and be made again for other
    // work before this returns: nothing of it is read after the push.
    const uint32_t queue = task->queue;
    Queue& q = queues_[queue];
    {
        std::lock_guard<SpinLock> lock(q.listLock);
        q.tasks.push_back(task);
    }
    if (queue == kWorkerQueue)
        work_.post();
}

bool TaskManager::remove(Task* task, bool runInline)
{
    return remove(task, task ? task->generation.load() : 0, runInline);
}

bool TaskManager::remove(Task* task, uint64_t generation, bool runInline)
{
    if (!task)
        return false;
    bool found = false;
    uint32_t queue;
    {
        std::lock_guard<SpinLock> lock(poolLock_);
        if (task->generation.load() != generation)
            return false;
        queue = task->queue;
    }
    Queue& q = queues_[queue];
    {
        std::lock_guard<SpinLock> taker(q.takerLock);
        std::lock_guard<SpinLock> list(q.listLock);
        auto it = std::find(q.tasks.begin(), q.tasks.end(), task);
        if (it != q.tasks.end() && task->generation.load() == generation) {
            q.tasks.erase(it);
            found = true;
        }
    }
    if (!found)
        return false;
    if (runInline) {
        // Run without signalling done: the handle signals it itself.
        SyncEvent* done = task->done;
        task->done = nullptr;
        task->run();
        task->done = done;
    }
    release(task);
    return true;
}

Task* TaskManager::takeReady(uint32_t queue, uint32_t* waitHint)
{
    Queue& q = queues_[queue];
    std::lock_guard<SpinLock> taker(q.takerLock);
    std::vector<Task*> moved;
    {
        std::lock_guard<SpinLock> list(q.listLock);
        moved.swap(q.tasks);
    }
    std::stable_sort(moved.begin(), moved.end(), [](const Task* a, const Task* b) { return a->urgency > b->urgency; });
    std::lock_guard<SpinLock> list(q.listLock);
    moved.insert(moved.end(), q.tasks.begin(), q.tasks.end());
    q.tasks.swap(moved);
    for (auto it = q.tasks.begin(); it != q.tasks.end(); ++it) {
        Task* t = *it;
        if (t->dependencyCounter && t->dependencyCounter->load() != 0) {
            if (waitHint)
                *waitHint = std::min<uint32_t>(*waitHint, 1);
            continue;
        }
        if (t->gate && !t->gate->isReady()) {
            if (waitHint)
                *waitHint = std::min(*waitHint, t->gate->retryDelayMs);
            continue;
        }
        q.tasks.erase(it);
        return t;
    }
    return nullptr;
}

size_t TaskManager::queuedCount(uint32_t queue)
{
    Queue& q = queues_[queue];
    std::lock_guard<SpinLock> list(q.listLock);
    return q.tasks.size();
}

// -------------------------------------------------------------- TaskHandle

TaskHandle::TaskHandle() : done_(std::make_unique<SyncEvent>(true)) { done_->signal(); }

TaskHandle::~TaskHandle() { wait(false); }

bool TaskHandle::start(uint32_t queue, uint8_t urgency, std::function<void()> work, bool enqueueNow)
{
    if (task_ && !done_->isSignalled()) {
        logf(LOG_WARNING, "%s: Cannot start another task, the old task is still busy.", "nox::TaskHandle::start");
        return false;
    }
    TaskManager* manager = TaskManager::instance(8);
    Task* task = manager->createTask(queue, urgency, std::move(work));
    task->done = done_.get();
    done_->reset();
    task_ = task;
    generation_ = task->generation.load();
    if (enqueueNow)
        manager->enqueue(task);
    return true;
}

int TaskHandle::wait(bool runInline) { return finish(runInline, true); }
int TaskHandle::poll(bool runInline) { return finish(runInline, false); }

int TaskHandle::finish(bool runInline, bool block)
{
    if (!task_ || done_->isSignalled()) {
        task_ = nullptr;
        return 0;
    }
    TaskManager* manager = TaskManager::existing();
    if (manager && manager->remove(task_, generation_, runInline)) {
        done_->signal();
        task_ = nullptr;
        return 1;
    }
    if (!block)
        return 2;
    done_->wait();
    task_ = nullptr;
    return 2;
}

}  // namespace nox
