// Instruction-set levels of the codec's encoders and packers and of the
// reader's RGBA rebuild: which one this processor runs, and the cap that
// tests, benchmarks and `zemo3 bench --kernel` put on it.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace nox {

// A level names what the processor must run, not how its code is written.
// At a level each part runs the code it has for the highest level at or
// below it; every part keeps its scalar reference beside its fast paths and
// writes the reference's bytes at every level. Levels are ordered: a
// processor that runs one runs those below it.
//   Scalar  the reference code, for any processor.
//   Sse2    the x86-64 baseline. A level's code may be plain C++ compiled for
//           that baseline, and here three parts' is: the packers' fast walk
//           (hash slots prefetched ahead, runs scanned word by word), the
//           unpackers' (codes and ops by tables, without branches on them)
//           and the reader's rebuild that builds each block's palette once.
//           The encoders use SSE2 intrinsics. The unpackers have no code of
//           their own above this level.
//   Sse41   SSE4.1: the DXT and YCoCg encoders on several blocks per vector
//           (a single block keeps the Sse2 code), the reader's byte
//           shuffles over one block per vector. The packers have no code of
//           their own here and run their Sse2 code.
//   Avx2    AVX2 with BMI2: the encoders and the reader as Sse41 with twice
//           the lanes; the packers' Sse2 walk with runs scanned 32 bytes at
//           a time; the unit-stream unpackers built with BMI2's shifts.
//   Avx512  AVX-512 (F, BW, DQ and VL): the DXT encoders on sixteen blocks
//           per vector. The YCoCg encoders, the packers and the reader run
//           their Avx2 code.
enum class SimdLevel : uint8_t { Scalar, Sse2, Sse41, Avx2, Avx512 };

// Every level, lowest first.
inline constexpr SimdLevel kSimdLevels[] = {SimdLevel::Scalar, SimdLevel::Sse2, SimdLevel::Sse41, SimdLevel::Avx2,
                                            SimdLevel::Avx512};

// Whether this build carries the level's code and this processor runs it.
// Scalar always is.
bool simdLevelSupported(SimdLevel level);

// The highest supported level at or below `wanted`: what a ...With(level,
// ...) entry point runs.
SimdLevel runnableSimdLevel(SimdLevel wanted);

// The level the plain entry points run: the highest supported one, capped
// by the ZEMO_KERNEL environment variable (a level's name, read once per
// process; another value caps nothing) and by capSimdLevel().
SimdLevel activeSimdLevel();

// Caps activeSimdLevel() from now on, for the whole process; the cap never
// raises the level above what the processor runs or ZEMO_KERNEL allows.
void capSimdLevel(SimdLevel cap);

// "scalar", "sse2", "sse41", "avx2", "avx512"; parseSimdLevel takes them back (and
// nothing else).
const char* simdLevelName(SimdLevel level);
std::optional<SimdLevel> parseSimdLevel(std::string_view name);

}  // namespace nox
