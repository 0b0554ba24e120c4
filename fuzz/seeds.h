// Built-in seed inputs of a fuzz target, for its replay driver and as a
// starting corpus for libFuzzer (fuzz_<target>_replay --write-corpus).
#pragma once

#include <cstdint>
#include <vector>

namespace nox::fuzz {

using Bytes = std::vector<uint8_t>;

// Defined once per target, in seeds_<target>.cpp.
std::vector<Bytes> seeds();

}  // namespace nox::fuzz
