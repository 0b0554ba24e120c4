// zemo3 decode: turns a Zemo 3 movie into something any player opens: a
// numbered picture sequence, or a lossless video (FFV1 where the container
// takes it) carrying the movie's sound unchanged.
#include <sys/stat.h>

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
    bool open(const std::string& out, const std::string& writePath, bool sequence, uint32_t w, uint32_t h,
              bool alpha, AVRational timeBase, AVRational rate, const AVStream* sound, std::string* error)
    {
        int r = avformat_alloc_output_context2(&format_, sequence ? av_guess_format("image2", nullptr, nullptr)
                                                                  : nullptr,
                                               nullptr, out.c_str());
        if (r < 0 || !format_) {
            *error = "no container is known for '" + out + "'";
            return false;
        }
        const AVCodec* codec = nullptr;
        if (sequence) {
            AVCodecID id = av_guess_codec(format_->oformat, nullptr, out.c_str(), nullptr, AVMEDIA_TYPE_VIDEO);
            codec = avcodec_find_encoder(id);
            if (!codec) {
                *error = "no picture format is known for '" + out + "' (use .png)";
                return false;
            }
        } else {
            for (const char* name : {"ffv1", "png", "utvideo"}) {
                const AVCodec* c = avcodec_find_encoder_by_name(name);
                if (c && avformat_query_codec(format_->oformat, c->id, FF_COMPLIANCE_NORMAL) == 1) {
                    codec = c;
                    break;
                }
            }
            if (!codec) {
                *error = std::string("the ") + format_->oformat->name +
                         " container takes none of the lossless codecs (FFV1, PNG, Ut Video); try .mkv";
                return false;
            }
        }
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
        if ((r = avcodec_open2(encoder_, codec, nullptr)) < 0) {
            *error = std::string("cannot open the ") + codec->name + " encoder: " + avErrorText(r);
            return false;
        }
        video_ = avformat_new_stream(format_, nullptr);
        avcodec_parameters_from_context(video_->codecpar, encoder_);
        video_->time_base = timeBase;
        video_->avg_frame_rate = rate;
        if (sound) {
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
        }
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
            *error = "cannot write the sound: " + avErrorText(r);
        return r >= 0;
    }

    bool finish(std::string* error)
    {
        if (!encode(nullptr, error))
            return false;
        const int r = av_write_trailer(format_);
        if (r < 0 || !close()) {
            *error = "cannot finish the file: " + avErrorText(r < 0 ? r : AVERROR(EIO));
            return false;
        }
        return true;
    }

    bool started() const { return headerWritten_; }
    const std::string& codecName() const { return codecName_; }
    const char* containerName() const { return format_->oformat->name; }

private:
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
        *error = "cannot write the pictures: " + avErrorText(r);
        return false;
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
};

int cmdDecode(const std::vector<std::string>& in)
{
    std::vector<std::string> argsIn;
    for (const auto& a : in)
        argsIn.push_back(a == "-o" ? "--output" : a);
    Args args = parseArgs(argsIn, {"--output"}, {"--no-sound"});
    if (args.help) {
        std::fputs(kUsage, stdout);
        return EXIT_OK;
    }
    if (!args.error.empty())
        return fail(EXIT_USAGE, "decode: " + args.error);
    if (args.positional.size() != 1)
        return fail(EXIT_USAGE, "decode: expected one MOVIE (see zemo3 decode --help)");
    if (!args.has("--output"))
        return fail(EXIT_USAGE, "decode: -o OUT is required");
    const std::string path = args.positional[0], out = args.get("--output");
    const bool sequence = out.find('%') != std::string::npos;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        return fail(EXIT_USAGE, "decode: cannot open '" + path + "': " + std::strerror(errno));
    const size_t slash = out.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : out.substr(0, slash ? slash : 1);
    if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return fail(EXIT_USAGE, "decode: cannot write '" + out + "': no folder '" + folder + "'");

    if (platform::sameFile(path, sequence ? std::string() : out))
        return fail(EXIT_USAGE, "decode: the output '" + out + "' is the movie being decoded");
    MovieReader movie;
    std::string error;
    if (!movie.open(path, &error))
        return fail(EXIT_REJECTED, "decode: " + error);
    const MovieInfo& info = movie.info();
    if (info.video < 0 || info.codecTag != kMovieTag || info.width == 0 || info.height == 0)
        return fail(EXIT_REJECTED, "decode: '" + path + "' has no Zemo 3 video stream");
    const AVStream* videoIn = movie.format()->streams[info.video];
    const AVStream* soundIn =
        info.audio >= 0 && !args.has("--no-sound") && !sequence ? movie.format()->streams[info.audio] : nullptr;
    AVRational rate = videoIn->avg_frame_rate.num ? videoIn->avg_frame_rate : videoIn->r_frame_rate;

    // A video is written under a temporary name and renamed when complete, so
    // a failed decode leaves no half file behind.
    const std::string writePath = sequence ? out : out + ".partial";
    Output output;
    auto failed = [&](int code, const std::string& what) {
        output.close();
        if (!sequence)
            platform::removeFile(writePath);
        return fail(code, "decode: " + what);
    };

    FramePictures pictures(info.width, info.height);
    std::vector<uint8_t> rgba;
    // Sound that precedes the first picture waits until the output exists:
    // the output's picture format follows the first frame's type.
    std::deque<AVPacket*> early;
    auto dropEarly = [&] {
        for (AVPacket* p : early)
            av_packet_free(&p);
        early.clear();
    };
    ProgressLine progress("decode");
    const uint64_t expected = info.indexedFrames > 0 ? uint64_t(info.indexedFrames) : 0;
    uint64_t frames = 0;
    MoviePacket packet;
    while (movie.next(&packet)) {
        if (packet.kind == MoviePacket::AUDIO && soundIn) {
            if (!output.started()) {
                early.push_back(av_packet_clone(movie.lastPacket()));
            } else if (!output.sound(movie.lastPacket(), &error)) {
                dropEarly();
                return failed(EXIT_USAGE, error);
            }
            continue;
        }
        if (packet.kind != MoviePacket::VIDEO)
            continue;
        FramePictures::Header header;
        std::string why;
        if (!pictures.decode(packet.data, packet.size, &rgba, &header, &why)) {
            dropEarly();
            return failed(EXIT_REJECTED, "'" + path + "' frame " + std::to_string(frames) + " does not decode: " + why);
        }
        if (!output.started()) {
            if (!output.open(out, writePath, sequence, info.width, info.height, typeHasAlpha(header.type),
                             {info.timeBaseNum, info.timeBaseDen}, rate, soundIn, &error)) {
                dropEarly();
                return failed(EXIT_USAGE, error);
            }
            for (AVPacket* p : early)
                if (!output.sound(p, &error)) {
                    dropEarly();
                    return failed(EXIT_USAGE, error);
                }
            dropEarly();
        }
        if (!output.picture(rgba, packet.pts == INT64_MIN ? int64_t(frames) : packet.pts, &error))
            return failed(EXIT_USAGE, error);
        ++frames;
        progress.draw(frames, expected);
    }
    progress.draw(frames, expected, true);
    dropEarly();
    if (!movie.error().empty())
        return failed(EXIT_REJECTED, "'" + path + "': " + movie.error());
    if (frames == 0)
        return failed(EXIT_REJECTED, "'" + path + "' has no frames");
    if (!output.finish(&error))
        return failed(EXIT_USAGE, error);
    if (!sequence && !platform::replaceFile(writePath, out))
        return failed(EXIT_USAGE, "cannot write '" + out + "': " + std::strerror(errno));
    std::printf("%s: %llu frames of %ux%u (%s in %s)%s\n", out.c_str(), (unsigned long long)frames, info.width,
                info.height, output.codecName().c_str(), output.containerName(),
                soundIn ? (", sound " + info.audioCodec + " copied").c_str() : "");
    return EXIT_OK;
}

}  // namespace

ZEMO3_COMMAND("decode", "decode a Zemo 3 movie to a lossless video or a picture sequence", cmdDecode);
