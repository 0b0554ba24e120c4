// media's movie reader on QuickTime and AVI files written here with
// libavformat: streams of known parameters and packets of known bytes, read
// back every way the reader offers (files it refuses: tools/cli_test.cpp,
// playback/playback_test.cpp).
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

#include "common/util.h"
#include "media/movie.h"

namespace {

using testutil::Bytes;
using zemo3::MoviePacket;
using zemo3::MovieReader;
using zemo3::MovieStream;

constexpr int kFrames = 12, kRate = 24000, kChunk = kRate / 30;  // one sound chunk per frame

// Stream 0 Zemo 3 pictures at 96x64 (no channels); 1 six channels of 16-bit sound; 2 stereo floats.
const struct StreamSpec {
    AVCodecID codec;
    int channels;
    uint64_t mask;
    int bytesPerSample;
} kStreams[] = {{AV_CODEC_ID_NONE, 0, 0, 0},
                {AV_CODEC_ID_PCM_S16LE, 6, AV_CH_LAYOUT_5POINT1, 2},
                {AV_CODEC_ID_PCM_F32LE, 2, AV_CH_LAYOUT_STEREO, 4}};
const char* const kFormats[] = {"mov", "avi"};

AVRational timeBase(int stream) { return stream ? AVRational{1, kRate} : AVRational{1, 30}; }

// Bytes [from, from + count) of a stream: packet i of a frame of 200 + 37 i
// bytes of its own, of sound kChunk sample frames from kChunk i on.
Bytes streamBytes(int s, size_t from, size_t count)
{
    Bytes b(count);
    for (size_t k = 0; k < count; ++k)
        b[k] = uint8_t((from + k) * 7 + size_t(s) * 101 + ((from + k) >> 8));
    return b;
}
size_t soundBytes(int s) { return size_t(kChunk) * kStreams[s].channels * kStreams[s].bytesPerSample; }
Bytes packetBytes(int s, int i)
{
    return s ? streamBytes(s, soundBytes(s) * size_t(i), soundBytes(s))
             : streamBytes(0, size_t(i), size_t(200 + 37 * i));
}
Bytes allSound(int s) { return streamBytes(s, 0, soundBytes(s) * kFrames); }

bool writeMovie(const std::string& path, const char* format)
{
    AVFormatContext* out = nullptr;
    if (avformat_alloc_output_context2(&out, nullptr, format, path.c_str()) < 0)
        return false;
    for (int s = 0; s < 3; ++s) {
        AVStream* st = avformat_new_stream(out, nullptr);
        AVCodecParameters* par = st->codecpar;
        const StreamSpec& spec = kStreams[s];
        par->codec_type = s ? AVMEDIA_TYPE_AUDIO : AVMEDIA_TYPE_VIDEO;
        par->codec_id = spec.codec;
        if (s == 0)
            par->codec_tag = zemo3::kMovieTag, par->width = 96, par->height = 64;
        else {
            av_channel_layout_from_mask(&par->ch_layout, spec.mask);
            par->sample_rate = kRate, par->bits_per_coded_sample = 8 * spec.bytesPerSample;
            par->block_align = spec.channels * spec.bytesPerSample;
        }
        st->time_base = timeBase(s);
    }
    av_dict_set(&out->metadata, "title", "read back", 0);
    bool ok = avio_open(&out->pb, path.c_str(), AVIO_FLAG_WRITE) >= 0 && avformat_write_header(out, nullptr) >= 0;
    AVPacket* p = av_packet_alloc();
    for (int i = 0; ok && i < kFrames; ++i)
        for (int s = 0; ok && s < 3; ++s) {
            const Bytes b = packetBytes(s, i);
            ok = av_new_packet(p, int(b.size())) >= 0;
            std::copy(b.begin(), b.end(), p->data);
            p->stream_index = s, p->flags = AV_PKT_FLAG_KEY;
            p->pts = p->dts = s ? int64_t(i) * kChunk : i;
            p->duration = s ? kChunk : 1;
            av_packet_rescale_ts(p, timeBase(s), out->streams[s]->time_base);
            ok = ok && av_interleaved_write_frame(out, p) >= 0;
        }
    ok = av_write_trailer(out) >= 0 && ok;
    av_packet_free(&p);
    avio_closep(&out->pb);
    avformat_free_context(out);
    return ok;
}

// A container's movie, written once for the whole program, in a folder removed at its end.
std::string path(const char* format)
{
    static testutil::TempDir dir;
    static std::map<std::string, bool> written;
    const std::string file = dir.file(std::string("m.") + format);
    auto [entry, fresh] = written.try_emplace(format, false);
    if (fresh)
        entry->second = writeMovie(file, format);
    EXPECT_TRUE(entry->second);
    return file;
}

// Whether this FFmpeg both writes and reads the container (the Windows
// build's carries QuickTime's only).
bool carried(const char* format) { return av_guess_format(format, nullptr, nullptr) && av_find_input_format(format); }

// Every packet by stream: the frames one by one, the sound run together (a
// demuxer may cut stored sound otherwise than it was written).
std::pair<std::vector<Bytes>, std::vector<Bytes>> readAll(MovieReader& reader)
{
    std::vector<Bytes> frames, sound(3);
    for (MoviePacket p; reader.next(&p);)
        if (p.stream == 0)
            frames.emplace_back(p.data, p.data + p.size);
        else
            sound[size_t(p.stream)].insert(sound[size_t(p.stream)].end(), p.data, p.data + p.size);
    EXPECT_EQ(reader.error(), "");
    return {frames, sound};
}

// What the container says of each stream, the same with and without the probe.
void expectDescribed(const zemo3::MovieInfo& info)
{
    ASSERT_EQ(info.streams.size(), 3u);
    const MovieStream& v = info.streams[0];
    EXPECT_EQ(std::vector<int64_t>({info.video, info.audio, info.videoStreams, info.audioStreams, v.kind, v.width,
                                    v.height, v.frameCount()}),
              std::vector<int64_t>({0, 1, 1, 2, MovieStream::VIDEO, 96, 64, kFrames}));
    EXPECT_DOUBLE_EQ(double(v.frameRateNum) / v.frameRateDen, 30.0);
    for (int s = 1; s < 3; ++s) {
        const MovieStream& a = info.streams[size_t(s)];
        EXPECT_EQ(std::vector<int64_t>({a.kind, a.codecId, a.channels, a.sampleRate, a.bytesPerSample}),
                  std::vector<int64_t>(
                      {MovieStream::AUDIO, kStreams[s].codec, kStreams[s].channels, kRate, kStreams[s].bytesPerSample}))
            << s;
    }
}

// Each container read every way the reader offers: described with and
// without the probe; from memory every packet in file order; one stream's
// packets; frames by number in any order, each followed by the next; sound
// by sample position as a player reads it, on in pieces of any length
// (within the packet held, across packets) and back from the end.
TEST(Movies, ReadEveryWayAsWritten)
{
    for (const char* f : kFormats) {
        if (!carried(f))
            continue;
        SCOPED_TRACE(f);
        std::string error;
        MovieReader memory, one;
        const std::string bytes = testutil::slurp(path(f));
        ASSERT_TRUE(one.open(path(f), &error, {.probe = false})) << error;
        ASSERT_TRUE(memory.openMemory(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), "m", &error));
        expectDescribed(memory.info());
        expectDescribed(one.info());
        const auto [frames, sound] = readAll(memory);
        ASSERT_EQ(frames.size(), size_t(kFrames));
        for (int i = 0; i < kFrames; ++i)
            EXPECT_TRUE(frames[size_t(i)] == packetBytes(0, i)) << "frame " << i;
        EXPECT_TRUE(sound[1] == allSound(1) && sound[2] == allSound(2));
        one.readOnly(2);
        const auto [noFrames, onlySecond] = readAll(one);
        EXPECT_TRUE(noFrames.empty() && onlySecond[1].empty() && onlySecond[2] == allSound(2));

        one.readOnly(0);
        MoviePacket p;
        for (int n : {7, 0, 11, 3, 4, 3, 10}) {
            ASSERT_TRUE(one.seekFrame(0, n, &p)) << n << ": " << one.error();
            EXPECT_TRUE(Bytes(p.data, p.data + p.size) == packetBytes(0, n)) << "frame " << n;
            ASSERT_EQ(one.next(&p), n + 1 < kFrames) << n;
            EXPECT_TRUE(n + 1 == kFrames || Bytes(p.data, p.data + p.size) == packetBytes(0, n + 1)) << n;
        }
        EXPECT_FALSE(one.seekFrame(0, kFrames, &p));
        EXPECT_EQ(one.error(), "");
        EXPECT_FALSE(one.seekFrame(0, -1, &p));
        EXPECT_EQ(one.error(), "no frame -1");

        if (std::string(f) != "mov")
            continue;  // by position the reader finds no AVI sound past its first packet
        one.readOnly(1);
        const int64_t frameBytes = 6 * 2, total = int64_t(sound[1].size()) / frameBytes;
        for (const int64_t piece : {int64_t(1), int64_t(333), int64_t(kChunk), int64_t(2 * kChunk + 1), total})
            for (const bool back : {false, true}) {
                Bytes got(sound[1].size());
                for (int64_t k = 0; k * piece < total; ++k) {
                    const int64_t first = (back ? (total - 1) / piece - k : k) * piece;
                    ASSERT_EQ(one.readSound(first, piece, got.data() + first * frameBytes),
                              std::min(piece, total - first))
                        << first << "+" << piece << ": " << one.error();
                }
                EXPECT_TRUE(got == sound[1]) << (back ? "back" : "on") << " in pieces of " << piece;
            }
        EXPECT_EQ(one.readSound(total, 1, Bytes(frameBytes).data()), 0);
        EXPECT_EQ(one.readSound(-1, 1, Bytes(frameBytes).data()), -1);
        EXPECT_EQ(one.error(), "no sound frames -1 + 1");
    }
}

}  // namespace
