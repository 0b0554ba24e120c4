#include "media/sources.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include "core/rational.h"
#include "media/movie.h"

namespace zemo3 {

bool Source::skip(uint64_t frames, uint64_t samples)
{
    SourcePicture picture;
    for (uint64_t n = 0; n < frames; ++n)
        if (!frame(n, &picture))
            return false;
    std::vector<int16_t> pcm;
    for (uint64_t done = 0; done < samples;) {
        const size_t got = sound(done, size_t(std::min<uint64_t>(samples - done, 1u << 16)), &pcm);
        if (got == 0)
            break;  // a sound shorter than the pictures: the render goes on without
        done += got;
    }
    return true;
}

// ------------------------------------------------------------------ demo

namespace {

uint8_t clamp8(int v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); }

class DemoSource : public Source {
public:
    explicit DemoSource(const Composition& c) { comp_ = c; }

    bool frame(uint64_t n, SourcePicture* picture) override
    {
        if (n >= comp_.frames)
            return false;
        argb_.resize(size_t(comp_.width) * 4 * comp_.height);
        renderDemoFrame(comp_, n, argb_.data(), comp_.width * 4);
        picture->data = argb_.data();
        picture->rowBytes = comp_.width * 4;
        return true;
    }

    // Every frame and sample is made from its number: nothing to pass over.
    bool skip(uint64_t frames, uint64_t) override { return frames < comp_.frames; }

    size_t sound(uint64_t start, size_t count, std::vector<int16_t>* samples) override
    {
        if (comp_.sampleRate == 0 || comp_.channels == 0)
            return 0;
        const uint64_t total = nox::firstSampleOfFrame(comp_.frames, comp_.sampleRate, comp_.fpsNum, comp_.fpsDen);
        if (start >= total)
            return 0;
        count = size_t(std::min<uint64_t>(count, total - start));
        samples->resize(count * comp_.channels);
        static const double freq[] = {440.0, 660.0, 550.0, 330.0, 770.0, 220.0, 880.0, 990.0};
        for (size_t i = 0; i < count; ++i) {
            double t = double(start + i) / comp_.sampleRate;
            for (uint16_t ch = 0; ch < comp_.channels; ++ch) {
                double v = 0.25 * std::sin(2.0 * M_PI * freq[ch % 8] * t);
                (*samples)[i * comp_.channels + ch] = int16_t(std::lround(v * 32767.0));
            }
        }
        return count;
    }

private:
    std::vector<uint8_t> argb_;
};

}  // namespace

Composition demoComposition(uint32_t width, uint32_t height, int32_t fpsNum, int32_t fpsDen, double seconds,
                            bool withSound)
{
    Composition c;
    if (width)
        c.width = width, c.height = height;
    if (fpsNum > 0 && fpsDen > 0 && nox::rationalToFixed(fpsNum, fpsDen) != 0)
        c.fpsNum = fpsNum, c.fpsDen = fpsDen;
    c.frames = nox::framesInSeconds(seconds > 0 ? seconds : 5.0, c.fpsNum, c.fpsDen);
    if (!withSound)
        c.sampleRate = 0, c.channels = 0;
    return c;
}

void renderDemoFrame(const Composition& c, uint64_t n, uint8_t* argb, uint32_t rowBytes)
{
    const int w = int(c.width), h = int(c.height);
    const double t = double(n) * c.fpsDen / std::max(c.fpsNum, 1);
    // A disc moving left to right, a bar moving down, and a soft spot of
    // transparency sweeping the frame.
    const double discX = w * (0.15 + 0.7 * (0.5 + 0.5 * std::sin(t * 1.3)));
    const double discY = h * 0.45;
    const double discR = std::max(4.0, std::min(w, h) * 0.18);
    const int barY = int((h * 0.8) * (0.5 + 0.5 * std::sin(t * 0.9)));
    const int barH = std::max(2, h / 12);
    const double holeX = w * (0.5 + 0.4 * std::cos(t * 0.7)), holeY = h * (0.5 + 0.3 * std::sin(t * 1.1));
    const double holeR = std::max(8.0, std::min(w, h) * 0.3);
    const int shift = int(t * 60.0);
    // The ramp depends on x only and the wave on x + y only: one table each
    // per frame instead of a sine per pixel.
    std::vector<int> ramp(size_t(std::max(w, 0))), wave(size_t(std::max(w + h - 1, 0)));
    for (int x = 0; x < w; ++x) {
        // A ramp that runs up and back down as it scrolls, so it never
        // jumps from full red to none.
        const int phase = ((x + shift) * 510 / std::max(w, 1)) % 510;
        ramp[size_t(x)] = phase < 256 ? phase : 510 - phase;
    }
    for (int s = 0; s < w + h - 1; ++s)
        wave[size_t(s)] = 128 + int(96 * std::sin(s * 0.02 + t));
    for (int y = 0; y < h; ++y) {
        uint8_t* row = argb + size_t(y) * rowBytes;
        for (int x = 0; x < w; ++x) {
            int r = ramp[size_t(x)];
            int g = (y * 255) / std::max(h, 1);
            int b = wave[size_t(x + y)];
            double dx = x - discX, dy = y - discY;
            if (dx * dx + dy * dy < discR * discR) {
                double edge = 1.0 - std::sqrt(dx * dx + dy * dy) / discR;
                r = 250, g = int(200 * edge + 40), b = 30;
            }
            if (y >= barY && y < barY + barH) {
                r = (r + 40) / 2;
                g = (g + 220) / 2;
                b = 240;
            }
            double hx = x - holeX, hy = y - holeY;
            double d = std::sqrt(hx * hx + hy * hy) / holeR;
            int a = d >= 1.0 ? 255 : int(255 * d * d);
            row[4 * x + 0] = clamp8(a);
            row[4 * x + 1] = clamp8(r);
            row[4 * x + 2] = clamp8(g);
            row[4 * x + 3] = clamp8(b);
        }
    }
}

std::unique_ptr<Source> openDemo(const Composition& settings) { return std::make_unique<DemoSource>(settings); }

// ----------------------------------------------------------------- media

namespace {

// Reads and decodes the file on a thread of its own, a few pictures ahead of
// the caller, so that the file's decoding overlaps the work the caller does
// with each frame. The picture queue is bounded; only a caller waiting for
// sound lets the reader go further (a file whose sound lies far behind its
// pictures still renders, at the cost of holding more pictures).
class MediaSource : public Source {
public:
    ~MediaSource() override
    {
        {
            std::lock_guard<std::mutex> guard(lock_);
            stop_ = true;
        }
        changed_.notify_all();
        if (reader_.joinable())
            reader_.join();
        for (Picture& p : ready_)
            av_frame_free(&p.frame);
        av_frame_free(&current_.frame);
        sws_freeContext(sws_);
        swr_free(&swr_);
        avcodec_free_context(&video_);
        avcodec_free_context(&audio_);
        avformat_close_input(&format_);
        av_packet_free(&packet_);
        av_frame_free(&decoded_);
    }

    bool open(const std::string& path, uint32_t width, uint32_t height, int32_t fpsNum, int32_t fpsDen, bool withSound,
              std::string* error)
    {
        if (!openStreams(path, fpsNum, fpsDen, withSound, error))
            return false;
        comp_.width = width ? width : uint32_t(video_->width);
        comp_.height = height ? height : uint32_t(video_->height);
        if (comp_.width == 0 || comp_.height == 0) {
            *error = "'" + path + "' has a picture of size 0";
            return false;
        }
        setRateAndLength(fpsNum, fpsDen);
        if (audio_ && !openResampler()) {
            *error = "cannot convert the sound of '" + path + "'";
            return false;
        }
        if (!audio_)
            comp_.sampleRate = 0, comp_.channels = 0;
        packet_ = av_packet_alloc();
        decoded_ = av_frame_alloc();
        if (!packet_ || !decoded_)
            return false;
        reader_ = std::thread([this] { read(); });
        return true;
    }

    bool frame(uint64_t, SourcePicture* picture) override
    {
        std::unique_lock<std::mutex> guard(lock_);
        // The picture handed over last time is done with.
        if (!current_.argb.empty())
            spare_.push_back(std::move(current_.argb));
        current_.argb = {};
        av_frame_free(&current_.frame);
        changed_.wait(guard, [&] { return !ready_.empty() || finished_; });
        if (ready_.empty())
            return false;
        current_ = std::move(ready_.front());
        ready_.pop_front();
        guard.unlock();
        changed_.notify_all();
        if (current_.frame) {
            picture->data = current_.frame->data[0];
            picture->rowBytes = uint32_t(current_.frame->linesize[0]);
        } else {
            picture->data = current_.argb.data();
            picture->rowBytes = comp_.width * 4;
        }
        return true;
    }

    size_t sound(uint64_t, size_t count, std::vector<int16_t>* samples) override
    {
        if (!audio_)
            return 0;
        const size_t ch = comp_.channels;
        std::unique_lock<std::mutex> guard(lock_);
        if (pcm_.size() < count * ch && !finished_) {
            soundWanted_ = true;
            changed_.notify_all();
            changed_.wait(guard, [&] { return pcm_.size() >= count * ch || finished_; });
            soundWanted_ = false;
        }
        size_t n = std::min(count, pcm_.size() / ch);
        samples->assign(pcm_.begin(), pcm_.begin() + ptrdiff_t(n * ch));
        pcm_.erase(pcm_.begin(), pcm_.begin() + ptrdiff_t(n * ch));
        return n;
    }

private:
    // A decoded picture: the decoder's own frame when it is ARGB at the
    // composition's size already, else a converted copy.
    struct Picture {
        AVFrame* frame = nullptr;
        std::vector<uint8_t> argb;
    };
    // Pictures decoded ahead of the caller. Two keep the caller fed while
    // the reader works on the next; more only hold memory.
    static constexpr size_t kAhead = 3;

    bool openDecoder(int index, AVCodecContext** context, std::string* error)
    {
        AVStream* s = format_->streams[index];
        const AVCodec* codec = avcodec_find_decoder(s->codecpar->codec_id);
        if (!codec) {
            *error = std::string("no decoder for ") + avcodec_get_name(s->codecpar->codec_id);
            return false;
        }
        *context = avcodec_alloc_context3(codec);
        if (*context)
            (*context)->thread_count = 0;  // the decoder's own threads, as many as it likes
        if (!*context || avcodec_parameters_to_context(*context, s->codecpar) < 0 ||
            avcodec_open2(*context, codec, nullptr) < 0) {
            *error = std::string("cannot open the ") + avcodec_get_name(s->codecpar->codec_id) + " decoder";
            return false;
        }
        return true;
    }

    // The file, its picture stream and its decoder, and the sound's when
    // asked for. An image sequence takes the rate given.
    bool openStreams(const std::string& path, int32_t fpsNum, int32_t fpsDen, bool withSound, std::string* error)
    {
        AVDictionary* options = nullptr;
        if (fpsNum > 0 && fpsDen > 0)
            av_dict_set(&options, "framerate", (std::to_string(fpsNum) + "/" + std::to_string(fpsDen)).c_str(), 0);
        int r = avformat_open_input(&format_, path.c_str(), nullptr, &options);
        av_dict_free(&options);
        if (r < 0) {
            *error = "cannot open '" + path + "': " + avErrorText(r);
            return false;
        }
        if ((r = avformat_find_stream_info(format_, nullptr)) < 0) {
            *error = "cannot read '" + path + "': " + avErrorText(r);
            return false;
        }
        videoIndex_ = av_find_best_stream(format_, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (videoIndex_ < 0) {
            *error = "'" + path + "' has no picture";
            return false;
        }
        if (!openDecoder(videoIndex_, &video_, error))
            return false;
        if (withSound) {
            audioIndex_ = av_find_best_stream(format_, AVMEDIA_TYPE_AUDIO, -1, videoIndex_, nullptr, 0);
            if (audioIndex_ >= 0 && !openDecoder(audioIndex_, &audio_, error))
                return false;
        }
        return true;
    }

    // The rate given, else the stream's (25 when it has none); the length
    // the container lists, or 0 when it does not tell.
    void setRateAndLength(int32_t fpsNum, int32_t fpsDen)
    {
        AVStream* vs = format_->streams[videoIndex_];
        AVRational rate = vs->avg_frame_rate.num > 0 ? vs->avg_frame_rate : vs->r_frame_rate;
        if (fpsNum > 0 && fpsDen > 0)
            rate = {fpsNum, fpsDen};
        if (rate.num <= 0 || rate.den <= 0)
            rate = {25, 1};
        comp_.fpsNum = rate.num;
        comp_.fpsDen = rate.den;
        if (vs->nb_frames > 0)
            comp_.frames = uint64_t(vs->nb_frames);
        else if (format_->duration > 0)
            comp_.frames = uint64_t(double(format_->duration) / AV_TIME_BASE * rate.num / rate.den + 0.5);
        else
            comp_.frames = 0;
    }

    // Sound to interleaved 16-bit at the file's rate and channel count.
    bool openResampler()
    {
        comp_.sampleRate = uint32_t(audio_->sample_rate);
        comp_.channels = uint16_t(audio_->ch_layout.nb_channels);
        AVChannelLayout out;
        av_channel_layout_default(&out, audio_->ch_layout.nb_channels);
        const int r = swr_alloc_set_opts2(&swr_, &out, AV_SAMPLE_FMT_S16, audio_->sample_rate, &audio_->ch_layout,
                                          audio_->sample_fmt, audio_->sample_rate, 0, nullptr);
        av_channel_layout_uninit(&out);
        return r >= 0 && swr_init(swr_) >= 0;
    }

    // The reader thread: packets in file order, until the end or until the
    // source is destroyed.
    void read()
    {
        for (;;) {
            {
                std::unique_lock<std::mutex> guard(lock_);
                changed_.wait(guard, [&] { return stop_ || ready_.size() < kAhead || soundWanted_; });
                if (stop_)
                    break;
            }
            if (!pump())
                break;
        }
        {
            std::lock_guard<std::mutex> guard(lock_);
            finished_ = true;
        }
        changed_.notify_all();
    }

    // Reads one packet (or drains at the end) and decodes it into the
    // picture or sound queue. False once everything has been decoded.
    bool pump()
    {
        int r = av_read_frame(format_, packet_);
        if (r < 0) {
            // End of input: drain both decoders once.
            drain(video_);
            if (audio_)
                drain(audio_);
            return false;
        }
        if (packet_->stream_index == videoIndex_)
            decode(video_, packet_);
        else if (audio_ && packet_->stream_index == audioIndex_)
            decode(audio_, packet_);
        av_packet_unref(packet_);
        return true;
    }

    void drain(AVCodecContext* c) { decode(c, nullptr); }

    void decode(AVCodecContext* c, AVPacket* p)
    {
        if (avcodec_send_packet(c, p) < 0)
            return;
        while (avcodec_receive_frame(c, decoded_) >= 0) {
            if (c == video_)
                takePicture();
            else
                takeSound();
            av_frame_unref(decoded_);
        }
    }

    void takePicture()
    {
        Picture picture;
        if (decoded_->format == AV_PIX_FMT_ARGB && uint32_t(decoded_->width) == comp_.width &&
            uint32_t(decoded_->height) == comp_.height && decoded_->linesize[0] > 0) {
            // Already what the host hands over: no conversion and no copy.
            picture.frame = av_frame_alloc();
            if (!picture.frame)
                return;
            av_frame_move_ref(picture.frame, decoded_);
        } else {
            sws_ = sws_getCachedContext(sws_, decoded_->width, decoded_->height, AVPixelFormat(decoded_->format),
                                        int(comp_.width), int(comp_.height), AV_PIX_FMT_ARGB, SWS_BICUBIC, nullptr,
                                        nullptr, nullptr);
            if (!sws_)
                return;
            {
                std::lock_guard<std::mutex> guard(lock_);
                if (!spare_.empty()) {
                    picture.argb = std::move(spare_.back());
                    spare_.pop_back();
                }
            }
            // Every byte is written by the conversion: a reused buffer is
            // not cleared, a new one only once.
            picture.argb.resize(size_t(comp_.width) * comp_.height * 4);
            uint8_t* planes[4] = {picture.argb.data(), nullptr, nullptr, nullptr};
            int strides[4] = {int(comp_.width * 4), 0, 0, 0};
            sws_scale(sws_, decoded_->data, decoded_->linesize, 0, decoded_->height, planes, strides);
        }
        {
            std::lock_guard<std::mutex> guard(lock_);
            ready_.push_back(std::move(picture));
        }
        changed_.notify_all();
    }

    void takeSound()
    {
        int out = swr_get_out_samples(swr_, decoded_->nb_samples);
        if (out <= 0)
            return;
        std::vector<int16_t> buffer(size_t(out) * comp_.channels);
        uint8_t* planes[1] = {reinterpret_cast<uint8_t*>(buffer.data())};
        int n =
            swr_convert(swr_, planes, out, const_cast<const uint8_t**>(decoded_->extended_data), decoded_->nb_samples);
        if (n <= 0)
            return;
        {
            std::lock_guard<std::mutex> guard(lock_);
            pcm_.insert(pcm_.end(), buffer.begin(), buffer.begin() + ptrdiff_t(size_t(n) * comp_.channels));
        }
        changed_.notify_all();
    }

    // Touched by the reader thread only, after open().
    AVFormatContext* format_ = nullptr;
    AVCodecContext* video_ = nullptr;
    AVCodecContext* audio_ = nullptr;
    SwsContext* sws_ = nullptr;
    SwrContext* swr_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* decoded_ = nullptr;
    int videoIndex_ = -1, audioIndex_ = -1;

    // Shared with the caller, under lock_.
    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<Picture> ready_;
    std::vector<std::vector<uint8_t>> spare_;
    std::deque<int16_t> pcm_;
    bool finished_ = false, stop_ = false, soundWanted_ = false;

    Picture current_;  // the caller's, until its next frame()
    std::thread reader_;
};

}  // namespace

std::unique_ptr<Source> openMedia(const std::string& path, uint32_t width, uint32_t height, int32_t fpsNum,
                                  int32_t fpsDen, bool withSound, std::string* error)
{
    auto source = std::make_unique<MediaSource>();
    if (!source->open(path, width, height, fpsNum, fpsDen, withSound, error))
        return nullptr;
    return source;
}

}  // namespace zemo3
