// The VLC module's decoding core (vlc/src/frames.h) in-process, on frames of
// movies rendered by the zemo3 command, against `zemo3 decode`'s pictures:
// the part of the module that the sanitizer legs can reach (cvlc cannot load
// an instrumented module).
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "common/movies.h"
#include "codec/zemo3.h"
#include "common/pictures.h"
#include "frames.h"
#include "reader/pictures.h"

namespace {

using testutil::Bytes;

const char* const* const kTypes = testutil::kCompressions;

// An Output over plain buffers (rows padded past the picture, as VLC's are)
// that keeps every picture shown and checks that each one it handed out
// comes back exactly once.
struct Pictures final : zemo3vlc::Output {
    Pictures(int width, int height) : width(width), height(height), stride(size_t(width) * 4 + 36) {}

    struct Picture {
        uint32_t type = 0;
        int64_t stamp = 0;
        Bytes rgba;  // stride bytes a row; cropped once shown
        int returned = 0;
    };

    Target picture(uint32_t type, int64_t stamp) override
    {
        given.push_back(std::make_unique<Picture>(Picture{type, stamp, Bytes(stride * size_t(height), 0xEE), 0}));
        return {given.back().get(), given.back()->rgba.data(), stride};
    }
    void show(void* handle) override
    {
        Picture& p = *static_cast<Picture*>(handle);
        ++p.returned;
        Bytes rows;
        for (int y = 0; y < height; ++y)
            rows.insert(rows.end(), p.rgba.begin() + ptrdiff_t(y * stride),
                        p.rgba.begin() + ptrdiff_t(y * stride + size_t(width) * 4));
        shown.push_back({p.type, p.stamp, rows, 1});
    }
    void release(void* handle) override
    {
        ++static_cast<Picture*>(handle)->returned;
        ++released;
    }
    void damaged(uint64_t number, int64_t, const std::string& why) override { reports.push_back({number, why}); }

    bool everyPictureReturnedOnce() const
    {
        for (const auto& p : given)
            if (p->returned != 1)
                return false;
        return true;
    }

    int width, height;
    size_t stride;
    std::vector<std::unique_ptr<Picture>> given;
    std::vector<Picture> shown;
    size_t released = 0;
    std::vector<std::pair<uint64_t, std::string>> reports;
};

class Frames : public ::testing::Test {
protected:
    struct Clip {
        int width, height;
        std::vector<Bytes> frames[4], decoded[4];
    };

    static void SetUpTestSuite()
    {
        dir_ = new testutil::TempDir;
        // 261 rows: large enough to be rebuilt in bands.
        for (auto [clip, size] : {std::pair{&small_, "99x61"}, {&tall_, "67x261"}}) {
            for (int t = 0; t < 4; ++t) {
                const std::string name = std::string(kTypes[t]) + size, movie = dir_->file(name + ".mov");
                const testutil::Run r = testutil::run(std::string(ZEMO3_BINARY) + " render --demo --no-sound --size " +
                                                      size + " --duration 0.2 --compression " + kTypes[t] + " -o " +
                                                      movie);
                ASSERT_EQ(r.code, 0) << r.err;
                clip->frames[t] = testutil::readMovie(movie).frames();
                ASSERT_EQ(clip->frames[t].size(), 6u);
                std::string why;
                clip->decoded[t] = testutil::referencePictures(movie, *dir_, name, clip->width, clip->height, 6, &why);
                ASSERT_FALSE(clip->decoded[t].empty()) << why;
            }
        }
        foreign_[0] = small_.frames[0][0];
        std::memcpy(foreign_[0].data(), &nox::kTagUVA0, 4);
        for (auto [at, size] : {std::pair{1, "131x77"}, {2, "67x45"}}) {
            const std::string movie = dir_->file(std::string("normal") + size + ".mov");
            const testutil::Run r = testutil::run(std::string(ZEMO3_BINARY) + " render --demo --no-sound --size " +
                                                  size + " --duration 0.1 --compression normal -o " + movie);
            ASSERT_EQ(r.code, 0) << r.err;
            foreign_[at] = testutil::readMovie(movie).frames().at(0);
        }
    }
    static void TearDownTestSuite() { delete dir_; }

    static testutil::TempDir* dir_;
    static Clip small_, tall_;
    // Frames that do not belong in small_'s normal stream: a frame whose
    // tag names a texture with no picture, and frames of a larger (131x77)
    // and a smaller (67x45) picture of the same type.
    static Bytes foreign_[3];
};
testutil::TempDir* Frames::dir_;
Bytes Frames::foreign_[3];
Frames::Clip Frames::small_{99, 61, {}, {}};
Frames::Clip Frames::tall_{67, 261, {}, {}};

// Every type, small and banded, on one thread and on several: the pictures
// of `zemo3 decode`, in order with their stamps, and each format type told.
TEST_F(Frames, EveryTypeMatchesTheCommandsDecode)
{
    for (const Clip* clip : {&small_, &tall_}) {
        for (int t = 0; t < 4; ++t) {
            for (unsigned threads : {1u, 3u}) {
                SCOPED_TRACE(std::string(kTypes[t]) + " " + std::to_string(clip->height) + " rows, " +
                             std::to_string(threads) + " threads");
                Pictures out(clip->width, clip->height);
                {
                    zemo3vlc::Decoder decoder(uint32_t(clip->width), uint32_t(clip->height), threads, out);
                    for (size_t i = 0; i < clip->frames[t].size(); ++i)
                        decoder.decode(clip->frames[t][i].data(), clip->frames[t][i].size(), int64_t(i) * 1000);
                    decoder.drain();
                    EXPECT_EQ(decoder.frames(), 6u);
                    EXPECT_EQ(decoder.damaged(), 0u);
                }
                EXPECT_TRUE(out.reports.empty()) << out.reports[0].second;
                ASSERT_EQ(out.shown.size(), 6u);
                for (size_t i = 0; i < 6; ++i) {
                    EXPECT_EQ(out.shown[i].type, uint32_t(t));
                    EXPECT_EQ(out.shown[i].stamp, int64_t(i) * 1000);
                    EXPECT_TRUE(out.shown[i].rgba == clip->decoded[t][i]) << "frame " << i;
                }
                EXPECT_TRUE(out.everyPictureReturnedOnce());
            }
        }
    }
}

// With more than one thread a picture leaves one frame late: draining hands
// it on, a flush (a seek) or the decoder's end releases it unseen. With one
// thread nothing waits.
TEST_F(Frames, DrainFlushAndEndSettleThePictureInFlight)
{
    const struct {
        unsigned threads;
        const char* steps;  // d: decode the next frame, D: drain, F: flush, then the decoder ends
        size_t shown, released;
    } cases[] = {
        {3, "ddd", 2, 1},  {3, "dddD", 3, 0}, {3, "ddFd", 1, 2}, {3, "dFdD", 1, 1},
        {3, "FDdDD", 1, 0}, {1, "ddd", 3, 0},  {1, "ddFdD", 3, 0},
    };
    const auto& frames = tall_.frames[3];
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.steps) + ", " + std::to_string(c.threads) + " threads");
        Pictures out(tall_.width, tall_.height);
        std::vector<size_t> decodedFrames;
        {
            zemo3vlc::Decoder decoder(uint32_t(tall_.width), uint32_t(tall_.height), c.threads, out);
            size_t next = 0;
            for (const char* s = c.steps; *s; ++s) {
                if (*s == 'd') {
                    decoder.decode(frames[next].data(), frames[next].size(), int64_t(next));
                    ++next;
                } else {
                    *s == 'D' ? decoder.drain() : decoder.flush();
                }
            }
        }
        EXPECT_EQ(out.shown.size(), c.shown);
        EXPECT_EQ(out.released, c.released);
        EXPECT_TRUE(out.everyPictureReturnedOnce());
        for (const auto& p : out.shown)
            EXPECT_TRUE(p.rgba == tall_.decoded[3][size_t(p.stamp)]) << "frame " << p.stamp;
    }
}

// Each damaged frame, and each frame of a picture of another texture size,
// is reported with its number and why, and dropped; the frames around it
// come out unchanged.
TEST_F(Frames, DamagedAndForeignFramesAreReportedAndDropped)
{
    const Bytes& good = small_.frames[0][3];
    Bytes zero = good, longer = good;
    std::memset(zero.data(), 0, 4);
    longer.push_back(0);
    const struct {
        const char* what;
        Bytes frame;
        const char* says;
    } cases[] = {
        {"three bytes", Bytes(good.begin(), good.begin() + 3), "too short for a frame header"},
        {"a zero first word", zero, "starts with a zero word"},
        {"cut in half", Bytes(good.begin(), good.begin() + ptrdiff_t(good.size() / 2)), "header announces"},
        {"one byte more", longer, "header announces"},
        {"a tag of no picture", foreign_[0], "which has no picture"},
        {"a larger picture's", foreign_[1], "larger picture"},
        {"a smaller picture's", foreign_[2], "packed payload is malformed"},
    };
    for (const auto& c : cases) {
        for (unsigned threads : {1u, 3u}) {
            SCOPED_TRACE(std::string(c.what) + ", " + std::to_string(threads) + " threads");
            Pictures out(small_.width, small_.height);
            zemo3vlc::Decoder decoder(uint32_t(small_.width), uint32_t(small_.height), threads, out);
            for (const Bytes* frame : std::initializer_list<const Bytes*>{&small_.frames[0][0], &small_.frames[0][1], &c.frame, &small_.frames[0][2]})
                decoder.decode(frame->data(), frame->size(), int64_t(out.given.size()));
            decoder.drain();
            EXPECT_EQ(decoder.damaged(), 1u);
            ASSERT_EQ(out.reports.size(), 1u);
            EXPECT_EQ(out.reports[0].first, 3u);
            EXPECT_NE(out.reports[0].second.find(c.says), std::string::npos) << out.reports[0].second;
            ASSERT_EQ(out.shown.size(), 3u);
            for (size_t i = 0; i < 3; ++i)
                EXPECT_TRUE(out.shown[i].rgba == small_.decoded[0][i]) << "frame " << i;
            EXPECT_TRUE(out.everyPictureReturnedOnce());
        }
    }
}

}  // namespace
