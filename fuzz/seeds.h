// Built-in seed inputs of a fuzz target, for its replay driver and as a
// starting corpus for libFuzzer (fuzz_<target>_replay --write-corpus).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace nox::fuzz {

using Bytes = std::vector<uint8_t>;

// Defined once per target, in seeds_<target>.cpp.
std::vector<Bytes> seeds();

// The input form of the targets that take a stream of frames (the element's
// and the VLC module's): head bytes, then each frame behind its length as a
// 16-bit little-endian number.
inline Bytes lengthPrefixed(Bytes head, std::initializer_list<Bytes> frames)
{
    for (const Bytes& frame : frames) {
        head.push_back(uint8_t(frame.size()));
        head.push_back(uint8_t(frame.size() >> 8));
        head.insert(head.end(), frame.begin(), frame.end());
    }
    return head;
}

}  // namespace nox::fuzz
