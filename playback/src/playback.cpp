// The playback library: media's movie reader reads the movie, the frame
// reader restores each frame's texture, and the planes point into that
// texture.
#include "zemo3/playback.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/log.h>
#include <libavutil/mathematics.h>
}

#include "codec/zemo3.h"
#include "media/movie.h"
#include "platform/platform.h"
#include "reader/pictures.h"

// The library's only exports.
#define ZEMO3_API extern "C" __attribute__((visibility("default")))

// The C interface's GL formats are the frame format's.
static_assert(ZEMO3_GL_COMPRESSED_RGBA_S3TC_DXT1 == nox::kGlDxt1 &&
              ZEMO3_GL_COMPRESSED_RGBA_S3TC_DXT5 == nox::kGlDxt5 && ZEMO3_GL_COMPRESSED_RED_RGTC1 == nox::kGlRgtc1 &&
              ZEMO3_GL_COMPRESSED_RG_RGTC2 == nox::kGlRgtc2);

namespace {

using zemo3::MovieReader;
using zemo3::MovieStream;

// The sound codecs handed out as stored: little-endian samples, 8-bit ones
// unsigned.
bool soundAsStored(const MovieStream& s)
{
    for (const char* codec : {"pcm_u8", "pcm_s16le", "pcm_s24le", "pcm_s32le", "pcm_f32le"})
        if (s.codec == codec)
            return true;
    return false;
}

}  // namespace

struct Zemo3Movie {
    bool open(const char* path, std::string* why);
    bool openSound(const char* path, std::string* why);
    // Into the caller's memory when destination is given, else the library's.
    int nextFrame(Zemo3Frame* frame, uint8_t* destination, size_t capacity);
    // The frame in `packet`, numbered nextIndex.
    int decodePacket(Zemo3Frame* frame, uint8_t* destination, size_t capacity);
    int readFrame(int64_t index, Zemo3Frame* frame, uint8_t* destination, size_t capacity);
    // Bytes every type's planes fit in (type 3's are the largest).
    size_t frameBytes() const { return nox::textureSize(3, info.width, info.height); }
    bool fits(const uint8_t* destination, size_t capacity)
    {
        if (!destination || capacity >= frameBytes())
            return true;
        error = "a destination of " + std::to_string(capacity) + " bytes is smaller than the " +
                std::to_string(frameBytes()) + " a frame may need";
        return false;
    }
    void setThreads(int threads);
    int64_t readSound(int64_t first, int64_t frames, uint8_t* out);
    int fail(const std::string& why)
    {
        error = why;
        return ZEMO3_FAILED;
    }
    // ZEMO3_END when the reader stopped at the end, else ZEMO3_FAILED with its reason.
    int stopped(const MovieReader& reader) { return reader.error().empty() ? ZEMO3_END : fail(reader.error()); }

    MovieReader video;  // reads the picture packets
    MovieReader sound;  // reads the sound packets, so that sound and frame reads keep their places
    bool hasSound = false;
    int videoStream = -1;
    zemo3::MoviePacket packet;
    int64_t nextIndex = 0;  // of the frame the next video packet holds
    Zemo3Info info{};
    std::unique_ptr<nox::FramePictures> pictures;
    std::string error;
};

void Zemo3Movie::setThreads(int threads)
{
    // A core to spare: the YCoCg types' second stream goes to the pool.
    if (threads <= 0)
        threads = platform::processorCount() > 1 ? 2 : 1;
    pictures->setThreads(unsigned(std::min(threads, 2)));
}

bool Zemo3Movie::open(const char* path, std::string* why)
{
    // The probe would complain that no decoder knows the video tag.
    static std::once_flag quiet;
    std::call_once(quiet, [] {
        if (av_log_get_level() > AV_LOG_ERROR)
            av_log_set_level(AV_LOG_ERROR);
    });
    if (!video.open(path, why, {.probe = true, .quiet = false}))
        return false;
    const std::vector<MovieStream>& streams = video.info().streams;
    for (size_t i = 0; i < streams.size() && videoStream < 0; ++i)
        if (streams[i].kind == MovieStream::VIDEO && streams[i].codecTag == zemo3::kMovieTag)
            videoStream = int(i);
    if (videoStream < 0) {
        *why = std::string("no Zemo 3 video stream in '") + path + "'";
        return false;
    }
    // A size the players take, and every type's texture holds (type 3's is the largest).
    const MovieStream& st = streams[size_t(videoStream)];
    if (!nox::pictureSizeAccepted(st.width, st.height) || nox::textureSize(3, st.width, st.height) == 0) {
        *why = "the Zemo 3 video stream of '" + std::string(path) + "' has no usable picture size (" +
               std::to_string(st.width) + "x" + std::to_string(st.height) + ")";
        return false;
    }
    video.readOnly(videoStream);

    info.width = st.width;
    info.height = st.height;
    info.paddedWidth = nox::padTo16(info.width);
    info.paddedHeight = nox::padTo16(info.height);
    info.frameCount = st.frameCount();
    info.frameRateNum = st.frameRateNum;
    info.frameRateDen = st.frameRateDen;
    info.timeBaseNum = st.timeBaseNum;
    info.timeBaseDen = st.timeBaseDen;
    info.duration =
        st.duration > 0 ? double(st.duration) * (double(st.timeBaseNum) / st.timeBaseDen) : video.info().duration;
    pictures = std::make_unique<nox::FramePictures>(info.width, info.height);
    setThreads(0);
    return openSound(path, why);
}

// Sound: the first audio stream, when it is plain PCM, read by a reader of
// its own.
bool Zemo3Movie::openSound(const char* path, std::string* why)
{
    const int audio = video.info().audio;
    if (audio < 0)
        return true;
    const MovieStream& a = video.info().streams[size_t(audio)];
    if (!soundAsStored(a) || a.channels <= 0 || a.sampleRate <= 0)
        return true;
    if (!sound.open(path, why, {.probe = false, .quiet = false}))
        return false;
    if (audio >= int(sound.info().streams.size()) || sound.info().audio != audio) {
        *why = std::string("the sound of '") + path + "' went missing on a second look";
        return false;
    }
    sound.readOnly(audio);
    hasSound = true;
    info.channels = a.channels;
    info.sampleRate = a.sampleRate;
    info.bytesPerSample = a.bytesPerSample;
    info.isFloat = a.codec == "pcm_f32le";
    if (a.duration > 0)
        info.soundFrames =
            av_rescale_q(a.duration, AVRational{a.timeBaseNum, a.timeBaseDen}, AVRational{1, a.sampleRate});
    return true;
}

int Zemo3Movie::nextFrame(Zemo3Frame* frame, uint8_t* destination, size_t capacity)
{
    error.clear();
    if (!fits(destination, capacity))
        return ZEMO3_FAILED;
    return video.next(&packet) ? decodePacket(frame, destination, capacity) : stopped(video);
}

int Zemo3Movie::decodePacket(Zemo3Frame* frame, uint8_t* destination, size_t capacity)
{
    *frame = Zemo3Frame{};
    frame->index = nextIndex++;
    frame->pts = packet.pts != INT64_MIN ? packet.pts : packet.dts;
    frame->seconds = double(frame->pts) * (double(info.timeBaseNum) / info.timeBaseDen);
    nox::FramePictures::Header header;
    std::string why;
    const bool unpacked = destination
                              ? pictures->unpackInto(packet.data, packet.size, destination, capacity, &header, &why)
                              : pictures->unpack(packet.data, packet.size, &header, &why);
    frame->type = header.type;
    if (!unpacked) {
        error = "damaged frame " + std::to_string(frame->index) + ": " + why;
        return ZEMO3_DAMAGED;
    }
    // The planes as the frame format lays them out in the texture.
    const uint8_t* texture = destination ? destination : pictures->texture().data();
    const nox::FormatFacts& facts = nox::formatFacts(header.type);
    frame->planeCount = facts.planeCount;
    for (uint32_t i = 0; i < facts.planeCount; ++i) {
        const nox::TexturePlane place = nox::texturePlane(header.type, i, info.paddedWidth, info.paddedHeight);
        Zemo3Plane& p = frame->planes[i];
        p.widthBlocks = place.widthBlocks;
        p.heightBlocks = place.heightBlocks;
        p.blockBytes = facts.planes[i].blockBytes;
        p.size = place.size;
        p.data = texture + place.offset;
        p.glFormat = facts.planes[i].glFormat;
    }
    return ZEMO3_OK;
}

int Zemo3Movie::readFrame(int64_t index, Zemo3Frame* frame, uint8_t* destination, size_t capacity)
{
    error.clear();
    if (!fits(destination, capacity))
        return ZEMO3_FAILED;
    if (!video.seekFrame(videoStream, index, &packet))
        return stopped(video);
    nextIndex = index;
    return decodePacket(frame, destination, capacity);
}

int64_t Zemo3Movie::readSound(int64_t first, int64_t frames, uint8_t* out)
{
    error.clear();
    if (!hasSound) {
        error = "the movie has no sound";
        return -1;
    }
    const int64_t n = sound.readSound(first, frames, out);
    error = sound.error();
    return n;
}

// ---------------------------------------------------------------- the C interface
// No C++ exception leaves the library: running out of memory fails the call.

ZEMO3_API Zemo3Movie* zemo3_open(const char* path, char* error, size_t errorSize)
{
    std::string why;
    try {
        auto movie = std::make_unique<Zemo3Movie>();
        if (!path)
            why = "no file named";
        else if (movie->open(path, &why))
            return movie.release();
    } catch (const std::exception&) {
        why = "out of memory";
    }
    if (error && errorSize)
        std::snprintf(error, errorSize, "%s", why.c_str());
    return nullptr;
}

ZEMO3_API void zemo3_close(Zemo3Movie* movie) { delete movie; }

ZEMO3_API const Zemo3Info* zemo3_info(const Zemo3Movie* movie) { return &movie->info; }

ZEMO3_API int zemo3_next_frame(Zemo3Movie* movie, Zemo3Frame* frame)
{
    return zemo3_next_frame_into(movie, frame, nullptr, 0);
}

ZEMO3_API int zemo3_read_frame(Zemo3Movie* movie, int64_t index, Zemo3Frame* frame)
{
    return zemo3_read_frame_into(movie, index, frame, nullptr, 0);
}

ZEMO3_API size_t zemo3_frame_bytes(const Zemo3Movie* movie) { return movie->frameBytes(); }

ZEMO3_API int zemo3_next_frame_into(Zemo3Movie* movie, Zemo3Frame* frame, void* destination, size_t capacity)
{
    try {
        return movie->nextFrame(frame, static_cast<uint8_t*>(destination), capacity);
    } catch (const std::exception&) {
        return movie->fail("out of memory");
    }
}

ZEMO3_API int zemo3_read_frame_into(Zemo3Movie* movie, int64_t index, Zemo3Frame* frame, void* destination,
                                    size_t capacity)
{
    try {
        return movie->readFrame(index, frame, static_cast<uint8_t*>(destination), capacity);
    } catch (const std::exception&) {
        return movie->fail("out of memory");
    }
}

ZEMO3_API int zemo3_set_threads(Zemo3Movie* movie, int threads)
{
    movie->setThreads(threads);
    return int(movie->pictures->threads());
}

ZEMO3_API const char* zemo3_error(const Zemo3Movie* movie) { return movie->error.c_str(); }

ZEMO3_API int64_t zemo3_read_sound(Zemo3Movie* movie, int64_t first, int64_t frames, void* out)
{
    try {
        return movie->readSound(first, frames, static_cast<uint8_t*>(out));
    } catch (const std::exception&) {
        movie->fail("out of memory");
        return -1;
    }
}
