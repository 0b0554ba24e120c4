// The Zemo 3 frame: header, texture sizes, the frame compressor and the codec
// description.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "codec/stream.h"
#include "core/memory.h"

namespace nox {

// Format types. The exporter produces 0 to 3.
enum Zemo3FormatType : uint32_t {
    ZEMO3_NORMAL = 0,        // DXT1
    ZEMO3_NORMAL_ALPHA = 1,  // DXT5
    ZEMO3_HIGH = 2,          // YCG6
    ZEMO3_HIGH_ALPHA = 3,    // YG10
    ZEMO3_LEGACY_DXT1 = 4,   // DXT1 of format version 3 or less (readers only)
    ZEMO3_LEGACY_DXT5 = 5,   // DXT5 of format version 3 or less (readers only)
    ZEMO3_UV_MAP = 6,        // UVA0
    ZEMO3_MASK = 7,          // MSK0
};

// Texture tags as little-endian 32-bit values (bytes in the file: "1TXD" for DXT1).
constexpr uint32_t kTagDXT1 = 0x44585431;
constexpr uint32_t kTagDXT5 = 0x44585435;
constexpr uint32_t kTagYCG6 = 0x59434736;
constexpr uint32_t kTagYG10 = 0x59473130;
constexpr uint32_t kTagUVA0 = 0x55564130;
constexpr uint32_t kTagMSK0 = 0x4D534B30;

constexpr uint32_t kFrameHeaderSize = 12;
constexpr uint16_t kFrameVersion = 4;

// Rounds up to the next multiple of 16.
constexpr uint32_t padTo16(uint32_t v) { return (v + 15u) & ~15u; }

// A frame's length is a signed 32-bit number for the compressor and in
// FFmpeg's packets: no frame, header included, is longer.
constexpr uint32_t kMaxFrameBytes = 0x7FFFFFFF;
// The largest picture side a movie may have: the largest texture side of the
// GPUs that play Zemo 3 movies. Every reader and writer of movies takes it
// from here.
constexpr uint32_t kMaxPictureSide = 16384;

// Texture bytes of a picture of the given size in the given format type
// (types 0-5 pad both sides to 16 first). 0 for types above 7 and for sizes
// whose frames would pass kMaxFrameBytes.
uint32_t textureSize(uint32_t type, uint32_t width, uint32_t height);
// Whether the compressor takes pictures of this size in this type: some
// pixels, and frames and working pictures within kMaxFrameBytes.
bool frameSizeFits(uint32_t type, uint32_t width, uint32_t height);

// The 12-byte header at the start of every frame.
struct FrameHeader {
    uint32_t tag = 0;
    uint8_t version = 0;
    uint8_t byte5 = 0;
    uint8_t payloadKind = 0;  // 0 packed, 1 raw texture
    uint8_t byte7 = 0;
    uint32_t payloadSize = 0;
};
// Reads the 12-byte header from its little-endian bytes.
FrameHeader readFrameHeader(const uint8_t* frame);
// Format type of a frame with this tag and version (unknown tags give 4).
uint32_t formatTypeOf(uint32_t tag, uint8_t version);
// The tag written for a format type.
uint32_t tagForFormatType(uint32_t type);
// "Normal Quality, No Alpha", ... ; the name the codec shows for a type.
const char* formatTypeName(uint32_t type);

// The state of one frame compressor: format type, picture size, padded size,
// texture size and the byte packer of the type.
class FrameEncoder {
public:
    FrameEncoder(uint32_t type, uint32_t width, uint32_t height);

    uint32_t type() const { return type_; }
    uint32_t width() const { return width_; }
    uint32_t height() const { return height_; }
    uint32_t paddedWidth() const { return paddedWidth_; }
    uint32_t paddedHeight() const { return paddedHeight_; }
    uint32_t textureBytes() const { return textureSize_; }
    bool keepsAlpha() const { return keepAlpha_; }

    // Compresses one width x height RGBA picture (rows rowStride bytes apart)
    // into destination, which holds at least textureBytes() + 12 bytes; every
    // byte up to the returned frame length is written, whatever destination
    // held. Returns the frame length, or 0 on failure (types 4, 5, 6, 7 and
    // unknown types). Safe to call concurrently.
    uint32_t compress(uint8_t* destination, const uint8_t* pixels, int32_t rowStride,
                      MemoryManager::PreallocatedMemory& pool) const;

private:
    // Rows firstRow.. of the picture into the padded scratch picture (rows
    // scratchStride_ apart), down to the last padding row.
    void copyIntoScratch(uint8_t* scratch, const uint8_t* pixels, int32_t rowStride, uint32_t firstRow) const;
    // How many top rows the encoders can read from the caller's picture itself.
    uint32_t directRows(int32_t rowStride) const;
    // Encodes `rows` rows (whole bands of blocks) that start at firstRow of
    // the padded picture into their places in the texture.
    bool encodeRows(const uint8_t* picture, uint32_t firstRow, uint32_t rows, uint8_t* texture) const;

    uint16_t version_ = kFrameVersion;
    uint32_t type_;
    uint32_t width_, height_;
    uint32_t paddedWidth_, paddedHeight_;
    uint32_t scratchStride_;
    uint32_t textureSize_;
    bool keepAlpha_;
    uint32_t (*pack_)(const uint8_t* texture, uint8_t* output, uint32_t length, uint32_t capacity) = nullptr;
    uint32_t (*bound_)(uint32_t length) = nullptr;
    std::string text_;
};

// The Zemo 3 frame compressor made by VideoCodecInfoZemo3.
class Zemo3Compressor : public Compressor {
public:
    Zemo3Compressor(const VideoStreamDescription& stream, uint32_t type, bool dxtOnly);

    // textureSize(type, width, height) + 12.
    uint32_t outputBound() const override;
    bool isCustomCodec() const override { return true; }
    // destinationCapacity and frameValue are not consulted; the destination
    // must hold outputBound() bytes and be zero-filled.
    int32_t compress(uint8_t* destination, const uint8_t* pixels, uint32_t destinationCapacity, int32_t frameValue,
                     int32_t rowStride) override;

    const FrameEncoder& encoder() const { return encoder_; }
    bool dxtOnly() const { return dxtOnly_; }

private:
    FrameEncoder encoder_;
    bool dxtOnly_;
};

// The codec description of Zemo 3: "Four CC" (ZMQI, ZMQ3; ZMQ3 selected),
// "Format Type" (0, 1, 2, 3, 6, 7 with their names) and "DXT Only".
class VideoCodecInfoZemo3 : public VideoCodecInfo {
public:
    VideoCodecInfoZemo3();

    std::unique_ptr<VideoCodecInfo> clone() const override;
    int codecType() const override { return 1; }
    void describeStream(VideoStreamDescription& stream) const override;
    // "Zemo ZMQ3"; "Zemo" when "Four CC" holds no listed choice.
    std::string displayName() const override;
    std::unique_ptr<Compressor> createCompressor(VideoStreamDescription& stream) const override;

    ChoiceParam<uint32_t>& formatTypeParam() const { return *formatType_; }
    BoolParam& dxtOnlyParam() const { return *dxtOnly_; }
    void setFormatType(uint32_t type) { formatType_->setValue(type); }
    uint32_t formatType() const { return formatType_->value(); }

private:
    std::shared_ptr<ChoiceParam<uint32_t>> formatType_;
    std::shared_ptr<BoolParam> dxtOnly_;
};

}  // namespace nox
