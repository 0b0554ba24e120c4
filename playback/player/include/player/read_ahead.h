// A movie's frames read and unpacked ahead of the display, on a thread of
// their own: zemo3 play's reading side. The display takes them in order;
// a seek throws away what was read for the earlier position.
//
// Each frame is restored straight into one of a set of destinations, which
// may be the mapped pixel-buffer objects the GPU uploads from, so that the
// planes are written once and never copied. A frame's destination belongs
// to whoever took the frame until it hands it back with release().
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "zemo3/playback.h"

namespace zemo3 {

// A frame restored by the reading thread, its planes in destination `slot`.
struct Restored {
    uint64_t generation = 0;  // of the seek it belongs to
    int result = ZEMO3_OK;
    Zemo3Frame frame{};
    int slot = -1;        // the destination its planes lie in; -1: none (a failed read)
    double decodeMs = 0;  // reading and unpacking it
};

// Reads frames ahead of the display on its own thread, a few at most, from
// the movie's first frame on. The movie is the reader's until it is gone.
class ReadAhead {
public:
    static constexpr size_t kAhead = 4;
    // Destinations the reader needs: the frames ahead, the one the display
    // holds and two the GPU may still be reading.
    static constexpr size_t kDestinations = kAhead + 3;

    // destinations: kDestinations buffers of `capacity` bytes each, at least
    // zemo3_frame_bytes(movie), which must outlive the reader; none: the
    // reader allocates its own.
    explicit ReadAhead(Zemo3Movie* movie, std::vector<uint8_t*> destinations = {}, size_t capacity = 0);
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // From frame `index` on; frames of earlier requests are thrown away.
    void seek(int64_t index);
    // The next frame, or false when none is ready (at the end: *end set). A
    // frame that failed to read comes with its result and ends the reading.
    // The frame's destination is the caller's until release().
    bool take(Restored* out, bool* end);
    // Hands a taken frame's destination back (-1 is ignored).
    void release(int slot);
    // The time of the frame next taken, when one is ready.
    bool peekSeconds(double* seconds);

private:
    void run();
    int freeSlot() const;

    Zemo3Movie* movie_;
    std::vector<std::vector<uint8_t>> own_;  // when the caller gave none
    std::vector<uint8_t*> slots_;
    std::vector<char> free_;
    size_t capacity_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Restored> queue_;
    int64_t seekTo_ = 0;
    uint64_t generation_ = 0;
    bool end_ = false, quit_ = false;
    std::thread thread_;
};

}  // namespace zemo3
