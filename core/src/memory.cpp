#include "core/memory.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "core/context.h"
#include "platform/platform.h"

namespace nox {
namespace MemoryManager {

// The lists live in a shared state so that a handle released after the pool
// object is gone (late static destruction, a buffer kept by a thread) still
// finds somewhere to go.
struct PreallocatedMemory::State {
    // The pool's reader/writer lock guards the preallocated lists; the
    // recycle list has a lock of its own. The two are never held together.
    std::shared_mutex poolLock;
    std::vector<Block*> freeList;  // sorted by size, smallest first
    std::vector<Block*> inUse;
    std::mutex recycleLock;
    std::vector<std::pair<uint64_t, Block*>> recycled;  // oldest first

    ~State()
    {
        for (Block* b : freeList) {
            std::free(b->data);
            delete b;
        }
        for (auto& [stamp, b] : recycled) {
            std::free(b->data);
            delete b;
        }
    }

    void release(Block* block)
    {
        if (!block->preallocated) {
            platform::WallTime t = platform::wallClock();
            uint64_t stamp = (uint64_t(t.seconds) + 10) * 1000 + t.milliseconds;
            std::lock_guard<std::mutex> lock(recycleLock);
            recycled.emplace_back(stamp, block);
            return;
        }
        std::unique_lock<std::shared_mutex> lock(poolLock);
        auto it = std::find(inUse.begin(), inUse.end(), block);
        if (it == inUse.end())
            return;
        inUse.erase(it);
        freeList.push_back(block);
        std::stable_sort(freeList.begin(), freeList.end(),
                         [](const Block* a, const Block* b) { return a->size < b->size; });
    }
};

PreallocatedMemory::PreallocatedMemory() : state_(std::make_shared<State>()) {}

PreallocatedMemory::~PreallocatedMemory() = default;

BlockHandle PreallocatedMemory::obtain(uint64_t n)
{
    std::shared_ptr<State> state = state_;
    // Each handle's deleter keeps the lists alive, so the state goes (and
    // frees every block) only after the pool and its last handle are gone.
    auto deleter = [state](Block* b) { state->release(b); };
    {
        std::unique_lock<std::shared_mutex> lock(state->poolLock);
        for (auto it = state->freeList.begin(); it != state->freeList.end(); ++it) {
            if ((*it)->size >= n) {
                Block* b = *it;
                state->freeList.erase(it);
                state->inUse.push_back(b);
                b->preallocated = true;
                return BlockHandle(b, deleter);
            }
        }
    }
    {
        std::lock_guard<std::mutex> lock(state->recycleLock);
        for (auto it = state->recycled.rbegin(); it != state->recycled.rend(); ++it) {
            if (it->second->size >= n) {
                Block* b = it->second;
                state->recycled.erase(std::next(it).base());
                b->preallocated = false;
                return BlockHandle(b, deleter);
            }
        }
    }
    auto* data = static_cast<uint8_t*>(std::malloc(n ? n : 1));
    if (!data)
        throw std::bad_alloc();
    Block* b = new Block{n, data, false};
    return BlockHandle(b, deleter);
}

void PreallocatedMemory::preallocate(uint64_t n)
{
    auto* data = static_cast<uint8_t*>(std::malloc(n ? n : 1));
    if (!data)
        throw std::bad_alloc();
    std::unique_lock<std::shared_mutex> lock(state_->poolLock);
    state_->freeList.push_back(new Block{n, data, true});
    std::stable_sort(state_->freeList.begin(), state_->freeList.end(),
                     [](const Block* a, const Block* b) { return a->size < b->size; });
}

size_t PreallocatedMemory::freeCount() const
{
    std::shared_lock<std::shared_mutex> lock(state_->poolLock);
    return state_->freeList.size();
}

size_t PreallocatedMemory::inUseCount() const
{
    std::shared_lock<std::shared_mutex> lock(state_->poolLock);
    return state_->inUse.size();
}

size_t PreallocatedMemory::recycledCount() const
{
    std::lock_guard<std::mutex> lock(state_->recycleLock);
    return state_->recycled.size();
}

size_t PreallocatedMemory::trimRecycled(uint64_t nowMs)
{
    std::vector<Block*> expired;
    {
        std::lock_guard<std::mutex> lock(state_->recycleLock);
        auto& r = state_->recycled;
        auto keep = std::stable_partition(r.begin(), r.end(), [nowMs](const auto& e) { return e.first > nowMs; });
        for (auto it = keep; it != r.end(); ++it)
            expired.push_back(it->second);
        r.erase(keep, r.end());
    }
    for (Block* b : expired) {
        std::free(b->data);
        delete b;
    }
    return expired.size();
}

}  // namespace MemoryManager

PixelsCached::PixelsCached(uint32_t width, uint32_t height, uint16_t bytesPerPixel, uint64_t size)
    : PixelsCached(width, height, bytesPerPixel, size, getContext()->memory())
{
}

PixelsCached::PixelsCached(uint32_t width, uint32_t height, uint16_t bytesPerPixel, uint64_t size,
                           MemoryManager::PreallocatedMemory& pool)
    : block_(pool.obtain(size)),
      width_(width),
      height_(height),
      bytesPerPixel_(bytesPerPixel),
      // A buffer of height 0 has no rows; its row distance is 0 rather than
      // a division by zero.
      rowBytes_(height ? size / height : 0),
      size_(size)
{
    std::memset(block_->data, 0, size);
}

PixelsCached::PixelsCached(uint32_t width, uint32_t height, uint16_t bytesPerPixel, uint64_t size, Overwritten)
    : block_(getContext()->memory().obtain(size)),
      width_(width),
      height_(height),
      bytesPerPixel_(bytesPerPixel),
      rowBytes_(height ? size / height : 0),
      size_(size)
{
}

}  // namespace nox
