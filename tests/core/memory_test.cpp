// The block pool behind pixel buffers: which block serves a request, and blocks that outlive the pool.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <tuple>

#include "core/memory.h"

using nox::MemoryManager::PreallocatedMemory;

TEST(MemoryPool, PreallocatedSmallestFitFirstThenNewestFittingRecycled)
{
    using Counts = std::tuple<size_t, size_t, size_t>;  // free, in use, recycled
    PreallocatedMemory pool;
    auto counts = [&] { return Counts(pool.freeCount(), pool.inUseCount(), pool.recycledCount()); };
    for (uint64_t n : {4096, 1024, 2048})
        pool.preallocate(n);
    {
        auto b = pool.obtain(1500);
        EXPECT_EQ(std::tuple(b->preallocated, b->size), std::tuple(true, uint64_t(2048)));
        EXPECT_EQ(counts(), Counts(2, 1, 0));
    }
    EXPECT_EQ(counts(), Counts(3, 0, 0));
    // Larger than every preallocated block: allocated, and recycled when let go.
    auto a = pool.obtain(10000), b = pool.obtain(8000), c = pool.obtain(5000);
    EXPECT_EQ(std::tuple(a->preallocated, a->size), std::tuple(false, uint64_t(10000)));
    uint8_t* bData = b->data;
    a.reset();
    b.reset();
    c.reset();  // the newest, but too small for what follows
    EXPECT_EQ(counts(), Counts(3, 0, 3));
    auto d = pool.obtain(7000);  // the record keeps its real size
    EXPECT_EQ(std::tuple(d->data, d->size, d->preallocated), std::tuple(bData, uint64_t(8000), false));
    EXPECT_EQ(counts(), Counts(3, 0, 2));
    EXPECT_EQ(pool.obtain(12000)->size, 12000u);  // nothing fits: a new block
}

TEST(MemoryPool, HandlesMayOutliveThePool)
{
    nox::MemoryManager::BlockHandle kept;
    {
        PreallocatedMemory pool;
        kept = pool.obtain(64);
        std::memset(kept->data, 1, 64);
    }
    kept.reset();  // must not touch a dead pool (ASan watches)
}

TEST(MemoryPool, ConcurrentObtainAndReleaseNeverShareABlock)
{
    PreallocatedMemory pool;
    pool.preallocate(4096);
    std::atomic<int> shared{0};
    std::vector<std::thread> ts;
    for (int t = 0; t < 4; ++t)
        ts.emplace_back([&pool, &shared, t] {
            for (int i = 0; i < 2000; ++i) {
                auto b = pool.obtain(uint64_t(64 + (i * 37 + t) % 512)), c = pool.obtain(4096);
                std::memset(c->data, t, 4096);
                b->data[0] = uint8_t(i);
                shared += c->data[0] != t || c->data[4095] != t;
            }
        });
    for (auto& t : ts)
        t.join();
    EXPECT_EQ(shared, 0);
    EXPECT_EQ(pool.inUseCount(), 0u);
}

TEST(PixelsCached, ZeroedRowsFromARecycledBlock)
{
    PreallocatedMemory pool;
    std::memset(pool.obtain(4096)->data, 0xAB, 4096);
    nox::PixelsCached p(5, 4, 4, 100, pool);
    EXPECT_EQ(p.rowBytes(), 25u);
    EXPECT_EQ(p.size(), 100u);
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(p.data()[i], 0) << i;
    EXPECT_EQ(nox::PixelsCached(7, 0, 4, 0, pool).rowBytes(), 0u);  // no rows, no division by zero
}
