// What the player's files share: a movie of the playback library held for a
// scope, a frame's texture as stored, and the clock of their timings.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "zemo3/playback.h"

namespace zemo3 {

struct MovieCloser {
    void operator()(Zemo3Movie* movie) const { zemo3_close(movie); }
};
using MovieHandle = std::unique_ptr<Zemo3Movie, MovieCloser>;

// Opens a movie through the playback library; null with its reason.
inline MovieHandle openMovie(const std::string& path, std::string* error)
{
    char message[512] = {};
    MovieHandle movie(zemo3_open(path.c_str(), message, sizeof message));
    if (!movie)
        *error = message;
    return movie;
}

// A frame's planes one after the other: its texture as stored.
inline void frameTexture(const Zemo3Frame& frame, std::vector<uint8_t>* texture)
{
    texture->clear();
    for (uint32_t i = 0; i < frame.planeCount; ++i)
        texture->insert(texture->end(), frame.planes[i].data, frame.planes[i].data + frame.planes[i].size);
}

using Clock = std::chrono::steady_clock;

inline double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

}  // namespace zemo3
