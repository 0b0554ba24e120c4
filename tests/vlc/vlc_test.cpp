// The zemo3 module in the real VLC: cvlc plays movies of every type rendered
// by the zemo3 command at an odd size, writing each picture it shows as RGBA
// (the yuv video output), to compare with the ones `zemo3 decode` writes. VLC
// exits 0 whether or not it could decode, so only the pictures and the log count.
//
// VLC refuses to run as root: as root, cvlc runs as nobody (setpriv, no
// account needed) in a scratch folder open to it, with a copy of the module,
// so that no part of the build tree's path has to be open to others. A
// sanitizer build's module cannot load into the uninstrumented cvlc (its
// runtime has to come first in the process): there these tests skip.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "common/movies.h"
#include "common/pictures.h"
#include "reader/pictures.h"

namespace {

using testutil::Bytes;

const char* const* const kTypes = testutil::kCompressions;
constexpr int kWidth = 99, kHeight = 61, kFrames = 15;  // half a second at 30 frames/s

// What one cvlc run showed and said.
struct Shown {
    std::vector<int> frames;  // the reference frame each picture shown is (-1: none of them)
    std::string log;

    size_t count(const std::string& text) const
    {
        size_t n = 0;
        for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
            ++n;
        return n;
    }
};

// The pictures in the yuv output's file (a header line, then "FRAME" lines
// each followed by one picture) as reference frames. VLC shows a picture
// again when nothing new comes for a while (a slow machine); the demo
// changes every frame, so a repeat is left out.
std::vector<int> framesShown(const std::string& file, const std::vector<Bytes>& reference)
{
    const std::string data = testutil::slurp(file);
    const size_t bytes = size_t(kWidth) * kHeight * 4;
    std::vector<int> out;
    Bytes last;
    for (size_t at = data.find('\n') + 1; data.compare(at, 6, "FRAME\n") == 0 && data.size() - at - 6 >= bytes;
         at += 6 + bytes) {
        const Bytes picture(data.begin() + ptrdiff_t(at + 6), data.begin() + ptrdiff_t(at + 6 + bytes));
        if (picture == last)
            continue;
        const auto found = std::find(reference.begin(), reference.end(), picture);
        out.push_back(found == reference.end() ? -1 : int(found - reference.begin()));
        last = picture;
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

class Vlc : public testutil::PicturedSuite<kWidth, kHeight, 5> {
protected:
    static void SetUpTestSuite()
    {
        if (std::strlen(ZEMO_SANITIZE))
            return;
        PicturedSuite::SetUpTestSuite();
        namespace fs = std::filesystem;
        fs::permissions(dir_->path(), fs::perms::all);
        fs::create_directory(dir_->file("home"));
        fs::permissions(dir_->file("home"), fs::perms::all);
        fs::create_directory(dir_->file("plugins"));
        fs::copy_file(ZEMO_VLC_PLUGIN, dir_->file("plugins/libzemo3_plugin.so"));
        const testutil::Run r =
            run("test -r " + dir_->file("plugins/libzemo3_plugin.so") + " -a -w " + dir_->file("home"));
        ASSERT_EQ(r.code, 0) << dir_->path() << " is not open to the user cvlc runs as: " << r.err;
    }

    void SetUp() override
    {
        if (std::strlen(ZEMO_SANITIZE))
            GTEST_SKIP() << "the " << ZEMO_SANITIZE << " sanitizer build's module cannot load into cvlc; "
                         << "frames_test and fuzz_vlc_replay drive its decoding core instead";
    }

    // A command line run as a user VLC accepts, in a clean environment.
    static testutil::Run run(const std::string& command)
    {
        const std::string user = geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
        return testutil::run("timeout 60 " + user + "env -i PATH=/usr/bin:/bin LANG=C HOME=" + dir_->file("home") +
                             " TMPDIR=" + dir_->file("home") + " VLC_PLUGIN_PATH=" + dir_->file("plugins") + " " +
                             command);
    }

    // Plays a movie to its end (`options` before it; with `sound`, the sound
    // into home/sound.wav) and tells the pictures shown by the reference frames
    // they match. A run that lost an edge of the `expected` frames is made
    // again, four more times at most: on a loaded machine (three of these
    // suites at once) VLC now and then drops the first picture of a run from
    // the start with sound, frame 0 missing and 1 to 14 shown in order while
    // the decoder restored all 15, and once did so in three runs in a row.
    static Shown play(const std::string& file, const std::string& options, const std::vector<Bytes>& reference,
                      const std::vector<int>& expected, bool sound = false)
    {
        const std::string pictures = dir_->file("home/shown.rgba"), wav = dir_->file("home/sound.wav");
        Shown s;
        for (int attempt = 0; attempt < 5 && (attempt == 0 || lostAtAnEdge(s.frames, expected)); ++attempt) {
            std::filesystem::remove(pictures);
            const testutil::Run r =
                run("cvlc --verbose=2 --play-and-exit --no-video-title-show --no-osd --no-drop-late-frames "
                    "--no-skip-frames --vout=yuv --yuv-chroma=RGBA --yuv-file=" +
                    pictures + " " + (sound ? "--aout=afile --audiofile-wav --audiofile-file=" + wav : "--no-audio") +
                    " " + options + " \"" + file + "\"");
            s = {framesShown(pictures, reference), r.out + r.err};
        }
        return s;
    }
};

// Every frame from the first one shown, in order, byte for byte what `zemo3
// decode` wrote: RGBA where the type keeps alpha, opaque RV32 otherwise (VLC
// turns it into RGBA for the output). One thread decodes in place, more
// overlap one frame's picture with the next frame's texture. A start time is
// a seek: the first picture is the frame shown at that time. Damaged frames
// are each dropped with a warning that gives the picture pipeline's reason
// (tests/reader/pipeline goes through them all); the frames around them play
// unchanged. The sound is VLC's own PCM, sample for sample the movie's.
TEST_F(Vlc, PlaysEveryTypeFromAnyTimeAsTheCommandDecodes)
{
    const std::string damaged = dir_->file("damaged.mov");
    ASSERT_TRUE(testutil::remux(movie(2), damaged, [](int64_t i, AVPacket* p) {
        if (i == 11)
            p->data[0] ^= 0x55;  // an unknown tag, read as an old header
        return testutil::damageThreeFrames(i, p);
    }));
    const struct {
        int type;
        const char *threads, *start;
        int first;
        std::vector<int> bad;  // the frames damaged, in the damaged movie when any
    } cases[] = {{0, "1", "0", 0, {}},    {1, "3", "0", 0, {}},           {2, "1", "0", 0, {}},
                 {3, "3", "0", 0, {}},    {0, "2", "0.1", 3, {}},         {3, "2", "0.31", 9, {}},
                 {1, "2", "0.4", 12, {}}, {2, "2", "0", 0, {2, 5, 6, 11}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(kTypes[c.type]) + ", " + c.threads + " threads from " + c.start + " s" +
                     (c.bad.empty() ? "" : ", damaged"));
        const bool sound = c.type == 3 && c.first == 0;
        const Shown s = play(c.bad.empty() ? movie(c.type) : damaged,
                             std::string("--zemo3-threads=") + c.threads + " --start-time=" + c.start, decoded_[c.type],
                             framesFrom(c.first, c.bad), sound);
        EXPECT_EQ(s.count("using video decoder module \"zemo3\""), 1u) << s.log;
        EXPECT_EQ(s.count(std::string(", ") + c.threads + " threads"), 1u) << s.log;
        EXPECT_EQ(s.count("zemo3 decoder warning: damaged Zemo 3 frame"), c.bad.size()) << s.log;
        for (const int bad : c.bad) {  // with the picture pipeline's reason
            const Bytes frame = testutil::readMovie(damaged).frames().at(size_t(bad));
            std::string why;
            EXPECT_FALSE(nox::FramePictures(kWidth, kHeight).unpack(frame.data(), frame.size(), nullptr, &why));
            EXPECT_EQ(s.count(" skipped: " + why), 1u) << s.log;
        }
        EXPECT_EQ(s.frames, framesFrom(c.first, c.bad)) << s.log;
        if (sound) {
            const testutil::Movie m = testutil::readMovie(movie(c.type));
            ASSERT_EQ(m.streams[1].codecId, AV_CODEC_ID_PCM_S16LE);
            const std::string wav = testutil::slurp(dir_->file("home/sound.wav"));
            ASSERT_GE(wav.size(), 44u);  // the WAV header, then the samples
            EXPECT_TRUE(Bytes(wav.begin() + 44, wav.end()) == m.sound()) << wav.size() << " bytes of WAV";
        }
    }
}

// A movie of another codec (PNG) plays through VLC's own decoders: the
// module claims ZMQ3 tracks only.
TEST_F(Vlc, OtherCodecsAreNotClaimed)
{
    const std::string lossless = dir_->file("lossless.mov");
    ASSERT_EQ(testutil::run(std::string(ZEMO3_BINARY) + " decode " + movie(0) + " -o " + lossless).code, 0);
    const Shown s = play(lossless, "", decoded_[0], {});
    EXPECT_EQ(s.count("using video decoder module \"zemo3\""), 0u);
    EXPECT_EQ(s.count("using video decoder module \"png\""), 1u) << s.log;
    EXPECT_GE(s.frames.size(), size_t(kFrames - 1)) << s.log;
}

}  // namespace
