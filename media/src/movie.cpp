#include "media/movie.h"

#include <algorithm>
#include <climits>
#include <cstdio>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "codec/zemo3.h"

namespace zemo3 {

std::string avErrorText(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

namespace {

}  // namespace

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

bool MovieReader::open(const std::string& path, std::string* error)
{
    return openInput(path.c_str(), path, error);
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
        case SEEK_SET: base = 0; break;
        case SEEK_CUR: base = int64_t(m.position); break;
        case SEEK_END: base = int64_t(m.size); break;
        default: return AVERROR(EINVAL);
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
    return openInput(nullptr, name, error);
}

bool MovieReader::openInput(const char* url, const std::string& name, std::string* error)
{
    // The probe would complain that no decoder knows the video tag.
    av_log_set_level(AV_LOG_FATAL);
    int r = avformat_open_input(&format_, url ? url : "", nullptr, nullptr);
    if (r < 0) {
        *error = "'" + name + "' is not a readable movie: " + avErrorText(r);
        return false;
    }
    if ((r = avformat_find_stream_info(format_, nullptr)) < 0) {
        *error = "cannot read the streams of '" + name + "': " + avErrorText(r);
        return false;
    }
    for (unsigned i = 0; i < format_->nb_streams; ++i) {
        const AVStream* st = format_->streams[i];
        const AVCodecParameters* par = st->codecpar;
        if (par->codec_type == AVMEDIA_TYPE_VIDEO) {
            if (info_.videoStreams++ == 0) {
                info_.video = int(i);
                info_.codecTag = par->codec_tag;
                info_.width = uint32_t(std::max(par->width, 0));
                info_.height = uint32_t(std::max(par->height, 0));
                info_.timeBaseNum = st->time_base.num;
                info_.timeBaseDen = st->time_base.den;
                info_.indexedFrames = st->nb_frames;
            }
        } else if (par->codec_type == AVMEDIA_TYPE_AUDIO) {
            if (info_.audioStreams++ == 0) {
                info_.audio = int(i);
                info_.audioCodec = avcodec_get_name(par->codec_id);
                info_.channels = par->ch_layout.nb_channels;
                info_.sampleRate = par->sample_rate;
                switch (par->codec_id) {
                case AV_CODEC_ID_PCM_U8:
                case AV_CODEC_ID_PCM_S8: info_.bytesPerSample = 1; break;
                case AV_CODEC_ID_PCM_S16LE:
                case AV_CODEC_ID_PCM_S16BE: info_.bytesPerSample = 2; break;
                case AV_CODEC_ID_PCM_S24LE: info_.bytesPerSample = 3; break;
                case AV_CODEC_ID_PCM_S32LE:
                case AV_CODEC_ID_PCM_F32LE: info_.bytesPerSample = 4; break;
                default: info_.bytesPerSample = 0;
                }
                info_.audioTimeBaseNum = st->time_base.num;
                info_.audioTimeBaseDen = st->time_base.den;
            }
        } else {
            ++info_.otherStreams;
        }
    }
    return true;
}

bool MovieReader::next(MoviePacket* packet)
{
    av_packet_unref(packet_);
    int r = av_read_frame(format_, packet_);
    if (r < 0) {
        error_ = r == AVERROR_EOF ? std::string() : "reading stopped: " + avErrorText(r);
        return false;
    }
    packet->kind = packet_->stream_index == info_.video   ? MoviePacket::VIDEO
                   : packet_->stream_index == info_.audio ? MoviePacket::AUDIO
                                                          : MoviePacket::OTHER;
    packet->data = packet_->data;
    packet->size = size_t(packet_->size);
    packet->pts = packet_->pts == AV_NOPTS_VALUE ? INT64_MIN : packet_->pts;
    packet->dts = packet_->dts == AV_NOPTS_VALUE ? INT64_MIN : packet_->dts;
    packet->duration = packet_->duration;
    packet->position = packet_->pos;
    return true;
}

}  // namespace zemo3
