// Built-in seed inputs of a fuzz target, for its replay driver and as a
// starting corpus for libFuzzer (fuzz_<target>_replay --write-corpus).
#pragma once

#include <cstdint>
#include <vector>

#include "common/textures.h"

namespace nox::fuzz {

using Bytes = std::vector<uint8_t>;

// Defined once per target, in seeds_<target>.cpp.
std::vector<Bytes> seeds();

// The input form of the targets that take a stream of frames (the element's
// and the picture pipeline's): head bytes, then each frame behind its length as a
// 16-bit little-endian number. Their seeds, for each type: a picture's frame
// raw, packed, cut to half (damaged) and raw again, after head byte 0 and 1
// (the target's choice) and the picture's size; with `flushAndLarger`, an
// empty buffer (a flush) and a frame of a larger picture before the last.
inline std::vector<Bytes> frameStreamSeeds(bool flushAndLarger)
{
    using testing::makeFrame;
    std::vector<Bytes> out;
    for (uint32_t type = 0; type < 4; ++type) {
        const uint32_t w = 9 + 17 * type, h = 30 - 5 * type;
        const auto t = testing::makeTexture(type, testing::Content::Smooth, padTo16(w), padTo16(h), type);
        const auto packed = testing::packTexture(type, t);
        std::vector<Bytes> frames = {makeFrame(type, t, 1), makeFrame(type, packed, 0),
                                     makeFrame(type, Bytes(packed.begin(), packed.begin() + packed.size() / 2), 0)};
        if (flushAndLarger) {
            const auto larger =
                testing::makeTexture(type, testing::Content::Alphabet, padTo16(w) + 16, padTo16(h), type);
            frames.insert(frames.end(), {Bytes{}, makeFrame(type, testing::packTexture(type, larger), 0)});
        }
        frames.push_back(makeFrame(type, t, 1));
        for (uint8_t head = 0; head < 2; ++head) {
            out.push_back({head, uint8_t(w - 1), uint8_t(h - 1)});
            for (const Bytes& frame : frames) {
                out.back().push_back(uint8_t(frame.size()));
                out.back().push_back(uint8_t(frame.size() >> 8));
                out.back().insert(out.back().end(), frame.begin(), frame.end());
            }
        }
    }
    return out;
}

}  // namespace nox::fuzz
