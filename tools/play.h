// zemo3 play's pieces in files of their own.
#pragma once

#include <chrono>

#include "cli.h"

namespace zemo3 {

// The clock of play's timings (decode, upload and draw milliseconds).
using Clock = std::chrono::steady_clock;

inline double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// zemo3 play --offscreen --bench: per type and size, the milliseconds per
// frame of reading and unpacking, of the upload and of the draw, beside
// FFmpeg's HAP decoder on the same pictures.
int benchPlayback(const Args& args);

}  // namespace zemo3
