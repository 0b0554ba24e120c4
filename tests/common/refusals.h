// Frames the picture pipeline refuses, one of each kind, for a stream of a
// picture size: the table that the pipeline's tests and the tests of every
// player on it (the GStreamer element, the VLC module, the playback
// library) share, so that all of them are held to the same answers.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "common/textures.h"

namespace nox::testing {

// A frame of a picture padded to pw x ph: packed, or raw when `raw` or when
// packing gains nothing.
inline Bytes frameOf(uint32_t type, uint32_t pw, uint32_t ph, uint32_t seed, bool raw = false)
{
    const Bytes t = makeTexture(type, Content::Smooth, pw, ph, seed);
    const Bytes packed = raw ? Bytes() : packTexture(type, t);
    const bool useRaw = packed.empty() || packed.size() >= t.size();
    return makeFrame(type, useRaw ? t : packed, useRaw ? 1 : 0);
}

struct Refusal {
    const char* name;
    Bytes frame;
    const char* says;  // words of the reason given
};

// DXT1 frames refused in a width x height stream (both sides 17 or more).
inline std::vector<Refusal> refusedFrames(uint32_t width, uint32_t height)
{
    const uint32_t pw = padTo16(width), ph = padTo16(height);
    const Bytes good = frameOf(0, pw, ph, 1);
    Bytes zero = good, longer = good, mask = good;
    std::memset(zero.data(), 0, 4);
    longer.push_back(0);
    std::memcpy(mask.data(), &kTagMSK0, 4);
    return {
        {"three bytes", Bytes(good.begin(), good.begin() + 3), "too short for a frame header"},
        {"a zero first word", zero, "starts with a zero word"},
        {"cut to half", Bytes(good.begin(), good.begin() + ptrdiff_t(good.size() / 2)), "header announces"},
        {"one byte more", longer, "header announces"},
        {"a mask frame", mask, "which has no picture"},
        {"packed, of a larger picture", frameOf(0, pw + 16, ph + 16, 1), "(a frame of a larger picture?)"},
        {"packed, of a smaller picture", frameOf(0, pw - 16, ph - 16, 1), "packed payload is malformed"},
        {"raw, of a larger picture", frameOf(0, pw + 16, ph, 1, true), "raw payload does not match"},
    };
}

}  // namespace nox::testing
