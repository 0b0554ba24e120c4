// Where a player's time goes per frame (zemo3 play --offscreen --bench): a
// movie's frames read and unpacked into memory, timed, and then their upload
// and their draw on the current GL context, each waited for.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zemo3/playback.h"

namespace zemo3::gpu {

// A movie's frames as read and unpacked, each with its own copy of the
// planes, and the milliseconds that took.
struct LoadedFrames {
    Zemo3Info info{};
    std::vector<Zemo3Frame> frames;
    std::vector<std::vector<uint8_t>> textures;  // each frame's planes, one after the other
    double readMs = 0;

    // Reads every frame of the movie; false with a message when it cannot
    // be read or has no frames.
    bool load(const std::string& path, std::string* error);
    // Frame i with its planes pointing into its texture.
    Zemo3Frame frame(size_t i) const;
    // Frame i's picture as the CPU decoder makes it: RGBA rows, straight alpha.
    std::vector<uint8_t> picture(size_t i) const;
};

// Milliseconds of uploading and of drawing all the frames with the current
// context, from the second of two passes (the first warms the driver up).
struct GpuTimes {
    double uploadMs = 0, drawMs = 0;
};
bool timeUploadAndDraw(const LoadedFrames& loaded, GpuTimes* times, std::string* error);

}  // namespace zemo3::gpu
