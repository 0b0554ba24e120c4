#include "player/read_ahead.h"

#include "movie_handle.h"

namespace zemo3 {

ReadAhead::ReadAhead(Zemo3Movie* movie, std::vector<uint8_t*> destinations, size_t capacity)
    : movie_(movie), slots_(std::move(destinations)), capacity_(capacity)
{
    if (slots_.empty()) {
        capacity_ = zemo3_frame_bytes(movie);
        own_.assign(kDestinations, std::vector<uint8_t>(capacity_));
        for (auto& buffer : own_)
            slots_.push_back(buffer.data());
    }
    free_.assign(slots_.size(), 1);
    thread_ = std::thread([this] { run(); });
}

ReadAhead::~ReadAhead()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

int ReadAhead::freeSlot() const
{
    for (size_t k = 0; k < free_.size(); ++k)
        if (free_[k])
            return int(k);
    return -1;
}

void ReadAhead::release(int slot)
{
    if (slot < 0)
        return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        free_[size_t(slot)] = 1;
    }
    changed_.notify_all();
}

void ReadAhead::seek(int64_t index)
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Restored& r : queue_)
        if (r.slot >= 0)
            free_[size_t(r.slot)] = 1;
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
    while (!queue_.empty() && queue_.front().generation != generation_) {
        if (queue_.front().slot >= 0)
            free_[size_t(queue_.front().slot)] = 1;
        queue_.pop_front();
    }
    if (queue_.empty()) {
        *end = end_;
        return false;
    }
    *out = queue_.front();
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
        changed_.wait(
            lock, [&] { return quit_ || ((seekTo_ >= 0 || (!end_ && queue_.size() < kAhead)) && freeSlot() >= 0); });
        if (quit_)
            return;
        const int64_t seekTo = seekTo_;
        const uint64_t generation = generation_;
        seekTo_ = -1;
        Restored r;
        r.generation = generation;
        r.slot = freeSlot();
        free_[size_t(r.slot)] = 0;
        lock.unlock();
        uint8_t* destination = slots_[size_t(r.slot)];
        const auto start = Clock::now();
        r.result = seekTo >= 0 ? zemo3_read_frame_into(movie_, seekTo, &r.frame, destination, capacity_)
                               : zemo3_next_frame_into(movie_, &r.frame, destination, capacity_);
        r.decodeMs = msSince(start);
        lock.lock();
        if (r.result != ZEMO3_OK) {
            free_[size_t(r.slot)] = 1;
            r.slot = -1;
        }
        if (generation != generation_) {
            if (r.slot >= 0)
                free_[size_t(r.slot)] = 1;
            continue;
        }
        if (r.result == ZEMO3_END || r.result == ZEMO3_FAILED)
            end_ = true;
        if (r.result != ZEMO3_END)
            queue_.push_back(r);
    }
}

}  // namespace zemo3
