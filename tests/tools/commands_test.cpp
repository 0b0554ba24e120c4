// zemo3 as a user runs it, on small movies rendered through the real module (96x64, one second,
// with sound) and on copies damaged while remuxing them with libavformat.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <sstream>

#include "codec/zemo3.h"
#include "common/movies.h"
#include "core/context.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

namespace {

using testutil::Bytes;
using testutil::remux;
using testutil::zemo3;

class MovieCommands : public testutil::EveryTypeSuite<96, 64, 10> {
protected:
    static std::string movie(const std::string& type) { return path(type + ".mov"); }
    static std::string path(const std::string& name) { return dir_->file(name); }
    // A copy of a render remuxed with `damage`, its video stream tagged `tag`; its path.
    static std::string damaged(const char* type, const std::function<bool(int64_t, AVPacket*)>& damage,
                               uint32_t tag = 0)
    {
        static int copies = 0;
        const std::string out = path("damaged" + std::to_string(++copies) + ".mov");
        EXPECT_TRUE(remux(movie(type), out, damage, tag));
        return out;
    }
};

std::function<bool(int64_t, AVPacket*)> atFrame(int64_t frame, std::function<void(AVPacket*)> change)
{
    return [=](int64_t n, AVPacket* p) { return n != frame || (change(p), true); };
}

TEST(Commands, FrameEncodeAndDecodeRoundTripEveryType)
{
    testutil::TempDir dir;
    const uint32_t w = 37, h = 21, stride = 160;  // odd size, padded rows
    Bytes picture(size_t(stride) * h);
    for (size_t i = 0; i < picture.size(); ++i)
        picture[i] = uint8_t((i * 7) ^ (i >> 5));
    testutil::writeFile(dir.file("in.rgba"), picture);
    for (uint32_t type = 0; type < 4; ++type) {
        SCOPED_TRACE(type);
        auto enc = zemo3("frame encode --type " + std::to_string(type) + " --width 37 --height 21 --row-bytes 160 " +
                         dir.file("in.rgba") + " " + dir.file("f.zm3"));
        ASSERT_EQ(enc.code, 0) << enc.err;
        auto dec = zemo3("frame decode --width 37 --height 21 " + dir.file("f.zm3") + " " + dir.file("f.tex"));
        ASSERT_EQ(dec.code, 0) << dec.err;
        // The file holds what the compressor makes of the picture; the texture has the type's size.
        nox::FrameEncoder encoder(type, w, h);
        std::string frame(encoder.textureBytes() + 12, '\0');
        frame.resize(encoder.compress(reinterpret_cast<uint8_t*>(frame.data()), picture.data(), stride,
                                      nox::getContext()->memory()));
        EXPECT_TRUE(testutil::slurp(dir.file("f.zm3")) == frame);
        EXPECT_EQ(testutil::slurp(dir.file("f.tex")).size(), nox::textureSize(type, w, h));
    }
}

// Tiny pictures, so nothing here is timed. Rows: type, encoder (two words for ours), threads, fps, cpu ms,
// bytes/frame, PSNR RGB, PSNR A ("-" where no alpha is kept), SSIM RGB; then the ratio table, a row a type.
TEST(Commands, BenchGivesEveryTypeItsRowsAndRatios)
{
    auto r = zemo3("bench --content photo --size 64x48 --frames 3 --threads 2 --repeat 1 --module " +
                   std::string(ZEMO_MODULE_PATH));
    ASSERT_EQ(r.code, 0) << r.err;
    std::set<std::string> ours;
    double psnr[4] = {};
    int ratioRows = 0;
    std::istringstream in(r.out);
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        const std::vector<std::string> w{std::istream_iterator<std::string>(words), {}};
        ratioRows += w.size() == 7 && (w[6] == "met" || w[6] == "missed");
        if (w.size() != 10 || w[1] != "zemo3")
            continue;
        ours.insert(w[0] + " threads " + w[3]);
        EXPECT_GT(std::stod(w[4]), 0) << line;
        EXPECT_GT(std::stod(w[7]), 12) << line;  // a decoded picture, not garbage
        psnr[std::stoi(w[0]) % 4] = std::stod(w[7]);
        EXPECT_EQ(w[8] == "-", w[0] == "0" || w[0] == "2") << line;  // alpha where it is kept
        EXPECT_GT(std::stod(w[9]), 0.5) << line;
        EXPECT_LE(std::stod(w[9]), 1.0) << line;
    }
    EXPECT_EQ(ratioRows, 4);
    EXPECT_EQ(ours.size(), 8u) << "every type on 1 and 2 threads";
    // On photographic content high quality beats normal, with and without alpha.
    EXPECT_GT(psnr[2], psnr[0] + 0.3);
    EXPECT_GT(psnr[3], psnr[1] + 0.3);
}

// Bad arguments (exit code 2, one line), damaged input and movies that do not match their
// reference (exit code 1), each with its reason; nothing is left behind. (Each reason the frame
// reader gives: common/refusals.h, held for every reader by tests/reader/pipeline.)
TEST_F(MovieCommands, BadInputAndDamagedMoviesFailWithTheirReason)
{
    testutil::writeFile(path("small.rgba"), Bytes(100, 1));
    const Bytes good = testutil::readMovie(movie("normal-alpha")).frames().at(0);  // type 1, 96x64
    testutil::writeFile(path("good.zm3"), good);
    testutil::writeFile(path("cut.zm3"), Bytes(good.begin(), good.begin() + ptrdiff_t(good.size() / 2)));
    // Bytes after the texture that the header counts in its payload: a player refuses them, and so
    // does the command, saying how many.
    Bytes padded = good;
    padded.insert(padded.end(), 5, 0);
    const uint32_t payload = (uint32_t(padded[8]) | uint32_t(padded[9]) << 8 | uint32_t(padded[10]) << 16) + 5;
    for (int k = 0; k < 3; ++k)
        padded[8 + k] = uint8_t(payload >> (8 * k));
    testutil::writeFile(path("long.zm3"), padded);
    auto render = zemo3("render --demo --size 96x64 --duration 1 --no-sound -o " + path("silent.mov") + " --module " +
                        ZEMO_MODULE_PATH);
    ASSERT_EQ(render.code, 0) << render.err;
    const std::string mov = movie("normal"), encode = "frame encode --type 0 --width 64 --height 64 ",
                      demo = " --demo --size 96x64 --duration 1";
    // Offsets within a frame: 8 is the payload size, 12 the payload.
    const std::string bad5 = damaged("normal", atFrame(5, [](AVPacket* p) { p->data[8] ^= 1; }));
    const auto keepAll = [](int64_t, AVPacket*) { return true; };
    const std::string zmq4 = damaged("high", keepAll, MKTAG('Z', 'M', 'Q', '4'));
    // Header and packet agree; only the payload's own framing tells.
    const auto longer = [](AVPacket* p) {
        av_grow_packet(p, 16);
        p->data[9] += (p->data[8] += 16) < 16;
    };
    // Frames 6 and 7 swap places; decode times stay increasing (one frame earlier throughout).
    const auto swapped = [](int64_t n, AVPacket* p) {
        p->pts += n == 6 ? p->duration : n == 7 ? -p->duration : 0;
        p->dts -= p->duration;
        return true;
    };
    ASSERT_EQ(zemo3("decode " + mov + " -o " + path("ref.mkv")).code, 0);
    const uint64_t source = testutil::fnv1a(testutil::readMovie(mov).frames().at(7));
    struct Case {
        std::string args;
        int code;
        const char* message;
        const char* leftover;            // a file that must not exist afterwards
        const char* unwanted = nullptr;  // text the report must not hold
    } cases[] = {
        {"frame encode --type 9 --width 4 --height 4 " + path("small.rgba") + " " + path("x.zm3"), 2, "--type",
         "x.zm3"},
        {encode + path("small.rgba") + " " + path("x.zm3"), 2, "holds 100 bytes", "x.zm3"},
        {encode + path("missing.rgba") + " " + path("x.zm3"), 2, "cannot open", "x.zm3"},
        {"frame encode --type 0 --height 64 " + path("small.rgba") + " " + path("x.zm3"), 2, "--width", "x.zm3"},
        {"frame decode --width 96 --height 64 " + path("cut.zm3") + " " + path("x.tex"), 1, "not a valid", "x.tex"},
        {"frame decode --width 96 --height 64 " + path("long.zm3") + " " + path("x.tex"), 1,
         "ends 5 bytes before its payload", "x.tex"},
        {"frame decode --width 96 --height 64 --type 0 " + path("good.zm3") + " " + path("x.tex"), 1, "not a valid",
         "x.tex"},
        {"frame decode --width 96 --height 64 " + path("good.zm3") + " /nonexistent-zemo3/x.tex", 2, "cannot write",
         nullptr},
        {"frame bogus", 2, "unknown sub-command", nullptr},
        {"render " + path("missing.mp4") + " -o " + path("r.mov"), 2, "cannot open", "r.mov"},
        {"render --demo --duration 0.1 -o /nonexistent-zemo3/r.mov", 2, "cannot write", nullptr},
        {"render --demo --compression best -o " + path("r.mov"), 2, "unknown compression", "r.mov"},
        {"render --demo --quality good -o " + path("r.mov"), 2, "--quality must be fast or best", "r.mov"},
        {"bench --quality high", 2, "bench: --quality must be fast or best", nullptr},
        {"render --demo", 2, "-o OUT.mov is required", nullptr},
        {"verify " + mov + " --demo --reference " + mov, 2, "not both", nullptr},
        {"verify " + mov + " --size 96x64", 2, "add --demo or --reference", nullptr},
        {"verify " + mov + " --reference " + mov, 2, "verify: ", nullptr},  // a movie no decoder reads
        {"verify " + bad5, 1, "frame 5 does not decode", nullptr},
        {"verify " + damaged("high", atFrame(12, longer)), 1,
         "frame 12 does not decode: its packed texture ends 16 bytes before its payload", nullptr},
        {"verify " + damaged("high", [](int64_t n, AVPacket*) { return n != 10; }), 1, "frame 10 is missing", nullptr},
        {"verify " + damaged("normal", swapped), 1, "packets out of order: packet 7 holds frame 6, after frame 7",
         nullptr},
        {"verify " + zmq4, 1, "tagged 'ZMQ4'", nullptr},
        {"verify " + zmq4 + " --reference " + path("ref.mkv"), 1, "tagged 'ZMQ4'", nullptr, "last frame"},
        {"verify " + damaged("high", atFrame(3, [](AVPacket* p) { std::memcpy(p->data, "5TXD", 4); })), 1,
         "frame 3 does not decode", nullptr},  // DXT5 in a YCG6 movie
        {"verify " + mov + " --demo --duration 1", 1, "the movie is 96x64, the demo composition 1280x720", nullptr},
        {"verify " + mov + demo + " --duration 2", 1, "the movie has 30 frames, the demo composition 60", nullptr},
        {"verify " + mov + demo + " --fps 25", 1, "the movie has 30 frames, the demo composition 25", nullptr},
        {"verify " + mov + demo + " --min-psnr 60", 1, "below the PSNR floor", nullptr},
        {"verify " + path("silent.mov") + demo, 1, "the movie has no sound", nullptr},
        {"decode " + mov, 2, "decode: -o OUT is required", nullptr},
        {"decode " + mov + " -o " + mov, 2, "is the movie being decoded", nullptr},
        {"render " + mov + " -o " + path("./normal.mov"), 2, "is the input being rendered", nullptr},
        {"decode " + mov + " -o " + path("nowhere/f_%03d.png"), 2, "no folder", nullptr},
        {"decode " + mov + " -o " + path("x.mp4"), 2, "cannot carry the pcm_s16le sound", "x.mp4"},
        {"decode " + path("absent.mov") + " -o " + path("x.mkv"), 2, "cannot open", "x.mkv"},
        {"decode " + bad5 + " -o " + path("x.mkv"), 1, "frame 5 does not decode", "x.mkv"},
        {"inspect " + mov + " --demo", 2, "add --sheet", nullptr},
        {"inspect " + mov + " --sheet " + path("s.png") + " --sheet-frames 0", 2, "--sheet-frames must be", "s.png"},
        {"inspect " + mov + " --sheet " + path("s.png") + " --sheet-size 8", 2, "--sheet-size must be", "s.png"},
        {"inspect " + mov + " --beside " + mov, 2, "add --sheet", nullptr},
        {"inspect " + mov + " --sheet " + path("s.png") + " --beside " + path("nothing.mov"), 2, "nothing.mov",
         "s.png"},
        {"bench --types 4", 2, "bench: --types", nullptr},
        {"bench --content nothing", 2, "unknown content", nullptr},
        {"bench extra", 2, "unexpected argument", nullptr},
        {"nonsense", 2, "unknown command", nullptr},
        {"version extra", 2, "unexpected argument 'extra'", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        auto r = zemo3(c.args);
        EXPECT_EQ(r.code, c.code) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(r.err.rfind("zemo3: ", 0), 0u) << r.err;
        EXPECT_EQ(c.code == 2 ? std::count(r.err.begin(), r.err.end(), '\n') : 1, 1) << "one line: " << r.err;
        EXPECT_TRUE(c.args.rfind("verify ", 0) != 0 || c.code != 1 ||
                    r.out.find("verification FAILED") != std::string::npos)
            << r.out;
        if (c.leftover) {
            EXPECT_FALSE(std::filesystem::exists(path(c.leftover)));
            EXPECT_FALSE(std::filesystem::exists(path(std::string(c.leftover) + ".partial")));
        }
        EXPECT_TRUE(!c.unwanted || r.out.find(c.unwanted) == std::string::npos) << r.out;
    }
    EXPECT_EQ(testutil::fnv1a(testutil::readMovie(mov).frames().at(7)), source) << "an output over its input";
}

TEST_F(MovieCommands, VerifyRejectsTruncatedFiles)
{
    const std::string whole = testutil::slurp(movie("normal"));
    for (double keep : {0.0, 0.1, 0.6, 0.99}) {
        SCOPED_TRACE(keep);
        std::ofstream(path("cut.mov"), std::ios::binary) << whole.substr(0, size_t(double(whole.size()) * keep));
        auto r = zemo3("verify " + path("cut.mov") + " --json");
        EXPECT_EQ(r.code, 1) << r.out << r.err;
        EXPECT_NE(r.err.find("zemo3: verify: "), std::string::npos);
        EXPECT_NE(r.out.find("\"ok\": false"), std::string::npos) << r.out;
    }
}

// Every render passes against its demo, at floors 0.3 dB under what these renders measure (docs/verify.md),
// and so does an intact remux: the damaged movies differ from it only in their damage.
TEST_F(MovieCommands, VerifyAcceptsEveryRenderAtItsQualityFloors)
{
    const char* figures[] = {"r", "g", "b", "a", "all", "ssim"};  // the overall PSNR per channel, and SSIM
    struct Floor {
        const char* type;
        double floor[6];
    } floors[] = {
        {"normal", {36.8, 34.5, 38.2, 0, 36.3, 0.955}},
        {"normal-alpha", {36.8, 34.5, 38.2, 47.7, 37.4, 0.965}},
        {"high", {26.2, 36.8, 28.7, 0, 28.8, 0.94}},
        {"high-alpha", {26.2, 36.8, 28.7, 47.7, 30.0, 0.955}},
    };
    for (const Floor& f : floors) {
        SCOPED_TRACE(f.type);
        auto r = zemo3("verify " + movie(f.type) + " --demo --size 96x64 --duration 1 --json");
        ASSERT_EQ(r.code, 0) << r.err;
        for (const char* s : {"\"width\": 96, \"height\": 64, \"frames\": 30,", "\"frameRate\": 30.0000",
                              "\"samples\": 48000}", "\"frame\": 29"})
            EXPECT_NE(r.out.find(s), std::string::npos) << s << " in " << r.out;
        const size_t overall = r.out.find("\"psnr\": {");
        for (size_t k = 0; k < 6; ++k) {
            const std::string key = std::string("\"") + figures[k] + "\": ";
            const std::string value = r.out.substr(r.out.find(key, overall) + key.size(), 8);
            EXPECT_EQ(value.rfind("null", 0) == 0, k == 3 && !f.floor[3]) << key << value;  // alpha only where kept
            EXPECT_GE(std::atof(value.c_str()), f.floor[k]) << key << value;
        }
        EXPECT_EQ(zemo3("verify " + damaged(f.type, [](int64_t, AVPacket*) { return true; })).code, 0);
        if (std::string(f.type) == "normal") {
            r = zemo3("verify " + movie("normal") + " --demo --size 96x64 --duration 1 --per-frame --no-sound");
            EXPECT_EQ(r.code, 0) << r.err;
            EXPECT_NE(r.out.find("30 frames of 96x64 at 30.000 fps"), std::string::npos) << r.out;
            EXPECT_NE(r.out.find("\n       29 "), std::string::npos) << "a line per frame:\n" << r.out;
            EXPECT_EQ(r.out.find("\n       30 "), std::string::npos) << r.out;
        }
    }
    // At 30000/1001 the movie's rate (the module's close fraction of the
    // host's 16.16 value) and the composition's put the end of 5 frames'
    // sound a sample apart: the render cuts it at the movie's, and so does
    // verify's count.
    const std::string ntsc = " --demo --size 96x64 --fps 30000/1001 --duration 0.1669";
    auto r = zemo3("render" + ntsc + " -o " + path("ntsc.mov") + " --module " + ZEMO_MODULE_PATH);
    ASSERT_EQ(r.code, 0) << r.err;
    r = zemo3("verify " + path("ntsc.mov") + ntsc);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("5 frames of 96x64 at 29.970 fps"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("48000 Hz, 8007 samples"), std::string::npos) << r.out;
}

// The best tier through the module: a movie as any other, whose frames come
// closer to the composition than the fast tier's.
TEST_F(MovieCommands, RenderBestComesCloserToTheDemo)
{
    const auto psnr = [&](const std::string& mov) {
        const auto r = zemo3("verify " + mov + " --demo --size 96x64 --duration 1 --json");
        EXPECT_EQ(r.code, 0) << r.err;
        const size_t at = r.out.find("\"all\": ", r.out.find("\"psnr\": {"));
        return at == std::string::npos ? 0.0 : std::atof(r.out.c_str() + at + 7);
    };
    for (const char* type : {"normal", "normal-alpha"}) {
        SCOPED_TRACE(type);
        const std::string out = path(std::string("best-") + type + ".mov");
        auto r = zemo3("render --demo --size 96x64 --duration 1 --quality best --compression " + std::string(type) +
                       " -o " + out + " --module " + ZEMO_MODULE_PATH);
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_NE(r.out.find(" (best), "), std::string::npos) << r.out;
        EXPECT_GT(psnr(out), psnr(movie(type)) + 0.1);
    }
}

// Decoded pictures are the movie's to the byte (any difference falls below a
// 999 dB floor) in the codec the command names, the sound is stored as it
// was, no partial file is left, and render reads them back.
TEST_F(MovieCommands, DecodeWritesLosslessPicturesAndTheSound)
{
    std::filesystem::create_directories(path("seq"));
    for (const char* type : {"normal", "high-alpha"})
        for (const auto& [out, said] :
             {std::pair<std::string, std::string>{"decoded.mkv", " (ffv1 in matroska), sound pcm_s16le copied"},
              {"decoded.mov", " (png in mov), sound pcm_s16le copied"},
              {"seq/f_%03d.png", "30 frames of 96x64 (png in image2)"}}) {
            SCOPED_TRACE(type + (" " + out));
            const bool sequence = out.find('%') != std::string::npos;
            auto r = zemo3("decode " + movie(type) + " -o " + path(out));
            ASSERT_EQ(r.code, 0) << r.err;
            EXPECT_NE(r.out.find(said), std::string::npos) << r.out;
            r = zemo3("verify " + movie(type) + " --reference " + path(out) + " --min-psnr 999" +
                      (sequence ? " --fps 30 --no-sound" : ""));
            EXPECT_EQ(r.code, 0) << r.err;
            if (!sequence) {
                EXPECT_TRUE(testutil::readMovie(path(out)).sound() == testutil::readMovie(movie(type)).sound());
            }
        }
    auto r = zemo3("render " + path("decoded.mkv") + " --compression high -o " + path("again.mov") + " --module " +
                   ZEMO_MODULE_PATH);
    ASSERT_EQ(r.code, 0) << r.err;
    r = zemo3("verify " + path("again.mov") + " --reference " + path("decoded.mkv") + " --min-psnr 26");
    EXPECT_EQ(r.code, 0) << r.err;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir_->path()))
        EXPECT_EQ(entry.path().string().find("partial"), std::string::npos) << entry.path();
}

// A NUT file of rawvideo pictures in `format` (ARGB, RGBA or BGRA: the ARGB
// pictures' bytes in the order `order` names) and 16-bit stereo PCM; with
// soundLast, the sound is stamped after the last picture, so every packet of
// sound lies behind every picture in the file.
bool writeRawMovie(const std::string& out, AVPixelFormat format, const char* order, const std::vector<Bytes>& argb,
                   int w, int h, const std::vector<int16_t>& pcm, bool soundLast)
{
    AVFormatContext* fc = nullptr;
    if (avformat_alloc_output_context2(&fc, nullptr, "nut", out.c_str()) < 0)
        return false;
    AVStream* video = avformat_new_stream(fc, nullptr);
    AVStream* audio = avformat_new_stream(fc, nullptr);
    video->time_base = {1, 30};
    video->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    video->codecpar->codec_id = AV_CODEC_ID_RAWVIDEO;
    video->codecpar->format = format;
    video->codecpar->codec_tag = avcodec_pix_fmt_to_codec_tag(format);
    video->avg_frame_rate = video->r_frame_rate = {30, 1};
    video->codecpar->width = w;
    video->codecpar->height = h;
    audio->time_base = {1, 48000};
    audio->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
    audio->codecpar->codec_id = AV_CODEC_ID_PCM_S16LE;
    audio->codecpar->format = AV_SAMPLE_FMT_S16;
    audio->codecpar->sample_rate = 48000;
    av_channel_layout_default(&audio->codecpar->ch_layout, 2);
    bool ok = avio_open(&fc->pb, out.c_str(), AVIO_FLAG_WRITE) >= 0 && avformat_write_header(fc, nullptr) >= 0;
    const size_t chunk = 1600 * 2;  // one frame's sound
    // Sends a packet of `bytes`, stamped in the stream's own time base.
    auto send = [&](int stream, const uint8_t* bytes, size_t size, int64_t pts, int64_t duration) {
        AVPacket* p = av_packet_alloc();
        ok = ok && av_new_packet(p, int(size)) == 0;
        if (ok)
            std::memcpy(p->data, bytes, size);
        p->stream_index = stream;
        p->pts = p->dts = pts;
        p->duration = duration;
        p->flags = AV_PKT_FLAG_KEY;
        av_packet_rescale_ts(p, stream ? AVRational{1, 48000} : AVRational{1, 30}, fc->streams[stream]->time_base);
        ok = ok && av_interleaved_write_frame(fc, p) >= 0;
        av_packet_free(&p);
    };
    for (size_t n = 0; ok && n < argb.size(); ++n) {
        Bytes picture(argb[n].size());
        for (size_t i = 0; i < picture.size(); ++i)
            picture[i] = argb[n][i / 4 * 4 + size_t(std::string("argb").find(order[i % 4]))];
        send(0, picture.data(), picture.size(), int64_t(n), 1);
        const size_t at = n * chunk, count = at < pcm.size() ? std::min(chunk, pcm.size() - at) : 0;
        if (count)
            send(1, reinterpret_cast<const uint8_t*>(pcm.data() + at), count * 2,
                 int64_t(at / 2) + (soundLast ? int64_t(argb.size()) * 1600 + 48000 : 0), int64_t(count / 2));
    }
    ok = ok && av_write_trailer(fc) >= 0;
    avio_closep(&fc->pb);
    avformat_free_context(fc);
    return ok;
}

// A media file is read and decoded ahead of the render, its pictures handed
// over as they are when they are ARGB already and converted otherwise: every
// layout renders the same frames and the same sound, also when all of the
// sound comes after all of the pictures in the file.
TEST_F(MovieCommands, RenderTakesMediaInAnyLayoutAndInterleaving)
{
    const int w = 64, h = 48, frames = 12;
    std::vector<Bytes> argb(frames, Bytes(size_t(w) * h * 4));
    for (int n = 0; n < frames; ++n)
        for (size_t i = 0; i < argb[size_t(n)].size(); ++i)
            argb[size_t(n)][i] = uint8_t(i % 4 == 0 ? 255 - (i / 4) % 97 : (i * 7 + size_t(n) * 13) ^ (i >> 6));
    std::vector<int16_t> pcm(size_t(frames) * 1600 * 2);
    for (size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = int16_t(int(i * 37 % 20000) - 10000);

    const struct {
        const char* name;
        AVPixelFormat format;
        bool soundLast;
    } sources[] = {{"argb", AV_PIX_FMT_ARGB, false},
                   {"rgba", AV_PIX_FMT_RGBA, false},
                   {"bgra", AV_PIX_FMT_BGRA, false},
                   {"argb-sound-last", AV_PIX_FMT_ARGB, true}};
    for (const char* type : {"normal-alpha", "high"}) {
        std::vector<Bytes> first;
        Bytes firstSound;
        for (const auto& s : sources) {
            SCOPED_TRACE(std::string(type) + " from " + s.name);
            const std::string in = path(std::string("raw-") + s.name + ".nut"), out = path("from-raw.mov");
            ASSERT_TRUE(writeRawMovie(in, s.format, s.name, argb, w, h, pcm, s.soundLast));
            auto r = zemo3("render " + in + " --compression " + type + " -o " + out + " --module " + ZEMO_MODULE_PATH);
            ASSERT_EQ(r.code, 0) << r.err;
            const testutil::Movie movie = testutil::readMovie(out);
            ASSERT_EQ(movie.frames().size(), size_t(frames));
            if (first.empty()) {
                first = movie.frames();
                firstSound = movie.sound();
                ASSERT_EQ(firstSound.size(), pcm.size() * 2);
                EXPECT_EQ(std::memcmp(firstSound.data(), pcm.data(), firstSound.size()), 0);
            } else {
                EXPECT_TRUE(movie.frames() == first);
                EXPECT_TRUE(movie.sound() == firstSound);
            }
        }
    }
}

TEST_F(MovieCommands, InspectListsFramesAndDrawsASheet)
{
    auto r = zemo3("inspect " + movie("high") + " --sheet " + path("sheet.png") +
                   " --sheet-frames 5 --demo --size 96x64 --duration 1");
    ASSERT_EQ(r.code, 0) << r.err;
    size_t rows = 0;
    for (size_t at = 0; (at = r.out.find(" YCG6   4  packed ", at)) != std::string::npos; ++at)
        ++rows;
    EXPECT_EQ(rows, 30u) << r.out;
    EXPECT_NE(r.out.find("30 frames High Quality, No Alpha (type 2)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("sheet: " + path("sheet.png") + ", frames 0 7 14 21 29"), std::string::npos) << r.out;
    // Five cells of two 96x64 pictures side by side, three to a row, 6 pixels apart: 618x146 in the PNG header.
    EXPECT_EQ(testutil::slurp(path("sheet.png")).substr(16, 8), std::string("\0\0\x02\x6a\0\0\0\x92", 8));

    // Beside another movie of the same size, pictures 48 pixels wide: two cells of two, 222x44.
    r = zemo3("inspect " + movie("high") + " --sheet " + path("beside.png") + " --sheet-frames 2 --sheet-size 48" +
              " --beside " + movie("high-alpha"));
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("frames 0 29, and beside '" + movie("high-alpha") + "'"), std::string::npos) << r.out;
    EXPECT_EQ(testutil::slurp(path("beside.png")).substr(16, 8), std::string("\0\0\0\xde\0\0\0\x2c", 8));

    r = zemo3("inspect " + movie("normal") + " --totals");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out.find("packed  "), std::string::npos) << "no per-frame rows with --totals";
    EXPECT_NE(r.out.find("sound: pcm_s16le, 2 channels at 48000 Hz, 48000 samples"), std::string::npos) << r.out;
}

#ifndef _WIN32
// The options dialog comes up on the controlling terminal even when the output goes to a file (script gives
// the command a terminal and types into it); without a terminal the command says so and changes nothing.
TEST(Commands, DialogUsesTheControllingTerminal)
{
    testutil::TempDir dir;
    const std::string options = std::string(ZEMO3_BINARY) + " options --dialog --compression high";
    auto r = testutil::run("(printf 'j\\r' | script -qfec '" + options + " > " + dir.file("out") + "' /dev/null)");
    EXPECT_NE(r.out.find("Zemo 3 Format Options"), std::string::npos) << r.out;
    EXPECT_NE(testutil::slurp(dir.file("out")).find("High Quality, With Alpha"), std::string::npos);
    r = testutil::run("setsid -w " + options);
    EXPECT_NE(r.err.find("no terminal, the dialog cannot be shown"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("High Quality, No Alpha"), std::string::npos) << r.out;
}

// The Win64 build under Wine against this build: renders of the demo and of a clip with sound (the demo decoded
// to FFV1 and PCM) hold the same packets, and a render to a name outside ASCII, written with backslashes as the
// host gives it, lands there. Runs when ZEMO_WIN64_ZEMO3 is the command that runs the Win64 zemo3 (make test-win64).
TEST(Win64, RendersMatchTheLinuxBuildAndTakeAnyName)
{
    const char* windows = std::getenv("ZEMO_WIN64_ZEMO3");
    if (!windows || !*windows)
        GTEST_SKIP() << "no Win64 build to compare with (ZEMO_WIN64_ZEMO3)";
    testutil::TempDir dir;
    ASSERT_EQ(zemo3("render --demo --size 200x120 --duration 1 -o " + dir.file("demo.mov")).code, 0);
    ASSERT_EQ(zemo3("decode " + dir.file("demo.mov") + " -o " + dir.file("clip.mkv")).code, 0);
    for (const auto& [name, args] : {std::pair<std::string, std::string>{"demo",
                                                                         "render --demo --size 640x360 "
                                                                         "--duration 2 --compression 3"},
                                     {"clip", "render " + dir.file("clip.mkv") + " --compression 0"}}) {
        SCOPED_TRACE(name);
        const auto here = zemo3(args + " -o " + dir.file(name + "-linux.mov"));
        const auto there = testutil::run(std::string(windows) + " " + args + " -o " + dir.file(name + "-win64.mov"));
        ASSERT_EQ(here.code, 0) << here.err;
        ASSERT_EQ(there.code, 0) << there.err;
        const testutil::Movie a = testutil::readMovie(dir.file(name + "-linux.mov"));
        const testutil::Movie b = testutil::readMovie(dir.file(name + "-win64.mov"));
        ASSERT_EQ(a.packets.size(), b.packets.size());
        EXPECT_FALSE(a.sound().empty());
        for (size_t i = 0; i < a.packets.size(); ++i) {
            ASSERT_EQ(a.packets[i].stream, b.packets[i].stream) << i;
            ASSERT_EQ(a.packets[i].pts, b.packets[i].pts) << i;
            ASSERT_TRUE(a.packets[i].data == b.packets[i].data) << "packet " << i;
        }
    }
    const std::string name = dir.file(
        "\xc3\x9c"
        "bung \xe2\x80\x93 \xe6\x97\xa5\xe6\x9c\xac.mov");  // Übung – 日本.mov
    std::string backslashed = "Z:" + name;
    std::replace(backslashed.begin(), backslashed.end(), '/', '\\');
    const auto r =
        testutil::run(std::string(windows) + " render --demo --size 64x48 --duration 0.5 -o '" + backslashed + "'");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(testutil::readMovie(name).frames().size(), 15u);
}
#endif

}  // namespace
