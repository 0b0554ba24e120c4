#include "core/simd.h"

#include <atomic>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <string>

#include "platform/platform.h"

namespace nox {

namespace {

bool processorRuns(SimdLevel level)
{
#if defined(__x86_64__) || defined(__i386__)
    switch (level) {
    case SimdLevel::Scalar:
        return true;
    case SimdLevel::Sse2:
        return __builtin_cpu_supports("sse2");
    case SimdLevel::Sse41:
        return __builtin_cpu_supports("sse4.1");
    case SimdLevel::Avx2:
        // The level takes BMI2 too (processors with AVX2 have it): the unpackers use it.
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi2");
    case SimdLevel::Avx512:
        // The processor's support, and the system's for the wider registers.
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
               __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl");
    }
    return false;
#else
    return level == SimdLevel::Scalar;
#endif
}

// Levels whose code this build carries. The x86 files of each level are
// compiled with their own instruction-set flags whatever the rest of the
// build targets (cmake/Zemo.cmake), so a 64-bit x86 build carries them all;
// the Sse2 code needs the baseline to have SSE2.
bool builtWith(SimdLevel level)
{
    switch (level) {
    case SimdLevel::Scalar:
        return true;
    case SimdLevel::Sse2:
#if defined(__SSE2__)
        return true;
#else
        return false;
#endif
    case SimdLevel::Sse41:
    case SimdLevel::Avx2:
    case SimdLevel::Avx512:
#if defined(__x86_64__)
        return true;
#else
        return false;
#endif
    }
    return false;
}

SimdLevel levelFromEnvironment()
{
    SimdLevel best = runnableSimdLevel(std::end(kSimdLevels)[-1]);
    if (const std::optional<std::string> text = platform::environmentValue("ZEMO_KERNEL"))
        if (const std::optional<SimdLevel> cap = parseSimdLevel(*text); cap && *cap < best)
            best = *cap;
    return best;
}

std::atomic<SimdLevel>& active()
{
    static std::atomic<SimdLevel> level{levelFromEnvironment()};
    return level;
}

}  // namespace

bool simdLevelSupported(SimdLevel level) { return builtWith(level) && processorRuns(level); }

SimdLevel runnableSimdLevel(SimdLevel wanted)
{
    while (!simdLevelSupported(wanted))  // Scalar always is
        wanted = SimdLevel(uint8_t(wanted) - 1);
    return wanted;
}

SimdLevel activeSimdLevel() { return active().load(std::memory_order_relaxed); }

void capSimdLevel(SimdLevel cap)
{
    const SimdLevel best = levelFromEnvironment();
    active().store(cap < best ? cap : best, std::memory_order_relaxed);
}

const char* simdLevelName(SimdLevel level)
{
    switch (level) {
    case SimdLevel::Scalar:
        return "scalar";
    case SimdLevel::Sse2:
        return "sse2";
    case SimdLevel::Sse41:
        return "sse41";
    case SimdLevel::Avx2:
        return "avx2";
    case SimdLevel::Avx512:
        return "avx512";
    }
    return "scalar";
}

std::optional<SimdLevel> parseSimdLevel(std::string_view name)
{
    for (SimdLevel level : kSimdLevels)
        if (name == simdLevelName(level))
            return level;
    return std::nullopt;
}

}  // namespace nox
