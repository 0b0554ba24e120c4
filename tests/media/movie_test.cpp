// media's movie reader on movies written here with libavformat, in the
// containers a Zemo 3 movie comes in: streams of known parameters and
// packets of known bytes, read back every way the reader offers (in file
// order, one stream, a frame by number, sound by sample position, from
// memory, without the probe) and files it refuses.
#include <gtest/gtest.h>

#include <algorithm>
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

struct StreamSpec {
    AVMediaType type;
    AVCodecID codec;
    uint32_t tag;
    int width, height;
    int channels;
    uint64_t mask;  // the speakers
    int bytesPerSample;
};

// Stream 0 Zemo 3 pictures; 1 six channels of 16-bit sound; 2 stereo floats.
const StreamSpec kStreams[] = {
    {AVMEDIA_TYPE_VIDEO, AV_CODEC_ID_NONE, zemo3::kMovieTag, 96, 64, 0, 0, 0},
    {AVMEDIA_TYPE_AUDIO, AV_CODEC_ID_PCM_S16LE, 0, 0, 0, 6, AV_CH_LAYOUT_5POINT1, 2},
    {AVMEDIA_TYPE_AUDIO, AV_CODEC_ID_PCM_F32LE, 0, 0, 0, 2, AV_CH_LAYOUT_STEREO, 4},
};

// The bytes of packet `i` of a stream: frames of sizes of their own, sound
// of kChunk sample frames.
Bytes packetBytes(int stream, int i)
{
    const StreamSpec& s = kStreams[stream];
    const size_t size =
        s.type == AVMEDIA_TYPE_VIDEO ? size_t(200 + 37 * i) : size_t(kChunk) * s.channels * s.bytesPerSample;
    Bytes b(size);
    for (size_t k = 0; k < size; ++k)
        b[k] = uint8_t(k * 7 + size_t(i) * 31 + size_t(stream) * 101 + (k >> 8));
    return b;
}

Bytes allSound(int stream)
{
    Bytes all;
    for (int i = 0; i < kFrames; ++i) {
        const Bytes b = packetBytes(stream, i);
        all.insert(all.end(), b.begin(), b.end());
    }
    return all;
}

// Writes every stream's packets, frame by frame, into a file of the format.
bool writeMovie(const std::string& path, const char* format)
{
    AVFormatContext* out = nullptr;
    if (avformat_alloc_output_context2(&out, nullptr, format, path.c_str()) < 0)
        return false;
    for (const StreamSpec& spec : kStreams) {
        AVStream* st = avformat_new_stream(out, nullptr);
        AVCodecParameters* par = st->codecpar;
        par->codec_type = spec.type;
        par->codec_id = spec.codec;
        par->codec_tag = spec.tag;
        par->width = spec.width;
        par->height = spec.height;
        if (spec.type == AVMEDIA_TYPE_AUDIO) {
            av_channel_layout_from_mask(&par->ch_layout, spec.mask);
            par->sample_rate = kRate;
            par->bits_per_coded_sample = 8 * spec.bytesPerSample;
            par->block_align = spec.channels * spec.bytesPerSample;
        }
        st->time_base = spec.type == AVMEDIA_TYPE_VIDEO ? AVRational{1, 30} : AVRational{1, kRate};
    }
    av_dict_set(&out->metadata, "title", "read back", 0);
    bool ok = avio_open(&out->pb, path.c_str(), AVIO_FLAG_WRITE) >= 0 && avformat_write_header(out, nullptr) >= 0;
    AVPacket* p = av_packet_alloc();
    for (int i = 0; ok && i < kFrames; ++i)
        for (int s = 0; ok && s < int(std::size(kStreams)); ++s) {
            const Bytes b = packetBytes(s, i);
            ok = av_new_packet(p, int(b.size())) >= 0;
            std::copy(b.begin(), b.end(), p->data);
            p->stream_index = s;
            p->pts = p->dts = s == 0 ? i : int64_t(i) * kChunk;
            p->duration = s == 0 ? 1 : kChunk;
            p->flags = AV_PKT_FLAG_KEY;
            av_packet_rescale_ts(p, kStreams[s].type == AVMEDIA_TYPE_VIDEO ? AVRational{1, 30} : AVRational{1, kRate},
                                 out->streams[s]->time_base);
            ok = ok && av_interleaved_write_frame(out, p) >= 0;
        }
    ok = av_write_trailer(out) >= 0 && ok;
    av_packet_free(&p);
    avio_closep(&out->pb);
    avformat_free_context(out);
    return ok;
}

// Every packet by stream: the frames one by one, the sound run together (a
// demuxer may cut stored sound otherwise than it was written).
struct ReadBack {
    std::vector<Bytes> frames;
    Bytes sound[3];
    bool allKey = true;
};
ReadBack readAll(MovieReader& reader)
{
    ReadBack r;
    for (MoviePacket p; reader.next(&p);) {
        r.allKey = r.allKey && p.key;
        if (p.stream == 0)
            r.frames.emplace_back(p.data, p.data + p.size);
        else
            r.sound[p.stream].insert(r.sound[p.stream].end(), p.data, p.data + p.size);
    }
    EXPECT_EQ(reader.error(), "");
    return r;
}

struct Container {
    const char* format;
    const char* file;
};
const Container kContainers[] = {{"mov", "m.mov"}, {"avi", "m.avi"}};

class Movies : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir_ = new testutil::TempDir;
        for (const Container& c : kContainers)
            ASSERT_TRUE(writeMovie(dir_->file(c.file), c.format)) << c.format;
    }
    static void TearDownTestSuite() { delete dir_; }
    static std::string path(const Container& c) { return dir_->file(c.file); }
    static testutil::TempDir* dir_;
};
testutil::TempDir* Movies::dir_;

// What the container says of each stream, the same with and without the probe.
TEST_F(Movies, EveryStreamIsDescribed)
{
    for (const Container& c : kContainers)
        for (const bool probe : {true, false}) {
            SCOPED_TRACE(std::string(c.format) + (probe ? " probed" : " from the header"));
            MovieReader reader;
            std::string error;
            ASSERT_TRUE(reader.open(path(c), &error, {.probe = probe})) << error;
            const zemo3::MovieInfo& info = reader.info();
            ASSERT_EQ(info.streams.size(), std::size(kStreams));
            EXPECT_EQ(std::vector<int>({info.video, info.audio, info.videoStreams, info.audioStreams}),
                      std::vector<int>({0, 1, 1, 2}));
            const MovieStream& v = info.streams[0];
            EXPECT_EQ(v.kind, MovieStream::VIDEO);
            EXPECT_EQ(zemo3::tagText(v.codecTag), "ZMQ3");
            EXPECT_EQ(std::vector<uint32_t>({v.width, v.height}), std::vector<uint32_t>({96, 64}));
            EXPECT_EQ(v.frameCount(), kFrames);
            EXPECT_DOUBLE_EQ(double(v.frameRateNum) / v.frameRateDen, 30.0);
            for (int s = 1; s < 3; ++s) {
                const MovieStream& a = info.streams[size_t(s)];
                EXPECT_EQ(a.kind, MovieStream::AUDIO);
                EXPECT_EQ(a.codecId, kStreams[s].codec) << a.codec;
                EXPECT_EQ(a.codec, avcodec_get_name(kStreams[s].codec));
                EXPECT_EQ(std::vector<int64_t>({a.channels, a.sampleRate, a.bytesPerSample}),
                          std::vector<int64_t>({kStreams[s].channels, kRate, kStreams[s].bytesPerSample}));
                if (a.channelMask) {
                    EXPECT_EQ(a.channelMask, kStreams[s].mask) << s;
                }
            }
            if (std::string(c.format) == "mov") {
                EXPECT_EQ(info.title, "read back");
                EXPECT_EQ(info.streams[1].channelMask, kStreams[1].mask);
                EXPECT_NEAR(info.duration, kFrames / 30.0, 1e-3);
            }
        }
}

// In file order every packet as written, all or one stream's; from memory
// the same as from the file.
TEST_F(Movies, PacketsComeBackAsWritten)
{
    for (const Container& c : kContainers) {
        SCOPED_TRACE(c.format);
        std::string error;
        MovieReader file, memory, one;
        const std::string bytes = testutil::slurp(path(c));
        ASSERT_TRUE(file.open(path(c), &error)) << error;
        ASSERT_TRUE(memory.openMemory(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), c.file, &error));
        ASSERT_TRUE(one.open(path(c), &error)) << error;
        const ReadBack all = readAll(file), fromMemory = readAll(memory);
        ASSERT_EQ(all.frames.size(), size_t(kFrames));
        for (int i = 0; i < kFrames; ++i)
            EXPECT_TRUE(all.frames[size_t(i)] == packetBytes(0, i)) << "frame " << i;
        EXPECT_TRUE(all.allKey);
        for (int s = 1; s < 3; ++s)
            EXPECT_TRUE(all.sound[s] == allSound(s)) << "stream " << s;
        EXPECT_TRUE(fromMemory.frames == all.frames && fromMemory.sound[1] == all.sound[1]);
        one.readOnly(2);
        const ReadBack second = readAll(one);
        EXPECT_TRUE(second.frames.empty() && second.sound[1].empty());
        EXPECT_TRUE(second.sound[2] == all.sound[2]);
    }
}

// Frames by number in any order, each followed by the next one; past the end
// nothing, before the start a failure.
TEST_F(Movies, FramesByNumber)
{
    for (const Container& c : kContainers) {
        SCOPED_TRACE(c.format);
        MovieReader reader;
        std::string error;
        ASSERT_TRUE(reader.open(path(c), &error)) << error;
        reader.readOnly(0);
        MoviePacket p;
        for (int n : {7, 0, 11, 3, 4, 3, 10}) {
            ASSERT_TRUE(reader.seekFrame(0, n, &p)) << n << ": " << reader.error();
            EXPECT_TRUE(Bytes(p.data, p.data + p.size) == packetBytes(0, n)) << "frame " << n;
            ASSERT_EQ(reader.next(&p), n + 1 < kFrames) << n;
            EXPECT_TRUE(n + 1 == kFrames || Bytes(p.data, p.data + p.size) == packetBytes(0, n + 1)) << n;
        }
        EXPECT_FALSE(reader.seekFrame(0, kFrames, &p));
        EXPECT_EQ(reader.error(), "");
        EXPECT_FALSE(reader.seekFrame(0, -1, &p));
        EXPECT_EQ(reader.error(), "no frame -1");
    }
}

// Sound by sample position in a QuickTime movie, read as a player reads it:
// on in pieces of any length (within the packet held, across packets), and
// the same pieces from the end backwards (a seek each); against the bytes
// written. Past the end nothing, before the start a failure.
TEST_F(Movies, SoundBySamplePosition)
{
    MovieReader reader;
    std::string error;
    ASSERT_TRUE(reader.open(path(kContainers[0]), &error)) << error;
    reader.readOnly(1);
    const Bytes sound = allSound(1);
    const int64_t frameBytes = 6 * 2, total = int64_t(sound.size()) / frameBytes;
    for (const int64_t piece : {int64_t(1), int64_t(333), int64_t(kChunk), int64_t(2 * kChunk + 1), total}) {
        Bytes forward, backward(sound.size());
        for (int64_t first = 0; first < total; first += piece) {
            Bytes got(size_t(piece * frameBytes));
            const int64_t n = reader.readSound(first, piece, got.data());
            ASSERT_EQ(n, std::min(piece, total - first)) << first << "+" << piece << ": " << reader.error();
            forward.insert(forward.end(), got.begin(), got.begin() + n * frameBytes);
        }
        for (int64_t first = (total - 1) / piece * piece; first >= 0; first -= piece) {
            const int64_t n = reader.readSound(first, piece, backward.data() + first * frameBytes);
            ASSERT_EQ(n, std::min(piece, total - first)) << first << "+" << piece << ": " << reader.error();
        }
        EXPECT_TRUE(forward == sound) << "on in pieces of " << piece;
        EXPECT_TRUE(backward == sound) << "back in pieces of " << piece;
    }
    Bytes one(frameBytes, 0);
    EXPECT_EQ(reader.readSound(total, 1, one.data()), 0);
    EXPECT_EQ(reader.readSound(-1, 1, one.data()), -1);
    EXPECT_EQ(reader.error(), "no sound frames -1 + 1");
}

TEST_F(Movies, FilesThatAreNoMoviesAreRefused)
{
    const std::string text = dir_->file("notes.mov");
    testutil::writeFile(text, Bytes(1000, 'x'));
    for (const std::string& p : {text, dir_->file("missing.mov")}) {
        MovieReader reader;
        std::string error;
        EXPECT_FALSE(reader.open(p, &error));
        EXPECT_EQ(error.find("'" + p + "' is not a readable movie: "), 0u) << error;
    }
}

}  // namespace
