// The VLC module's decoding core (vlc/src/frames.h) in-process, on frames of
// every type made from encoded textures, against the frame reader's own
// pictures (nox::FramePictures, one thread): the part of the module the
// sanitizer legs reach, since cvlc cannot load an instrumented module.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>

#include "common/textures.h"
#include "frames.h"
#include "reader/pictures.h"

namespace {

using nox::testing::Bytes;

constexpr uint32_t kWidth = 67, kHeight = 261, kFrames = 6;  // tall enough to be rebuilt in bands

// A frame of a picture padded to pw x ph: packed, or raw when `raw` or when
// packing gains nothing.
Bytes frameOf(uint32_t type, uint32_t pw, uint32_t ph, uint32_t seed, bool raw = false)
{
    const Bytes t = nox::testing::makeTexture(type, nox::testing::Content::Smooth, pw, ph, seed);
    const Bytes packed = raw ? Bytes() : nox::testing::packTexture(type, t);
    const bool useRaw = packed.empty() || packed.size() >= t.size();
    return nox::testing::makeFrame(type, useRaw ? t : packed, useRaw ? 1 : 0);
}

// An Output over plain buffers with rows padded past the picture, as VLC's
// are: keeps the pictures shown (cropped) and counts the ones released.
struct Pictures final : zemo3vlc::Output {
    static constexpr size_t kStride = kWidth * 4 + 36;

    Target picture(uint32_t, int64_t) override
    {
        given.emplace_back(kStride * kHeight, 0xEE);
        return {&given.back(), given.back().data(), kStride};
    }
    void show(void* handle) override
    {
        const Bytes& p = *static_cast<Bytes*>(handle);
        Bytes rows;
        for (size_t y = 0; y < kHeight; ++y)
            rows.insert(rows.end(), p.begin() + ptrdiff_t(y * kStride),
                        p.begin() + ptrdiff_t(y * kStride + kWidth * 4));
        shown.push_back(rows);
    }
    void release(void*) override { ++released; }
    void damaged(uint64_t number, int64_t, const std::string& why) override { reports.push_back({number, why}); }

    std::deque<Bytes> given;
    std::vector<Bytes> shown;
    size_t released = 0;
    std::vector<std::pair<uint64_t, std::string>> reports;
};

class Frames : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        for (uint32_t t = 0; t < 4; ++t) {
            nox::FramePictures reference(kWidth, kHeight);
            for (uint32_t i = 0; i < kFrames; ++i) {
                frames_[t].push_back(frameOf(t, nox::padTo16(kWidth), nox::padTo16(kHeight), 7 * t + i, i % 3 == 2));
                std::string why;
                ASSERT_TRUE(reference.decode(frames_[t][i].data(), frames_[t][i].size(), &decoded_[t].emplace_back(),
                                             nullptr, &why))
                    << why;
            }
        }
    }

    static std::vector<Bytes> frames_[4], decoded_[4];
};
std::vector<Bytes> Frames::frames_[4], Frames::decoded_[4];

// Feeds `frames` to a decoder on `threads` threads as `steps` say (d: decode
// the next frame, D: drain, F: flush), then ends it; returns the number of
// frames it counted damaged.
uint64_t play(Pictures& out, unsigned threads, const std::vector<Bytes>& frames, const char* steps)
{
    zemo3vlc::Decoder decoder(kWidth, kHeight, threads, out);
    auto next = frames.begin();
    for (const char* s = steps; *s; ++s) {
        if (*s == 'd') {
            decoder.decode(next->data(), next->size(), 0);
            ++next;
        } else {
            *s == 'D' ? decoder.drain() : decoder.flush();
        }
    }
    return decoder.damaged();
}

// Every type, packed and raw, on one thread and in bands on three: the
// reader's pictures, in order. With more than one thread a picture leaves one
// frame late: draining hands it on, a flush (a seek) or the decoder's end
// releases it unseen. With one thread nothing waits.
TEST_F(Frames, MatchesTheReaderAndSettlesThePictureInFlight)
{
    const struct {
        unsigned threads;
        const char* steps;
        const char* shown;  // the frames shown, in order
        size_t released;
    } cases[] = {{1, "ddddddD", "012345", 0}, {3, "ddddddD", "012345", 0}, {3, "ddd", "01", 1},
                 {3, "dddD", "012", 0},       {3, "ddFd", "0", 2},         {3, "dFdD", "1", 1},
                 {3, "FDdDD", "0", 0},        {1, "ddd", "012", 0},        {1, "ddFdD", "012", 0}};
    for (uint32_t t = 0; t < 4; ++t) {
        for (const auto& c : cases) {
            SCOPED_TRACE("type " + std::to_string(t) + ", " + c.steps + ", " + std::to_string(c.threads) + " threads");
            Pictures out;
            play(out, c.threads, frames_[t], c.steps);
            std::vector<Bytes> want;
            for (const char* i = c.shown; *i; ++i)
                want.push_back(decoded_[t][size_t(*i - '0')]);
            EXPECT_TRUE(out.reports.empty()) << out.reports[0].second;
            EXPECT_TRUE(out.shown == want) << out.shown.size() << " shown";
            EXPECT_EQ(out.released, c.released);
        }
    }
}

// Each damaged frame, and each frame of a picture of another texture size,
// is reported with its number and why, and dropped; the frames around it
// come out unchanged.
TEST_F(Frames, DamagedAndForeignFramesAreReportedAndDropped)
{
    const std::vector<Bytes>& f = frames_[0];
    Bytes zero = f[0], longer = f[0], noPicture = f[0];
    std::memset(zero.data(), 0, 4);
    longer.push_back(0);
    std::memcpy(noPicture.data(), &nox::kTagUVA0, 4);
    const struct {
        Bytes frame;
        const char* says;
    } cases[] = {
        {Bytes(f[0].begin(), f[0].begin() + 3), "too short for a frame header"},
        {zero, "starts with a zero word"},
        {Bytes(f[0].begin(), f[0].begin() + ptrdiff_t(f[0].size() / 2)), "header announces"},
        {longer, "header announces"},
        {noPicture, "which has no picture"},
        {frameOf(0, 96, 288, 1), "(a frame of a larger picture?)"},
        {frameOf(0, 64, 256, 1), "packed payload is malformed"},
        {frameOf(0, 96, 288, 1, true), "raw payload does not match"},
    };
    for (const auto& c : cases) {
        for (unsigned threads : {1u, 3u}) {
            SCOPED_TRACE(std::string(c.says) + ", " + std::to_string(threads) + " threads");
            Pictures out;
            EXPECT_EQ(play(out, threads, {f[0], f[1], c.frame, f[2]}, "ddddD"), 1u);
            ASSERT_EQ(out.reports.size(), 1u);
            EXPECT_EQ(out.reports[0].first, 3u);
            EXPECT_NE(out.reports[0].second.find(c.says), std::string::npos) << out.reports[0].second;
            EXPECT_TRUE(out.shown == std::vector<Bytes>(decoded_[0].begin(), decoded_[0].begin() + 3));
        }
    }
}

}  // namespace
