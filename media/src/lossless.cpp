#include "media/lossless.h"

#include <cctype>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include "media/partial_output.h"
#include "platform/platform.h"
#include "reader/pictures.h"

namespace zemo3 {

namespace {

// The first pixel format the encoder takes from a list of lossless choices
// (8-bit RGB or RGBA, so the conversion from RGBA is a plain reordering).
AVPixelFormat pickFormat(const AVCodec* codec, bool alpha)
{
    static const AVPixelFormat withAlpha[] = {AV_PIX_FMT_RGBA, AV_PIX_FMT_BGRA, AV_PIX_FMT_ARGB, AV_PIX_FMT_ABGR,
                                              AV_PIX_FMT_GBRAP};
    static const AVPixelFormat without[] = {AV_PIX_FMT_RGB24, AV_PIX_FMT_BGR24, AV_PIX_FMT_BGR0, AV_PIX_FMT_RGB0,
                                            AV_PIX_FMT_0RGB,  AV_PIX_FMT_GBRP,  AV_PIX_FMT_BGRA, AV_PIX_FMT_RGBA};
    const AVPixelFormat* list = alpha ? withAlpha : without;
    const size_t n = alpha ? std::size(withAlpha) : std::size(without);
    for (size_t i = 0; i < n; ++i) {
        if (!codec->pix_fmts)
            return list[0];
        for (const AVPixelFormat* f = codec->pix_fmts; *f != AV_PIX_FMT_NONE; ++f)
            if (*f == list[i])
                return *f;
    }
    return AV_PIX_FMT_NONE;
}

class Output {
public:
    ~Output()
    {
        sws_freeContext(sws_);
        av_frame_free(&frame_);
        av_packet_free(&packet_);
        avcodec_free_context(&encoder_);
        close();
        avformat_free_context(format_);
    }

    // Closes the file (before it is renamed or removed: Windows does neither to
    // an open file); false when what was buffered could not be written.
    bool close()
    {
        if (!format_ || !format_->pb || (format_->oformat->flags & AVFMT_NOFILE))
            return true;
        return avio_closep(&format_->pb) >= 0;
    }

    // Opens OUT for pictures of this size and kind, with the movie's sound
    // stream (null: none) copied beside them.
    bool open(const std::string& out, const std::string& writePath, bool sequence, uint32_t w, uint32_t h, bool alpha,
              AVRational timeBase, AVRational rate, const AVStream* sound, std::string* error)
    {
        const AVCodec* codec = nullptr;
        return openContainer(out, sequence, error) && (codec = pickCodec(out, sequence, error)) != nullptr &&
               openEncoder(codec, w, h, alpha, timeBase, rate, error) && addSound(sound, error) &&
               start(out, writePath, sequence, error) && makePicture(codec, w, h, error);
    }

    bool picture(const std::vector<uint8_t>& rgba, int64_t pts, std::string* error)
    {
        if (av_frame_make_writable(frame_) < 0) {
            *error = "out of memory";
            return false;
        }
        const uint8_t* planes[1] = {rgba.data()};
        const int strides[1] = {encoder_->width * 4};
        sws_scale(sws_, planes, strides, 0, encoder_->height, frame_->data, frame_->linesize);
        frame_->pts = pts;
        return encode(frame_, error);
    }

    bool sound(AVPacket* packet, std::string* error)
    {
        if (!audio_)
            return true;
        packet->stream_index = audio_->index;
        av_packet_rescale_ts(packet, soundTimeBase_, audio_->time_base);
        packet->pos = -1;
        const int r = av_interleaved_write_frame(format_, packet);
        if (r < 0)
            *error = writeError(r);
        return r >= 0;
    }

    bool finish(std::string* error)
    {
        if (!encode(nullptr, error))
            return false;
        const int r = av_write_trailer(format_);
        if (r < 0 || !close()) {
            *error = writeError(r < 0 ? r : AVERROR(EIO));
            return false;
        }
        return true;
    }

    bool started() const { return headerWritten_; }
    const std::string& codecName() const { return codecName_; }
    const char* containerName() const { return format_->oformat->name; }

private:
    bool openContainer(const std::string& out, bool sequence, std::string* error)
    {
        const int r = avformat_alloc_output_context2(
            &format_, sequence ? av_guess_format("image2", nullptr, nullptr) : nullptr, nullptr, out.c_str());
        if (r < 0 || !format_) {
            *error = "no container is known for '" + out + "'";
            return false;
        }
        return true;
    }

    // A sequence takes the format its extension names; a video the first
    // lossless codec its container takes.
    const AVCodec* pickCodec(const std::string& out, bool sequence, std::string* error) const
    {
        if (sequence) {
            AVCodecID id = av_guess_codec(format_->oformat, nullptr, out.c_str(), nullptr, AVMEDIA_TYPE_VIDEO);
            const AVCodec* codec = avcodec_find_encoder(id);
            if (!codec)
                *error = "no picture format is known for '" + out + "' (use .png)";
            return codec;
        }
        for (const char* name : {"ffv1", "png", "utvideo"}) {
            const AVCodec* c = avcodec_find_encoder_by_name(name);
            if (c && avformat_query_codec(format_->oformat, c->id, FF_COMPLIANCE_NORMAL) == 1)
                return c;
        }
        *error = std::string("the ") + format_->oformat->name +
                 " container takes none of the lossless codecs (FFV1, PNG, Ut Video); try .mkv";
        return nullptr;
    }

    bool openEncoder(const AVCodec* codec, uint32_t w, uint32_t h, bool alpha, AVRational timeBase, AVRational rate,
                     std::string* error)
    {
        pixFmt_ = pickFormat(codec, alpha);
        if (pixFmt_ == AV_PIX_FMT_NONE) {
            *error = std::string("the ") + codec->name + " encoder takes no 8-bit RGB pictures";
            return false;
        }
        encoder_ = avcodec_alloc_context3(codec);
        encoder_->width = int(w);
        encoder_->height = int(h);
        encoder_->pix_fmt = pixFmt_;
        encoder_->time_base = timeBase;
        encoder_->framerate = rate;
        if (format_->oformat->flags & AVFMT_GLOBALHEADER)
            encoder_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        // FFV1 codes slices on several threads from level 3 on.
        encoder_->thread_count = 0;
        if (codec->id == AV_CODEC_ID_FFV1)
            av_opt_set_int(encoder_->priv_data, "level", 3, 0);
        if (const int r = avcodec_open2(encoder_, codec, nullptr); r < 0) {
            *error = std::string("cannot open the ") + codec->name + " encoder: " + avErrorText(r);
            return false;
        }
        video_ = avformat_new_stream(format_, nullptr);
        avcodec_parameters_from_context(video_->codecpar, encoder_);
        video_->time_base = timeBase;
        video_->avg_frame_rate = rate;
        return true;
    }

    bool addSound(const AVStream* sound, std::string* error)
    {
        if (!sound)
            return true;
        if (avformat_query_codec(format_->oformat, sound->codecpar->codec_id, FF_COMPLIANCE_NORMAL) != 1) {
            *error = std::string("the ") + format_->oformat->name + " container cannot carry the " +
                     avcodec_get_name(sound->codecpar->codec_id) + " sound (try .mkv, or --no-sound)";
            return false;
        }
        audio_ = avformat_new_stream(format_, nullptr);
        avcodec_parameters_copy(audio_->codecpar, sound->codecpar);
        audio_->codecpar->codec_tag = 0;
        audio_->time_base = sound->time_base;
        soundTimeBase_ = sound->time_base;
        return true;
    }

    // Opens the file and writes the container's header.
    bool start(const std::string& out, const std::string& writePath, bool sequence, std::string* error)
    {
        int r = 0;
        out_ = out;
        if (sequence)
            av_opt_set_int(format_->priv_data, "start_number", 0, 0);
        if (!(format_->oformat->flags & AVFMT_NOFILE) &&
            (r = avio_open(&format_->pb, writePath.c_str(), AVIO_FLAG_WRITE)) < 0) {
            *error = "cannot write '" + out + "': " + avErrorText(r);
            return false;
        }
        if ((r = avformat_write_header(format_, nullptr)) < 0) {
            *error = "cannot start '" + out + "': " + avErrorText(r);
            return false;
        }
        headerWritten_ = true;
        return true;
    }

    // The encoder's picture and the conversion into it.
    bool makePicture(const AVCodec* codec, uint32_t w, uint32_t h, std::string* error)
    {
        frame_ = av_frame_alloc();
        frame_->format = pixFmt_;
        frame_->width = int(w);
        frame_->height = int(h);
        if (av_frame_get_buffer(frame_, 0) < 0) {
            *error = "out of memory";
            return false;
        }
        sws_ = sws_getContext(int(w), int(h), AV_PIX_FMT_RGBA, int(w), int(h), pixFmt_, SWS_POINT, nullptr, nullptr,
                              nullptr);
        packet_ = av_packet_alloc();
        codecName_ = codec->name;
        return sws_ != nullptr;
    }

    bool encode(AVFrame* frame, std::string* error)
    {
        int r = avcodec_send_frame(encoder_, frame);
        while (r >= 0) {
            r = avcodec_receive_packet(encoder_, packet_);
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
                return true;
            if (r < 0)
                break;
            packet_->stream_index = video_->index;
            av_packet_rescale_ts(packet_, encoder_->time_base, video_->time_base);
            r = av_interleaved_write_frame(format_, packet_);
        }
        *error = writeError(r);
        return false;
    }

    // "no space left on device while writing 'OUT'": FFmpeg's words for a
    // failed write, and the output's name.
    std::string writeError(int r) const
    {
        std::string text = avErrorText(r);
        if (!text.empty())
            text[0] = char(std::tolower(uint8_t(text[0])));
        return text + " while writing '" + out_ + "'";
    }

    AVFormatContext* format_ = nullptr;
    AVCodecContext* encoder_ = nullptr;
    AVStream* video_ = nullptr;
    AVStream* audio_ = nullptr;
    AVRational soundTimeBase_{1, 1};
    AVFrame* frame_ = nullptr;
    AVPacket* packet_ = nullptr;
    SwsContext* sws_ = nullptr;
    AVPixelFormat pixFmt_ = AV_PIX_FMT_NONE;
    bool headerWritten_ = false;
    std::string codecName_;
    std::string out_;  // the output's name, for messages
};

// Sound that precedes the first picture waits until the output exists: the
// output's picture format follows the first frame's type.
class EarlySound {
public:
    ~EarlySound()
    {
        for (AVPacket* p : packets_)
            av_packet_free(&p);
    }
    void hold(const AVPacket* packet) { packets_.push_back(av_packet_clone(packet)); }
    bool writeTo(Output& output, std::string* error)
    {
        for (AVPacket* p : packets_)
            if (!output.sound(p, error))
                return false;
        return true;
    }

private:
    std::deque<AVPacket*> packets_;
};

// Decodes every frame into the output, which opens at the first.
bool decodeFrames(MovieReader& movie, const std::string& movieName, const std::string& out,
                  const std::string& writePath, bool sequence, const AVStream* soundIn, Output& output,
                  const std::function<void(uint64_t, uint64_t, bool)>& progress, uint64_t* frames, LosslessFault* fault,
                  std::string* error)
{
    const MovieInfo& info = movie.info();
    const AVStream* videoIn = movie.format()->streams[info.video];
    const AVRational rate = videoIn->avg_frame_rate.num ? videoIn->avg_frame_rate : videoIn->r_frame_rate;
    nox::FramePictures pictures(info.width, info.height);
    std::vector<uint8_t> rgba;
    EarlySound early;
    const uint64_t expected = info.indexedFrames > 0 ? uint64_t(info.indexedFrames) : 0;
    *fault = LosslessFault::Output;
    MoviePacket packet;
    while (movie.next(&packet)) {
        if (packet.kind == MoviePacket::AUDIO && soundIn) {
            if (!output.started())
                early.hold(movie.lastPacket());
            else if (!output.sound(movie.lastPacket(), error))
                return false;
            continue;
        }
        if (packet.kind != MoviePacket::VIDEO)
            continue;
        nox::FramePictures::Header header;
        std::string why;
        if (!pictures.decode(packet.data, packet.size, &rgba, &header, &why)) {
            *fault = LosslessFault::Movie;
            *error = "'" + movieName + "' frame " + std::to_string(*frames) + " does not decode: " + why;
            return false;
        }
        if (!output.started() &&
            (!output.open(out, writePath, sequence, info.width, info.height, nox::typeHasAlpha(header.type),
                          {info.timeBaseNum, info.timeBaseDen}, rate, soundIn, error) ||
             !early.writeTo(output, error)))
            return false;
        if (!output.picture(rgba, packet.pts == INT64_MIN ? int64_t(*frames) : packet.pts, error))
            return false;
        ++*frames;
        if (progress)
            progress(*frames, expected, false);
    }
    if (progress)
        progress(*frames, expected, true);
    return true;
}

}  // namespace

bool isPictureSequence(const std::string& out) { return out.find('%') != std::string::npos; }

std::string losslessOutputProblem(const std::string& movie, const std::string& out)
{
    const size_t slash = out.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : out.substr(0, slash ? slash : 1);
    if (!platform::isDirectory(folder))
        return "cannot write '" + out + "': no folder '" + folder + "'";
    if (platform::sameFile(movie, isPictureSequence(out) ? std::string() : out))
        return "the output '" + out + "' is the movie being decoded";
    return "";
}

bool copyLossless(MovieReader& movie, const std::string& movieName, const std::string& out, bool withSound,
                  const std::function<void(uint64_t, uint64_t, bool)>& progress, LosslessCopy* copy,
                  LosslessFault* fault, std::string* error)
{
    const bool sequence = isPictureSequence(out);
    const MovieInfo& info = movie.info();
    const AVStream* soundIn = info.audio >= 0 && withSound && !sequence ? movie.format()->streams[info.audio] : nullptr;
    // A video goes under its partial name, removed unless committed; the
    // output closes its file before either (Windows does neither to an open
    // file), so it goes first.
    std::optional<PartialOutput> partial;
    if (!sequence)
        partial.emplace(out);
    Output output;
    *copy = LosslessCopy{};
    if (!decodeFrames(movie, movieName, out, sequence ? out : partial->partial(), sequence, soundIn, output, progress,
                      &copy->frames, fault, error)) {
        output.close();
        return false;
    }
    *fault = LosslessFault::Movie;
    if (!movie.error().empty() || copy->frames == 0) {
        *error = "'" + movieName + (movie.error().empty() ? "' has no frames" : "': " + movie.error());
        output.close();
        return false;
    }
    *fault = LosslessFault::Output;
    if (!output.finish(error)) {
        output.close();
        return false;
    }
    if (partial && !partial->commit(error))
        return false;
    *fault = LosslessFault::None;
    copy->codec = output.codecName();
    copy->container = output.containerName();
    copy->soundCopied = soundIn != nullptr;
    return true;
}

}  // namespace zemo3
