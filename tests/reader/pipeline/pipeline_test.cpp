// The picture pipeline (reader/pictures.h) in-process, as the VLC module and
// the GStreamer element drive it: frames of every type made from encoded
// textures against the pictures of FramePictures on one thread, the picture
// in flight settled by drain, flush and the pipeline's end, and the refusals
// of the table every player shares (common/refusals.h).
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>

#include "common/refusals.h"
#include "reader/pictures.h"

namespace {

using nox::testing::Bytes;
using nox::testing::frameOf;

constexpr uint32_t kWidth = 67, kHeight = 261, kFrames = 6;  // tall enough to be rebuilt in bands

// A sink over plain buffers with rows padded past the picture, as players'
// are: keeps the pictures shown (cropped) and counts the ones released.
struct Pictures final : nox::PictureSink {
    static constexpr size_t kStride = kWidth * 4 + 36;

    Target picture(uint32_t, int64_t) override
    {
        given.emplace_back(kStride * kHeight, 0xEE);
        return {&given.back(), given.back().data(), kStride};
    }
    void show(void* handle) override
    {
        const uint8_t* p = static_cast<Bytes*>(handle)->data();
        Bytes& rows = shown.emplace_back();
        for (const uint8_t* row = p; row < p + kStride * kHeight; row += kStride) {
            rows.insert(rows.end(), row, row + kWidth * 4);
            padding &= std::all_of(row + kWidth * 4, row + kStride, [](uint8_t v) { return v == 0xEE; });
        }
    }
    void release(void*) override { ++released; }
    void refused(uint64_t number, int64_t, const std::string& why, void* handle) override
    {
        reports.push_back({number, why});
        released += handle != nullptr;
    }

    std::deque<Bytes> given;
    std::vector<Bytes> shown;
    size_t released = 0;
    bool padding = true;  // no byte beside a row's picture written
    std::vector<std::pair<uint64_t, std::string>> reports;
};

class Pipeline : public ::testing::Test {
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
std::vector<Bytes> Pipeline::frames_[4], Pipeline::decoded_[4];

// Feeds `frames` to a pipeline on `threads` threads as `steps` say (d: push
// the next frame, D: drain, F: flush), then ends it; returns the number of
// frames it refused.
uint64_t play(Pictures& out, unsigned threads, const std::vector<Bytes>& frames, const char* steps)
{
    nox::PicturePipeline pipeline(kWidth, kHeight, threads, out);
    auto next = frames.begin();
    for (const char* s = steps; *s; ++s) {
        if (*s == 'd') {
            pipeline.push(next->data(), next->size(), 0);
            ++next;
        } else {
            *s == 'D' ? pipeline.drain() : pipeline.flush();
        }
    }
    return pipeline.refusals();
}

// Every type, packed and raw, on one thread and in bands on two, three and
// nine (a height no multiple of 8): the reader's pictures, in order, nothing
// written beside them. With more than one thread a picture leaves one frame
// late: draining hands it on, a flush (a seek) or the pipeline's end
// releases it unseen. With one thread nothing waits.
TEST_F(Pipeline, MatchesTheReaderAndSettlesThePictureInFlight)
{
    const struct {
        unsigned threads;
        const char* steps;
        const char* shown;  // the frames shown, in order
        size_t released;
    } cases[] = {{1, "ddddddD", "012345", 0}, {2, "ddddddD", "012345", 0}, {9, "ddddddD", "012345", 0},
                 {3, "ddddddD", "012345", 0}, {3, "ddd", "01", 1},         {3, "dddD", "012", 0},
                 {3, "ddFd", "0", 2},         {3, "dFdD", "1", 1},         {3, "FDdDD", "0", 0},
                 {1, "ddd", "012", 0},        {1, "ddFdD", "012", 0}};
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
            EXPECT_TRUE(out.padding);
        }
    }
}

// Each refused frame is reported with its number and the reason
// FramePictures gives, on one thread and on three, and dropped; the frames
// around it come out unchanged.
TEST_F(Pipeline, RefusesAsFramePicturesDoes)
{
    const std::vector<Bytes>& f = frames_[0];
    for (const auto& c : nox::testing::refusedFrames(kWidth, kHeight)) {
        std::string why;
        ASSERT_FALSE(nox::FramePictures(kWidth, kHeight).unpack(c.frame.data(), c.frame.size(), nullptr, &why));
        EXPECT_NE(why.find(c.says), std::string::npos) << c.name << ": " << why;
        for (unsigned threads : {1u, 3u}) {
            SCOPED_TRACE(std::string(c.name) + ", " + std::to_string(threads) + " threads");
            Pictures out;
            EXPECT_EQ(play(out, threads, {f[0], f[1], c.frame, f[2]}, "ddddD"), 1u);
            ASSERT_EQ(out.reports.size(), 1u);
            EXPECT_EQ(out.reports[0], std::pair(uint64_t(3), why));
            EXPECT_TRUE(out.shown == std::vector<Bytes>(decoded_[0].begin(), decoded_[0].begin() + 3));
        }
    }
}

// Pictures of 1 to nox::kMaxPictureSide pixels a side are made; others not.
TEST(PictureSize, FromOneToTheLargestSide)
{
    const uint32_t top = nox::kMaxPictureSide;
    const struct {
        uint32_t w, h;
        bool taken;
    } cases[] = {{1, 1, true}, {top, top, true}, {0, 1, false}, {1, 0, false}, {top + 1, 1, false}, {1, top + 1, false}};
    for (const auto& c : cases)
        EXPECT_EQ(nox::pictureSizeAccepted(c.w, c.h), c.taken) << c.w << "x" << c.h;
}

}  // namespace
