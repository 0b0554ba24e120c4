// The memory pool of reusable byte blocks and the pooled pixel buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <vector>

namespace nox {

namespace MemoryManager {

struct Block {
    uint64_t size = 0;
    uint8_t* data = nullptr;
    bool preallocated = false;
};

// Shared ownership of one block; the last handle gives the block back.
using BlockHandle = std::shared_ptr<Block>;

// Blocks come from (1) the preallocated free list, smallest fitting first,
// (2) the recycle list, newest fitting first, (3) malloc of exactly n bytes.
// Blocks are never cleared by the pool. Safe to use from any thread.
class PreallocatedMemory {
public:
    PreallocatedMemory();
    ~PreallocatedMemory();

    // A block of at least n bytes; Block::size is its actual size.
    // Throws std::bad_alloc when memory cannot be had.
    BlockHandle obtain(uint64_t n);

    // Adds a preallocated block of n bytes to the free list.
    void preallocate(uint64_t n);

    size_t freeCount() const;
    size_t inUseCount() const;
    size_t recycledCount() const;

    // Frees recycled blocks whose stamp (release time + 10 s) has passed.
    // Returns how many were freed. Nothing on the export path calls it.
    size_t trimRecycled(uint64_t nowMs);

    PreallocatedMemory(const PreallocatedMemory&) = delete;
    PreallocatedMemory& operator=(const PreallocatedMemory&) = delete;

private:
    struct State;
    void release(Block* block);
    std::shared_ptr<State> state_;
};

}  // namespace MemoryManager

// A pooled pixel buffer: width x height pixels of bytesPerPixel bytes, rows
// rowBytes apart, where rowBytes = size / height. The first `size` bytes are
// zero on creation, even when the block is recycled and larger.
class PixelsCached {
public:
    // Uses the memory pool of the core context.
    PixelsCached(uint32_t width, uint32_t height, uint16_t bytesPerPixel, uint64_t size);
    PixelsCached(uint32_t width, uint32_t height, uint16_t bytesPerPixel, uint64_t size,
                 MemoryManager::PreallocatedMemory& pool);
    // For a caller that writes every one of the `size` bytes itself before
    // anything reads them: the buffer keeps whatever a recycled block held,
    // which saves clearing a picture that is overwritten at once.
    struct Overwritten {};
    PixelsCached(uint32_t width, uint32_t height, uint16_t bytesPerPixel, uint64_t size, Overwritten);

    uint8_t* data() const { return block_->data; }
    uint64_t size() const { return size_; }
    uint32_t width() const { return width_; }
    uint32_t height() const { return height_; }
    uint16_t bytesPerPixel() const { return bytesPerPixel_; }
    uint64_t rowBytes() const { return rowBytes_; }
    const MemoryManager::BlockHandle& block() const { return block_; }

private:
    MemoryManager::BlockHandle block_;
    uint32_t width_;
    uint32_t height_;
    uint16_t bytesPerPixel_;
    uint64_t rowBytes_;
    uint64_t size_;
};

}  // namespace nox
