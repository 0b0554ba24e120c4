// The counting event, threads, and the worker pool the exporter compresses frames on.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <numeric>
#include <random>
#include <stdexcept>
#include <thread>

#include "core/threads.h"
#include "log_capture.h"

using namespace std::chrono_literals;
using nox::SyncEvent;
using nox::TaskHandle;
using nox::TaskManager;
using ::testing::ElementsAre;
using ::testing::StartsWith;

namespace {

// Every pool test gets a fresh process-wide pool of its own size.
class Pool : public ::testing::Test {
protected:
    void TearDown() override { TaskManager::destroyInstance(); }
};

// A thread that sleeps until asked to stop, or (stubborn) for 200 ms whatever it is asked.
struct Sleeper : nox::Thread {
    explicit Sleeper(bool obeys) : Thread("Sleeper"), obeys(obeys) {}
    ~Sleeper() override { stop(2000); }
    void run() override
    {
        ++runs;
        if (!obeys)
            std::this_thread::sleep_for(200ms);
        while (obeys && !sleepUnlessStopped(1000)) {}
    }
    bool obeys;
    std::atomic<int> runs{0};
};

}  // namespace

TEST(SyncEventTest, SignalWakesEveryWaiterPostWakesOneManualResetStays)
{
    SyncEvent e;
    std::atomic<int> woken{0};
    std::vector<std::thread> ts;
    auto await = [&](int n) {  // n more threads waiting up to five seconds
        for (int i = 0; i < n; ++i)
            ts.emplace_back([&] { woken += e.wait(5000); });
        while (e.waiters() < uint32_t(n))
            std::this_thread::sleep_for(1ms);
    };
    auto settle = [&](int n) {  // until n have woken, and a little longer
        while (woken < n)
            std::this_thread::sleep_for(1ms);
        std::this_thread::sleep_for(20ms);
    };
    await(4);
    e.signal();
    settle(4);
    EXPECT_FALSE(e.isSignalled());  // auto reset: consumed by the last one out
    await(3);
    e.post();
    e.post();
    settle(6);
    EXPECT_EQ(woken, 6);  // the third is still waiting
    e.post();
    for (auto& t : ts)
        t.join();
    EXPECT_EQ(woken, 7);
    EXPECT_FALSE(e.isSignalled());
    // Manual reset stays signalled; a timed wait times out.
    SyncEvent manual(true);
    EXPECT_FALSE(manual.wait(5));
    manual.signal();
    manual.post();  // a post while signalled changes nothing
    EXPECT_TRUE(manual.wait(0));
    EXPECT_TRUE(manual.wait(0));
    manual.reset();
    EXPECT_FALSE(manual.wait(5));
}

TEST(ThreadTest, StopsWithinDeadlineRestartsAndReportsAMissedOne)
{
    Sleeper s(true);
    s.start();
    EXPECT_TRUE(s.isRunning());
    EXPECT_TRUE(s.stop(1000));
    EXPECT_FALSE(s.isRunning());
    s.start();
    EXPECT_TRUE(s.stopAndWait());
    EXPECT_EQ(s.runs, 2);

    LogCapture capture;
    Sleeper stubborn(false);
    stubborn.start();
    EXPECT_FALSE(stubborn.stop(10));
    EXPECT_FALSE(stubborn.isRunning());
    EXPECT_THAT(LogCapture::take(), ElementsAre(StartsWith("  ERROR: Forcefully killing thread 'Sleeper'")));
}

// The host's priority scale, and the worker count from the processors.
TEST(ThreadTest, PriorityLevelsAndWorkerCounts)
{
    const int expected[] = {-15, -15, -2, -1, -1, -1, 0, 0, 1, 1, 2, 15, 15};  // levels -1..11
    for (int level = -1; level <= 11; ++level)
        EXPECT_EQ(nox::Thread::priorityForLevel(level), expected[level + 1]) << level;
    // Hardware concurrency, processor count, workers.
    const std::tuple<unsigned, unsigned, int> counts[] = {{1, 1, 2},    {2, 2, 2}, {4, 4, 2}, {8, 8, 6},
                                                          {16, 16, 14}, {0, 8, 6}, {8, 2, 2}, {300, 300, 42}};
    for (auto [hw, procs, workers] : counts)
        EXPECT_EQ(TaskManager::workerCountFor(hw, procs), workers) << hw << " " << procs;
}

TEST_F(Pool, UrgencyOrderIsStableAndHighestFirst)
{
    TaskManager* m = TaskManager::instance(2);
    // More tasks than one block of records holds. Queue 2 has no workers, so the test takes them itself.
    constexpr int kTasks = 1500;
    auto urgency = [](int i) { return uint8_t(i * 7 % 10); };
    std::vector<int> order, expected(kTasks);
    for (int i = 0; i < kTasks; ++i)
        m->enqueue(m->createTask(2, urgency(i), [&order, i] { order.push_back(i); }));
    while (nox::Task* t = m->takeReady(2, nullptr)) {
        t->run();
        m->release(t);
    }
    std::iota(expected.begin(), expected.end(), 0);
    std::stable_sort(expected.begin(), expected.end(), [&](int a, int b) { return urgency(a) > urgency(b); });
    EXPECT_EQ(order, expected);
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

TEST_F(Pool, WaitAndPollCodesAndABusyHandle)
{
    TaskManager* m = TaskManager::instance(2);
    int ran = 0;
    TaskHandle idle;
    EXPECT_EQ(idle.poll(true), 0);
    EXPECT_EQ(idle.wait(true), 0);
    {
        // Queue 3: no worker serves it, so only the handle can run it.
        TaskHandle h;
        ASSERT_TRUE(h.start(3, 0, [&] { ++ran; }));
        EXPECT_FALSE(h.isDone());
        EXPECT_EQ(h.poll(true), 1);
        EXPECT_EQ(ran, 1);
        EXPECT_TRUE(h.isDone());
        EXPECT_EQ(h.poll(true), 0);
        ASSERT_TRUE(h.start(3, 0, [&] { ++ran; }));
        EXPECT_EQ(h.wait(false), 1);  // taken out and dropped
        EXPECT_TRUE(h.isDone());
        ASSERT_TRUE(h.start(3, 0, [&] { ++ran; }));
        EXPECT_EQ(m->queuedCount(3), 1u);
    }
    EXPECT_EQ(m->queuedCount(3), 0u);  // a handle destroyed while its task waits drops the task
    EXPECT_EQ(ran, 1);
    // A task a worker is running: poll answers 2 at once, a second start is refused, wait blocks.
    SyncEvent started, release;
    TaskHandle h;
    ASSERT_TRUE(h.start(1, 0, [&] {
        started.signal();
        release.wait();
        ++ran;
    }));
    started.wait();
    EXPECT_EQ(h.poll(true), 2);
    {
        LogCapture capture;
        EXPECT_FALSE(h.start(1, 0, [&] { ran += 100; }));
        EXPECT_THAT(LogCapture::take(), ElementsAre(StartsWith("WARNING: ")));
    }
    std::thread t([&] {
        std::this_thread::sleep_for(20ms);
        release.signal();
    });
    EXPECT_EQ(h.wait(true), 2);
    EXPECT_EQ(ran, 2);
    t.join();
    ASSERT_TRUE(h.start(3, 0, [&] { ++ran; }));  // once done, the handle takes a new task
    EXPECT_EQ(h.wait(true), 1);
    EXPECT_EQ(ran, 3);
    // Work that throws, on a worker or run here: an ERROR line, and the handle is done all the same.
    LogCapture capture;
    for (const uint32_t queue : {1u, 3u}) {
        ASSERT_TRUE(h.start(queue, 0, [] { throw std::runtime_error("no memory"); }));
        h.wait(true);
        EXPECT_TRUE(h.isDone());
        EXPECT_THAT(LogCapture::take(), ElementsAre(StartsWith("  ERROR: A task"))) << queue;
    }
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
    std::vector<TaskHandle> handles(64);
    for (int next = 0; next < kTasks;)
        for (auto& h : handles) {
            if (next >= kTasks || (!h.isDone() && h.poll(true) == 2))
                continue;
            const int id = next++;
            ASSERT_TRUE(h.start(1, uint8_t(rng() % 3), [&hits, id] { hits[size_t(id)]++; }));
        }
    for (auto& h : handles)
        h.wait(true);
    // Every task ran exactly once (wait(true) runs queued ones).
    EXPECT_TRUE(std::all_of(hits.begin(), hits.end(), [](const auto& x) { return x.load() == 1; }));
    EXPECT_EQ(m->queuedCount(1), 0u);
}
