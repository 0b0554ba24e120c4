// Movies whose frames spell their own numbers, and reading them back with
// libavformat: a frame that is missing, repeated or out of place shows.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

#include "codec/zemo3.h"
#include "host/host_api.h"

namespace exporttest {

struct Movie {
    bool opened = false;
    int streams = 0;
    uint32_t videoTag = 0;
    std::vector<std::vector<uint8_t>> frames;
    std::vector<int64_t> pts;
    std::vector<uint8_t> sound;
    int64_t soundDuration = 0;  // sum of the audio packets' durations, in samples
};

inline Movie readMovie(const std::string& path)
{
    Movie m;
    av_log_set_level(AV_LOG_ERROR);  // the probe notes that no decoder knows the tag
    AVFormatContext* f = nullptr;
    if (avformat_open_input(&f, path.c_str(), nullptr, nullptr) < 0)
        return m;
    m.opened = avformat_find_stream_info(f, nullptr) >= 0;
    m.streams = int(f->nb_streams);
    for (unsigned i = 0; i < f->nb_streams; ++i)
        if (f->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
            m.videoTag = f->streams[i]->codecpar->codec_tag;
    AVPacket* p = av_packet_alloc();
    while (av_read_frame(f, p) >= 0) {
        const AVStream* s = f->streams[p->stream_index];
        if (s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
            m.frames.emplace_back(p->data, p->data + p->size);
            m.pts.push_back(p->pts);
        } else {
            m.sound.insert(m.sound.end(), p->data, p->data + p->size);
            m.soundDuration += av_rescale_q(p->duration, s->time_base, AVRational{1, s->codecpar->sample_rate});
        }
        av_packet_unref(p);
    }
    av_packet_free(&p);
    avformat_close_input(&f);
    return m;
}

// A frame whose picture spells its number: 4x4 block k (k < 16) is white
// when bit k of n is set, black otherwise; the rest is grey. Black and white
// blocks survive the block encoders exactly, so no two numbers compress alike.
inline void paintNumber(std::vector<uint8_t>& argb, uint32_t width, uint32_t height, uint64_t n)
{
    argb.assign(size_t(width) * height * 4, 0);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            const uint32_t block = (y / 4) * (width / 4) + x / 4;
            const uint8_t v = block < 16 ? ((n >> block) & 1 ? 255 : 0) : 128;
            uint8_t* p = &argb[(size_t(y) * width + x) * 4];
            p[0] = 255;
            p[1] = p[2] = p[3] = v;
        }
}

// The host's view of a tightly packed 8-bit ARGB picture.
inline PF_EffectWorld argbWorld(std::vector<uint8_t>& argb, A_long width, A_long height)
{
    PF_EffectWorld world{};
    world.width = width;
    world.height = height;
    world.rowbytes = width * 4;
    world.data = argb.data();
    return world;
}

// Sample frame i of a stereo 16-bit sound that never repeats within 32768.
inline int16_t sample(uint64_t i, int channel) { return int16_t(uint16_t(i * 2 + uint64_t(channel)) * 7919u); }

// The frame the compressor makes of paintNumber(n), as the module should write it.
inline std::vector<uint8_t> expectedFrame(uint32_t type, uint32_t width, uint32_t height, uint64_t n)
{
    static nox::VideoCodecInfoZemo3 codec;
    static std::unique_ptr<nox::Compressor> compressor;
    static uint32_t made[3] = {~0u, 0, 0};
    if (made[0] != type || made[1] != width || made[2] != height) {
        codec.setFormatType(type);
        nox::VideoStreamDescription stream(width, height, 30, 1, &codec);
        compressor = codec.createCompressor(stream);
        made[0] = type, made[1] = width, made[2] = height;
    }
    std::vector<uint8_t> argb;
    paintNumber(argb, width, height, n);
    std::vector<uint8_t> rgba(argb.size());
    for (size_t i = 0; i < argb.size(); i += 4) {
        rgba[i] = argb[i + 1];
        rgba[i + 1] = argb[i + 2];
        rgba[i + 2] = argb[i + 3];
        rgba[i + 3] = argb[i];
    }
    std::vector<uint8_t> frame(compressor->outputBound(), 0);
    const int32_t size = compressor->compress(frame.data(), rgba.data(), uint32_t(frame.size()), 0, int32_t(width * 4));
    frame.resize(size_t(std::max(size, 0)));
    return frame;
}

}  // namespace exporttest
