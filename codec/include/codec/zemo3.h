// The Zemo 3 frame: header, texture sizes, the frame compressor and the codec
// description.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "codec/frame_format.h"
#include "codec/stream.h"
#include "core/memory.h"
#include "core/quality.h"

namespace nox {

class YcocgTileMemory;

// The state of one frame compressor: format type, picture size, padded size,
// texture size and the byte packer of the type.
class FrameEncoder {
public:
    FrameEncoder(uint32_t type, uint32_t width, uint32_t height, EncodeQuality quality = EncodeQuality::Fast);

    uint32_t type() const { return type_; }
    uint32_t width() const { return width_; }
    uint32_t height() const { return height_; }
    uint32_t paddedWidth() const { return paddedWidth_; }
    uint32_t paddedHeight() const { return paddedHeight_; }
    uint32_t textureBytes() const { return textureSize_; }
    bool keepsAlpha() const { return keepAlpha_; }
    EncodeQuality quality() const { return quality_; }

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
    bool encodeRows(const uint8_t* picture, uint32_t firstRow, uint32_t rows, uint8_t* texture,
                    YcocgTileMemory* memory) const;

    uint16_t version_ = kFrameVersion;
    uint32_t type_;
    uint32_t width_, height_;
    uint32_t paddedWidth_, paddedHeight_;
    uint32_t scratchStride_;
    uint32_t textureSize_;
    bool keepAlpha_;
    EncodeQuality quality_;
    uint32_t (*pack_)(const uint8_t* texture, uint8_t* output, uint32_t length, uint32_t capacity) = nullptr;
    uint32_t (*bound_)(uint32_t length) = nullptr;
    std::string text_;
    // The best tier's YCoCg tile memories, one lent to each compression at
    // a time (zemo3.cpp); copies of the encoder share them.
    class TileMemories;
    std::shared_ptr<TileMemories> memories_;
};

// The Zemo 3 frame compressor made by VideoCodecInfoZemo3. It encodes at the
// quality requestedQuality() gives when it is made: fast unless our own
// command asked for best.
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
