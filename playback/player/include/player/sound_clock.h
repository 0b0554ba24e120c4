// A movie's sound through SDL2's queue, and the clock the pictures follow:
// the sound's position when there is sound and a device plays it, the wall
// clock otherwise.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "zemo3/playback.h"

namespace zemo3 {

class SoundClock {
public:
    // Opens SDL's default sound device for the movie's sound, when it has
    // some in a format SDL2 plays (not 24-bit samples); the movie is read
    // for sound only, from fill().
    SoundClock(Zemo3Movie* movie, const Zemo3Info& info);
    ~SoundClock();
    SoundClock(const SoundClock&) = delete;
    SoundClock& operator=(const SoundClock&) = delete;

    // Whether the sound plays on a device (else the clock is the wall's).
    bool playing() const { return device_ != 0; }
    // Starts (again) at `seconds`, paused or not.
    void restart(double seconds, bool paused);
    // Pauses, or goes on from where it paused.
    void pause(bool paused);
    // Keeps about a quarter of a second queued.
    void fill();
    // Where the pictures are: seconds into the movie.
    double seconds() const;

private:
    Zemo3Movie* movie_;
    Zemo3Info info_;
    uint32_t device_ = 0;  // SDL_AudioDeviceID
    size_t frameBytes_ = 1;
    std::vector<uint8_t> buffer_;
    double start_ = 0, pausedAt_ = -1;
    int64_t next_ = 0, queued_ = 0;
    std::chrono::steady_clock::time_point wallStart_ = std::chrono::steady_clock::now();
};

}  // namespace zemo3
