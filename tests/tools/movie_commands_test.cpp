// zemo3 verify, decode and inspect run as the real binary on small movies
// rendered through the real module (96x64, one second, with sound), and on
// copies damaged while remuxing them with libavformat.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include "codec/zemo3.h"
#include "movie.h"

namespace fs = std::filesystem;

namespace {

struct Outcome {
    int code = -1;
    std::string out, err;
};

std::string slurp(const fs::path& p)
{
    std::ifstream f(p, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

class MovieCommands : public ::testing::Test {
protected:
    static fs::path dir_;
    static const char* kTypes[4];

    static void SetUpTestSuite()
    {
        dir_ = fs::temp_directory_path() / ("zemo3-tools-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        for (const char* type : kTypes) {
            Outcome r = zemo3(std::string("render --demo --size 96x64 --duration 1 --compression ") + type + " -o " +
                          movie(type) + " --module " + ZEMO_MODULE_PATH);
            ASSERT_EQ(r.code, 0) << r.err;
        }
    }
    static void TearDownTestSuite() { fs::remove_all(dir_); }

    static std::string movie(const std::string& type) { return (dir_ / (type + ".mov")).string(); }
    static std::string path(const std::string& name) { return (dir_ / name).string(); }

    static Outcome zemo3(const std::string& args)
    {
        static int serial = 0;
        const fs::path out = dir_ / ("run" + std::to_string(++serial) + ".out");
        const fs::path err = dir_ / ("run" + std::to_string(serial) + ".err");
        const std::string command =
            std::string(ZEMO3_BINARY) + " " + args + " >" + out.string() + " 2>" + err.string();
        Outcome r;
        const int status = std::system(command.c_str());
        r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.out = slurp(out);
        r.err = slurp(err);
        return r;
    }
};

fs::path MovieCommands::dir_;
const char* MovieCommands::kTypes[4] = {"normal", "normal-alpha", "high", "high-alpha"};

// Copies every packet of a movie into a new QuickTime file, letting `damage`
// change or drop packets (return false to drop) and `tag` replace the video
// stream's tag.
bool remux(const std::string& in, const std::string& out,
           const std::function<bool(int64_t videoIndex, AVPacket*)>& damage, uint32_t tag = 0)
{
    av_log_set_level(AV_LOG_FATAL);  // no decoder knows the video tag
    AVFormatContext* input = nullptr;
    if (avformat_open_input(&input, in.c_str(), nullptr, nullptr) < 0)
        return false;
    avformat_find_stream_info(input, nullptr);
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
    AVPacket* p = av_packet_alloc();
    int64_t video = 0;
    while (ok && av_read_frame(input, p) >= 0) {
        const bool isVideo = input->streams[p->stream_index]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO;
        av_packet_rescale_ts(p, input->streams[p->stream_index]->time_base, output->streams[p->stream_index]->time_base);
        p->pos = -1;
        if (!isVideo || damage(video++, p))
            ok = av_write_frame(output, p) >= 0;
        av_packet_unref(p);
    }
    ok = av_write_trailer(output) >= 0 && ok;
    av_packet_free(&p);
    avio_closep(&output->pb);
    avformat_free_context(output);
    avformat_close_input(&input);
    return ok;
}

// The overall figures of a verify --json report: PSNR r, g, b, a, all and SSIM.
struct Figures {
    double r = 0, g = 0, b = 0, a = 0, all = 0, ssim = 0;
};
Figures figures(const std::string& json)
{
    Figures f;
    const size_t at = json.find("\"psnr\": {");
    if (at == std::string::npos)
        return f;
    char alpha[32] = {};
    std::sscanf(json.c_str() + at, "\"psnr\": {\"r\": %lf, \"g\": %lf, \"b\": %lf, \"a\": %31[^,], \"all\": %lf},\n  \"ssim\": %lf",
                &f.r, &f.g, &f.b, alpha, &f.all, &f.ssim);
    f.a = std::string(alpha) == "null" ? 0 : std::atof(alpha);
    return f;
}

TEST_F(MovieCommands, VerifyAcceptsEveryRenderAgainstItsDemo)
{
    for (const char* type : kTypes) {
        Outcome r = zemo3("verify " + movie(type) + " --demo --size 96x64 --duration 1");
        EXPECT_EQ(r.code, 0) << type << ": " << r.err;
        EXPECT_NE(r.out.find("30 frames of 96x64 at 30.000 fps"), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("48000 samples"), std::string::npos) << r.out;
        // An intact remux is still a good movie: the damage cases below differ
        // from it only in their damage.
        ASSERT_TRUE(remux(movie(type), path(std::string("copy-") + type + ".mov"), [](int64_t, AVPacket*) { return true; }));
        r = zemo3("verify " + path(std::string("copy-") + type + ".mov"));
        EXPECT_EQ(r.code, 0) << type << ": " << r.err;
    }
}

TEST_F(MovieCommands, VerifyRejectsDamagedMovies)
{
    // Frame offsets within a packet: 8 is the payload size, 12 the payload.
    struct Case {
        const char* name;
        const char* type;
        std::function<bool(int64_t, AVPacket*)> damage;
        uint32_t tag;
        const char* reason;
    } cases[] = {
        {"payload size off by one", "normal",
         [](int64_t n, AVPacket* p) {
             if (n == 5)
                 p->data[8] ^= 1;
             return true;
         },
         0, "frame 5 does not decode"},
        {"packet cut short", "high-alpha",
         [](int64_t n, AVPacket* p) {
             if (n == 9)
                 p->size -= 7;
             return true;
         },
         0, "frame 9 does not decode"},
        {"packed payload overwritten", "normal-alpha",
         [](int64_t n, AVPacket* p) {
             if (n == 4)
                 std::memset(p->data + 12, 0xFF, size_t(p->size) - 12);
             return true;
         },
         0, "frame 4 does not decode"},
        {"bytes after the packed texture", "high",
         // Header and packet agree; only the payload's own framing tells.
         [](int64_t n, AVPacket* p) {
             if (n == 12) {
                 av_grow_packet(p, 16);
                 p->data[8] = uint8_t(p->data[8] + 16);
                 if (p->data[8] < 16)
                     ++p->data[9];
             }
             return true;
         },
         0, "frame 12 does not decode: its packed texture ends 16 bytes before its payload"},
        {"frame missing", "high",
         [](int64_t n, AVPacket*) { return n != 10; }, 0, "frame 10 is missing"},
        {"frames out of order", "normal",
         // Frames 6 and 7 swap places in the file; decode times stay
         // increasing (one frame earlier throughout, so the swapped pair is
         // still decodable), presentation times follow the frames.
         [](int64_t n, AVPacket* p) {
             const int64_t step = p->duration;
             if (n == 6)
                 p->pts += step;
             else if (n == 7)
                 p->pts -= step;
             p->dts -= step;
             return true;
         },
         0, "packets out of order: packet 7 holds frame 6, after frame 7"},
        {"wrong stream tag", "high", [](int64_t, AVPacket*) { return true; },
         uint32_t('Z') | uint32_t('M') << 8 | uint32_t('Q') << 16 | uint32_t('4') << 24, "tagged 'ZMQ4'"},
        {"wrong frame tag", "high",
         [](int64_t n, AVPacket* p) {
             if (n == 3)
                 std::memcpy(p->data, "5TXD", 4);  // DXT5 in a YCG6 movie
             return true;
         },
         0, "frame 3 does not decode"},
    };
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string damaged = path("damaged" + std::to_string(index++) + ".mov");
        ASSERT_TRUE(remux(movie(c.type), damaged, c.damage, c.tag));
        Outcome r = zemo3("verify " + damaged);
        EXPECT_EQ(r.code, 1) << r.out << r.err;
        EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("zemo3: verify: "), std::string::npos) << r.err;
        EXPECT_NE(r.out.find("verification FAILED"), std::string::npos) << r.out;
    }
}

TEST_F(MovieCommands, VerifyRejectsTruncatedFiles)
{
    const std::string whole = slurp(movie("normal"));
    for (double keep : {0.0, 0.1, 0.6, 0.99}) {
        SCOPED_TRACE(keep);
        const std::string cut = path("cut.mov");
        std::ofstream(cut, std::ios::binary) << whole.substr(0, size_t(double(whole.size()) * keep));
        Outcome r = zemo3("verify " + cut + " --json");
        EXPECT_EQ(r.code, 1) << r.out << r.err;
        EXPECT_NE(r.err.find("zemo3: verify: "), std::string::npos);
        EXPECT_NE(r.out.find("\"ok\": false"), std::string::npos) << r.out;
    }
}

TEST_F(MovieCommands, VerifyComparesWithTheReferenceItWasRenderedFrom)
{
    struct Case {
        std::string args;
        int code;
        const char* reason;
    } cases[] = {
        {"--demo --size 96x64 --duration 1 --per-frame", 0, ""},
        {"--reference " + path("normal.mov"), 2, "zemo3: verify: "},  // a movie no decoder reads
        {"--demo --duration 1", 1, "the movie is 96x64, the demo composition 1280x720"},
        {"--demo --size 96x64 --duration 2", 1, "the movie has 30 frames, the demo composition 60"},
        {"--demo --size 96x64 --duration 1 --fps 25", 1, "the movie has 30 frames, the demo composition 25"},
        {"--demo --size 96x64 --duration 1 --no-sound", 0, ""},
        {"--demo --size 96x64 --duration 1 --min-psnr 60", 1, "below the PSNR floor"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        Outcome r = zemo3("verify " + movie("normal") + " " + c.args);
        EXPECT_EQ(r.code, c.code) << r.err;
        EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
        if (c.args.find("--per-frame") != std::string::npos) {
            EXPECT_NE(r.out.find("\n       29 "), std::string::npos) << "a line per frame:\n" << r.out;
            EXPECT_EQ(r.out.find("\n       30 "), std::string::npos) << r.out;
        }
    }
    // A movie rendered without sound against a reference with it.
    Outcome render = zemo3("render --demo --size 96x64 --duration 1 --no-sound -o " + path("silent.mov") + " --module " +
                       ZEMO_MODULE_PATH);
    ASSERT_EQ(render.code, 0) << render.err;
    Outcome r = zemo3("verify " + path("silent.mov") + " --demo --size 96x64 --duration 1");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("the movie has no sound"), std::string::npos) << r.err;
}

// Measured on the 96x64 one-second demo render (docs/verify.md records them);
// the floors sit 0.3 dB under the measurement so only a real loss trips them.
TEST_F(MovieCommands, DemoRendersReachTheirQualityFloors)
{
    struct Floor {
        const char* type;
        double r, g, b, a, all, ssim;
    } floors[] = {
        {"normal", 36.8, 34.5, 38.2, 0, 36.3, 0.955},
        {"normal-alpha", 36.8, 34.5, 38.2, 47.7, 37.4, 0.965},
        {"high", 26.2, 36.8, 28.7, 0, 28.8, 0.94},
        {"high-alpha", 26.2, 36.8, 28.7, 47.7, 30.0, 0.955},
    };
    for (const Floor& f : floors) {
        SCOPED_TRACE(f.type);
        Outcome r = zemo3("verify " + movie(f.type) + " --demo --size 96x64 --duration 1 --json");
        ASSERT_EQ(r.code, 0) << r.err;
        Figures got = figures(r.out);
        EXPECT_GE(got.r, f.r);
        EXPECT_GE(got.g, f.g);
        EXPECT_GE(got.b, f.b);
        EXPECT_GE(got.all, f.all);
        EXPECT_GE(got.ssim, f.ssim);
        if (f.a > 0)
            EXPECT_GE(got.a, f.a);
        else
            EXPECT_NE(r.out.find("\"a\": null, \"all\""), std::string::npos) << "alpha reported for a type without it";
        EXPECT_NE(r.out.find("\"frame\": 29"), std::string::npos) << "a figure per frame";
    }
}

// A smooth clip (soft gradients, no hard saturated edges) written with FFV1.
void writeSmoothClip(const std::string& file, int w, int h, int frames)
{
    AVFormatContext* out = nullptr;
    avformat_alloc_output_context2(&out, nullptr, nullptr, file.c_str());
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_FFV1);
    AVCodecContext* enc = avcodec_alloc_context3(codec);
    enc->width = w;
    enc->height = h;
    enc->pix_fmt = AV_PIX_FMT_BGR0;
    enc->time_base = {1, 30};
    ASSERT_GE(avcodec_open2(enc, codec, nullptr), 0);
    AVStream* st = avformat_new_stream(out, nullptr);
    avcodec_parameters_from_context(st->codecpar, enc);
    st->time_base = enc->time_base;
    ASSERT_GE(avio_open(&out->pb, file.c_str(), AVIO_FLAG_WRITE), 0);
    ASSERT_GE(avformat_write_header(out, nullptr), 0);
    AVFrame* frame = av_frame_alloc();
    frame->format = enc->pix_fmt;
    frame->width = w;
    frame->height = h;
    av_frame_get_buffer(frame, 0);
    AVPacket* p = av_packet_alloc();
    for (int n = 0; n <= frames; ++n) {
        if (n < frames) {
            av_frame_make_writable(frame);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    uint8_t* px = frame->data[0] + y * frame->linesize[0] + x * 4;
                    const double t = n * 0.1;
                    px[2] = uint8_t(128 + 100 * std::sin(x * 0.05 + t));          // R
                    px[1] = uint8_t(128 + 100 * std::cos(y * 0.07 - t));          // G
                    px[0] = uint8_t(128 + 90 * std::sin((x + y) * 0.03 + 2 * t));  // B
                }
            frame->pts = n;
        }
        avcodec_send_frame(enc, n < frames ? frame : nullptr);
        while (avcodec_receive_packet(enc, p) == 0) {
            av_packet_rescale_ts(p, enc->time_base, st->time_base);
            p->stream_index = 0;
            av_interleaved_write_frame(out, p);
        }
    }
    av_write_trailer(out);
    av_packet_free(&p);
    av_frame_free(&frame);
    avcodec_free_context(&enc);
    avio_closep(&out->pb);
    avformat_free_context(out);
}

TEST_F(MovieCommands, HighQualityBeatsNormalOnSmoothContent)
{
    const std::string clip = path("smooth.mkv");
    writeSmoothClip(clip, 96, 64, 20);
    double psnr[4] = {}, ssim[4] = {};
    for (int t = 0; t < 4; ++t) {
        const std::string out = path(std::string("smooth-") + kTypes[t] + ".mov");
        Outcome r = zemo3("render " + clip + " --compression " + kTypes[t] + " -o " + out + " --module " + ZEMO_MODULE_PATH);
        ASSERT_EQ(r.code, 0) << r.err;
        r = zemo3("verify " + out + " --reference " + clip + " --json");
        ASSERT_EQ(r.code, 0) << r.err;
        Figures f = figures(r.out);
        psnr[t] = f.all;
        ssim[t] = f.ssim;
    }
    EXPECT_GT(psnr[2], psnr[0] + 1.0);
    EXPECT_GT(ssim[2], ssim[0]);
    EXPECT_GT(psnr[3], psnr[1] + 1.0);
}

// Reads a lossless video back: its RGBA pictures and the bytes of its sound.
struct ReadBack {
    std::string codec;
    std::vector<std::vector<uint8_t>> pictures;
    std::string sound;
    int channels = 0;
};
ReadBack readBack(const std::string& file)
{
    ReadBack b;
    AVFormatContext* in = nullptr;
    if (avformat_open_input(&in, file.c_str(), nullptr, nullptr) < 0)
        return b;
    avformat_find_stream_info(in, nullptr);
    const int v = av_find_best_stream(in, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const int a = av_find_best_stream(in, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    const AVCodecParameters* par = in->streams[v]->codecpar;
    b.codec = avcodec_get_name(par->codec_id);
    if (a >= 0)
        b.channels = in->streams[a]->codecpar->ch_layout.nb_channels;
    const AVCodec* codec = avcodec_find_decoder(par->codec_id);
    AVCodecContext* dec = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(dec, par);
    avcodec_open2(dec, codec, nullptr);
    AVPacket* p = av_packet_alloc();
    AVFrame* f = av_frame_alloc();
    auto drain = [&] {
        while (avcodec_receive_frame(dec, f) == 0) {
            std::vector<uint8_t> rgba(size_t(f->width) * f->height * 4);
            SwsContext* sws = sws_getContext(f->width, f->height, AVPixelFormat(f->format), f->width, f->height,
                                             AV_PIX_FMT_RGBA, SWS_POINT, nullptr, nullptr, nullptr);
            uint8_t* dst[1] = {rgba.data()};
            const int stride[1] = {f->width * 4};
            sws_scale(sws, f->data, f->linesize, 0, f->height, dst, stride);
            sws_freeContext(sws);
            b.pictures.push_back(std::move(rgba));
        }
    };
    while (av_read_frame(in, p) >= 0) {
        if (p->stream_index == v) {
            avcodec_send_packet(dec, p);
            drain();
        } else if (p->stream_index == a) {
            b.sound.append(reinterpret_cast<const char*>(p->data), size_t(p->size));
        }
        av_packet_unref(p);
    }
    avcodec_send_packet(dec, nullptr);
    drain();
    av_frame_free(&f);
    av_packet_free(&p);
    avcodec_free_context(&dec);
    avformat_close_input(&in);
    return b;
}

// The pictures and sound of a Zemo 3 movie, decoded with the project's reader.
ReadBack original(const std::string& file)
{
    ReadBack b;
    zemo3::MovieReader reader;
    std::string error;
    EXPECT_TRUE(reader.open(file, &error)) << error;
    zemo3::FramePictures pictures(reader.info().width, reader.info().height);
    zemo3::MoviePacket p;
    std::vector<uint8_t> rgba;
    while (reader.next(&p)) {
        if (p.kind == zemo3::MoviePacket::VIDEO) {
            std::string why;
            EXPECT_TRUE(pictures.decode(p.data, p.size, &rgba, nullptr, &why)) << why;
            b.pictures.push_back(rgba);
        } else if (p.kind == zemo3::MoviePacket::AUDIO) {
            b.sound.append(reinterpret_cast<const char*>(p.data), p.size);
        }
    }
    return b;
}

TEST_F(MovieCommands, DecodeWritesALosslessVideoWithTheSound)
{
    for (const char* type : {"normal", "high-alpha"}) {
        for (const char* ext : {".mkv", ".mov"}) {
            SCOPED_TRACE(std::string(type) + ext);
            const std::string out = path(std::string("decoded-") + type + ext);
            Outcome r = zemo3("decode " + movie(type) + " -o " + out);
            ASSERT_EQ(r.code, 0) << r.err;
            ReadBack got = readBack(out), want = original(movie(type));
            EXPECT_EQ(got.codec, std::string(ext) == ".mkv" ? "ffv1" : "png");
            ASSERT_EQ(got.pictures.size(), 30u);
            ASSERT_EQ(want.pictures.size(), 30u);
            for (size_t i = 0; i < 30; ++i)
                ASSERT_EQ(got.pictures[i], want.pictures[i]) << "frame " << i << " changed on the way";
            EXPECT_EQ(got.channels, 2);
            EXPECT_EQ(got.sound.size(), 48000u * 4);
            EXPECT_TRUE(got.sound == want.sound);
        }
    }
}

TEST_F(MovieCommands, DecodeWritesAPictureSequence)
{
    fs::create_directories(dir_ / "seq");
    Outcome r = zemo3("decode " + movie("normal-alpha") + " -o " + path("seq/f_%03d.png"));
    ASSERT_EQ(r.code, 0) << r.err;
    ReadBack want = original(movie("normal-alpha"));
    for (int n : {0, 17, 29}) {
        char name[32];
        std::snprintf(name, sizeof name, "seq/f_%03d.png", n);
        ReadBack got = readBack(path(name));
        ASSERT_EQ(got.pictures.size(), 1u) << name;
        EXPECT_EQ(got.pictures[0], want.pictures[size_t(n)]) << name;
    }
    EXPECT_FALSE(fs::exists(dir_ / "seq/f_030.png"));
}

TEST_F(MovieCommands, CommandsRefuseBadInput)
{
    const std::string mov = movie("normal");
    struct Case {
        std::string args;
        int code;
        const char* message;
    } cases[] = {
        {"verify", 2, "zemo3: verify: expected one MOVIE"},
        {"verify " + path("absent.mov"), 2, "zemo3: verify: cannot open"},
        {"verify " + mov + " --demo --reference " + mov, 2, "not both"},
        {"verify " + mov + " --size 96x64", 2, "add --demo or --reference"},
        {"verify " + mov + " --demo --fps fast", 2, "--fps must be"},
        {"verify " + mov + " --bogus", 2, "unknown option"},
        {"decode " + mov, 2, "zemo3: decode: -o OUT is required"},
        {"decode " + mov + " -o " + path("nowhere/f_%03d.png"), 2, "no folder"},
        {"decode " + mov + " -o " + path("x.mp4"), 2, "cannot carry the pcm_s16le sound"},
        {"decode " + path("absent.mov") + " -o " + path("x.mkv"), 2, "cannot open"},
        {"decode " + path("bad5.mov") + " -o " + path("x.mkv"), 1, "frame 5 does not decode"},
        {"inspect " + mov + " --demo", 2, "add --sheet"},
        {"inspect " + mov + " --sheet " + path("s.png") + " --sheet-frames 0", 2, "--sheet-frames must be"},
    };
    ASSERT_TRUE(remux(mov, path("bad5.mov"), [](int64_t n, AVPacket* p) {
        if (n == 5)
            p->data[8] ^= 1;
        return true;
    }));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        Outcome r = zemo3(c.args);
        EXPECT_EQ(r.code, c.code) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
    EXPECT_FALSE(fs::exists(dir_ / "x.mkv")) << "a failed decode leaves no file";
    EXPECT_FALSE(fs::exists(dir_ / "x.mkv.partial"));
    for (const char* command : {"verify", "decode", "inspect"}) {
        Outcome r = zemo3(std::string(command) + " --help");
        EXPECT_EQ(r.code, 0);
        EXPECT_EQ(r.out.rfind(std::string("usage: zemo3 ") + command, 0), 0u) << r.out;
    }
}

TEST_F(MovieCommands, InspectListsFramesAndDrawsASheet)
{
    Outcome r = zemo3("inspect " + movie("high") + " --sheet " + path("sheet.png") +
                  " --sheet-frames 5 --demo --size 96x64 --duration 1");
    ASSERT_EQ(r.code, 0) << r.err;
    size_t rows = 0;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);)
        rows += line.find(" YCG6   4  packed ") != std::string::npos;
    EXPECT_EQ(rows, 30u) << r.out;
    EXPECT_NE(r.out.find("30 frames High Quality, No Alpha (type 2)"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("sheet: " + path("sheet.png") + ", frames 0 7 14 21 29"), std::string::npos) << r.out;
    // Five cells of two 96x64 pictures side by side, three to a row.
    ReadBack sheet = readBack(path("sheet.png"));
    ASSERT_EQ(sheet.pictures.size(), 1u);
    EXPECT_EQ(sheet.pictures[0].size(), size_t(6 + 3 * (2 * 96 + 6 + 6)) * (6 + 2 * (64 + 6)) * 4);

    r = zemo3("inspect " + movie("normal") + " --totals");
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out.find("packed  "), std::string::npos) << "no per-frame rows with --totals";
    EXPECT_NE(r.out.find("sound: pcm_s16le, 2 channels at 48000 Hz, 48000 samples"), std::string::npos) << r.out;
}

}  // namespace
