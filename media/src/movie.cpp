#include "media/movie.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

namespace zemo3 {

std::string avErrorText(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

std::string tagText(uint32_t codecTag)
{
    std::string s;
    for (int i = 0; i < 4; ++i) {
        char c = char((codecTag >> (8 * i)) & 0xFF);
        s += (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    return s;
}

std::string frameTagText(uint32_t tag)
{
    return tagText((tag >> 24) | ((tag >> 8) & 0xFF00u) | ((tag << 8) & 0xFF0000u) | (tag << 24));
}

// ---------------------------------------------------------------- reader

MovieReader::MovieReader() : packet_(av_packet_alloc()) {}

MovieReader::~MovieReader()
{
    av_packet_free(&packet_);
    avformat_close_input(&format_);  // leaves a caller's I/O context alone
    if (io_)
        av_freep(&io_->buffer);
    avio_context_free(&io_);
}

bool MovieReader::open(const std::string& path, std::string* error, const MovieOpenOptions& options)
{
    return openInput(path.c_str(), path, error, options);
}

bool MovieReader::openMemory(const uint8_t* data, size_t size, const std::string& name, std::string* error)
{
    memory_ = {data, size, 0};
    const int bufferSize = 4096;
    uint8_t* buffer = static_cast<uint8_t*>(av_malloc(bufferSize));
    auto read = [](void* opaque, uint8_t* to, int n) -> int {
        Memory& m = *static_cast<Memory*>(opaque);
        const size_t count = std::min(size_t(n), m.size - m.position);
        if (count == 0)
            return AVERROR_EOF;
        std::copy(m.data + m.position, m.data + m.position + count, to);
        m.position += count;
        return int(count);
    };
    auto seek = [](void* opaque, int64_t offset, int whence) -> int64_t {
        Memory& m = *static_cast<Memory*>(opaque);
        if (whence & AVSEEK_SIZE)
            return int64_t(m.size);
        int64_t base = 0;
        switch (whence & ~AVSEEK_FORCE) {
        case SEEK_SET:
            base = 0;
            break;
        case SEEK_CUR:
            base = int64_t(m.position);
            break;
        case SEEK_END:
            base = int64_t(m.size);
            break;
        default:
            return AVERROR(EINVAL);
        }
        if (offset > INT64_MAX - base || base + offset < 0 || uint64_t(base + offset) > m.size)
            return AVERROR(EINVAL);
        m.position = size_t(base + offset);
        return int64_t(m.position);
    };
    if (buffer)
        io_ = avio_alloc_context(buffer, bufferSize, 0, &memory_, read, nullptr, seek);
    if (!io_) {
        av_free(buffer);
        *error = "out of memory";
        return false;
    }
    format_ = avformat_alloc_context();
    if (!format_) {
        *error = "out of memory";
        return false;
    }
    format_->pb = io_;
    return openInput(nullptr, name, error, MovieOpenOptions{});
}

bool MovieReader::openInput(const char* url, const std::string& name, std::string* error,
                            const MovieOpenOptions& options)
{
    // The probe would complain that no decoder knows the video tag.
    if (options.quiet)
        av_log_set_level(AV_LOG_FATAL);
    int r = avformat_open_input(&format_, url ? url : "", nullptr, nullptr);
    if (r < 0) {
        *error = "'" + name + "' is not a readable movie: " + avErrorText(r);
        return false;
    }
    if ((options.probe || (format_->ctx_flags & AVFMTCTX_NOHEADER)) &&
        (r = avformat_find_stream_info(format_, nullptr)) < 0) {
        *error = "cannot read the streams of '" + name + "': " + avErrorText(r);
        return false;
    }
    describeStreams();
    return true;
}

namespace {

MovieStream describe(AVStream* st)
{
    const AVCodecParameters* par = st->codecpar;
    MovieStream s;
    s.kind = par->codec_type == AVMEDIA_TYPE_VIDEO   ? MovieStream::VIDEO
             : par->codec_type == AVMEDIA_TYPE_AUDIO ? MovieStream::AUDIO
                                                     : MovieStream::OTHER;
    s.codecId = par->codec_id;
    s.codec = avcodec_get_name(par->codec_id);
    s.codecTag = par->codec_tag;
    s.timeBaseNum = st->time_base.num;
    s.timeBaseDen = st->time_base.den;
    s.start = st->start_time == AV_NOPTS_VALUE ? INT64_MIN : st->start_time;
    s.duration = st->duration == AV_NOPTS_VALUE ? 0 : std::max<int64_t>(st->duration, 0);
    s.frames = std::max<int64_t>(st->nb_frames, 0);
    for (int i = 0, n = avformat_index_get_entries_count(st); i < n; ++i)
        if (const AVIndexEntry* e = avformat_index_get_entry(st, i); !(e->flags & AVINDEX_DISCARD_FRAME)) {
            s.frameTimes.push_back(e->timestamp);
            s.framePlaces.push_back({e->pos, e->size});
        }
    s.width = uint32_t(std::max(par->width, 0));
    s.height = uint32_t(std::max(par->height, 0));
    const AVRational rate = st->avg_frame_rate.num > 0 && st->avg_frame_rate.den > 0 ? st->avg_frame_rate
                            : st->r_frame_rate.num > 0 && st->r_frame_rate.den > 0   ? st->r_frame_rate
                                                                                     : AVRational{0, 1};
    s.frameRateNum = rate.num;
    s.frameRateDen = rate.den;
    s.channels = par->ch_layout.nb_channels;
    s.channelMask = par->ch_layout.order == AV_CHANNEL_ORDER_NATIVE ? par->ch_layout.u.mask : 0;
    s.sampleRate = par->sample_rate;
    switch (par->codec_id) {
    case AV_CODEC_ID_PCM_U8:
    case AV_CODEC_ID_PCM_S8:
        s.bytesPerSample = 1;
        break;
    case AV_CODEC_ID_PCM_S16LE:
    case AV_CODEC_ID_PCM_S16BE:
        s.bytesPerSample = 2;
        break;
    case AV_CODEC_ID_PCM_S24LE:
        s.bytesPerSample = 3;
        break;
    case AV_CODEC_ID_PCM_S32LE:
    case AV_CODEC_ID_PCM_F32LE:
        s.bytesPerSample = 4;
        break;
    default:
        s.bytesPerSample = 0;
    }
    return s;
}

}  // namespace

void MovieReader::describeStreams()
{
    for (unsigned i = 0; i < format_->nb_streams; ++i) {
        const MovieStream& s = info_.streams.emplace_back(describe(format_->streams[i]));
        if (s.kind == MovieStream::VIDEO) {
            if (info_.videoStreams++ == 0) {
                info_.video = int(i);
                info_.codecTag = s.codecTag;
                info_.width = s.width;
                info_.height = s.height;
                info_.timeBaseNum = s.timeBaseNum;
                info_.timeBaseDen = s.timeBaseDen;
                info_.indexedFrames = format_->streams[i]->nb_frames;
            }
        } else if (s.kind == MovieStream::AUDIO) {
            if (info_.audioStreams++ == 0) {
                info_.audio = int(i);
                info_.audioCodec = s.codec;
                info_.channels = s.channels;
                info_.sampleRate = s.sampleRate;
                info_.bytesPerSample = s.bytesPerSample;
                info_.audioTimeBaseNum = s.timeBaseNum;
                info_.audioTimeBaseDen = s.timeBaseDen;
            }
        } else {
            ++info_.otherStreams;
        }
    }
    if (const AVDictionaryEntry* e = av_dict_get(format_->metadata, "title", nullptr, 0))
        info_.title = e->value;
    if (format_->duration != AV_NOPTS_VALUE && format_->duration > 0)
        info_.duration = double(format_->duration) / AV_TIME_BASE;
}

// ---------------------------------------------------------------- packets

void MovieReader::readOnly(int stream)
{
    only_ = stream;
    for (unsigned i = 0; i < format_->nb_streams; ++i)
        format_->streams[i]->discard = int(i) == stream ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
}

int MovieReader::readPacket(int stream)
{
    int r;
    do {
        av_packet_unref(packet_);
        r = av_read_frame(format_, packet_);
    } while (r >= 0 && stream >= 0 && packet_->stream_index != stream);
    return r;
}

bool MovieReader::next(MoviePacket* packet)
{
    // Packets the probe read before readOnly() still come: they are passed over.
    return nextOf(only_, packet);
}

bool MovieReader::nextOf(int stream, MoviePacket* packet)
{
    soundHeld_ = false;
    const int r = readPacket(stream);
    if (r < 0) {
        error_ = r == AVERROR_EOF ? std::string() : "reading stopped: " + avErrorText(r);
        return false;
    }
    packet->kind = packet_->stream_index == info_.video   ? MoviePacket::VIDEO
                   : packet_->stream_index == info_.audio ? MoviePacket::AUDIO
                                                          : MoviePacket::OTHER;
    packet->stream = packet_->stream_index;
    packet->data = packet_->data;
    packet->size = size_t(packet_->size);
    packet->pts = packet_->pts == AV_NOPTS_VALUE ? INT64_MIN : packet_->pts;
    packet->dts = packet_->dts == AV_NOPTS_VALUE ? INT64_MIN : packet_->dts;
    packet->duration = packet_->duration;
    packet->key = (packet_->flags & AV_PKT_FLAG_KEY) != 0;
    return true;
}

int MovieReader::seekBack(int stream, int64_t timestamp)
{
    soundHeld_ = false;
    av_packet_unref(packet_);
    return av_seek_frame(format_, stream, timestamp, AVSEEK_FLAG_BACKWARD);
}

// ---------------------------------------------------------------- frames by number

bool MovieReader::seekFrame(int stream, int64_t index, MoviePacket* packet)
{
    error_.clear();
    if (index < 0) {
        error_ = "no frame " + std::to_string(index);
        return false;
    }
    const MovieStream& s = info_.streams.at(size_t(stream));
    if (s.frameCount() > 0 && index >= s.frameCount())
        return false;
    // The index lists every frame of a movie of key frames only, as every
    // Zemo 3 movie is: the frame's own time, or without an index the start,
    // to count frames from.
    const std::vector<int64_t>& times = s.frameTimes;
    const bool indexed = index < int64_t(times.size());
    const int64_t target = indexed                ? times[size_t(index)]
                           : !times.empty()       ? times[0]
                           : s.start != INT64_MIN ? s.start
                                                  : 0;
    if (const int r = seekBack(stream, target); r < 0) {
        error_ = "cannot seek to frame " + std::to_string(index) + ": " + avErrorText(r);
        return false;
    }
    // Up to the frame's own packet; the seek may land on an earlier one.
    for (int64_t skip = indexed ? 0 : index;;) {
        if (!nextOf(stream, packet))
            return false;
        const int64_t dts = packet->dts != INT64_MIN ? packet->dts : packet->pts;
        if (indexed ? dts >= target : skip-- == 0)
            return true;
    }
}

bool MovieReader::readBytes(int64_t position, uint8_t* out, size_t size)
{
    error_.clear();
    soundHeld_ = false;
    if (size > size_t(INT32_MAX)) {
        error_ = std::to_string(size) + " bytes at once";
        return false;
    }
    AVIOContext* io = format_->pb;
    const int64_t at = avio_seek(io, position, SEEK_SET);
    const int got = at < 0 ? int(at) : avio_read(io, out, int(size));
    if (got != int(size)) {
        error_ = got < 0 && got != AVERROR_EOF ? avErrorText(got) : "the file ends within the frame";
        return false;
    }
    return true;
}

// ---------------------------------------------------------------- sound by sample position

bool MovieReader::nextSoundPacket()
{
    soundHeld_ = false;
    const int stream = info_.audio;
    const AVStream* st = format_->streams[stream];
    const int r = readPacket(stream);
    if (r < 0) {
        if (r != AVERROR_EOF)
            error_ = "reading the sound stopped: " + avErrorText(r);
        return false;
    }
    const int64_t origin = st->start_time == AV_NOPTS_VALUE ? 0 : st->start_time;
    const int64_t pts = packet_->pts != AV_NOPTS_VALUE ? packet_->pts : packet_->dts;
    soundFirst_ = av_rescale_q(pts - origin, st->time_base, AVRational{1, info_.sampleRate});
    soundHeld_ = true;
    return true;
}

int64_t MovieReader::readSound(int64_t first, int64_t frames, uint8_t* out)
{
    error_.clear();
    if (info_.audio < 0 || info_.bytesPerSample == 0 || info_.channels <= 0 || info_.sampleRate <= 0) {
        error_ = "the movie has no sound";
        return -1;
    }
    if (first < 0 || frames < 0) {
        error_ = "no sound frames " + std::to_string(first) + " + " + std::to_string(frames);
        return -1;
    }
    const AVStream* st = format_->streams[info_.audio];
    const int64_t frameBytes = int64_t(info_.channels) * info_.bytesPerSample;
    auto held = [&] { return soundHeld_ && packet_->size > 0; };
    auto end = [&] { return soundFirst_ + packet_->size / frameBytes; };
    // Reads that follow each other go on in the packet held; others seek to
    // the packet that holds `first`.
    if (!held() || first < soundFirst_ || first > end()) {
        const int64_t origin = st->start_time == AV_NOPTS_VALUE ? 0 : st->start_time;
        const int64_t ts = origin + av_rescale_q(first, AVRational{1, info_.sampleRate}, st->time_base);
        if (const int r = seekBack(info_.audio, ts); r < 0) {
            error_ = "cannot seek to sound frame " + std::to_string(first) + ": " + avErrorText(r);
            return -1;
        }
    }
    int64_t done = 0;
    while (done < frames) {
        const int64_t at = first + done;
        if (!held() || at >= end()) {
            if (nextSoundPacket())
                continue;
            if (!error_.empty())
                return -1;
            break;
        }
        if (at < soundFirst_) {
            error_ = "no sound is stored at sound frame " + std::to_string(at);
            soundHeld_ = false;
            return -1;
        }
        const int64_t n = std::min(frames - done, end() - at);
        std::memcpy(out + done * frameBytes, packet_->data + (at - soundFirst_) * frameBytes, size_t(n * frameBytes));
        done += n;
    }
    return done;
}

}  // namespace zemo3
