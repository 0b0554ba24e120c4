// Helpers of the writer tests: a scratch folder, open-descriptor counting,
// a raw-RGBA compressor and a read-back of a movie with libavformat.
#pragma once

#include <dirent.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "codec/stream.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

namespace nox::test {

// A fresh folder under the system's temporary folder, removed afterwards.
class ScratchDir {
public:
    ScratchDir()
    {
        std::string tmpl = (std::filesystem::temp_directory_path() / "zemo-writer-XXXXXX").string();
        char* made = mkdtemp(tmpl.data());
        if (made)
            path_ = made;
    }
    ~ScratchDir()
    {
        std::error_code ec;
        if (!path_.empty())
            std::filesystem::remove_all(path_, ec);
    }
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

inline size_t openDescriptorCount()
{
    size_t n = 0;
    if (DIR* d = opendir("/proc/self/fd")) {
        while (readdir(d))
            ++n;
        closedir(d);
    }
    return n;
}

// Stores each frame as its raw pixels; a real compressor for any FourCC.
class RawCompressor : public Compressor {
public:
    explicit RawCompressor(const VideoStreamDescription& stream) : Compressor(stream) {}
    uint32_t outputBound() const override { return stream_.width * stream_.height * stream_.bytesPerPixel; }
    bool isCustomCodec() const override { return true; }
    int32_t compress(uint8_t* destination, const uint8_t* pixels, uint32_t capacity, int32_t,
                     int32_t rowStride) override
    {
        if (failMarker >= 0 && pixels[0] == failMarker)
            return 0;
        const uint32_t row = stream_.width * stream_.bytesPerPixel;
        if (capacity < row * stream_.height)
            return 0;
        for (uint32_t y = 0; y < stream_.height; ++y)
            std::memcpy(destination + size_t(y) * row, pixels + size_t(y) * size_t(rowStride), row);
        return int32_t(row * stream_.height);
    }
    // A frame whose first byte equals this value fails to compress.
    int failMarker = -1;
};

// A codec description whose compressor is RawCompressor.
class RawCodecInfo : public VideoCodecInfo {
public:
    explicit RawCodecInfo(CodecFourCC code) : code_(code) {}
    std::unique_ptr<VideoCodecInfo> clone() const override { return std::make_unique<RawCodecInfo>(code_); }
    int codecType() const override { return 99; }
    void describeStream(VideoStreamDescription& stream) const override { stream.fourCC = code_; }
    std::unique_ptr<Compressor> createCompressor(VideoStreamDescription& stream) const override
    {
        return std::make_unique<RawCompressor>(stream);
    }

private:
    CodecFourCC code_;
};

struct ProbedStream {
    AVMediaType type = AVMEDIA_TYPE_UNKNOWN;
    AVCodecID codecId = AV_CODEC_ID_NONE;
    uint32_t codecTag = 0;
    AVRational timeBase{0, 1};
    int channels = 0;
    uint64_t channelMask = 0;
    int sampleRate = 0;
    int width = 0, height = 0;
};

struct ProbedPacket {
    int stream = 0;
    int64_t pts = 0, dts = 0, duration = 0;
    bool key = false;
    std::vector<uint8_t> data;
};

struct ProbedMovie {
    std::vector<ProbedStream> streams;
    std::vector<ProbedPacket> packets;
    std::string title;
    std::vector<ProbedPacket> of(int stream) const
    {
        std::vector<ProbedPacket> out;
        for (const auto& p : packets)
            if (p.stream == stream)
                out.push_back(p);
        return out;
    }
};

// Reads every stream and packet back with libavformat; nullopt when the
// file does not open as a movie.
inline std::optional<ProbedMovie> probeMovie(const std::string& path)
{
    AVFormatContext* fc = nullptr;
    if (avformat_open_input(&fc, path.c_str(), nullptr, nullptr) < 0)
        return std::nullopt;
    // The container's own tables are what is checked; no decoder is probed.
    ProbedMovie movie;
    for (unsigned i = 0; i < fc->nb_streams; ++i) {
        const AVStream* st = fc->streams[i];
        ProbedStream s;
        s.type = st->codecpar->codec_type;
        s.codecId = st->codecpar->codec_id;
        s.codecTag = st->codecpar->codec_tag;
        s.timeBase = st->time_base;
        s.channels = st->codecpar->ch_layout.nb_channels;
        s.channelMask = st->codecpar->ch_layout.order == AV_CHANNEL_ORDER_NATIVE ? st->codecpar->ch_layout.u.mask : 0;
        s.sampleRate = st->codecpar->sample_rate;
        s.width = st->codecpar->width;
        s.height = st->codecpar->height;
        movie.streams.push_back(s);
    }
    if (const AVDictionaryEntry* e = av_dict_get(fc->metadata, "title", nullptr, 0))
        movie.title = e->value;
    AVPacket* pkt = av_packet_alloc();
    while (av_read_frame(fc, pkt) >= 0) {
        ProbedPacket p;
        p.stream = pkt->stream_index;
        p.pts = pkt->pts;
        p.dts = pkt->dts;
        p.duration = pkt->duration;
        p.key = (pkt->flags & AV_PKT_FLAG_KEY) != 0;
        p.data.assign(pkt->data, pkt->data + pkt->size);
        movie.packets.push_back(std::move(p));
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    avformat_close_input(&fc);
    return movie;
}

}  // namespace nox::test
