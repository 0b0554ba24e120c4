// zemo3 decode: turns a Zemo 3 movie into something any player opens: a
// numbered picture sequence, or a lossless video (FFV1 where the container
// takes it) carrying the movie's sound unchanged.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

#include "cli.h"
#include "commands.h"
#include "media/movie.h"
#include "platform/platform.h"
#include "progress.h"

namespace {

using namespace zemo3;

const char* kUsage =
    "usage: zemo3 decode MOVIE -o OUT [--no-sound]\n"
    "\n"
    "Decodes every frame of a Zemo 3 movie and writes the pictures as\n"
    "  - a picture sequence when OUT holds a %d pattern (frame_%04d.png; numbered\n"
    "    from 0 like the movie's frames), the format following the extension, or\n"
    "  - a lossless video in the container OUT names (.mkv, .avi, .nut, .mov ...):\n"
    "    FFV1 where the container takes it, otherwise PNG or Ut Video, with the\n"
    "    movie's sound copied unchanged.\n"
    "Pictures keep their alpha when the movie stores it.\n"
    "  --no-sound   leave the sound out of a video\n"
    "\n"
    "Exit codes: 0 done, 1 a frame does not decode or the movie is no Zemo 3 movie,\n"
    "2 bad arguments, unreadable input or unwritable output.\n";

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

// Where the pictures go: a picture sequence when OUT holds a %d pattern,
// else a video, written under a temporary name and renamed when complete so
// that a failed decode leaves no half file behind.
struct Target {
    std::string out;
    bool sequence;
    std::string writePath;

    explicit Target(const std::string& o)
        : out(o), sequence(o.find('%') != std::string::npos), writePath(sequence ? o : platform::partialName(o))
    {
    }
};

// The output's folder must be there, and a video must not be the movie.
bool checkTarget(CommandRun& run, const Target& target)
{
    const size_t slash = target.out.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : target.out.substr(0, slash ? slash : 1);
    if (!platform::isDirectory(folder))
        return run.stop(EXIT_USAGE, "cannot write '" + target.out + "': no folder '" + folder + "'");
    if (platform::sameFile(run.movie(), target.sequence ? std::string() : target.out))
        return run.stop(EXIT_USAGE, "the output '" + target.out + "' is the movie being decoded");
    return true;
}

// Ends a decode that failed: what was written goes.
int abandon(CommandRun& run, Output& output, const Target& target, int code, const std::string& what)
{
    output.close();
    if (!target.sequence)
        platform::removeFile(target.writePath);
    return run.fail(code, what);
}

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

// Decodes every frame into the output, which opens at the first; EXIT_OK
// or the failure's code.
int decodeFrames(CommandRun& run, MovieReader& movie, const Target& target, const AVStream* soundIn, Output& output,
                 uint64_t* frames)
{
    const MovieInfo& info = movie.info();
    const AVStream* videoIn = movie.format()->streams[info.video];
    const AVRational rate = videoIn->avg_frame_rate.num ? videoIn->avg_frame_rate : videoIn->r_frame_rate;
    FramePictures pictures(info.width, info.height);
    std::vector<uint8_t> rgba;
    EarlySound early;
    std::string error;
    ProgressLine progress("decode");
    const uint64_t expected = info.indexedFrames > 0 ? uint64_t(info.indexedFrames) : 0;
    MoviePacket packet;
    while (movie.next(&packet)) {
        if (packet.kind == MoviePacket::AUDIO && soundIn) {
            if (!output.started())
                early.hold(movie.lastPacket());
            else if (!output.sound(movie.lastPacket(), &error))
                return abandon(run, output, target, EXIT_USAGE, error);
            continue;
        }
        if (packet.kind != MoviePacket::VIDEO)
            continue;
        FramePictures::Header header;
        std::string why;
        if (!pictures.decode(packet.data, packet.size, &rgba, &header, &why))
            return abandon(run, output, target, EXIT_REJECTED,
                           "'" + run.movie() + "' frame " + std::to_string(*frames) + " does not decode: " + why);
        if (!output.started() &&
            (!output.open(target.out, target.writePath, target.sequence, info.width, info.height,
                          typeHasAlpha(header.type), {info.timeBaseNum, info.timeBaseDen}, rate, soundIn, &error) ||
             !early.writeTo(output, &error)))
            return abandon(run, output, target, EXIT_USAGE, error);
        if (!output.picture(rgba, packet.pts == INT64_MIN ? int64_t(*frames) : packet.pts, &error))
            return abandon(run, output, target, EXIT_USAGE, error);
        ++*frames;
        progress.draw(*frames, expected);
    }
    progress.draw(*frames, expected, true);
    return EXIT_OK;
}

int cmdDecode(const std::vector<std::string>& in)
{
    CommandRun run("decode", kUsage);
    if (!run.parse(in, {"--output"}, {"--no-sound"}) || !run.oneMovie())
        return run.exitCode();
    if (!run.args().has("--output"))
        return run.fail(EXIT_USAGE, "-o OUT is required");
    const Target target(run.args().get("--output"));
    MovieReader movie;
    if (!run.movieExists() || !checkTarget(run, target) || !run.openMovie(&movie, MovieNeed::Zemo3Video))
        return run.exitCode();
    const MovieInfo& info = movie.info();
    const AVStream* soundIn = info.audio >= 0 && !run.args().has("--no-sound") && !target.sequence
                                  ? movie.format()->streams[info.audio]
                                  : nullptr;

    Output output;
    uint64_t frames = 0;
    std::string error;
    if (const int code = decodeFrames(run, movie, target, soundIn, output, &frames); code != EXIT_OK)
        return code;
    if (!movie.error().empty())
        return abandon(run, output, target, EXIT_REJECTED, "'" + run.movie() + "': " + movie.error());
    if (frames == 0)
        return abandon(run, output, target, EXIT_REJECTED, "'" + run.movie() + "' has no frames");
    if (!output.finish(&error))
        return abandon(run, output, target, EXIT_USAGE, error);
    if (!target.sequence && !platform::replaceFile(target.writePath, target.out, &error))
        return abandon(run, output, target, EXIT_USAGE, "cannot write '" + target.out + "': " + error);
    std::printf("%s: %llu frames of %ux%u (%s in %s)%s\n", target.out.c_str(), (unsigned long long)frames, info.width,
                info.height, output.codecName().c_str(), output.containerName(),
                soundIn ? (", sound " + info.audioCodec + " copied").c_str() : "");
    return EXIT_OK;
}

}  // namespace

ZEMO3_COMMAND("decode", "decode a Zemo 3 movie to a lossless video or a picture sequence", cmdDecode);
