// The zemo3 module in the real VLC: cvlc plays movies of every type rendered
// by the zemo3 command at an odd size, writing each picture it shows as RGBA
// (the yuv video output), and those pictures are compared with the ones
// `zemo3 decode` writes for the same movies. VLC exits 0 whether or not it
// could decode, so only the pictures and the log count.
//
// VLC refuses to run as root: as root, cvlc runs as nobody (setpriv, no
// account needed) in a scratch folder open to it, with a copy of the module,
// so that no part of the build tree's path has to be open to others.
//
// A sanitizer build's module cannot load into the uninstrumented cvlc (its
// runtime has to come first in the process): there these tests skip, and
// frames_test.cpp and the fuzz target's replay drive the same decoding core
// in-process under the sanitizers instead.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "common/movies.h"
#include "common/pictures.h"

namespace {

using testutil::Bytes;

const char* const* const kTypes = testutil::kCompressions;
constexpr int kWidth = 99, kHeight = 61, kFrames = 15;  // half a second at 30 frames/s

// What one cvlc run showed and said.
struct Shown {
    std::vector<Bytes> pictures;
    std::vector<int> frames;  // which reference frame each picture is (-1: none)
    std::string log;
    Bytes sound;  // the samples of the WAV file, when asked for

    // Lines of the log that hold `text`.
    size_t count(const std::string& text) const
    {
        size_t n = 0;
        for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
            ++n;
        return n;
    }
};

// The pictures of the yuv output's file: a header line, then "FRAME" lines
// each followed by one picture. VLC shows a picture again when nothing new
// comes for a while (a slow machine); the demo changes every frame, so a
// repeat is dropped here.
std::vector<Bytes> readShown(const std::string& file)
{
    const std::string data = testutil::slurp(file);
    const size_t bytes = size_t(kWidth) * kHeight * 4;
    std::vector<Bytes> out;
    size_t at = data.find('\n');
    while (at != std::string::npos && data.compare(at + 1, 5, "FRAME") == 0) {
        at = data.find('\n', at + 1);
        if (at == std::string::npos || data.size() - at - 1 < bytes)
            break;
        const auto* p = reinterpret_cast<const uint8_t*>(data.data()) + at + 1;
        Bytes picture(p, p + bytes);
        if (out.empty() || picture != out.back())
            out.push_back(std::move(picture));
        at += bytes;
    }
    return out;
}

// Which reference frame each picture is (-1: none of them).
std::vector<int> framesOf(const std::vector<Bytes>& pictures, const std::vector<Bytes>& reference)
{
    std::vector<int> out;
    for (const Bytes& p : pictures) {
        const auto at = std::find(reference.begin(), reference.end(), p);
        out.push_back(at == reference.end() ? -1 : int(at - reference.begin()));
    }
    return out;
}

// first, first + 1, ... up to the last frame, but for those in `left`.
std::vector<int> framesFrom(int first, const std::vector<int>& left = {})
{
    std::vector<int> out;
    for (int i = first; i < kFrames; ++i)
        if (std::find(left.begin(), left.end(), i) == left.end())
            out.push_back(i);
    return out;
}

// True when `got` is `want` but for its first or its last frame or both:
// what VLC 3 itself leaves out now and then, depending on timing. After a
// seek its output drops a picture that came in before the seek's flush
// reached it; at the end the input stops once the output has taken the last
// picture in, which may be before it is shown.
bool lostAtAnEdge(const std::vector<int>& got, const std::vector<int>& want)
{
    for (size_t first : {0, 1})
        for (size_t last : {0, 1})
            if (first + last > 0 && want.size() >= first + last && got.size() == want.size() - first - last &&
                std::equal(got.begin(), got.end(), want.begin() + ptrdiff_t(first)))
                return true;
    return false;
}

// The samples of a WAV file written by VLC's afile output (a 44-byte header).
Bytes readWav(const std::string& file)
{
    const std::string data = testutil::slurp(file);
    return data.size() < 44 ? Bytes{} : Bytes(data.begin() + 44, data.end());
}

class Vlc : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (std::strlen(ZEMO_SANITIZE))
            return;
        dir_ = new testutil::TempDir;
        namespace fs = std::filesystem;
        fs::permissions(dir_->path(), fs::perms::all);
        fs::create_directory(dir_->file("plugins"));
        fs::create_directory(dir_->file("home"));
        fs::permissions(dir_->file("home"), fs::perms::all);
        fs::copy_file(ZEMO_VLC_PLUGIN, dir_->file("plugins/libzemo3_plugin.so"));
        for (int t = 0; t < 4; ++t) {
            const testutil::Run r = render(kTypes[t], "99x61", movie(t), true);
            ASSERT_EQ(r.code, 0) << r.err;
            std::string why;
            decoded_[t] = testutil::referencePictures(movie(t), *dir_, kTypes[t], kWidth, kHeight, kFrames, &why);
            ASSERT_FALSE(decoded_[t].empty()) << why;
        }
        const testutil::Run r = run("test -r " + dir_->file("plugins/libzemo3_plugin.so") + " -a -w " + dir_->file("home"));
        ASSERT_EQ(r.code, 0) << "the scratch folder " << dir_->path() << " is not open to the user VLC runs as: "
                             << r.err;
    }
    static void TearDownTestSuite() { delete dir_; }

    void SetUp() override
    {
        if (std::strlen(ZEMO_SANITIZE))
            GTEST_SKIP() << "a " << ZEMO_SANITIZE
                         << " sanitizer build's module cannot load into cvlc; frames_test and fuzz_vlc_replay cover "
                            "its decoding core";
    }

    static std::string movie(int type) { return dir_->file(std::string(kTypes[type]) + ".mov"); }

    // Half a second of the demo, rendered by this build's zemo3.
    static testutil::Run render(const std::string& compression, const std::string& size, const std::string& out,
                                bool sound)
    {
        return testutil::run(std::string(ZEMO3_BINARY) + " render --demo --duration 0.5 --size " + size +
                             " --compression " + compression + " -o " + out + (sound ? "" : " --no-sound"));
    }

    // A command line run as a user VLC accepts, with a clean environment.
    static testutil::Run run(const std::string& command)
    {
        const std::string user = geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
        return testutil::run("timeout 60 " + user + "env -i PATH=/usr/bin:/bin LANG=C HOME=" + dir_->file("home") +
                             " TMPDIR=" + dir_->file("home") + " VLC_PLUGIN_PATH=" + dir_->file("plugins") + " " +
                             command);
    }

    // Plays a movie to its end with cvlc, every picture shown kept and, with
    // `sound`, the sound written to a WAV file; `options` go before the movie.
    static Shown play(const std::string& file, const std::string& options = "", bool sound = false)
    {
        const std::string pictures = dir_->file("home/shown.rgba"), wav = dir_->file("home/sound.wav");
        std::filesystem::remove(pictures);
        std::filesystem::remove(wav);
        const std::string audio = sound ? "--aout=afile --audiofile-wav --audiofile-file=" + wav : "--no-audio";
        const testutil::Run r =
            run("cvlc --verbose=2 --play-and-exit --no-video-title-show --no-osd --no-drop-late-frames "
                "--no-skip-frames --vout=yuv --yuv-chroma=RGBA --yuv-file=" + pictures + " " + audio + " " + options +
                " \"" + file + "\"");
        return {readShown(pictures), {}, r.out + r.err, sound ? readWav(wav) : Bytes{}};
    }

    // play(), the pictures told apart by the reference frames they match,
    // once more (twice at most) when VLC lost an edge of the expected frames.
    static Shown playFrames(const std::string& file, const std::string& options, const std::vector<Bytes>& reference,
                            const std::vector<int>& expected, bool sound = false)
    {
        Shown s;
        for (int attempt = 0; attempt < 3; ++attempt) {
            s = play(file, options, sound);
            s.frames = framesOf(s.pictures, reference);
            if (!lostAtAnEdge(s.frames, expected))
                break;
        }
        return s;
    }

    static testutil::TempDir* dir_;
    static std::vector<Bytes> decoded_[4];
};
testutil::TempDir* Vlc::dir_;
std::vector<Bytes> Vlc::decoded_[4];

// Every frame, in order, byte for byte what `zemo3 decode` wrote: RGBA where
// the type keeps alpha, opaque RV32 otherwise (VLC turns it into RGBA for
// the output). One thread decodes in place, more overlap one frame's
// picture with the next frame's texture. The sound is VLC's own PCM, sample
// for sample the movie's.
TEST_F(Vlc, EveryTypeMatchesTheCommandsDecode)
{
    for (int t = 0; t < 4; ++t) {
        const std::string threads = t % 2 ? "3" : "1";
        SCOPED_TRACE(std::string(kTypes[t]) + ", " + threads + " threads");
        const Shown s = playFrames(movie(t), "--zemo3-threads=" + threads, decoded_[t], framesFrom(0), t == 3);
        EXPECT_EQ(s.count("using video decoder module \"zemo3\""), 1u) << s.log;
        EXPECT_EQ(s.count("damaged Zemo 3 frame"), 0u) << s.log;
        EXPECT_EQ(s.count(", " + threads + " threads"), 1u) << s.log;
        EXPECT_EQ(s.frames, framesFrom(0)) << s.log;
        if (t == 3) {
            const testutil::Movie m = testutil::readMovie(movie(t));
            ASSERT_EQ(m.streams[1].codecId, AV_CODEC_ID_PCM_S16LE);
            EXPECT_TRUE(s.sound == m.sound()) << s.sound.size() << " bytes of sound, " << m.sound().size()
                                              << " in the movie";
        }
    }
}

// A start time is a seek: the first picture is the frame shown at that
// time, and the frames after it follow.
TEST_F(Vlc, SeekLandsOnTheFrame)
{
    const struct {
        int type;
        const char* time;
        int frame;
    } cases[] = {{0, "0.1", 3}, {3, "0.31", 9}, {1, "0.4", 12}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(kTypes[c.type]) + " from " + c.time + " s");
        const Shown s = playFrames(movie(c.type), std::string("--start-time=") + c.time, decoded_[c.type],
                                   framesFrom(c.frame));
        EXPECT_EQ(s.frames, framesFrom(c.frame)) << s.log;
    }
}

// Damaged frames, and a frame of a larger picture, are each dropped with a
// warning in VLC's log; the frames around them play unchanged to the end.
TEST_F(Vlc, DamagedFramesAreDroppedAndLogged)
{
    const std::string larger = dir_->file("larger.mov"), damaged = dir_->file("damaged.mov");
    ASSERT_EQ(render("normal", "131x77", larger, false).code, 0);
    const testutil::Bytes foreign = testutil::readMovie(larger).frames().at(8);
    ASSERT_TRUE(testutil::remux(movie(0), damaged, [&](int64_t i, AVPacket* p) {
        if (i == 2)
            p->size /= 2;  // shorter than its header says
        if (i == 5)
            std::memset(p->data, 0, 4);  // a zero first word
        if (i == 6)
            p->size = 3;  // not even a header
        if (i == 8) {
            const int grow = int(foreign.size()) - p->size;
            if (grow > 0)
                av_grow_packet(p, grow);
            else
                av_shrink_packet(p, int(foreign.size()));
            std::memcpy(p->data, foreign.data(), foreign.size());
        }
        if (i == 11)
            p->data[0] ^= 0x55;  // an unknown tag, read as an old header
        return true;
    }));
    const std::vector<int> bad = {2, 5, 6, 8, 11};
    const Shown s = playFrames(damaged, "", decoded_[0], framesFrom(0, bad));
    EXPECT_EQ(s.count("damaged Zemo 3 frame"), bad.size()) << s.log;
    EXPECT_EQ(s.count("bytes before its payload (a frame of a larger picture?)"), 1u) << s.log;
    EXPECT_EQ(s.frames, framesFrom(0, bad)) << s.log;
}

// The module claims ZMQ3 tracks only: a movie of another codec (PNG) plays
// through VLC's own decoders, and our frames under another code are left
// alone.
TEST_F(Vlc, OtherCodecsAreNotClaimed)
{
    const std::string lossless = dir_->file("lossless.mov"), retagged = dir_->file("retagged.mov");
    ASSERT_EQ(testutil::run(std::string(ZEMO3_BINARY) + " decode " + movie(0) + " -o " + lossless).code, 0);
    ASSERT_TRUE(testutil::remux(movie(0), retagged, [](int64_t, AVPacket*) { return true; },
                                MKTAG('Z', 'M', 'Q', '4')));
    const Shown other = play(lossless);
    EXPECT_EQ(other.count("using video decoder module \"zemo3\""), 0u);
    EXPECT_EQ(other.count("using video decoder module"), 1u) << other.log;
    EXPECT_GE(other.pictures.size(), size_t(kFrames - 1)) << other.log;

    const Shown unknown = play(retagged);
    EXPECT_EQ(unknown.count("using video decoder module"), 0u) << unknown.log;
    EXPECT_GE(unknown.count("ZMQ4"), 1u) << unknown.log;
    EXPECT_TRUE(unknown.pictures.empty());
}

}  // namespace
