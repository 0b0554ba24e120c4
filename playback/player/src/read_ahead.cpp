#include "player/read_ahead.h"

#include <chrono>
#include <cstring>

namespace zemo3 {

ReadAhead::ReadAhead(Zemo3Movie* movie) : movie_(movie), thread_([this] { run(); }) {}

ReadAhead::~ReadAhead()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void ReadAhead::seek(int64_t index)
{
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.clear();
    seekTo_ = index;
    ++generation_;
    end_ = false;
    changed_.notify_all();
}

bool ReadAhead::take(Restored* out, bool* end)
{
    std::lock_guard<std::mutex> lock(mutex_);
    *end = false;
    while (!queue_.empty() && queue_.front().generation != generation_)
        queue_.pop_front();
    if (queue_.empty()) {
        *end = end_;
        return false;
    }
    *out = std::move(queue_.front());
    queue_.pop_front();
    changed_.notify_all();
    return true;
}

bool ReadAhead::peekSeconds(double* seconds)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (queue_.empty() || queue_.front().generation != generation_ || queue_.front().result != ZEMO3_OK)
        return false;
    *seconds = queue_.front().frame.seconds;
    return true;
}

void ReadAhead::run()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return quit_ || seekTo_ >= 0 || (!end_ && queue_.size() < kAhead); });
        if (quit_)
            return;
        const int64_t seekTo = seekTo_;
        const uint64_t generation = generation_;
        seekTo_ = -1;
        lock.unlock();
        Restored r;
        r.generation = generation;
        const auto start = std::chrono::steady_clock::now();
        r.result = seekTo >= 0 ? zemo3_read_frame(movie_, seekTo, &r.frame) : zemo3_next_frame(movie_, &r.frame);
        r.decodeMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        if (r.result == ZEMO3_OK) {
            // The planes into memory of the frame's own.
            size_t total = 0;
            for (uint32_t i = 0; i < r.frame.planeCount; ++i)
                total += r.frame.planes[i].size;
            r.bytes.resize(total);
            size_t at = 0;
            for (uint32_t i = 0; i < r.frame.planeCount; ++i) {
                std::memcpy(r.bytes.data() + at, r.frame.planes[i].data, r.frame.planes[i].size);
                r.frame.planes[i].data = r.bytes.data() + at;
                at += r.frame.planes[i].size;
            }
        }
        lock.lock();
        if (generation != generation_)
            continue;
        if (r.result == ZEMO3_END || r.result == ZEMO3_FAILED)
            end_ = true;
        if (r.result != ZEMO3_END)
            queue_.push_back(std::move(r));
    }
}

}  // namespace zemo3
