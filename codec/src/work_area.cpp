// The packers' shelf of work areas.
#include <algorithm>
#include <atomic>
#include <mutex>
#include <new>
#include <vector>

#include "pack_internal.h"

namespace nox::pack {

namespace {

// Idle areas, smallest first: as many as calls have run at once (a
// megabyte or so each), kept until the module is unloaded or the process
// ends, when they are freed. Not the context's memory pool: it hands out the
// latest freed block that is large enough, which during a compression is
// the frame's scratch rows, tens of megabytes, so that the next frame's
// scratch would be allocated anew.
struct Shelf {
    std::mutex lock;
    std::vector<std::pair<size_t, uint8_t*>> idle;
    ~Shelf();
};

// True once the shelf is gone: a call still packing as the process ends
// (from a thread nobody stopped) then allocates and frees its own area.
std::atomic<bool> shelfGone{false};

Shelf& shelf()
{
    static Shelf s;
    return s;
}

Shelf::~Shelf()
{
    std::lock_guard<std::mutex> hold(lock);
    shelfGone.store(true);
    for (const auto& area : idle)
        delete[] area.second;
    idle.clear();
}

}  // namespace

WorkArea::WorkArea(size_t bytes)
{
    if (!shelfGone.load()) {
        Shelf& s = shelf();
        std::lock_guard<std::mutex> hold(s.lock);
        if (!s.idle.empty()) {
            // The smallest that is large enough, else the largest (grown
            // below): every thread's call asks for about the same.
            auto it = std::find_if(s.idle.begin(), s.idle.end(), [&](const auto& a) { return a.first >= bytes; });
            if (it == s.idle.end())
                --it;
            size_ = it->first;
            data_ = it->second;
            s.idle.erase(it);
        }
    }
    if (data_ && size_ >= bytes)
        return;
    delete[] data_;
    data_ = new (std::nothrow) uint8_t[bytes ? bytes : 1];
    size_ = data_ ? bytes : 0;
}

WorkArea::~WorkArea()
{
    if (!data_)
        return;
    if (!shelfGone.load()) {
        Shelf& s = shelf();
        std::lock_guard<std::mutex> hold(s.lock);
        if (!shelfGone.load()) {
            try {
                const auto at = std::lower_bound(s.idle.begin(), s.idle.end(), size_,
                                                 [](const auto& a, size_t n) { return a.first < n; });
                s.idle.insert(at, {size_, data_});
                return;
            } catch (const std::bad_alloc&) {
            }
        }
    }
    delete[] data_;
}

}  // namespace nox::pack
