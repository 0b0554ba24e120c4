#include "codec/ycocg.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "codec/frame_format.h"
#include "core/bytes.h"
#include "dxt_internal.h"
#include "ycocg_simd.h"

namespace nox {

namespace {

// Writes endpoints e0 >= e1 and, unless they are equal, the indices of the
// values on the ramp from scale*e1 to scale*e0.
template <class K>
inline void finishBlock(uint8_t* destination, const uint16_t* values, int e0, int e1, int d, int bias)
{
    destination[0] = uint8_t(e0);
    destination[1] = uint8_t(e1);
    if (e0 == e1) {
        std::memset(destination + 2, 0, 6);
        return;
    }
    K::indices(destination + 2, values, d, bias);
}

template <class K>
void lumaBlock(uint8_t* destination, const uint16_t* values)
{
    int mn, mx;
    K::minMax(values, mn, mx);
    // Endpoints round outward to multiples of 16 so the ramp covers every value.
    const int e0 = ((mx + 15) & 0xFFF0) >> 4;
    const int e1 = (mn & 0xFFF0) >> 4;
    const int d = 16 * (e0 - e1);
    finishBlock<K>(destination, values, e0, e1, d, d / 2 + 2 - 7 * 16 * e1);
}

template <class K>
void chromaBlock(uint8_t* destination, const uint16_t* values)
{
    int mn, mx;
    K::minMax(values, mn, mx);
    const int e0 = (mx + 1) >> 1;
    const int e1 = mn >> 1;
    finishBlock<K>(destination, values, e0, e1, 2 * (e0 - e1), (e0 - e1) + 2 - 14 * e1);
}

template <class K>
void alphaPlaneBlock(uint8_t* destination, const uint16_t* values)
{
    int mn, mx;
    K::minMax(values, mn, mx);
    const int d = mx - mn;
    finishBlock<K>(destination, values, mx, mn, d, (d < 8 ? d - 1 : d / 2 + 2) - 7 * mn);
}

// Walks the picture by 8x8 tiles: per tile the four luma blocks (and alpha
// blocks) go to their places in plane 1, and the Co and Cg blocks of the
// tile's 2x2 groups are appended to plane 2.
template <bool kAlpha, class K>
int encodeYcocgPicture(const uint8_t* picture, uint32_t width, uint32_t height, uint8_t* texture, uint8_t* chroma)
{
    if (width % 8 != 0 || height % 8 != 0)
        return 1;
    const size_t stride = size_t(width) * 4;
    constexpr size_t kUnit = kAlpha ? 16 : 8;
    const size_t blocksPerRow = width / 4;

    for (uint32_t ty = 0; ty < height / 8; ++ty) {
        for (uint32_t tx = 0; tx < width / 8; ++tx) {
            const uint8_t* tile = picture + size_t(ty) * 8 * stride + size_t(tx) * 32;
            detail::TileSamples samples;
            K::gatherTile(tile, stride, kAlpha, samples);
            for (int blk = 0; blk < 4; ++blk) {
                const size_t bx = size_t(tx) * 2 + size_t(blk & 1);
                const size_t by = size_t(ty) * 2 + size_t(blk >> 1);
                uint8_t* dst = texture + (by * blocksPerRow + bx) * kUnit;
                lumaBlock<K>(dst, samples.luma[blk]);
                if constexpr (kAlpha)
                    alphaPlaneBlock<K>(dst + 8, samples.alpha[blk]);
            }
            chromaBlock<K>(chroma, samples.co);
            chromaBlock<K>(chroma + 8, samples.cg);
            chroma += 16;
        }
    }
    return 0;
}

// The single-block entry points keep the level every x86-64 processor has.
#if defined(__SSE2__)
using DefaultRamp = detail::Sse2RampKernels;
#else
using DefaultRamp = detail::ScalarRampKernels;
#endif

template <bool kAlpha>
int encodeWith(SimdLevel level, const uint8_t* picture, uint32_t width, uint32_t height, uint8_t* texture,
               uint8_t* chroma)
{
    const SimdLevel runs = runnableSimdLevel(level);
#if defined(__x86_64__)
    // The wide levels take whole units of tiles; a picture narrower than one
    // unit goes to the next level down, at the least to the tile loop below.
    if (width % 8 == 0 && height % 8 == 0) {
        if (runs >= SimdLevel::Avx2 && detail::kAvx2YcocgUnits(picture, width, height, kAlpha, texture, chroma))
            return 0;
        if (runs >= SimdLevel::Sse41 && detail::kSse41YcocgUnits(picture, width, height, kAlpha, texture, chroma))
            return 0;
    }
#endif
#if defined(__SSE2__)
    if (runs >= SimdLevel::Sse2)
        return encodeYcocgPicture<kAlpha, detail::Sse2RampKernels>(picture, width, height, texture, chroma);
#endif
    (void)runs;
    return encodeYcocgPicture<kAlpha, detail::ScalarRampKernels>(picture, width, height, texture, chroma);
}

}  // namespace

namespace detail {

void ScalarRampKernels::gatherTile(const uint8_t* tile, size_t stride, bool withAlpha, TileSamples& s)
{
    int sumR[16] = {}, sumG[16] = {}, sumB[16] = {};
#pragma GCC unroll 8
    for (int row = 0; row < 8; ++row) {
        const uint8_t* p = tile + size_t(row) * stride;
        const int blockRow = (row >> 2) * 2, inRow = (row & 3) * 4, group = (row >> 1) * 4;
#pragma GCC unroll 8
        for (int col = 0; col < 8; ++col, p += 4) {
            const int r = p[0], g = p[1], b = p[2];
            const int blk = blockRow + (col >> 2), k = inRow + (col & 3);
            s.luma[blk][k] = uint16_t((r + 2 * g + b) * 4);
            const int grp = group + (col >> 1);
            sumR[grp] += r;
            sumG[grp] += g;
            sumB[grp] += b;
        }
    }
    // Means of R - B and of G - (R + B)/2 over each group, offset by 255 to
    // be non-negative; the divisions truncate toward zero.
    for (int grp = 0; grp < 16; ++grp) {
        s.co[grp] = uint16_t((sumR[grp] - sumB[grp]) / 4 + 255);
        s.cg[grp] = uint16_t((2 * sumG[grp] - sumR[grp] - sumB[grp]) / 8 + 255);
    }
    if (withAlpha)
        gatherAlpha(tile, stride, s);
}

void ScalarRampKernels::gatherAlpha(const uint8_t* tile, size_t stride, TileSamples& s)
{
    for (int row = 0; row < 8; ++row)
        for (int col = 0; col < 8; ++col)
            s.alpha[(row >> 2) * 2 + (col >> 2)][(row & 3) * 4 + (col & 3)] = tile[size_t(row) * stride + 4 * col + 3];
}

void ScalarRampKernels::minMax(const uint16_t* values, int& mn, int& mx)
{
    mn = mx = values[0];
#pragma GCC unroll 16
    for (int k = 1; k < 16; ++k) {
        const int v = values[k];
        mn = v < mn ? v : mn;
        mx = v > mx ? v : mx;
    }
}

}  // namespace detail

void encodeLumaBlock(uint8_t* destination, const uint16_t values[16]) { lumaBlock<DefaultRamp>(destination, values); }

void encodeChromaBlock(uint8_t* destination, const uint16_t values[16])
{
    chromaBlock<DefaultRamp>(destination, values);
}

void encodeAlphaPlaneBlock(uint8_t* destination, const uint16_t values[16])
{
    alphaPlaneBlock<DefaultRamp>(destination, values);
}

namespace {

// The chroma plane follows the luma (and alpha) blocks of the whole picture.
uint8_t* chromaPlane(bool alpha, uint32_t width, uint32_t height, uint8_t* texture)
{
    return texture + (alpha ? size_t(width) * height : size_t(width) * height / 2);
}

}  // namespace

int encodeYcg6(const uint8_t* picture, uint32_t width, uint32_t height, uint8_t* texture)
{
    return encodeWith<false>(activeSimdLevel(), picture, width, height, texture,
                             chromaPlane(false, width, height, texture));
}

int encodeYg10(const uint8_t* picture, uint32_t width, uint32_t height, uint8_t* texture)
{
    return encodeWith<true>(activeSimdLevel(), picture, width, height, texture,
                            chromaPlane(true, width, height, texture));
}

int encodeYcg6With(SimdLevel level, const uint8_t* picture, uint32_t width, uint32_t height, uint8_t* texture)
{
    return encodeWith<false>(level, picture, width, height, texture, chromaPlane(false, width, height, texture));
}

int encodeYg10With(SimdLevel level, const uint8_t* picture, uint32_t width, uint32_t height, uint8_t* texture)
{
    return encodeWith<true>(level, picture, width, height, texture, chromaPlane(true, width, height, texture));
}

namespace {

// The last unit of a band to which the fast encoder gave each 8 bytes, by
// a hash of them (a clash forgets the older unit): where the fast encoder
// repeated a unit from anywhere before, the packer copied it from there.
class FastUnits {
public:
    const uint8_t* find(const uint8_t* fast) const
    {
        const Entry& e = entries_[slot(loadLe64(fast))];
        return e.unit && e.fast == loadLe64(fast) ? e.unit : nullptr;
    }
    void add(const uint8_t* fast, const uint8_t* unit) { entries_[slot(loadLe64(fast))] = {loadLe64(fast), unit}; }

private:
    struct Entry {
        uint64_t fast = 0;
        const uint8_t* unit = nullptr;
    };
    static size_t slot(uint64_t v) { return size_t((v * 0x9E3779B97F4A7C15ull) >> 54); }
    std::vector<Entry> entries_ = std::vector<Entry>(1024);
};

// The bytes of the N units a tile's may repeat, as they stand before its
// search (null ones as zeros, marked): with the tile's own, all its search
// depends on.
template <int N>
struct Around {
    uint8_t bytes[N][8];
    uint32_t null;

    void take(const uint8_t* const units[N])
    {
        null = 0;
        for (int k = 0; k < N; ++k) {
            if (units[k])
                std::memcpy(bytes[k], units[k], 8);
            else
                std::memset(bytes[k], 0, 8);
            null |= uint32_t(!units[k]) << k;
        }
    }
    bool operator==(const Around& other) const
    {
        return null == other.null && std::memcmp(bytes, other.bytes, sizeof bytes) == 0;
    }
};

}  // namespace

// Records at tile places: a tile's record is kept the second time running
// its signature is found at its place, and serves it from the third.
template <class R>
struct Shelf {
    explicit Shelf(size_t count) : signature(new uint64_t[count]()), kept(new bool[count]()), records(new R[count]) {}

    // The record at `at` for a tile of this signature: `known` where it holds
    // the tile (holds), else made the tile's (keep) where the tile's
    // signature was found here last time; null where it was not.
    template <class Holds, class Keep>
    R* find(size_t at, uint64_t tileSignature, Holds&& holds, Keep&& keep, bool& known)
    {
        known = false;
        if (signature[at] != tileSignature) {
            signature[at] = tileSignature;
            kept[at] = false;
            return nullptr;
        }
        R* record = &records[at];
        known = kept[at] && holds(*record);
        if (!known) {
            keep(*record);
            kept[at] = true;
        }
        return record;
    }
    // The record's first lines into the cache, where it is kept.
    void prefetch(size_t at) const
    {
        if (!kept[at])
            return;
        const char* record = reinterpret_cast<const char*>(&records[at]);
        for (size_t line = 0; line < std::min<size_t>(sizeof(R), 384); line += 64)
            __builtin_prefetch(record + line);
    }

    std::unique_ptr<uint64_t[]> signature;
    std::unique_ptr<bool[]> kept;
    // Untouched until kept (a large memory costs only its signatures then).
    std::unique_ptr<R[]> records;
};

// What a tile's N candidates held when its search settled, and the U units
// (8 bytes each) it came out with: where the candidates hold the same again,
// the tile comes out the same.
template <int N, int U>
struct Outcome {
    Around<N> around;
    bool settled;
    uint8_t units[U][8];

    // The units as they came out, where `now` is what the candidates held.
    bool repeat(const Around<N>& now, uint8_t* const to[U]) const
    {
        if (!settled || !(now == around))
            return false;
        for (int u = 0; u < U; ++u)
            std::memcpy(to[u], units[u], 8);
        return true;
    }
    void settle(const Around<N>& now, uint8_t* const from[U])
    {
        around = now;
        for (int u = 0; u < U; ++u)
            std::memcpy(units[u], from[u], 8);
        settled = true;
    }
};

struct YcocgTileMemory::Tiles {
    static constexpr uint64_t kColour = 0x00FFFFFF00FFFFFFull;
    // A tile's record: its pixels (alpha bytes cleared: its luma and chroma
    // depend on its colour alone) and fast units, and what each step of its
    // search gave. The fast units' check, the chroma samples and the chroma
    // units' searches depend on those alone; the luma's aim and its units'
    // searches on the chroma units kept as well (chromaKept), which the
    // neighbours' repeats may change; the check of the units searched on those
    // units (units, when checked). Plain data: a record is written before it
    // is read.
    struct Record {
        uint64_t pixels[32];
        uint8_t fast[48];
        bool checked;
        detail::TileQuality fastQuality, bestQuality;
        uint16_t co[16], cg[16];
        detail::ChannelSearch chroma[2], luma[4];
        uint8_t chromaKept[16];
        uint16_t aim[4][16];
        uint8_t units[48];
        // The units the tile's own may repeat as they stood before its
        // search, and its luma, Co and Cg units as they came out.
        Outcome<18, 6> outcome;

        bool holds(const uint8_t* tile, size_t stride, const uint8_t* fastUnits) const
        {
            for (int row = 0; row < 8; ++row)
                for (int i = 0; i < 4; ++i)
                    if ((loadLe64(tile + size_t(row) * stride + 8 * i) & kColour) != pixels[4 * row + i])
                        return false;
            return std::memcmp(fast, fastUnits, 48) == 0;
        }
        void keep(const uint8_t* tile, size_t stride, const uint8_t* fastUnits)
        {
            for (int row = 0; row < 8; ++row)
                for (int i = 0; i < 4; ++i)
                    pixels[4 * row + i] = loadLe64(tile + size_t(row) * stride + 8 * i) & kColour;
            std::memcpy(fast, fastUnits, 48);
        }
    };

    // A tile's alpha units apart from its colour (a still matte over
    // moving pictures): the alpha samples and fast units, and what each
    // unit's search gave.
    struct AlphaRecord {
        uint16_t alpha[4][16];
        uint8_t fast[32];
        detail::ChannelSearch unit[4];
        // As the colour record's, for the alpha units.
        Outcome<12, 4> outcome;

        bool holds(const detail::TileSamples& s, const uint8_t* fastUnits) const
        {
            return std::memcmp(alpha, s.alpha, sizeof alpha) == 0 && std::memcmp(fast, fastUnits, 32) == 0;
        }
        void keep(const detail::TileSamples& s, const uint8_t* fastUnits)
        {
            std::memcpy(alpha, s.alpha, sizeof alpha);
            std::memcpy(fast, fastUnits, 32);
            outcome.settled = false;
        }
    };
    static uint64_t alphaSignatureOf(const detail::TileSamples& s, const uint8_t* fastUnits)
    {
        uint64_t h = (uint64_t(s.alpha[0][0]) << 48 | uint64_t(s.alpha[1][5]) << 32 | uint64_t(s.alpha[2][10]) << 16 |
                      s.alpha[3][15]) *
                     0x9E3779B97F4A7C15ull;
        for (int i = 0; i < 4; ++i)
            h = (h ^ loadLe64(fastUnits + 8 * i)) * 0xC2B2AE3D27D4EB4Full;
        return h ^ (h >> 32);
    }

    // Which tiles may hold what they held in the last picture: a tile's
    // fast units and the first and last of its pixels' words (the fast
    // units follow from the pixels, so a tile that changes nearly always
    // changes them).
    static uint64_t signatureOf(const uint8_t* tile, size_t stride, const uint8_t* fastUnits)
    {
        uint64_t h = (loadLe64(tile) & kColour) * 0x9E3779B97F4A7C15ull +
                     (loadLe64(tile + 7 * stride + 24) & kColour) * 0xC2B2AE3D27D4EB4Full;
        static constexpr uint64_t kMultipliers[6] = {0x165667B19E3779F9ull, 0xD6E8FEB86659FD93ull,
                                                     0xFF51AFD7ED558CCDull, 0xC4CEB9FE1A85EC53ull,
                                                     0xA0761D6478BD642Full, 0xE7037ED1A0B428DBull};
        for (int i = 0; i < 6; ++i)
            h += loadLe64(fastUnits + 8 * i) * kMultipliers[i];
        return h ^ (h >> 32);
    }

    Tiles(size_t count, bool withAlpha) : colour(count), alpha(withAlpha ? count : 0) {}

    Shelf<Record> colour;
    Shelf<AlphaRecord> alpha;
    uint64_t taken = 0;
};

YcocgTileMemory::YcocgTileMemory(uint32_t width, uint32_t height, bool alpha)
    : width_(width),
      height_(height),
      alpha_(alpha),
      tiles_(std::make_unique<Tiles>(size_t(width / 8) * (height / 8), alpha))
{
}

uint64_t YcocgTileMemory::bytesAtMost(uint32_t width, uint32_t height, bool alpha)
{
    const uint64_t perTile = sizeof(Tiles::Record) + (alpha ? sizeof(Tiles::AlphaRecord) : 0) + 2 * 9;
    return uint64_t(width / 8) * (height / 8) * perTile;
}

YcocgTileMemory::~YcocgTileMemory() = default;

uint64_t YcocgTileMemory::tilesTaken() const { return tiles_->taken; }

namespace {

// The best tier over a band the encoders wrote: every unit searched again
// against the same samples (K's gather, which gives every level's
// encoders' samples), and each tile checked as readers rebuild it.
template <bool kAlpha, class K>
void refineBand(const detail::BestSearch& search, const uint8_t* picture, uint32_t width, uint32_t rows,
                uint8_t* texture, uint8_t* chroma, YcocgTileMemory::Tiles* tiles, uint32_t firstTileRow)
{
    const size_t stride = size_t(width) * 4;
    constexpr size_t kUnit = kAlpha ? 16 : 8;
    const size_t blocksPerRow = width / 4;
    FastUnits lumaUnits, alphaUnits, coUnits, cgUnits;
    const auto memo = std::make_unique<detail::UnitMemo>();
    // A tile's fast units (luma, Co and Cg in 48 bytes, then alpha in 32),
    // and its left neighbour's: the two trade places from tile to tile.
    uint8_t fastUnits[2][80];
    uint8_t *before = fastUnits[0], *leftBefore = fastUnits[1];
    for (uint32_t ty = 0; ty < rows / 8; ++ty) {
        for (uint32_t tx = 0; tx < width / 8; ++tx, chroma += 16, std::swap(before, leftBefore)) {
            const uint8_t* tile = picture + size_t(ty) * 8 * stride + size_t(tx) * 32;
            uint8_t* luma[4];
            for (int blk = 0; blk < 4; ++blk) {
                const size_t bx = size_t(tx) * 2 + size_t(blk & 1), by = size_t(ty) * 2 + size_t(blk >> 1);
                luma[blk] = texture + (by * blocksPerRow + bx) * kUnit;
                std::memcpy(before + 8 * blk, luma[blk], 8);
                if constexpr (kAlpha)
                    std::memcpy(before + 48 + 8 * blk, luma[blk] + 8, 8);
            }
            std::memcpy(before + 32, chroma, 16);
            // The next tile's record, where it keeps one, on its way in
            // while this tile is searched.
            const size_t at = size_t(firstTileRow + ty) * (width / 8) + tx;
            if (tiles && tx + 1 < width / 8)
                tiles->colour.prefetch(at + 1);
            // A tile whose pixels and fast units are its left neighbour's
            // (flat areas, repeated shapes) takes that tile's units as they
            // came out: its own search would give the same but for the
            // repeats it may take, and the packer finds the units repeated.
            // Its luma and chroma units so where only the alpha differs (a
            // matte over flat colour), and its alpha units where only that
            // is alike. Such a tile lists none of its units as earlier ones
            // for later tiles (nor looks any up for the units it takes): the
            // left tile listed units of the same fast bytes, which came out
            // as this tile's do, so the bytes are the same. (Where all of it
            // is alike: half the tiles of a motion-graphics frame under a
            // matte, nine in ten without alpha.)
            const bool colourFastLikeLeft = tx > 0 && std::memcmp(before, leftBefore, 48) == 0;
            const bool alphaFastLikeLeft = kAlpha && tx > 0 && std::memcmp(before + 48, leftBefore + 48, 32) == 0;
            const uint64_t differ =
                colourFastLikeLeft || alphaFastLikeLeft ? K::differenceFromLeft(tile, stride) : detail::kAllBytes;
            const bool colourLikeLeft = colourFastLikeLeft && (differ & detail::kColourBytes) == 0;
            const bool alphaLikeLeft = alphaFastLikeLeft && (differ & detail::kAlphaBytes) == 0;
            if (colourLikeLeft && (alphaLikeLeft || !kAlpha)) {
                for (int blk = 0; blk < 4; ++blk)
                    std::memcpy(luma[blk], luma[blk] - 2 * kUnit, kUnit);
                std::memcpy(chroma, chroma - 16, 16);
                continue;
            }
            // Each unit's left and upper neighbours in its plane (within the
            // band), whose bytes it may take to keep the packer's repeats.
            // (The earlier units are looked up only for the units searched,
            // before this tile's own go in.)
            // The tile's alpha units searched, each with its left and upper
            // neighbours and earlier units as candidates; from the memory's
            // record of them where the tile's alpha and fast alpha units are
            // the record's (kept, as the colour's, when found so twice).
            [[maybe_unused]] const auto searchAlphas = [&](const detail::TileSamples& samples) {
                using AlphaRecord = YcocgTileMemory::Tiles::AlphaRecord;
                AlphaRecord scratchAlpha;
                AlphaRecord* record = &scratchAlpha;
                bool known = false;
                if (tiles) {
                    const uint64_t signature = YcocgTileMemory::Tiles::alphaSignatureOf(samples, before + 48);
                    if (AlphaRecord* kept = tiles->alpha.find(
                            at, signature, [&](const AlphaRecord& r) { return r.holds(samples, before + 48); },
                            [&](AlphaRecord& r) { r.keep(samples, before + 48); }, known))
                        record = kept;
                }
                // Each block's candidates (an earlier unit may be one of the
                // tile's own, searched before it).
                const uint8_t* candidates[4][3];
                for (int blk = 0; blk < 4; ++blk) {
                    uint8_t* alpha = luma[blk] + 8;
                    candidates[blk][0] = (tx > 0 || (blk & 1)) ? alpha - kUnit : nullptr;
                    candidates[blk][1] = (ty > 0 || (blk >> 1)) ? alpha - blocksPerRow * kUnit : nullptr;
                    candidates[blk][2] = alphaUnits.find(alpha);
                    alphaUnits.add(alpha, alpha);
                }
                uint8_t* const units[4] = {luma[0] + 8, luma[1] + 8, luma[2] + 8, luma[3] + 8};
                Around<12> around;
                if (record != &scratchAlpha) {
                    around.take(&candidates[0][0]);
                    if (known && record->outcome.repeat(around, units))
                        return;
                }
                for (int blk = 0; blk < 4; ++blk) {
                    uint8_t* alpha = luma[blk] + 8;
                    const detail::RepeatCandidates c{candidates[blk][0], candidates[blk][1], candidates[blk][2]};
                    if (known)
                        search.keepChannelRepeats(alpha, samples.alpha[blk], 1, record->unit[blk], c);
                    else
                        search.channelBlock(alpha, samples.alpha[blk], 1, c, *memo, &record->unit[blk]);
                }
                if (record != &scratchAlpha)
                    record->outcome.settle(around, units);
            };
            if constexpr (kAlpha) {
                if (colourLikeLeft) {
                    // Only the alpha searched: a matte moving over flat colour.
                    detail::TileSamples samples;
                    K::gatherAlpha(tile, stride, samples);
                    searchAlphas(samples);
                    for (int blk = 0; blk < 4; ++blk)
                        std::memcpy(luma[blk], luma[blk] - 2 * kUnit, 8);
                    std::memcpy(chroma, chroma - 16, 16);
                    continue;
                }
            }
            // The tile's record in the memory, where the memory's last
            // picture had the same tile here: each step of the search whose
            // inputs are the record's is taken from it (the repeats of its
            // own neighbours are weighed again), and a tile found alike a
            // second time is kept. Without one, the steps go to a record of
            // this tile alone.
            YcocgTileMemory::Tiles::Record scratch;
            YcocgTileMemory::Tiles::Record* record = &scratch;
            bool known = false;
            if (tiles) {
                const uint64_t signature = YcocgTileMemory::Tiles::signatureOf(tile, stride, before);
                if (YcocgTileMemory::Tiles::Record* kept = tiles->colour.find(
                        at, signature, [&](const auto& r) { return r.holds(tile, stride, before); },
                        [&](auto& r) { r.keep(tile, stride, before); }, known))
                    record = kept;
                tiles->taken += known;
            }
            detail::TileSamples samples;
            if (!known)
                K::gatherTile(tile, stride, kAlpha, samples);
            else if (kAlpha && !alphaLikeLeft)
                K::gatherAlpha(tile, stride, samples);
            detail::RepeatCandidates repeats[4];
            for (int blk = 0; blk < 4; ++blk) {
                const uint8_t* left = (tx > 0 || (blk & 1)) ? luma[blk] - kUnit : nullptr;
                const uint8_t* above = (ty > 0 || (blk >> 1)) ? luma[blk] - blocksPerRow * kUnit : nullptr;
                repeats[blk] = {left, above, lumaUnits.find(before + 8 * blk)};
            }
            if constexpr (kAlpha) {
                if (alphaLikeLeft) {
                    for (int blk = 0; blk < 4; ++blk) {
                        uint8_t* alpha = luma[blk] + 8;
                        alphaUnits.add(alpha, alpha);
                        std::memcpy(alpha, alpha - 2 * kUnit, 8);
                    }
                } else {
                    searchAlphas(samples);
                }
            }
            const uint8_t* chromaLeft = tx > 0 ? chroma - 16 : nullptr;
            const uint8_t* chromaAbove = ty > 0 ? chroma - size_t(width / 8) * 16 : nullptr;
            const detail::RepeatCandidates co{chromaLeft, chromaAbove, coUnits.find(chroma)},
                cg{chromaLeft ? chromaLeft + 8 : nullptr, chromaAbove ? chromaAbove + 8 : nullptr,
                   cgUnits.find(chroma + 8)};
            for (int blk = 0; blk < 4; ++blk)
                lumaUnits.add(before + 8 * blk, luma[blk]);
            coUnits.add(before + 32, chroma);
            cgUnits.add(before + 40, chroma + 8);
            // Each unit comes closer to its own samples, but the RGB a reader
            // rebuilds mixes luma and chroma: the tile keeps its fast units
            // where their RGB comes out closer, or where the tile's SSIM comes
            // out lower (the luma units' searches can draw a sharp edge's
            // ramp in from its extremes: on motion graphics at 1080p that
            // gained 0.3 dB but lost 0.011 of SSIM; with this check SSIM
            // gains 0.003 and PSNR keeps all but 0.01 dB).
            if (!known) {
                record->checked = false;
                record->outcome.settled = false;
                record->fastQuality = search.tileQuality(tile, stride, luma, chroma);
                std::memcpy(record->co, samples.co, sizeof record->co);
                std::memcpy(record->cg, samples.cg, sizeof record->cg);
            }
            const detail::TileQuality fast = record->fastQuality;
            if (fast.error == 0)
                continue;
            // Where every unit the tile's may repeat holds the bytes it held
            // when the record settled, the tile comes out as it did then.
            uint8_t* const tileUnits[6] = {luma[0], luma[1], luma[2], luma[3], chroma, chroma + 8};
            Around<18> around;
            if (record != &scratch) {
                const uint8_t* units[18];
                const detail::RepeatCandidates* sets[6] = {&co,         &cg,         &repeats[0],
                                                           &repeats[1], &repeats[2], &repeats[3]};
                for (int k = 0; k < 6; ++k) {
                    units[3 * k] = sets[k]->left;
                    units[3 * k + 1] = sets[k]->above;
                    units[3 * k + 2] = sets[k]->earlier;
                }
                around.take(units);
                if (known && record->outcome.repeat(around, tileUnits))
                    continue;
            }
            const auto settle = [&] {
                if (record != &scratch)
                    record->outcome.settle(around, tileUnits);
            };
            if (known) {
                search.keepChannelRepeats(chroma, record->co, 2, record->chroma[0], co);
                search.keepChannelRepeats(chroma + 8, record->cg, 2, record->chroma[1], cg);
            } else {
                search.channelBlock(chroma, record->co, 2, co, *memo, &record->chroma[0]);
                search.channelBlock(chroma + 8, record->cg, 2, cg, *memo, &record->chroma[1]);
            }
            if (known && std::memcmp(chroma, record->chromaKept, 16) == 0) {
                for (int blk = 0; blk < 4; ++blk)
                    search.keepChannelRepeats(luma[blk], record->aim[blk], 16, record->luma[blk], repeats[blk]);
            } else {
                search.lumaTargets(tile, stride, chroma, record->aim);
                for (int blk = 0; blk < 4; ++blk)
                    search.channelBlock(luma[blk], record->aim[blk], 16, repeats[blk], *memo, &record->luma[blk]);
                std::memcpy(record->chromaKept, chroma, 16);
            }
            uint8_t units[48];
            for (int blk = 0; blk < 4; ++blk)
                std::memcpy(units + 8 * blk, luma[blk], 8);
            std::memcpy(units + 32, chroma, 16);
            if (std::memcmp(units, before, 48) == 0) {
                settle();
                continue;
            }
            if (!record->checked || std::memcmp(units, record->units, 48) != 0) {
                record->bestQuality = search.tileQuality(tile, stride, luma, chroma);
                std::memcpy(record->units, units, 48);
                record->checked = true;
            }
            const detail::TileQuality best = record->bestQuality;
            if (best.error > fast.error || best.ssim < fast.ssim) {
                for (int blk = 0; blk < 4; ++blk)
                    std::memcpy(luma[blk], before + 8 * blk, 8);
                std::memcpy(chroma, before + 32, 16);
            }
            settle();
        }
    }
}

}  // namespace

void refineYcocgBandWith(SimdLevel level, bool alpha, const uint8_t* picture, uint32_t width, uint32_t rows,
                         uint8_t* luma, uint8_t* chroma, YcocgTileMemory* memory, uint32_t firstTileRow)
{
    if (width % 8 != 0 || rows % 8 != 0)
        return;
    YcocgTileMemory::Tiles* tiles = memory && memory->width() == width && memory->alpha() == alpha &&
                                            uint64_t(firstTileRow) + rows / 8 <= memory->height() / 8
                                        ? &memory->tiles()
                                        : nullptr;
    const detail::BestSearch& search = detail::bestSearchFor(level);
    const auto run = [&]<class K>() {
        alpha ? refineBand<true, K>(search, picture, width, rows, luma, chroma, tiles, firstTileRow)
              : refineBand<false, K>(search, picture, width, rows, luma, chroma, tiles, firstTileRow);
    };
#if defined(__SSE2__)
    if (runnableSimdLevel(level) >= SimdLevel::Sse2) {
        run.template operator()<detail::Sse2RampKernels>();
        return;
    }
#endif
    run.template operator()<detail::ScalarRampKernels>();
}

void refineYcocgBand(bool alpha, const uint8_t* picture, uint32_t width, uint32_t rows, uint8_t* luma, uint8_t* chroma,
                     YcocgTileMemory* memory, uint32_t firstTileRow)
{
    refineYcocgBandWith(activeSimdLevel(), alpha, picture, width, rows, luma, chroma, memory, firstTileRow);
}

int encodeYcocgBand(bool alpha, const uint8_t* picture, uint32_t width, uint32_t rows, uint8_t* luma, uint8_t* chroma)
{
    return alpha ? encodeWith<true>(activeSimdLevel(), picture, width, rows, luma, chroma)
                 : encodeWith<false>(activeSimdLevel(), picture, width, rows, luma, chroma);
}

}  // namespace nox
