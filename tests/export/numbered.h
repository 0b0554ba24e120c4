// Shared by the export tests: frames that spell their own numbers (a frame
// that is missing, repeated or out of place shows), the frame the compressor
// makes of a picture, sound that never repeats, and a real writer with hooks.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "codec/zemo3.h"
#include "common/movies.h"
#include "core/context.h"
#include "host_api/host_api.h"
#include "writer/formats.h"

namespace exporttest {

using testutil::Bytes;

// This process's own core: the compressor of the expected frames and the job's worker pool.
inline void useCore()
{
    if (!nox::currentContext()) {
        nox::useVideoFormats();
        nox::bringUp(nox::createContext(132));
    }
}

// 4x4 block k (k < 16) is white when bit k of n is set, black otherwise; the
// rest is grey. Black and white survive the block encoders exactly.
inline void paintNumber(Bytes& argb, uint32_t width, uint32_t height, uint64_t n)
{
    argb.assign(size_t(width) * height * 4, 255);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            const uint32_t block = (y / 4) * (width / 4) + x / 4;
            const uint8_t v = block < 16 ? ((n >> block) & 1 ? 255 : 0) : 128;
            std::fill_n(&argb[(size_t(y) * width + x) * 4 + 1], 3, v);
        }
}

// The host's view of 8-bit ARGB pixels, rows rowBytes apart (tightly packed by default).
inline PF_EffectWorld argbWorld(Bytes& argb, A_long width, A_long height, A_long rowBytes = 0)
{
    PF_EffectWorld world{};
    world.width = width;
    world.height = height;
    world.rowbytes = rowBytes ? rowBytes : width * 4;
    world.data = argb.data();
    return world;
}

// Sample frame i of a stereo 16-bit sound that never repeats within 32768.
inline int16_t sample(uint64_t i, int channel) { return int16_t(uint16_t(i * 2 + uint64_t(channel)) * 7919u); }

// The frame the compressor makes of an ARGB picture, as the module should write it.
inline Bytes compressed(uint32_t type, uint32_t width, uint32_t height, const Bytes& argb, uint32_t rowBytes)
{
    nox::VideoCodecInfoZemo3 codec;
    codec.setFormatType(type);
    nox::VideoStreamDescription stream(width, height, 30, 1, &codec);
    auto compressor = codec.createCompressor(stream);
    Bytes rgba(argb.size());
    for (size_t i = 0; i < argb.size(); i += 4)
        rgba[i] = argb[i + 1], rgba[i + 1] = argb[i + 2], rgba[i + 2] = argb[i + 3], rgba[i + 3] = argb[i];
    Bytes frame(compressor->outputBound(), 0);
    frame.resize(size_t(
        std::max(compressor->compress(frame.data(), rgba.data(), uint32_t(frame.size()), 0, int32_t(rowBytes)), 0)));
    return frame;
}

inline Bytes expectedFrame(uint32_t type, uint32_t width, uint32_t height, uint64_t n)
{
    Bytes argb;
    paintNumber(argb, width, height, n);
    return compressed(type, width, height, argb, width * 4);
}

// A real writer behind hooks with which a test watches or holds up the job's calls.
class HookedWriter : public nox::VideoFormatWriter {
public:
    explicit HookedWriter(std::unique_ptr<nox::VideoFormatWriter> inner)
        : VideoFormatWriter(inner->description(), inner->path(), inner->frameRateNum(), inner->frameRateDen(),
                            inner->bytesPerPixel(), inner->width(), inner->height(), inner->channels(),
                            inner->bytesPerSample(), inner->sampleRate(), inner->formatName()),
          inner(std::move(inner))
    {
    }
    bool isCustomCodec() const override { return inner->isCustomCodec(); }
    bool isOpen() const override { return inner->isOpen(); }
    std::string failure() const override { return inner->failure(); }
    bool addAudio(const void* samples, uint64_t position, uint32_t count) override
    {
        positions.push_back(position);
        return inner->addAudio(samples, position, count);
    }
    bool writePendingPackets(bool wait) override
    {
        if (onFlush)
            onFlush(wait);
        return inner->writePendingPackets(wait);
    }
    bool writeFrame(uint64_t n, uint32_t width, uint32_t height, uint32_t bytesPerPixel, uint64_t stride,
                    const uint8_t* data) override
    {
        if (onFrame)
            onFrame(n, true);
        const bool ok = inner->writeFrame(n, width, height, bytesPerPixel, stride, data);
        if (onFrame)
            onFrame(n, false);
        return ok;
    }

    std::unique_ptr<nox::VideoFormatWriter> inner;
    std::function<void(uint64_t frame, bool before)> onFrame;  // around each frame's write
    std::function<void(bool wait)> onFlush;
    std::vector<uint64_t> positions;  // of every sound chunk
};

// A HookedWriter over the format's writer for `path`: type-0 frames at 30 fps, with or without sound.
inline HookedWriter* hookedWriter(const std::string& path, uint32_t width, uint32_t height, uint32_t channels = 0)
{
    static nox::VideoCodecInfoZemo3 codec;  // type 0; lives as long as any writer made of it
    nox::VideoStreamDescription stream(width, height, 30, 1, &codec);
    auto inner =
        nox::videoFormatManager(nox::getContext())
            ->createWriter(path, 30, 1, 4, width, height, stream, channels, channels ? 2 : 0, channels ? 48000 : 0);
    return inner ? new HookedWriter(std::move(inner)) : nullptr;
}

}  // namespace exporttest
