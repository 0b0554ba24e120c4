// The packers' shelf of work areas.
#include <algorithm>
#include <mutex>
#include <new>
#include <vector>

#include "pack_internal.h"

namespace nox::pack {

namespace {

// Idle areas, smallest first. As many exist as calls have run at once.
struct Shelf {
    std::mutex lock;
    std::vector<std::pair<size_t, uint8_t*>> idle;
};

// Never destroyed: an area may come back from a thread that outlives the
// statics at exit.
Shelf& shelf()
{
    static Shelf* const s = new Shelf;
    return *s;
}

}  // namespace

WorkArea::WorkArea(size_t bytes)
{
    Shelf& s = shelf();
    {
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
    Shelf& s = shelf();
    std::lock_guard<std::mutex> hold(s.lock);
    try {
        const auto at =
            std::lower_bound(s.idle.begin(), s.idle.end(), size_, [](const auto& a, size_t n) { return a.first < n; });
        s.idle.insert(at, {size_, data_});
    } catch (const std::bad_alloc&) {
        delete[] data_;
    }
}

}  // namespace nox::pack
