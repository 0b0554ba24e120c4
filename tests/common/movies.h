// Reading a written movie back: every stream's parameters and every packet
// as stored, without decoding, collected from media's movie reader. A frame
// that is missing, repeated, out of place or changed shows here.
#pragma once

#include <cstring>
#include <functional>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "common/util.h"
#include "media/movie.h"

namespace testutil {

struct MovieStream {
    AVMediaType type = AVMEDIA_TYPE_UNKNOWN;
    AVCodecID codecId = AV_CODEC_ID_NONE;
    uint32_t tag = 0;
    AVRational timeBase{0, 1};
    int channels = 0, sampleRate = 0, width = 0, height = 0;
    uint64_t channelMask = 0;  // 0 unless the layout is a native mask
};

struct MoviePacket {
    int stream = 0;
    int64_t pts = 0, dts = 0, duration = 0;
    bool key = false;
    Bytes data;
};

struct Movie {
    bool opened = false;
    std::vector<MovieStream> streams;
    std::vector<MoviePacket> packets;  // in file order
    std::string title;

    std::vector<MoviePacket> of(AVMediaType type) const
    {
        std::vector<MoviePacket> out;
        for (const auto& p : packets)
            if (streams[size_t(p.stream)].type == type)
                out.push_back(p);
        return out;
    }
    std::vector<Bytes> frames() const
    {
        std::vector<Bytes> out;
        for (const auto& p : of(AVMEDIA_TYPE_VIDEO))
            out.push_back(p.data);
        return out;
    }
    Bytes sound() const
    {
        Bytes out;
        for (const auto& p : of(AVMEDIA_TYPE_AUDIO))
            out.insert(out.end(), p.data.begin(), p.data.end());
        return out;
    }
};

// Every stream and packet of a movie through media's reader. Opened is
// false when the file does not open as a movie.
inline Movie readMovie(const std::string& path)
{
    Movie m;
    zemo3::MovieReader reader;
    std::string error;
    if (!reader.open(path, &error))
        return m;
    m.opened = true;
    for (const zemo3::MovieStream& s : reader.info().streams) {
        const AVMediaType type = s.kind == zemo3::MovieStream::VIDEO   ? AVMEDIA_TYPE_VIDEO
                                 : s.kind == zemo3::MovieStream::AUDIO ? AVMEDIA_TYPE_AUDIO
                                                                       : AVMEDIA_TYPE_UNKNOWN;
        m.streams.push_back({type, AVCodecID(s.codecId), s.codecTag, AVRational{s.timeBaseNum, s.timeBaseDen},
                             s.channels, s.sampleRate, int(s.width), int(s.height), s.channelMask});
    }
    m.title = reader.info().title;
    for (zemo3::MoviePacket p; reader.next(&p);)
        m.packets.push_back({p.stream, p.pts, p.dts, p.duration, p.key, Bytes(p.data, p.data + p.size)});
    return m;
}

// Copies a movie into a new QuickTime file, letting `damage` change or drop (return false) video
// packets and `tag` replace the video stream's tag.
inline bool remux(const std::string& in, const std::string& out, const std::function<bool(int64_t, AVPacket*)>& damage,
                  uint32_t tag = 0)
{
    zemo3::MovieReader reader;
    std::string error;
    if (!reader.open(in, &error))
        return false;
    const AVFormatContext* input = reader.format();
    AVFormatContext* output = nullptr;
    avformat_alloc_output_context2(&output, nullptr, "mov", out.c_str());
    for (unsigned i = 0; i < input->nb_streams; ++i) {
        AVStream* s = avformat_new_stream(output, nullptr);
        avcodec_parameters_copy(s->codecpar, input->streams[i]->codecpar);
        s->time_base = input->streams[i]->time_base;
        if (tag && s->codecpar->codec_type == AVMEDIA_TYPE_VIDEO)
            s->codecpar->codec_tag = tag;
    }
    bool ok = avio_open(&output->pb, out.c_str(), AVIO_FLAG_WRITE) >= 0 && avformat_write_header(output, nullptr) >= 0;
    zemo3::MoviePacket packet;
    for (int64_t video = 0; ok && reader.next(&packet);) {
        AVPacket* p = reader.lastPacket();
        const int s = packet.stream;
        const bool isVideo = reader.info().streams[size_t(s)].kind == zemo3::MovieStream::VIDEO;
        av_packet_rescale_ts(p, input->streams[s]->time_base, output->streams[s]->time_base);
        p->pos = -1;
        if (!isVideo || damage(video++, p))
            ok = av_write_frame(output, p) >= 0;
    }
    ok = av_write_trailer(output) >= 0 && ok;
    avio_closep(&output->pb);
    avformat_free_context(output);
    return ok;
}

// The compressions zemo3 takes, by format type 0 to 3.
inline const char* const kCompressions[4] = {"normal", "normal-alpha", "high", "high-alpha"};

#if defined(ZEMO3_BINARY) && defined(ZEMO_MODULE_PATH)
#include <gtest/gtest.h>

// The zemo3 command of this build (for programs given its path and the module's).
inline Run zemo3(const std::string& args) { return run(std::string(ZEMO3_BINARY) + " " + args); }

// The demo with sound through the module, at a size ("99x61") for a duration
// in seconds, once per compression into dir/<compression>.mov. Returns what
// zemo3 said of the first render that failed, "" when all went well.
inline std::string renderEveryType(const TempDir& dir, const std::string& size, const std::string& seconds)
{
    for (const char* compression : kCompressions) {
        const Run r =
            zemo3("render --demo --size " + size + " --duration " + seconds + " --compression " + compression + " -o " +
                  dir.file(std::string(compression) + ".mov") + " --module " + ZEMO_MODULE_PATH);
        if (r.code != 0)
            return std::string(compression) + ": " + r.err;
    }
    return "";
}

// A suite of tests on the movies of renderEveryType(), rendered once before
// its first test at Width x Height for Tenths tenths of a second: movie(type)
// is dir_/<compression>.mov.
template <int Width, int Height, int Tenths>
class EveryTypeSuite : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir_ = new TempDir;
        const std::string seconds = std::to_string(Tenths / 10) + "." + std::to_string(Tenths % 10);
        ASSERT_EQ(renderEveryType(*dir_, std::to_string(Width) + "x" + std::to_string(Height), seconds), "");
    }
    static void TearDownTestSuite() { delete dir_; }
    static std::string movie(int type) { return dir_->file(std::string(kCompressions[type]) + ".mov"); }

    static inline TempDir* dir_ = nullptr;
};
#endif

// Damage of three kinds for remux(), to video packets 2 (shorter than its
// header says), 5 (a zero first word) and 6 (not even a header); every
// packet is kept.
inline bool damageThreeFrames(int64_t i, AVPacket* p)
{
    if (i == 2)
        p->size /= 2;
    if (i == 5)
        std::memset(p->data, 0, 4);
    if (i == 6)
        p->size = 3;
    return true;
}

}  // namespace testutil
