#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <numeric>
#include <random>
#include <thread>

#include "core/threads.h"
#include "log_capture.h"

using namespace std::chrono_literals;
using nox::SyncEvent;
using nox::TaskHandle;
using nox::TaskManager;

namespace {

// Waits until `n` threads are inside a wait on the event.
void awaitWaiters(const SyncEvent& e, uint32_t n)
{
    while (e.waiters() < n)
        std::this_thread::sleep_for(1ms);
}

// Every test gets a fresh process-wide pool of its own size.
class Pool : public ::testing::Test {
protected:
    void TearDown() override { TaskManager::destroyInstance(); }
};

}  // namespace

TEST(SyncEventTest, SignalWakesEveryWaiterAndIsConsumedByTheLast)
{
    SyncEvent e;
    std::atomic<int> woken{0};
    std::vector<std::thread> ts;
    for (int i = 0; i < 4; ++i)
        ts.emplace_back([&] { e.wait(); ++woken; });
    awaitWaiters(e, 4);
    e.signal();
    for (auto& t : ts)
        t.join();
    EXPECT_EQ(woken, 4);
    EXPECT_FALSE(e.isSignalled());  // auto reset: consumed by the last one out
}

TEST(SyncEventTest, PostWakesOneWaiterWorth)
{
    SyncEvent e;
    std::atomic<int> woken{0};
    std::vector<std::thread> ts;
    for (int i = 0; i < 3; ++i)
        ts.emplace_back([&] { if (e.wait(2000)) ++woken; });
    awaitWaiters(e, 3);
    e.post();
    e.post();
    while (woken < 2)
        std::this_thread::sleep_for(1ms);
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(woken, 2);  // the third is still waiting
    e.post();
    for (auto& t : ts)
        t.join();
    EXPECT_EQ(woken, 3);
    EXPECT_FALSE(e.isSignalled());
}

TEST(SyncEventTest, ManualResetStaysSignalledAndTimedWaitTimesOut)
{
    SyncEvent manual(true);
    EXPECT_FALSE(manual.wait(5));
    manual.signal();
    EXPECT_TRUE(manual.wait(0));
    EXPECT_TRUE(manual.wait(0));
    EXPECT_TRUE(manual.isSignalled());
    manual.reset();
    EXPECT_FALSE(manual.wait(5));

    SyncEvent counted;
    counted.post();
    counted.post();
    EXPECT_TRUE(counted.wait(0));
    EXPECT_TRUE(counted.wait(0));
    EXPECT_FALSE(counted.wait(1));
}

namespace {
class Sleeper : public nox::Thread {
public:
    explicit Sleeper(bool obeys) : Thread("Sleeper"), obeys_(obeys) {}
    ~Sleeper() override { stop(2000); }
    std::atomic<int> runs{0};

protected:
    void run() override
    {
        ++runs;
        if (obeys_) {
            while (!sleepUnlessStopped(1000)) {
            }
        } else {
            std::this_thread::sleep_for(200ms);
        }
    }

private:
    bool obeys_;
};
}  // namespace

TEST(ThreadTest, StopsWithinDeadlineAndRestarts)
{
    Sleeper s(true);
    s.start();
    EXPECT_TRUE(s.isRunning());
    EXPECT_TRUE(s.stop(1000));
    EXPECT_FALSE(s.isRunning());
    s.start();
    EXPECT_TRUE(s.stopAndWait());
    EXPECT_EQ(s.runs, 2);
}

TEST(ThreadTest, MissedDeadlineLogsError)
{
    LogCapture capture;
    Sleeper s(false);
    s.start();
    EXPECT_FALSE(s.stop(10));
    EXPECT_FALSE(s.isRunning());
    auto lines = LogCapture::take();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "  ERROR: Forcefully killing thread 'Sleeper' because it wouldn't stop on it's own "
                        "within the allowed time.");
}

TEST(ThreadTest, PriorityLevels)
{
    const int expected[] = {-15, -2, -1, -1, -1, 0, 0, 1, 1, 2, 15, 15};
    for (int level = 0; level <= 11; ++level)
        EXPECT_EQ(nox::Thread::priorityForLevel(level), expected[level]) << level;
    EXPECT_EQ(nox::Thread::priorityForLevel(-3), -15);
}

TEST(TaskManagerTest, WorkerCountRule)
{
    struct {
        unsigned hw, procs;
        uint8_t workers;
    } cases[] = {{1, 1, 2}, {2, 2, 2}, {4, 4, 2}, {8, 8, 6}, {16, 16, 14}, {0, 8, 6}, {8, 2, 2}, {300, 300, 42}};
    for (auto& c : cases)
        EXPECT_EQ(TaskManager::workerCountFor(c.hw, c.procs), c.workers) << c.hw << " " << c.procs;
}

TEST_F(Pool, UrgencyOrderIsStableAndHighestFirst)
{
    TaskManager* m = TaskManager::instance(2);
    std::vector<int> order;
    // Queue 2 has no workers, so the test takes tasks itself.
    int ids[] = {0, 1, 2, 3, 4, 5};
    uint8_t urgency[] = {0, 5, 0, 5, 9, 0};
    for (int i : ids)
        m->enqueue(m->createTask(2, urgency[i], [&order, i] { order.push_back(i); }));
    while (nox::Task* t = m->takeReady(2, nullptr)) {
        t->run();
        m->release(t);
    }
    EXPECT_EQ(order, (std::vector<int>{4, 1, 3, 0, 2, 5}));
}

TEST_F(Pool, DependencyCountersAndGatesHoldTasksBack)
{
    TaskManager* m = TaskManager::instance(2);
    std::atomic<uint32_t> deps{1};
    struct Gate : nox::TaskGate {
        bool open = false;
        bool isReady() override { return open; }
    };
    auto* gate = new Gate;
    gate->retryDelayMs = 7;
    nox::Task* gated = m->createTask(2, 9, [] {});
    gated->gate.reset(gate);
    nox::Task* dependent = m->createTask(2, 5, [] {});
    dependent->dependencyCounter = &deps;
    m->enqueue(gated);
    m->enqueue(dependent);
    uint32_t hint = 1000;
    EXPECT_EQ(m->takeReady(2, &hint), nullptr);
    EXPECT_EQ(hint, 1u);  // the smallest hint: dependency counters wait 1 ms
    // Running a task counts its dependents down.
    nox::Task* parent = m->createTask(2, 0, [] {});
    parent->dependents.push_back({&deps, nullptr});
    parent->run();
    m->release(parent);
    EXPECT_EQ(m->takeReady(2, &hint), dependent);
    m->release(dependent);
    hint = 1000;
    EXPECT_EQ(m->takeReady(2, &hint), nullptr);
    EXPECT_EQ(hint, 7u);
    gate->open = true;
    EXPECT_EQ(m->takeReady(2, &hint), gated);
    m->release(gated);
}

TEST_F(Pool, WaitAndPollCodes)
{
    TaskManager::instance(2);
    int ran = 0;
    {
        TaskHandle idle;
        EXPECT_EQ(idle.poll(true), 0);
        EXPECT_EQ(idle.wait(true), 0);
    }
    {
        // Queue 3: no worker serves it, so only the handle can run it.
        TaskHandle h;
        ASSERT_TRUE(h.start(3, 0, [&] { ++ran; }));
        EXPECT_FALSE(h.isDone());
        EXPECT_EQ(h.poll(true), 1);
        EXPECT_EQ(ran, 1);
        EXPECT_TRUE(h.isDone());
        EXPECT_EQ(h.poll(true), 0);
    }
    {
        TaskHandle h;
        ASSERT_TRUE(h.start(3, 0, [&] { ++ran; }));
        EXPECT_EQ(h.wait(false), 1);  // taken out and dropped
        EXPECT_EQ(ran, 1);
        EXPECT_TRUE(h.isDone());
    }
    {
        // A task a worker is running: poll answers 2 at once, wait blocks.
        SyncEvent started, release;
        TaskHandle h;
        ASSERT_TRUE(h.start(1, 0, [&] { started.signal(); release.wait(); ++ran; }));
        started.wait();
        EXPECT_EQ(h.poll(true), 2);
        EXPECT_EQ(h.task() != nullptr, true);
        std::thread t([&] { std::this_thread::sleep_for(20ms); release.signal(); });
        EXPECT_EQ(h.wait(true), 2);
        EXPECT_EQ(ran, 2);
        t.join();
    }
}

TEST_F(Pool, HandleDestroyedWhileQueuedDropsTheTask)
{
    TaskManager* m = TaskManager::instance(2);
    bool ran = false;
    {
        TaskHandle h;
        h.start(2, 0, [&] { ran = true; });
        EXPECT_EQ(m->queuedCount(2), 1u);
    }
    EXPECT_EQ(m->queuedCount(2), 0u);
    EXPECT_FALSE(ran);
}

TEST_F(Pool, SecondStartOnBusyHandleIsRefused)
{
    TaskManager::instance(2);
    LogCapture capture;
    SyncEvent started, release;
    int first = 0, second = 0;
    TaskHandle h;
    ASSERT_TRUE(h.start(1, 0, [&] { started.signal(); release.wait(); ++first; }));
    started.wait();
    EXPECT_FALSE(h.start(1, 0, [&] { ++second; }));
    release.signal();
    EXPECT_NE(h.wait(false), 1);  // 2, or 0 when the worker was quicker
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 0);
    EXPECT_EQ(LogCapture::take(), (std::vector<std::string>{
                                      "WARNING: nox::TaskHandle::start: Cannot start another task, the old task "
                                      "is still busy."}));
    // Once done, the handle takes a new task.
    EXPECT_TRUE(h.start(1, 0, [&] { ++second; }));
    h.wait(true);
    EXPECT_EQ(second, 1);
}

TEST_F(Pool, StressTensOfThousandsOfTasksOnEightWorkers)
{
    TaskManager* m = TaskManager::instance(8);
    ASSERT_EQ(m->workerCount(), 8);
    constexpr int kTasks = 40000;
    std::vector<std::atomic<int>> hits(kTasks);
    std::mt19937 rng(7);
    // Handles are reused in rounds so that records are recycled through the
    // pool while workers run, and polled the way the exporter collects frames.
    std::vector<std::unique_ptr<TaskHandle>> handles(64);
    for (auto& h : handles)
        h = std::make_unique<TaskHandle>();
    int next = 0;
    while (next < kTasks) {
        for (auto& h : handles) {
            if (next >= kTasks)
                break;
            if (!h->isDone() && h->poll(true) == 2)
                continue;
            int id = next++;
            ASSERT_TRUE(h->start(1, uint8_t(rng() % 3), [&hits, id] { hits[size_t(id)]++; }));
        }
    }
    for (auto& h : handles)
        h->wait(true);
    int total = 0;
    for (auto& x : hits) {
        EXPECT_LE(x.load(), 1);
        total += x.load();
    }
    EXPECT_EQ(total, kTasks);  // every task ran exactly once (wait(true) runs queued ones)
    EXPECT_EQ(m->queuedCount(1), 0u);
}

TEST_F(Pool, RecordPoolChainsBlocks)
{
    TaskManager* m = TaskManager::instance(2);
    std::vector<nox::Task*> tasks;
    for (int i = 0; i < 2500; ++i)
        tasks.push_back(m->createTask(2, 0, [] {}));
    EXPECT_EQ(m->poolBlocks(), 3u);
    for (auto* t : tasks)
        m->release(t);
    EXPECT_EQ(m->poolBlocks(), 3u);  // blocks are kept until the manager goes
}
