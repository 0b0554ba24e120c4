#include "player/sound_clock.h"

#include <SDL.h>

#include <cmath>

namespace zemo3 {

SoundClock::SoundClock(Zemo3Movie* movie, const Zemo3Info& info) : movie_(movie), info_(info)
{
    if (info.channels <= 0 || SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
        return;
    SDL_AudioSpec want{};
    want.freq = info.sampleRate;
    want.channels = uint8_t(info.channels);
    want.samples = 1024;
    switch (info.bytesPerSample) {
    case 1:
        want.format = AUDIO_U8;
        break;
    case 2:
        want.format = AUDIO_S16LSB;
        break;
    case 4:
        want.format = info.isFloat ? AUDIO_F32LSB : AUDIO_S32LSB;
        break;
    default:
        return;  // 24-bit samples: SDL2 has no such format
    }
    device_ = SDL_OpenAudioDevice(nullptr, 0, &want, nullptr, 0);
    frameBytes_ = size_t(info.channels) * size_t(info.bytesPerSample);
}

SoundClock::~SoundClock()
{
    if (device_)
        SDL_CloseAudioDevice(device_);
}

void SoundClock::restart(double seconds, bool paused)
{
    start_ = seconds;
    next_ = int64_t(std::llround(seconds * info_.sampleRate));
    queued_ = 0;
    wallStart_ = std::chrono::steady_clock::now();
    pausedAt_ = paused ? seconds : -1;
    if (device_) {
        SDL_ClearQueuedAudio(device_);
        fill();
        SDL_PauseAudioDevice(device_, paused ? 1 : 0);
    }
}

void SoundClock::pause(bool paused)
{
    const double now = seconds();
    if (paused == (pausedAt_ >= 0))
        return;
    if (paused) {
        pausedAt_ = now;
        if (device_)
            SDL_PauseAudioDevice(device_, 1);
    } else {
        restart(now, false);
    }
}

void SoundClock::fill()
{
    if (!device_ || pausedAt_ >= 0)
        return;
    const int64_t want = info_.sampleRate / 4;
    const int64_t queuedFrames = int64_t(SDL_GetQueuedAudioSize(device_) / frameBytes_);
    if (queuedFrames >= want)
        return;
    buffer_.resize(size_t(want - queuedFrames) * frameBytes_);
    const int64_t got = zemo3_read_sound(movie_, next_, want - queuedFrames, buffer_.data());
    if (got > 0) {
        SDL_QueueAudio(device_, buffer_.data(), uint32_t(size_t(got) * frameBytes_));
        next_ += got;
        queued_ += got;
    }
}

double SoundClock::seconds() const
{
    if (pausedAt_ >= 0)
        return pausedAt_;
    if (device_) {
        const int64_t waiting = int64_t(SDL_GetQueuedAudioSize(device_) / frameBytes_);
        return start_ + double(queued_ - waiting) / info_.sampleRate;
    }
    return start_ + std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart_).count();
}

}  // namespace zemo3
