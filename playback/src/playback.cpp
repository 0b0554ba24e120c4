// The playback library: libavformat reads the movie, the frame reader
// restores each frame's texture, and the planes point into that texture.
#include "zemo3/playback.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "codec/zemo3.h"
#include "reader/pictures.h"

// The library's only exports.
#define ZEMO3_API extern "C" __attribute__((visibility("default")))

namespace {

// The stream tag of Zemo 3 video as FFmpeg reports it (first character in the
// low byte).
constexpr uint32_t kMovieTag = uint32_t('Z') | uint32_t('M') << 8 | uint32_t('Q') << 16 | uint32_t('3') << 24;

std::string avError(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// Bytes per sample of the plain PCM codecs we hand out as stored; 0 for any
// other codec.
int pcmBytes(AVCodecID id, bool* isFloat)
{
    *isFloat = id == AV_CODEC_ID_PCM_F32LE;
    switch (id) {
    case AV_CODEC_ID_PCM_U8: return 1;
    case AV_CODEC_ID_PCM_S16LE: return 2;
    case AV_CODEC_ID_PCM_S24LE: return 3;
    case AV_CODEC_ID_PCM_S32LE:
    case AV_CODEC_ID_PCM_F32LE: return 4;
    default: return 0;
    }
}

// Opens the file with libavformat, with only `stream` read (all when -1).
// `probe` reads packets to learn about the streams, which containers that
// find their streams only in the packets always need.
AVFormatContext* openInput(const char* path, int stream, bool probe, std::string* why)
{
    // The probe would complain that no decoder knows the video tag.
    static std::once_flag quiet;
    std::call_once(quiet, [] {
        if (av_log_get_level() > AV_LOG_ERROR)
            av_log_set_level(AV_LOG_ERROR);
    });
    AVFormatContext* format = nullptr;
    int r = avformat_open_input(&format, path, nullptr, nullptr);
    if (r < 0) {
        *why = std::string("'") + path + "' is not a readable movie: " + avError(r);
        return nullptr;
    }
    if ((probe || (format->ctx_flags & AVFMTCTX_NOHEADER)) && (r = avformat_find_stream_info(format, nullptr)) < 0) {
        *why = std::string("cannot read the streams of '") + path + "': " + avError(r);
        avformat_close_input(&format);
        return nullptr;
    }
    for (unsigned i = 0; i < format->nb_streams && stream >= 0; ++i)
        format->streams[i]->discard = int(i) == stream ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    return format;
}

}  // namespace

struct Zemo3Movie {
    ~Zemo3Movie()
    {
        av_packet_free(&packet);
        av_packet_free(&soundPacket);
        avformat_close_input(&video);
        avformat_close_input(&sound);
    }

    bool open(const char* path, std::string* why);
    int nextFrame(Zemo3Frame* frame);
    // The frame in `packet`, numbered nextIndex.
    int decodePacket(Zemo3Frame* frame);
    int readFrame(int64_t index, Zemo3Frame* frame);
    int64_t readSound(int64_t first, int64_t frames, uint8_t* out);
    // The next packet of the video stream into `packet`; 0 at the end, < 0 on failure.
    int nextVideoPacket();
    int fail(const std::string& why)
    {
        error = why;
        return ZEMO3_FAILED;
    }

    AVFormatContext* video = nullptr;  // reads the picture packets
    AVFormatContext* sound = nullptr;  // reads the sound packets; null without sound
    AVPacket* packet = av_packet_alloc();
    AVPacket* soundPacket = av_packet_alloc();  // the sound packet read last, kept for the next read
    int videoStream = -1, audioStream = -1;
    std::vector<int64_t> frameTimes;  // decoding time of each frame, from the container's index
    int64_t nextIndex = 0;            // of the frame the next video packet holds
    int64_t soundFirst = 0;           // sample frame soundPacket starts at
    int64_t soundOrigin = 0;          // the sound stream's first time stamp
    Zemo3Info info{};
    std::unique_ptr<nox::FramePictures> pictures;
    std::string error;
};

bool Zemo3Movie::open(const char* path, std::string* why)
{
    if (!packet || !soundPacket) {
        *why = "out of memory";
        return false;
    }
    if (!(video = openInput(path, -1, true, why)))
        return false;
    for (unsigned i = 0; i < video->nb_streams; ++i) {
        const AVCodecParameters* par = video->streams[i]->codecpar;
        if (videoStream < 0 && par->codec_type == AVMEDIA_TYPE_VIDEO && par->codec_tag == kMovieTag)
            videoStream = int(i);
        else if (audioStream < 0 && par->codec_type == AVMEDIA_TYPE_AUDIO)
            audioStream = int(i);
    }
    if (videoStream < 0) {
        *why = std::string("no Zemo 3 video stream in '") + path + "'";
        return false;
    }
    // A size every type's texture holds (type 3's is the largest).
    AVStream* st = video->streams[videoStream];
    if (st->codecpar->width <= 0 || st->codecpar->height <= 0 ||
        nox::textureSize(3, uint32_t(st->codecpar->width), uint32_t(st->codecpar->height)) == 0) {
        *why = "the Zemo 3 video stream of '" + std::string(path) + "' has no usable picture size (" +
               std::to_string(st->codecpar->width) + "x" + std::to_string(st->codecpar->height) + ")";
        return false;
    }
    // Only the picture is read here.
    for (unsigned i = 0; i < video->nb_streams; ++i)
        video->streams[i]->discard = int(i) == videoStream ? AVDISCARD_DEFAULT : AVDISCARD_ALL;

    info.width = uint32_t(st->codecpar->width);
    info.height = uint32_t(st->codecpar->height);
    info.paddedWidth = nox::padTo16(info.width);
    info.paddedHeight = nox::padTo16(info.height);
    // The index lists every frame of a movie of key frames only, as every
    // Zemo 3 movie is.
    for (int i = 0, n = avformat_index_get_entries_count(st); i < n; ++i)
        if (const AVIndexEntry* e = avformat_index_get_entry(st, i); !(e->flags & AVINDEX_DISCARD_FRAME))
            frameTimes.push_back(e->timestamp);
    info.frameCount = frameTimes.empty() ? std::max<int64_t>(st->nb_frames, 0) : int64_t(frameTimes.size());
    const AVRational rate = st->avg_frame_rate.num > 0 && st->avg_frame_rate.den > 0 ? st->avg_frame_rate
                            : st->r_frame_rate.num > 0 && st->r_frame_rate.den > 0 ? st->r_frame_rate
                                                                                   : AVRational{0, 1};
    info.frameRateNum = rate.num;
    info.frameRateDen = rate.den;
    info.timeBaseNum = st->time_base.num;
    info.timeBaseDen = st->time_base.den;
    if (st->duration != AV_NOPTS_VALUE && st->duration > 0)
        info.duration = double(st->duration) * av_q2d(st->time_base);
    else if (video->duration != AV_NOPTS_VALUE && video->duration > 0)
        info.duration = double(video->duration) / AV_TIME_BASE;
    pictures = std::make_unique<nox::FramePictures>(info.width, info.height);

    // Sound: the first audio stream, when it is plain PCM, read through a
    // context of its own so that sound and frame reads keep their places.
    if (audioStream >= 0) {
        const AVStream* a = video->streams[audioStream];
        bool isFloat = false;
        const int bytes = pcmBytes(a->codecpar->codec_id, &isFloat);
        if (bytes && a->codecpar->ch_layout.nb_channels > 0 && a->codecpar->sample_rate > 0) {
            if (!(sound = openInput(path, audioStream, false, why)))
                return false;
            if (unsigned(audioStream) >= sound->nb_streams) {
                *why = std::string("the sound of '") + path + "' went missing on a second look";
                return false;
            }
            info.channels = a->codecpar->ch_layout.nb_channels;
            info.sampleRate = a->codecpar->sample_rate;
            info.bytesPerSample = bytes;
            info.isFloat = isFloat;
            if (a->duration != AV_NOPTS_VALUE && a->duration > 0)
                info.soundFrames = av_rescale_q(a->duration, a->time_base, AVRational{1, info.sampleRate});
            soundOrigin = a->start_time == AV_NOPTS_VALUE ? 0 : a->start_time;
        }
    }
    return true;
}

int Zemo3Movie::nextVideoPacket()
{
    av_packet_unref(packet);
    int r;
    while ((r = av_read_frame(video, packet)) >= 0 && packet->stream_index != videoStream)
        av_packet_unref(packet);
    if (r == AVERROR_EOF)
        return 0;
    if (r < 0) {
        error = "reading stopped: " + avError(r);
        return r;
    }
    return 1;
}

int Zemo3Movie::nextFrame(Zemo3Frame* frame)
{
    error.clear();
    const int r = nextVideoPacket();
    return r > 0 ? decodePacket(frame) : r == 0 ? ZEMO3_END : ZEMO3_FAILED;
}

int Zemo3Movie::decodePacket(Zemo3Frame* frame)
{
    *frame = Zemo3Frame{};
    frame->index = nextIndex++;
    frame->pts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
    frame->seconds = double(frame->pts) * av_q2d(video->streams[videoStream]->time_base);
    nox::FramePictures::Header header;
    std::string why;
    const bool unpacked = pictures->unpack(packet->data, size_t(packet->size), &header, &why);
    frame->type = header.type;
    av_packet_unref(packet);
    if (!unpacked) {
        error = "damaged frame " + std::to_string(frame->index) + ": " + why;
        return ZEMO3_DAMAGED;
    }
    // The layouts of reader/src/texture.cpp: DXT blocks of the padded
    // picture; for YCoCg the luma blocks (with their alpha blocks for type
    // 3), then one Co and one Cg block per 8x8 pixels.
    const uint8_t* texture = pictures->texture().data();
    const uint32_t pw = info.paddedWidth, ph = info.paddedHeight;
    auto plane = [&](Zemo3Plane& p, size_t offset, uint32_t blockBytes, uint32_t texel, uint32_t glFormat) {
        p.widthBlocks = pw / (4 * texel);
        p.heightBlocks = ph / (4 * texel);
        p.blockBytes = blockBytes;
        p.size = size_t(p.widthBlocks) * p.heightBlocks * blockBytes;
        p.data = texture + offset;
        p.glFormat = glFormat;
    };
    switch (header.type) {
    case 0:
    case 4: plane(frame->planes[0], 0, 8, 1, ZEMO3_GL_COMPRESSED_RGBA_S3TC_DXT1); break;
    case 1:
    case 5: plane(frame->planes[0], 0, 16, 1, ZEMO3_GL_COMPRESSED_RGBA_S3TC_DXT5); break;
    case 2:
        plane(frame->planes[0], 0, 8, 1, ZEMO3_GL_COMPRESSED_RED_RGTC1);
        plane(frame->planes[1], size_t(pw) * ph / 2, 16, 2, ZEMO3_GL_COMPRESSED_RG_RGTC2);
        break;
    case 3:
        plane(frame->planes[0], 0, 16, 1, ZEMO3_GL_COMPRESSED_RG_RGTC2);
        plane(frame->planes[1], size_t(pw) * ph, 16, 2, ZEMO3_GL_COMPRESSED_RG_RGTC2);
        break;
    }
    frame->planeCount = header.type == 2 || header.type == 3 ? 2 : 1;
    return ZEMO3_OK;
}

int Zemo3Movie::readFrame(int64_t index, Zemo3Frame* frame)
{
    error.clear();
    if (index < 0)
        return fail("no frame " + std::to_string(index));
    if (info.frameCount > 0 && index >= info.frameCount)
        return ZEMO3_END;
    const AVStream* st = video->streams[videoStream];
    const bool indexed = index < int64_t(frameTimes.size());
    // The frame's own time, or without an index the start, to count frames from.
    const int64_t target = indexed ? frameTimes[size_t(index)]
                           : !frameTimes.empty()              ? frameTimes[0]
                           : st->start_time != AV_NOPTS_VALUE ? st->start_time
                                                              : 0;
    const int r = av_seek_frame(video, videoStream, target, AVSEEK_FLAG_BACKWARD);
    if (r < 0)
        return fail("cannot seek to frame " + std::to_string(index) + ": " + avError(r));
    // Up to the frame's own packet; the seek may land on an earlier one.
    for (int64_t skip = indexed ? 0 : index;;) {
        const int got = nextVideoPacket();
        if (got <= 0)
            return got == 0 ? ZEMO3_END : ZEMO3_FAILED;
        const int64_t dts = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
        if (indexed ? dts >= target : skip-- == 0)
            break;
    }
    nextIndex = index;
    return decodePacket(frame);
}

int64_t Zemo3Movie::readSound(int64_t first, int64_t frames, uint8_t* out)
{
    error.clear();
    if (!sound) {
        error = "the movie has no sound";
        return -1;
    }
    if (first < 0 || frames < 0) {
        error = "no sound frames " + std::to_string(first) + " + " + std::to_string(frames);
        return -1;
    }
    const AVStream* st = sound->streams[audioStream];
    const int64_t frameBytes = int64_t(info.channels) * info.bytesPerSample;
    auto end = [&] { return soundFirst + soundPacket->size / frameBytes; };
    // Sequential reads go on in the packet read last; others seek to the
    // packet that holds `first`.
    if (soundPacket->size == 0 || first < soundFirst || first > end()) {
        av_packet_unref(soundPacket);
        const int64_t ts = soundOrigin + av_rescale_q(first, AVRational{1, info.sampleRate}, st->time_base);
        const int r = av_seek_frame(sound, audioStream, ts, AVSEEK_FLAG_BACKWARD);
        if (r < 0) {
            error = "cannot seek to sound frame " + std::to_string(first) + ": " + avError(r);
            return -1;
        }
    }
    int64_t done = 0;
    while (done < frames) {
        const int64_t at = first + done;
        if (soundPacket->size == 0 || at >= end()) {
            av_packet_unref(soundPacket);
            const int r = av_read_frame(sound, soundPacket);
            if (r == AVERROR_EOF)
                break;
            if (r < 0) {
                error = "reading the sound stopped: " + avError(r);
                return -1;
            }
            if (soundPacket->stream_index != audioStream) {
                av_packet_unref(soundPacket);
                continue;
            }
            const int64_t pts = soundPacket->pts != AV_NOPTS_VALUE ? soundPacket->pts : soundPacket->dts;
            soundFirst = av_rescale_q(pts - soundOrigin, st->time_base, AVRational{1, info.sampleRate});
            continue;
        }
        if (at < soundFirst) {
            error = "no sound is stored at sound frame " + std::to_string(at);
            av_packet_unref(soundPacket);
            return -1;
        }
        const int64_t n = std::min(frames - done, end() - at);
        std::memcpy(out + done * frameBytes, soundPacket->data + (at - soundFirst) * frameBytes,
                    size_t(n * frameBytes));
        done += n;
    }
    return done;
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
    try {
        return movie->nextFrame(frame);
    } catch (const std::exception&) {
        return movie->fail("out of memory");
    }
}

ZEMO3_API int zemo3_read_frame(Zemo3Movie* movie, int64_t index, Zemo3Frame* frame)
{
    try {
        return movie->readFrame(index, frame);
    } catch (const std::exception&) {
        return movie->fail("out of memory");
    }
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
