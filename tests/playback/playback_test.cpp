// The playback library through its C interface, on movies of every type
// rendered by the zemo3 command at an odd size with sound: planes against the
// frame reader's textures of the packets as stored, sound against the audio
// packets, damaged and foreign movies (the installed library used by a strict
// C program: tests/install).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <thread>

#include "common/movies.h"
#include "common/refusals.h"
#include "reader/pictures.h"
#include "zemo3/playback.h"

namespace {

using testutil::Bytes;

const char* const* const kTypes = testutil::kCompressions;
constexpr int kWidth = 99, kHeight = 61, kFrames = 15;  // half a second at 30 frames/s
constexpr size_t kPadded = 112 * 64;                    // texels of the padded picture

// What each type announces: per plane the GL format, blocks, block bytes and
// where it starts in the texture.
struct PlaneLayout {
    uint32_t glFormat, widthBlocks, heightBlocks, blockBytes;
    size_t offset;
};
const std::vector<PlaneLayout> kLayouts[4] = {
    {{ZEMO3_GL_COMPRESSED_RGBA_S3TC_DXT1, 28, 16, 8, 0}},
    {{ZEMO3_GL_COMPRESSED_RGBA_S3TC_DXT5, 28, 16, 16, 0}},
    {{ZEMO3_GL_COMPRESSED_RED_RGTC1, 28, 16, 8, 0}, {ZEMO3_GL_COMPRESSED_RG_RGTC2, 14, 8, 16, kPadded / 2}},
    {{ZEMO3_GL_COMPRESSED_RG_RGTC2, 28, 16, 16, 0}, {ZEMO3_GL_COMPRESSED_RG_RGTC2, 14, 8, 16, kPadded}},
};

using Movie = std::unique_ptr<Zemo3Movie, decltype(&zemo3_close)>;

Movie open(const std::string& path, std::string* error = nullptr)
{
    char message[256] = "unset";
    Movie m(zemo3_open(path.c_str(), message, sizeof message), zemo3_close);
    if (error)
        *error = message;
    return m;
}

// The planes of a frame laid back into one texture, checked against the
// type's layout on the way.
Bytes planes(const Zemo3Frame& f, size_t textureBytes)
{
    Bytes texture(textureBytes, 0xAB);
    const auto& layout = kLayouts[f.type % 4];
    EXPECT_EQ(f.planeCount, layout.size());
    for (size_t i = 0; i < layout.size() && i < f.planeCount; ++i) {
        const Zemo3Plane& p = f.planes[i];
        const PlaneLayout& l = layout[i];
        EXPECT_EQ(std::vector<size_t>({p.glFormat, p.widthBlocks, p.heightBlocks, p.blockBytes, p.size}),
                  std::vector<size_t>({l.glFormat, l.widthBlocks, l.heightBlocks, l.blockBytes,
                                       size_t(l.widthBlocks) * l.heightBlocks * l.blockBytes}));
        if (l.offset + p.size <= textureBytes)
            std::memcpy(texture.data() + l.offset, p.data, p.size);
    }
    return texture;
}

// The frame reader's texture of every frame of a movie as stored.
std::vector<Bytes> textures(const testutil::Movie& stored, uint32_t type)
{
    const nox::FrameDecoder decoder(type, kWidth, kHeight);
    std::vector<Bytes> out;
    for (const Bytes& frame : stored.frames()) {
        out.emplace_back(decoder.textureBytes());
        EXPECT_TRUE(nox::decode(decoder, out.back().data(), frame.data(), frame.size(), out.back().size()));
    }
    return out;
}

using testutil::zemo3;

class Playback : public testutil::EveryTypeSuite<99, 61, 5> {};

// Every type: the announced movie, each frame's planes as the frame reader
// restores the packet, stamped with the packet's time; frames read by number
// in any order, and sound at any place and length as stored.
TEST_F(Playback, EveryTypeGivesTheStoredFramesAndSound)
{
    for (uint32_t t = 0; t < 4; ++t) {
        SCOPED_TRACE(kTypes[t]);
        const testutil::Movie stored = testutil::readMovie(movie(int(t)));
        const auto video = stored.of(AVMEDIA_TYPE_VIDEO);
        const std::vector<Bytes> expected = textures(stored, t);
        ASSERT_EQ(expected.size(), size_t(kFrames));
        Movie m = open(movie(int(t)));
        ASSERT_TRUE(m);
        const Zemo3Info& info = *zemo3_info(m.get());
        EXPECT_EQ(std::vector<int64_t>({info.width, info.height, info.paddedWidth, info.paddedHeight, info.frameCount}),
                  std::vector<int64_t>({kWidth, kHeight, 112, 64, kFrames}));
        EXPECT_DOUBLE_EQ(double(info.frameRateNum) / info.frameRateDen, 30.0);
        EXPECT_NEAR(info.duration, 0.5, 1e-6);

        Zemo3Frame f;
        for (int64_t i = 0, last = INT64_MIN; i < kFrames; last = f.pts, ++i) {
            ASSERT_EQ(zemo3_next_frame(m.get(), &f), ZEMO3_OK) << zemo3_error(m.get());
            EXPECT_EQ(f.index, i);
            EXPECT_EQ(f.type, t);
            EXPECT_EQ(f.pts, video[size_t(i)].pts);
            EXPECT_GT(f.pts, last);
            EXPECT_NEAR(f.seconds, double(i) / 30.0, 1e-9);
            EXPECT_TRUE(planes(f, expected[0].size()) == expected[size_t(i)]) << "frame " << i;
        }
        EXPECT_EQ(zemo3_next_frame(m.get(), &f), ZEMO3_END);
        // By number, then on from there.
        for (int n : {11, 3, 14, 0, 7, 8}) {
            ASSERT_EQ(zemo3_read_frame(m.get(), n, &f), ZEMO3_OK) << n;
            EXPECT_EQ(f.index, n);
            EXPECT_EQ(f.pts, video[size_t(n)].pts);
            EXPECT_TRUE(planes(f, expected[0].size()) == expected[size_t(n)]) << "frame " << n;
            EXPECT_EQ(zemo3_next_frame(m.get(), &f), n + 1 < kFrames ? ZEMO3_OK : ZEMO3_END) << n;
            EXPECT_TRUE(n + 1 == kFrames || f.index == n + 1) << n;
        }
        EXPECT_EQ(zemo3_read_frame(m.get(), kFrames, &f), ZEMO3_END);

        // Into the caller's memory, of exactly the bytes the library asks
        // for (type 3's texture at this size), on one thread and on two: the
        // same planes, one after the other from its start. A destination a
        // byte short is refused before anything is read.
        const size_t bytes = zemo3_frame_bytes(m.get());
        EXPECT_EQ(bytes, size_t(kPadded) * 5 / 4);
        for (const int threads : {1, 2}) {
            EXPECT_EQ(zemo3_set_threads(m.get(), threads), threads);
            Bytes destination(bytes);
            EXPECT_EQ(zemo3_read_frame_into(m.get(), 0, &f, destination.data(), bytes - 1), ZEMO3_FAILED);
            EXPECT_NE(std::string(zemo3_error(m.get())).find("smaller than"), std::string::npos);
            ASSERT_EQ(zemo3_read_frame_into(m.get(), 0, &f, destination.data(), bytes), ZEMO3_OK);
            for (int64_t i = 0; i < kFrames; ++i) {
                EXPECT_EQ(f.index, i);
                EXPECT_EQ(f.planes[0].data, destination.data());
                EXPECT_TRUE(f.planeCount < 2 || f.planes[1].data == f.planes[0].data + f.planes[0].size);
                EXPECT_TRUE(planes(f, expected[0].size()) == expected[size_t(i)]) << "frame " << i;
                EXPECT_EQ(zemo3_next_frame_into(m.get(), &f, destination.data(), bytes - 1), ZEMO3_FAILED);
                ASSERT_EQ(zemo3_next_frame_into(m.get(), &f, destination.data(), bytes),
                          i + 1 < kFrames ? ZEMO3_OK : ZEMO3_END);
            }
        }
        EXPECT_EQ(zemo3_set_threads(m.get(), 0), std::thread::hardware_concurrency() > 1 ? 2 : 1);

        // Sound: the whole, then pieces at odd places, sequential ones and a
        // step back among them, against the audio packets as stored.
        const Bytes sound = stored.sound();
        const auto& s = stored.streams[size_t(stored.of(AVMEDIA_TYPE_AUDIO).at(0).stream)];
        ASSERT_GT(info.channels, 0);
        EXPECT_EQ(info.channels, s.channels);
        EXPECT_EQ(info.sampleRate, s.sampleRate);
        const int64_t frameBytes = int64_t(info.channels) * info.bytesPerSample;
        const int64_t total = int64_t(sound.size()) / frameBytes;
        EXPECT_EQ(info.soundFrames, total);
        const std::pair<int64_t, int64_t> pieces[] = {{0, total + 100}, {1, 1},      {777, 1234},
                                                      {2011, 4099},     {6110, 3},   {5000, 10},
                                                      {total - 5, 100}, {total, 10}, {0, 0}};
        for (const auto& [first, frames] : pieces) {
            Bytes got(size_t(std::max<int64_t>(frames, 1) * frameBytes), 0xAB);
            const int64_t n = zemo3_read_sound(m.get(), first, frames, got.data());
            const int64_t want = std::clamp<int64_t>(total - first, 0, frames);
            ASSERT_EQ(n, want) << first << "+" << frames << ": " << zemo3_error(m.get());
            EXPECT_TRUE(std::equal(got.begin(), got.begin() + n * frameBytes, sound.begin() + first * frameBytes))
                << first << "+" << frames;
        }
    }
}

// Frames the picture pipeline refuses (the table every player shares) come
// back as damaged, numbered, with the pipeline's reason, and reading goes on
// after them; a movie without Zemo 3 video, or no movie at all, does not open.
TEST_F(Playback, DamagedFramesAndForeignFiles)
{
    const auto table = nox::testing::refusedFrames(kWidth, kHeight);
    const std::string damaged = dir_->file("damaged.mov");
    ASSERT_TRUE(testutil::remux(movie(0), damaged, [&](int64_t i, AVPacket* p) {
        if (i >= 1 && size_t(i) <= table.size()) {
            const Bytes& frame = table[size_t(i) - 1].frame;
            const int grow = int(frame.size()) - p->size;
            grow > 0 ? void(av_grow_packet(p, grow)) : av_shrink_packet(p, int(frame.size()));
            std::memcpy(p->data, frame.data(), frame.size());
        }
        return true;
    }));
    const std::vector<Bytes> expected = textures(testutil::readMovie(movie(0)), 0);
    Movie m = open(damaged);
    ASSERT_TRUE(m);
    Zemo3Frame f;
    for (int i = 0; i < kFrames; ++i) {
        const bool bad = i >= 1 && size_t(i) <= table.size();
        std::string why;
        const Bytes& frame = table[size_t(std::max(i, 1)) - 1].frame;
        EXPECT_FALSE(bad && nox::FramePictures(kWidth, kHeight).unpack(frame.data(), frame.size(), nullptr, &why));
        ASSERT_EQ(zemo3_next_frame(m.get(), &f), bad ? ZEMO3_DAMAGED : ZEMO3_OK) << i;
        EXPECT_EQ(f.index, i);
        EXPECT_EQ(zemo3_error(m.get()), bad ? "damaged frame " + std::to_string(i) + ": " + why : "");
        EXPECT_TRUE(bad || planes(f, expected[0].size()) == expected[size_t(i)]) << "frame " << i;
    }
    EXPECT_EQ(zemo3_read_frame(m.get(), 7, &f), ZEMO3_DAMAGED);
    EXPECT_EQ(zemo3_next_frame(m.get(), &f), ZEMO3_DAMAGED);
    EXPECT_EQ(zemo3_next_frame(m.get(), &f), ZEMO3_OK);
    EXPECT_EQ(f.index, 9);

    const std::string foreign = dir_->file("zmq4.mov"), text = dir_->file("notes.mov");
    ASSERT_TRUE(testutil::remux(
        movie(0), foreign, [](int64_t, AVPacket*) { return true; }, MKTAG('Z', 'M', 'Q', '4')));
    testutil::writeFile(text, Bytes(1000, 'x'));
    const std::pair<std::string, std::string> refused[] = {{foreign, "no Zemo 3 video stream in '" + foreign + "'"},
                                                           {text, "is not a readable movie"},
                                                           {dir_->file("missing.mov"), "is not a readable movie"}};
    for (const auto& [path, says] : refused) {
        std::string error;
        EXPECT_FALSE(open(path, &error)) << path;
        EXPECT_NE(error.find(says), std::string::npos) << error;
    }
}

}  // namespace
