#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "core/memory.h"

using nox::PixelsCached;
using nox::MemoryManager::PreallocatedMemory;

TEST(MemoryPool, RecycledBlocksServeSmallerRequests)
{
    PreallocatedMemory pool;
    uint8_t* first;
    {
        auto b = pool.obtain(1000);
        EXPECT_EQ(b->size, 1000u);
        EXPECT_FALSE(b->preallocated);
        first = b->data;
    }
    EXPECT_EQ(pool.recycledCount(), 1u);
    auto again = pool.obtain(800);
    EXPECT_EQ(again->data, first);
    EXPECT_EQ(again->size, 1000u);  // the record keeps its real size
    EXPECT_EQ(pool.recycledCount(), 0u);
}

TEST(MemoryPool, TooSmallRecycledBlocksStay)
{
    PreallocatedMemory pool;
    pool.obtain(600).reset();
    auto b = pool.obtain(800);
    EXPECT_EQ(b->size, 800u);
    EXPECT_EQ(pool.recycledCount(), 1u);
}

TEST(MemoryPool, NewestFittingRecycledBlockFirst)
{
    PreallocatedMemory pool;
    auto a = pool.obtain(4096), b = pool.obtain(2048), c = pool.obtain(100);
    uint8_t* bData = b->data;
    a.reset();
    b.reset();  // released last among those that fit
    c.reset();  // newest, but too small
    auto d = pool.obtain(2000);
    EXPECT_EQ(d->data, bData);
}

TEST(MemoryPool, PreallocatedSmallestFittingFirstAndReturned)
{
    PreallocatedMemory pool;
    pool.preallocate(4096);
    pool.preallocate(1024);
    pool.preallocate(2048);
    {
        auto b = pool.obtain(1500);
        EXPECT_TRUE(b->preallocated);
        EXPECT_EQ(b->size, 2048u);
        EXPECT_EQ(pool.freeCount(), 2u);
        EXPECT_EQ(pool.inUseCount(), 1u);
    }
    EXPECT_EQ(pool.freeCount(), 3u);
    EXPECT_EQ(pool.inUseCount(), 0u);
    EXPECT_EQ(pool.recycledCount(), 0u);
    auto big = pool.obtain(10000);  // no preallocated block fits: malloc
    EXPECT_FALSE(big->preallocated);
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

TEST(MemoryPool, ConcurrentObtainAndRelease)
{
    PreallocatedMemory pool;
    std::vector<std::thread> ts;
    for (int t = 0; t < 4; ++t)
        ts.emplace_back([&pool, t] {
            for (int i = 0; i < 2000; ++i) {
                auto b = pool.obtain(uint64_t(64 + (i * 37 + t) % 512));
                auto c = pool.obtain(4096);
                c->data[4095] = uint8_t(t);
                b->data[0] = uint8_t(i);
            }
        });
    for (auto& t : ts)
        t.join();
    // Same-sized requests reuse what came back: at most one 4 KiB block per
    // thread was ever allocated.
    size_t big = 0;
    for (int i = 0; i < 8; ++i) {
        auto b = pool.obtain(4096);
        if (b->size == 4096)
            ++big;
    }
    EXPECT_GE(big, 1u);
}

TEST(PixelsCachedTest, RowBytesAndZeroedRecycledBlock)
{
    PreallocatedMemory pool;
    {
        auto dirty = pool.obtain(4096);
        std::memset(dirty->data, 0xAB, 4096);
    }
    PixelsCached p(5, 4, 4, 100, pool);
    EXPECT_EQ(p.rowBytes(), 25u);
    EXPECT_EQ(p.size(), 100u);
    EXPECT_EQ(p.block()->size, 4096u);  // the recycled larger block
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(p.data()[i], 0) << i;
    EXPECT_EQ(p.data()[100], 0xAB);  // beyond size nothing is cleared

    PixelsCached flat(7, 0, 4, 0, pool);
    EXPECT_EQ(flat.rowBytes(), 0u);
}
