// Threads, the counting event below them, and the process-wide worker pool.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace nox {

// Busy-wait lock on an atomic exchange, for very short list operations.
class SpinLock {
public:
    void lock()
    {
        while (flag_.exchange(true, std::memory_order_acquire)) {
            while (flag_.load(std::memory_order_relaxed))
                spinPause();
        }
    }
    void unlock() { flag_.store(false, std::memory_order_release); }

private:
    static void spinPause()
    {
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#endif
    }
    std::atomic<bool> flag_{false};
};

// A counting event. count 0: not signalled; 0xFFFFFFFF: signalled for every
// waiter; any other value: that many wake-ups pending.
//  - signal() wakes every thread waiting at that moment; the last of them to
//    leave consumes it (auto reset). With manual reset it stays signalled.
//  - post() adds one wake-up.
class SyncEvent {
public:
    static constexpr uint32_t kAll = 0xFFFFFFFFu;

    explicit SyncEvent(bool manualReset = false) : manualReset_(manualReset) {}

    void signal();
    void post();
    void reset();
    bool isSignalled() const;
    void wait();
    // False on time-out. Each wake-up without a count restarts the full timeout.
    bool wait(uint32_t milliseconds);
    void setManualReset(bool manual);
    uint32_t waiters() const;

private:
    mutable platform::Monitor monitor_;
    bool manualReset_;
    uint32_t waiters_ = 0;
    uint32_t count_ = 0;
};

// Base class of every thread the library starts. Subclasses supply run();
// the name appears in log lines only.
class Thread {
public:
    explicit Thread(std::string name = "Unnamed NoxCore Thread");
    virtual ~Thread();

    // Starts the thread at priority level 5. A thread that is already running
    // prints "NxThread: thread already running" and is left alone.
    void start();
    // Starts with the given priority level (0 to 10).
    void start(int priorityLevel);

    virtual void requestStop();
    // Asks the thread to stop and waits up to the timeout. True when it
    // stopped by itself; otherwise an ERROR line is logged and false returned.
    virtual bool stop(uint32_t timeoutMs);
    virtual bool stopAndWait();

    bool isStopRequested() const { return stopRequested_.load(std::memory_order_acquire); }
    bool isRunning() const { return running_.load(std::memory_order_acquire); }
    const std::string& name() const { return name_; }
    void setName(std::string name) { name_ = std::move(name); }
    // Sleeps up to the timeout; returns early (true) when a stop is requested.
    bool sleepUnlessStopped(uint32_t milliseconds);

    // Host scale priority for a level 0..10 (-15, -2, -1, 0, 1, 2, 15).
    static int priorityForLevel(int level);

protected:
    virtual void run() = 0;
    virtual void finished();

private:
    struct Impl;
    bool stopImpl(bool bounded, uint32_t timeoutMs);
    static void threadMain(void* self);

    std::atomic<bool> stopRequested_{false};
    std::unique_ptr<Impl> impl_;
    std::string name_;
    std::atomic<bool> running_{false};
    SyncEvent finished_{false};
    SyncEvent wake_{false};
};

class TaskManager;

// A gate delays a queued task until it reports ready.
class TaskGate {
public:
    virtual ~TaskGate() = default;
    virtual bool isReady() = 0;
    uint32_t retryDelayMs = 1;
};

// A unit of work taken from the manager's record pool.
struct Task {
    SyncEvent* done = nullptr;
    std::function<void()> work;
    uint32_t queue = 1;
    uint8_t urgency = 0;
    uint8_t repeat = 0;
    std::unique_ptr<TaskGate> gate;
    std::vector<std::pair<std::atomic<uint32_t>*, std::shared_ptr<void>>> dependents;
    std::atomic<uint32_t>* dependencyCounter = nullptr;
    std::shared_ptr<void> resources;
    // Bumped each time the record is handed out, so that a handle can tell its
    // own task from a later one that reuses the record.
    std::atomic<uint64_t> generation{0};

    // Runs the work, counts down the dependents, signals done.
    void run();
};

// The process-wide worker pool: five queues, of which the workers serve
// queue 1, taken by urgency (highest first, equal urgency in queue order).
class TaskManager {
public:
    static constexpr uint32_t kQueues = 5;
    static constexpr uint32_t kPoolBlock = 1000;

    // The process-wide manager, created with `workers` threads on the first
    // call; later calls ignore the argument.
    static TaskManager* instance(uint8_t workers);
    // The manager if it exists, without creating one.
    static TaskManager* existing();
    // Destroys the process-wide manager (teardown); its workers stop.
    static void destroyInstance();

    // max(P, 4) - 2 from the platform's processor count.
    static uint8_t defaultWorkerCount();
    static uint8_t workerCountFor(unsigned hardwareConcurrency, unsigned processorCount);

    uint8_t workerCount() const { return uint8_t(workers_.size()); }

    // Takes a record from the pool; the task is not queued yet.
    Task* createTask(uint32_t queue, uint8_t urgency, std::function<void()> work);
    // Appends the task to its queue; on queue 1 posts the work event once.
    void enqueue(Task* task);
    // Takes the task out of its queue if it is still there, optionally runs it
    // on the calling thread, and releases it. False if it was no longer queued.
    bool remove(Task* task, bool runInline);
    // The same, only when the record still holds the given generation.
    bool remove(Task* task, uint64_t generation, bool runInline);
    // Destroys the task and returns its record to the pool.
    void release(Task* task);

    // Takes the first ready task of a queue (after the stable urgency sort),
    // or nullptr; *waitHint is lowered to the smallest delay met.
    Task* takeReady(uint32_t queue, uint32_t* waitHint);

    size_t queuedCount(uint32_t queue);

    ~TaskManager();

private:
    explicit TaskManager(uint8_t workers);
    class Worker;
    struct Queue {
        SpinLock listLock;
        SpinLock takerLock;
        std::vector<Task*> tasks;
    };
    void drainQueues();

    std::vector<std::unique_ptr<Worker>> workers_;
    Queue queues_[kQueues];
    SyncEvent work_{false};
    SpinLock poolLock_;
    std::vector<std::unique_ptr<Task[]>> poolBlocks_;
    std::vector<Task*> freeRecords_;
};

// The queue the workers serve and the urgency the library's work goes there
// with (the workers take the most urgent task of queue 1 first).
constexpr uint32_t kWorkerQueue = 1;
constexpr uint8_t kPlainUrgency = 0;

// What TaskHandle's wait and poll found.
enum TaskFound : int {
    kTaskNone = 0,     // no task, or it had already finished
    kTaskQueued = 1,   // it was still queued: taken out (run here when runInline), done signalled
    kTaskOnWorker = 2  // a worker had taken it: wait blocked until done, poll returned at once
};

// The submitter's handle on one task; wait and poll answer a TaskFound.
class TaskHandle {
public:
    TaskHandle();
    // Waits for a running task without running a queued one (which is dropped).
    ~TaskHandle();

    // Queues the work on queue 1..4 of TaskManager::instance(8). False, with a
    // WARNING, while the previous task is still busy.
    bool start(uint32_t queue, uint8_t urgency, std::function<void()> work, bool enqueueNow = true);
    int wait(bool runInline);
    int poll(bool runInline);
    bool isDone() const { return done_->isSignalled(); }
    SyncEvent& doneEvent() { return *done_; }
    Task* task() const { return task_; }

    TaskHandle(const TaskHandle&) = delete;
    TaskHandle& operator=(const TaskHandle&) = delete;

private:
    int finish(bool runInline, bool block);
    Task* task_ = nullptr;
    uint64_t generation_ = 0;
    std::unique_ptr<SyncEvent> done_;
};

}  // namespace nox
