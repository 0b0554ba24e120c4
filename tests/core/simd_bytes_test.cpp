// The instruction-set levels' names, fallback and cap, and the little-endian
// loads and stores every frame byte goes through.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <vector>

#include "core/bytes.h"
#include "core/simd.h"

namespace nox {
namespace {

// Names parse back and nothing else parses. What a ...With(level) entry point
// runs is the level itself when supported, else the next supported one below.
// The cap lowers the active level and is lifted by a higher cap, but never
// past what the processor runs.
TEST(SimdLevel, NamesRunnableLevelsAndTheCap)
{
    EXPECT_TRUE(simdLevelSupported(SimdLevel::Scalar));
    const SimdLevel top = activeSimdLevel();
    SimdLevel below = SimdLevel::Scalar;
    for (SimdLevel level : kSimdLevels) {
        SCOPED_TRACE(simdLevelName(level));
        EXPECT_EQ(parseSimdLevel(simdLevelName(level)), level);
        below = simdLevelSupported(level) ? level : below;
        EXPECT_EQ(runnableSimdLevel(level), below);
        capSimdLevel(level);
        EXPECT_EQ(activeSimdLevel(), std::min(level, top));
    }
    capSimdLevel(top);
    EXPECT_EQ(activeSimdLevel(), top);
    for (const char* other : {"", "AVX2", "sse4.1", "avx512f", "scalar ", "fastest"})
        EXPECT_FALSE(parseSimdLevel(other).has_value()) << '"' << other << '"';
}

// Known byte strings at every alignment: the value each load gives, and the
// bytes each store of that value writes back, around untouched neighbours.
TEST(Bytes, LittleEndianAtAnyAlignment)
{
    const std::array<uint8_t, 8> wire = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
    struct Case {
        size_t bytes;
        uint64_t value;
    };
    const Case cases[] = {{2, 0x2301}, {4, 0x67452301}, {6, 0xAB8967452301}, {8, 0xEFCDAB8967452301}};
    for (size_t offset = 0; offset < 8; ++offset) {
        for (const Case& c : cases) {
            std::vector<uint8_t> buffer(24, 0x5A);
            std::copy_n(wire.begin(), c.bytes, buffer.begin() + offset);
            const uint8_t* p = buffer.data() + offset;
            const uint64_t loaded = c.bytes == 2   ? loadLe16(p)
                                    : c.bytes == 4 ? loadLe32(p)
                                    : c.bytes == 6 ? loadLe48(p)
                                                   : loadLe64(p);
            EXPECT_EQ(loaded, c.value) << c.bytes << " bytes at " << offset;

            std::vector<uint8_t> stored(24, 0x5A);
            uint8_t* q = stored.data() + offset;
            if (c.bytes == 2)
                storeLe16(q, uint16_t(c.value));
            else if (c.bytes == 4)
                storeLe32(q, uint32_t(c.value));
            else if (c.bytes == 6)
                storeLe48(q, c.value | 0xFFFF000000000000ull);  // the top bits stay out
            else
                storeLe64(q, c.value);
            EXPECT_EQ(stored, buffer) << c.bytes << " bytes at " << offset;
        }
    }
}

}  // namespace
}  // namespace nox
