// Little-endian loads and stores at any address, aligned or not: the
// multi-byte values of frames, textures and packed streams, and RGBA pixels
// taken as 32-bit words (R in the low byte).
//
// A load or store is one memcpy, which compilers turn into a single move, and
// on a big-endian host a byte swap after or before it; so the values are
// right on any host and cost nothing extra on the little-endian ones this
// project builds for.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace nox {

static_assert(std::endian::native == std::endian::little || std::endian::native == std::endian::big,
              "mixed-endian hosts are not supported");

namespace bytes_detail {

// Native to little-endian order and back: the same swap both ways.
template <class T>
constexpr T littleEndian(T v)
{
    if constexpr (std::endian::native == std::endian::big) {
        if constexpr (sizeof(T) == 2)
            return T(__builtin_bswap16(v));
        else if constexpr (sizeof(T) == 4)
            return T(__builtin_bswap32(v));
        else
            return T(__builtin_bswap64(v));
    }
    return v;
}

template <class T>
inline T load(const uint8_t* p)
{
    T v;
    std::memcpy(&v, p, sizeof v);
    return littleEndian(v);
}

template <class T>
inline void store(uint8_t* p, T v)
{
    v = littleEndian(v);
    std::memcpy(p, &v, sizeof v);
}

}  // namespace bytes_detail

inline uint16_t loadLe16(const uint8_t* p) { return bytes_detail::load<uint16_t>(p); }
inline uint32_t loadLe32(const uint8_t* p) { return bytes_detail::load<uint32_t>(p); }
inline uint64_t loadLe64(const uint8_t* p) { return bytes_detail::load<uint64_t>(p); }
// The 48 index bits of a single-channel block.
inline uint64_t loadLe48(const uint8_t* p) { return loadLe16(p) | uint64_t(loadLe32(p + 2)) << 16; }

inline void storeLe16(uint8_t* p, uint16_t v) { bytes_detail::store(p, v); }
inline void storeLe32(uint8_t* p, uint32_t v) { bytes_detail::store(p, v); }
inline void storeLe64(uint8_t* p, uint64_t v) { bytes_detail::store(p, v); }
// The low 48 bits of v.
inline void storeLe48(uint8_t* p, uint64_t v)
{
    storeLe16(p, uint16_t(v));
    storeLe32(p + 2, uint32_t(v >> 16));
}

}  // namespace nox
