#include "codec/zemo3.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "codec/dxt.h"
#include "codec/packers.h"
#include "codec/ycocg.h"
#include "core/bytes.h"
#include "core/context.h"

namespace nox {

namespace {

// The frame encoder calls every packer as (texture, output, length, capacity).
uint32_t packDxt1Texture(const uint8_t* texture, uint8_t* output, uint32_t length, uint32_t capacity)
{
    return packDxt1(texture, length, output, capacity);
}

uint32_t packDxt5Texture(const uint8_t* texture, uint8_t* output, uint32_t length, uint32_t capacity)
{
    return packDxt5(texture, length, output, capacity);
}

uint32_t packYcg6Texture(const uint8_t* texture, uint8_t* output, uint32_t length, uint32_t capacity)
{
    return packYcg6(output, capacity, texture, length);
}

uint32_t packYg10Texture(const uint8_t* texture, uint8_t* output, uint32_t length, uint32_t capacity)
{
    return packYg10(output, capacity, texture, length);
}

// The frames a stream of this format type takes: 16-bit RGBA for the UV map,
// one 16-bit channel for the mask, 8-bit RGBA otherwise. The 8-bit layout is
// only set when asked, since describing a stream leaves it as it was.
void setPixelLayout(VideoStreamDescription& stream, uint32_t type, bool setRgbaLayout)
{
    if (type == ZEMO3_UV_MAP) {
        stream.bytesPerPixel = 8;
        stream.pixelLayout = &kLayoutRGBA16;
    } else if (type == ZEMO3_MASK) {
        stream.bytesPerPixel = 2;
        stream.pixelLayout = &kLayoutGray16;
    } else {
        stream.bytesPerPixel = 4;
        if (setRgbaLayout)
            stream.pixelLayout = &kLayoutRGBA8;
    }
}

}  // namespace

// ------------------------------------------------------------ FrameEncoder

FrameEncoder::FrameEncoder(uint32_t type, uint32_t width, uint32_t height, EncodeQuality quality)
    : type_(type),
      width_(width),
      height_(height),
      paddedWidth_(padTo16(width)),
      paddedHeight_(padTo16(height)),
      scratchStride_(paddedWidth_ * 4),
      textureSize_(textureSize(type, paddedWidth_, paddedHeight_)),
      keepAlpha_(typeHasAlpha(type)),
      quality_(quality)
{
    switch (type) {
    case ZEMO3_NORMAL:
        pack_ = &packDxt1Texture;
        bound_ = &packDxtBound;
        break;
    case ZEMO3_NORMAL_ALPHA:
        pack_ = &packDxt5Texture;
        bound_ = &packDxtBound;
        break;
    case ZEMO3_HIGH:
        pack_ = &packYcg6Texture;
        bound_ = &packYcocgBound;
        break;
    case ZEMO3_HIGH_ALPHA:
        pack_ = &packYg10Texture;
        bound_ = &packYcocgBound;
        break;
    default:
        // Types 4 to 7 have no encoder in this build: legacy DXT frames only
        // exist on the reading side, and the UV-map and mask paths are never
        // chosen for export. compress() refuses them.
        break;
    }
    if (!frameSizeFits(type, width, height)) {
        // No frame of this size fits the format; compress() refuses it.
        pack_ = nullptr;
        bound_ = nullptr;
    }
    if (quality_ == EncodeQuality::Best && typeIsYcocg(type_) && pack_)
        memories_ = std::make_shared<TileMemories>(paddedWidth_, paddedHeight_, keepAlpha_);
}

// The memories of an encoder's best YCoCg compressions: each compression
// takes one nobody else holds and gives it back, so a memory sees every
// other frame or so of a job and one thread at a time. A memory holds up
// to YcocgTileMemory::bytesAtMost (at 1080p about 30 MB, 42 with alpha, once
// every tile is kept): as many are made as fit in kBudget, two at the least
// and four at the most, and compressions beyond them go without.
class FrameEncoder::TileMemories {
public:
    static constexpr uint64_t kBudget = uint64_t(320) << 20;
    TileMemories(uint32_t width, uint32_t height, bool alpha)
        : width_(width),
          height_(height),
          alpha_(alpha),
          most_(size_t(std::clamp<uint64_t>(kBudget / YcocgTileMemory::bytesAtMost(width, height, alpha), 2, 4)))
    {
    }

    std::unique_ptr<YcocgTileMemory> take()
    {
        {
            std::lock_guard<std::mutex> hold(lock_);
            if (!idle_.empty()) {
                std::unique_ptr<YcocgTileMemory> memory = std::move(idle_.back());
                idle_.pop_back();
                return memory;
            }
            if (made_ == most_)
                return nullptr;
            ++made_;
        }
        try {
            return std::make_unique<YcocgTileMemory>(width_, height_, alpha_);
        } catch (const std::bad_alloc&) {
            std::lock_guard<std::mutex> hold(lock_);
            --made_;
            return nullptr;
        }
    }
    void give(std::unique_ptr<YcocgTileMemory> memory)
    {
        if (!memory)
            return;
        std::lock_guard<std::mutex> hold(lock_);
        idle_.push_back(std::move(memory));
    }

private:
    const uint32_t width_, height_;
    const bool alpha_;
    const size_t most_;
    std::mutex lock_;
    std::vector<std::unique_ptr<YcocgTileMemory>> idle_;
    size_t made_ = 0;
};

void FrameEncoder::copyIntoScratch(uint8_t* scratch, const uint8_t* pixels, int32_t rowStride, uint32_t firstRow) const
{
    const size_t rowBytes = size_t(width_) * 4;
    const size_t padBytes = size_t(scratchStride_) - rowBytes;
    // Without alpha every pixel gets A = 255: the pixel's 32-bit word with
    // its top byte set (RGBA in memory order, little-endian words).
    const uint32_t alphaBits = keepAlpha_ ? 0u : 0xFF000000u;
    for (uint32_t y = firstRow; y < height_; ++y) {
        const uint8_t* src = pixels + ptrdiff_t(y) * rowStride;
        uint8_t* dst = scratch + size_t(y - firstRow) * scratchStride_;
        if (keepAlpha_) {
            std::memcpy(dst, src, rowBytes);
        } else {
            size_t x = 0;
#if defined(__SSE2__)
            const __m128i alpha = _mm_set1_epi32(int32_t(alphaBits));
            for (; x + 16 <= rowBytes; x += 16)
                _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + x),
                                 _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + x)), alpha));
#endif
            for (; x < rowBytes; x += 4)
                storeLe32(dst + x, loadLe32(src + x) | alphaBits);
        }
        // Padding columns are transparent black, also without alpha.
        std::memset(dst + rowBytes, 0, padBytes);
    }
    // So are the padding rows.
    const uint32_t copied = height_ > firstRow ? height_ - firstRow : 0;
    std::memset(scratch + size_t(copied) * scratchStride_, 0,
                size_t(paddedHeight_ - firstRow - copied) * scratchStride_);
}

uint32_t FrameEncoder::directRows(int32_t rowStride) const
{
    // The encoders read rows of exactly width*4 bytes, so the caller's
    // picture serves as it lies only when no column needs padding and its
    // rows are packed. The types without alpha may also take it as it is:
    // their encoders never look at the alpha bytes the scratch copy would
    // set to 255. What stays for the scratch picture is the last partial
    // band of blocks (4 rows; 8 for the YCoCg tiles) and the padding rows.
    if (width_ != paddedWidth_ || int64_t(rowStride) != int64_t(width_) * 4)
        return 0;
    const uint32_t band = typeIsYcocg(type_) ? 8 : 4;
    return height_ - height_ % band;
}

bool FrameEncoder::encodeRows(const uint8_t* picture, uint32_t firstRow, uint32_t rows, uint8_t* texture,
                              YcocgTileMemory* memory) const
{
    if (rows == 0)
        return true;
    const uint32_t pw = paddedWidth_;
    // Block rows are laid out one after another in both layouts, and the
    // YCoCg chroma plane holds the 8x8 tiles in raster order after the
    // luma of the whole picture, so a band starts at a known place in each.
    const TexturePlane first = texturePlane(type_, 0, pw, paddedHeight_);
    const size_t unit = formatFacts(type_).planes[0].blockBytes;
    uint8_t* blocks = texture + size_t(firstRow / 4) * first.widthBlocks * unit;
    switch (type_) {
    case ZEMO3_NORMAL:
        buildTables();
        encodeDxt1Texture(picture, pw, rows, blocks);
        if (quality_ == EncodeQuality::Best)
            refineDxt1Texture(picture, pw, rows, blocks);
        return true;
    case ZEMO3_NORMAL_ALPHA:
        buildTables();
        encodeDxt5Texture(picture, pw, rows, blocks);
        if (quality_ == EncodeQuality::Best)
            refineDxt5Texture(picture, pw, rows, blocks);
        return true;
    case ZEMO3_HIGH:
    case ZEMO3_HIGH_ALPHA: {
        const TexturePlane second = texturePlane(type_, 1, pw, paddedHeight_);
        const size_t tile = formatFacts(type_).planes[1].blockBytes;
        uint8_t* chroma = texture + second.offset + size_t(firstRow / 8) * second.widthBlocks * tile;
        if (encodeYcocgBand(keepAlpha_, picture, pw, rows, blocks, chroma) != 0)
            return false;
        if (quality_ == EncodeQuality::Best)
            refineYcocgBand(keepAlpha_, picture, pw, rows, blocks, chroma, memory, firstRow / 8);
        return true;
    }
    default:
        return false;
    }
}

uint32_t FrameEncoder::compress(uint8_t* destination, const uint8_t* pixels, int32_t rowStride,
                                MemoryManager::PreallocatedMemory& pool) const
{
    if (!pack_ || !bound_)
        return 0;
    const uint32_t pw = paddedWidth_, ph = paddedHeight_;

    // Working buffers come from the pool and hold the previous frame's bytes.
    // Each is written in full before anything reads it: the scratch rows with
    // their padding set to transparent black, the texture by the block
    // encoders (every byte of textureSize_), the output by the packer up to
    // the length it returns. Clearing them first would only add stores that
    // are overwritten at once. The handles drop on every return path.
    MemoryManager::BlockHandle texture = pool.obtain(uint64_t(pw) * ph * 4);
    // A fast path that loads whole vectors may look a little past the last
    // block; keep those bytes defined.
    std::memset(texture->data + textureSize_, 0, size_t(std::min<uint64_t>(texture->size - textureSize_, 64)));
    const uint32_t direct = directRows(rowStride);
    // The memory goes back however the compression ends.
    const auto giveBack = [this](YcocgTileMemory* m) { memories_->give(std::unique_ptr<YcocgTileMemory>(m)); };
    const std::unique_ptr<YcocgTileMemory, decltype(giveBack)> memory(memories_ ? memories_->take().release() : nullptr,
                                                                      giveBack);
    if (!encodeRows(pixels, 0, direct, texture->data, memory.get()))
        return 0;
    if (direct < ph) {
        MemoryManager::BlockHandle scratch = pool.obtain(uint64_t(pw) * (ph - direct) * 4);
        copyIntoScratch(scratch->data, pixels, rowStride, direct);
        if (!encodeRows(scratch->data, direct, ph - direct, texture->data, memory.get()))
            return 0;
    }

    const uint32_t capacity = bound_(textureSize_);
    MemoryManager::BlockHandle output = pool.obtain(capacity);
    const uint32_t outputSize = output->size > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(output->size);

    // Every header byte is written, the reserved one (7) as zero.
    storeLe32(destination, tagForFormatType(type_));
    storeLe16(destination + 4, version_);
    if ((type_ == ZEMO3_LEGACY_DXT1 || type_ == ZEMO3_LEGACY_DXT5) && destination[4] >= 4)
        destination[4] = 3;
    destination[7] = 0;

    // A packer writes at most outputSize >= textureSize_ bytes.
    const uint32_t r = pack_(texture->data, output->data, textureSize_, outputSize);
    if (r == 0 || r > textureSize_) {
        // The packer declined or did not help: store the texture as it is.
        std::memcpy(destination + kFrameHeaderSize, texture->data, textureSize_);
        storeLe32(destination + 8, textureSize_);
        destination[6] = 1;
        return textureSize_ + kFrameHeaderSize;
    }
    std::memcpy(destination + kFrameHeaderSize, output->data, r);
    storeLe32(destination + 8, r);
    destination[6] = 0;
    return r + kFrameHeaderSize;
}

// --------------------------------------------------------- Zemo3Compressor

Zemo3Compressor::Zemo3Compressor(const VideoStreamDescription& stream, uint32_t type, bool dxtOnly)
    : Compressor(stream), encoder_(type, stream.width, stream.height, requestedQuality()), dxtOnly_(dxtOnly)
{
}

uint32_t Zemo3Compressor::outputBound() const
{
    return textureSize(encoder_.type(), encoder_.width(), encoder_.height()) + kFrameHeaderSize;
}

int32_t Zemo3Compressor::compress(uint8_t* destination, const uint8_t* pixels, uint32_t, int32_t, int32_t rowStride)
{
    return int32_t(encoder_.compress(destination, pixels, rowStride, getContext()->memory()));
}

// ----------------------------------------------------- VideoCodecInfoZemo3

VideoCodecInfoZemo3::VideoCodecInfoZemo3()
    : formatType_(std::make_shared<ChoiceParam<uint32_t>>("Format Type", 0)),
      dxtOnly_(std::make_shared<BoolParam>("DXT Only", false))
{
    fourCC_->addChoice(nox::fourCC("ZMQI"), "ZMQI");
    fourCC_->addChoice(nox::fourCC("ZMQ3"), "ZMQ3");
    fourCC_->setValue(nox::fourCC("ZMQ3"));
    for (uint32_t t : {0u, 1u, 2u, 3u, 6u, 7u})
        formatType_->addChoice(t, formatTypeName(t));
    params_->add(formatType_);
    params_->add(dxtOnly_);
}

std::unique_ptr<VideoCodecInfo> VideoCodecInfoZemo3::clone() const
{
    auto copy = std::make_unique<VideoCodecInfoZemo3>();
    copy->params().restore(params_->serialise());
    return copy;
}

void VideoCodecInfoZemo3::describeStream(VideoStreamDescription& stream) const
{
    stream.codecName = "Zemo";
    stream.fourCC = fourCC();
    stream.codecField0 = 2;
    stream.codecFlag0 = 1;
    setPixelLayout(stream, formatType_->value(), false);
}

std::string VideoCodecInfoZemo3::displayName() const
{
    const std::string* name = fourCC_->nameOf(fourCC_->value());
    return name ? "Zemo " + *name : "Zemo";
}

std::unique_ptr<Compressor> VideoCodecInfoZemo3::createCompressor(VideoStreamDescription& stream) const
{
    const uint32_t t = formatType_->value();
    if (!frameSizeFits(t, stream.width, stream.height))
        return nullptr;
    std::unique_ptr<Compressor> compressor;
    try {
        compressor = std::make_unique<Zemo3Compressor>(stream, t, dxtOnly_->value());
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    setPixelLayout(stream, t, true);
    return compressor;
}

}  // namespace nox
