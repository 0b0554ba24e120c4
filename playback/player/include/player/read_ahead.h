// A movie's frames read and unpacked ahead of the display, on a thread of
// their own: zemo3 play's reading side. The display takes them in order;
// a seek throws away what was read for the earlier position.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "zemo3/playback.h"

namespace zemo3 {

// A frame restored by the reading thread, with its own copy of the planes.
struct Restored {
    uint64_t generation = 0;  // of the seek it belongs to
    int result = ZEMO3_OK;
    Zemo3Frame frame{};
    std::vector<uint8_t> bytes;
    double decodeMs = 0;  // reading and unpacking it
};

// Reads frames ahead of the display on its own thread, a few at most, from
// the movie's first frame on. The movie is the reader's until it is gone.
class ReadAhead {
public:
    static constexpr size_t kAhead = 4;

    explicit ReadAhead(Zemo3Movie* movie);
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // From frame `index` on; frames of earlier requests are thrown away.
    void seek(int64_t index);
    // The next frame, or false when none is ready (at the end: *end set). A
    // frame that failed to read comes with its result and ends the reading.
    bool take(Restored* out, bool* end);
    // The time of the frame next taken, when one is ready.
    bool peekSeconds(double* seconds);

private:
    void run();

    Zemo3Movie* movie_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Restored> queue_;
    int64_t seekTo_ = 0;
    uint64_t generation_ = 0;
    bool end_ = false, quit_ = false;
    std::thread thread_;
};

}  // namespace zemo3
