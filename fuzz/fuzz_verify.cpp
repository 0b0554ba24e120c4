// Fuzz target: the checks of `zemo3 verify` on an arbitrary file.
//
// The bytes are read as a movie from memory through libavformat's probe,
// exactly as verify reads a file, and every packet goes through the same
// checks and frame decoding; no reference. Nothing may crash, leak or read
// outside the packets, whatever the container claims (picture size, packet
// sizes, timestamps, sound format).
#include <cstddef>
#include <cstdint>
#include <string>

#include "codec/zemo3.h"
#include "media/movie.h"
#include "verify/verify_movie.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    zemo3::MovieReader movie;
    std::string error;
    if (!movie.openMemory(data, size, "input", &error))
        return 0;
    // Pictures of millions of pixels only cost time here; sides beyond what
    // verify accepts are rejected before anything is allocated.
    const zemo3::MovieInfo& info = movie.info();
    if (uint64_t(info.width) * info.height > (1u << 20) && info.width <= nox::kMaxPictureSide &&
        info.height <= nox::kMaxPictureSide)
        return 0;
    zemo3::Reference ref;
    zemo3::verifyMovie(movie, ref, -1);
    return 0;
}
