#include "verify/verify_movie.h"

#include <algorithm>
#include <climits>
#include <cmath>

extern "C" {
#include <libavutil/mathematics.h>
#include <libavutil/rational.h>
}

#include "codec/zemo3.h"
#include "core/rational.h"
#include "reader/pictures.h"

namespace zemo3 {

namespace {

// The largest side zemo3 renders.
constexpr uint32_t kLargestSide = nox::kMaxPictureSide;

std::string frameRange(int64_t first, int64_t last)
{
    return first == last ? "frame " + std::to_string(first) + " is"
                         : "frames " + std::to_string(first) + ".." + std::to_string(last) + " are";
}

// Frame n must have pts n * step (step: the first packet's duration) and last
// one step, and packets come in frame order. A dropped packet shows as a gap
// in the pts (and a longer duration before it); packets written out of order
// as a pts below its predecessor's.
void checkTimestamps(const std::vector<FrameRecord>& frames, int64_t step, Problems* problems)
{
    if (frames.empty())
        return;
    if (step <= 0) {
        problems->add("the first frame has no duration");
        return;
    }
    for (size_t n = 0; n < frames.size(); ++n)
        if (frames[n].pts == INT64_MIN) {
            problems->add("frame " + std::to_string(n) + " has no timestamp");
            return;
        } else if (frames[n].pts < 0 || frames[n].pts % step != 0) {
            problems->add("frame " + std::to_string(n) + " has pts " + std::to_string(frames[n].pts) +
                          ", not a multiple of the frame duration " + std::to_string(step));
            return;
        }
    bool broken = false;
    if (frames[0].pts != 0) {
        problems->add("the first frame has pts " + std::to_string(frames[0].pts) + ", not 0");
        broken = true;
    }
    for (size_t n = 1; n < frames.size(); ++n)
        if (frames[n].pts <= frames[n - 1].pts) {
            problems->add("packets out of order: packet " + std::to_string(n) + " holds frame " +
                          std::to_string(frames[n].pts / step) + ", after frame " +
                          std::to_string(frames[n - 1].pts / step));
            broken = true;
            break;
        }
    std::vector<int64_t> sorted;
    for (const FrameRecord& f : frames)
        sorted.push_back(f.pts / step);
    std::sort(sorted.begin(), sorted.end());
    int64_t expected = 0;
    int reported = 0;
    for (size_t i = 0; i < sorted.size(); ++i) {
        if (sorted[i] > expected && reported++ < 5) {
            problems->add(frameRange(expected, sorted[i] - 1) + " missing: no packet has their pts");
            broken = true;
        } else if (sorted[i] < expected && reported++ < 5) {
            problems->add("frame " + std::to_string(sorted[i]) + " appears twice");
            broken = true;
        }
        expected = sorted[i] + 1;
    }
    if (broken)
        return;
    for (size_t n = 0; n < frames.size(); ++n)
        if (frames[n].duration > 0 && frames[n].duration != step) {
            problems->add("frame " + std::to_string(n) + " lasts " + std::to_string(frames[n].duration) +
                          ", the others " + std::to_string(step));
            return;
        }
}

}  // namespace

std::string dbText(double v)
{
    if (std::isinf(v))
        return "inf";
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.2f", v);
    return buffer;
}

namespace {

// One pass over a movie: the checks made as its packets come, what they
// need to remember, and those only the whole movie allows. Problems are
// added in the order a reader of the report expects: the container, the
// packets as found, then the whole.
class MovieCheck {
public:
    MovieCheck(const MovieInfo& info, Reference& ref, double minPsnr, VerifyReport* report)
        : info_(info), ref_(ref), minPsnr_(minPsnr), r_(*report), pictures_(info.width, info.height)
    {
    }

    void container();
    // Whether the video can be decoded at all (container() tells).
    bool canDecode() const { return canDecode_; }
    void sound(const MoviePacket& packet);
    void frame(const MoviePacket& packet);
    // After the last packet; readError is the reader's, if it stopped early.
    void wholeMovie(const std::string& readError);

private:
    void compareSound(const MoviePacket& packet, uint64_t count);
    void compareFrame(uint64_t n, FrameRecord* rec);
    void length();
    void rate();
    void soundLength();
    void soundAgainstReference();

    const MovieInfo& info_;
    Reference& ref_;
    const double minPsnr_;
    VerifyReport& r_;
    nox::FramePictures pictures_;
    std::vector<uint8_t> rgba_, source_;
    std::vector<int16_t> refSound_;
    bool canDecode_ = true;
    int64_t step_ = 0;  // frame duration in the video time base
    uint64_t decodeFailures_ = 0, typeMismatches_ = 0, lowFrames_ = 0;
    uint64_t audioBytes_ = 0;
    bool audioGapReported_ = false, soundDiffers_ = false;
    uint64_t soundDiffAt_ = 0;
    bool referenceEnded_ = false;
    AVRational frameTime_{0, 1};
};

void MovieCheck::container()
{
    Problems& problems = r_.problems;
    const MovieInfo& info = info_;
    if (info.videoStreams != 1) {
        problems.add(info.videoStreams ? std::to_string(info.videoStreams) + " video streams, expected one"
                                       : "no video stream");
        canDecode_ = info.videoStreams > 0;
    }
    if (info.videoStreams && info.codecTag != kMovieTag) {
        problems.add("the video stream is tagged '" + tagText(info.codecTag) + "', not 'ZMQ3'");
        canDecode_ = false;
    }
    if (info.videoStreams && (info.width == 0 || info.height == 0)) {
        problems.add("the video stream has no picture size");
        canDecode_ = false;
    } else if (info.videoStreams && (info.width > kLargestSide || info.height > kLargestSide)) {
        // A damaged size field: decoding would ask for gigabytes.
        problems.add("the video stream is " + std::to_string(info.width) + "x" + std::to_string(info.height) +
                     ", larger than Zemo 3 pictures go (" + std::to_string(kLargestSide) + " per side)");
        canDecode_ = false;
    }
    if (info.audioStreams > 1)
        problems.add(std::to_string(info.audioStreams) + " audio streams, expected at most one");
    if (info.audio >= 0 && info.bytesPerSample == 0)
        problems.add("the audio stream is " + info.audioCodec + ", not uncompressed PCM");
    if (info.otherStreams)
        problems.add(std::to_string(info.otherStreams) + " streams that are neither picture nor sound");
    if (ref_.source) {
        const Composition& c = ref_.source->composition();
        if (c.width != info.width || c.height != info.height) {
            problems.add("the movie is " + std::to_string(info.width) + "x" + std::to_string(info.height) + ", " +
                         ref_.name + " " + std::to_string(c.width) + "x" + std::to_string(c.height));
            ref_.source.reset();
        }
    }
}

void MovieCheck::sound(const MoviePacket& packet)
{
    audioBytes_ += packet.size;
    if (info_.bytesPerSample == 0 || info_.channels == 0)
        return;
    const uint64_t frameBytes = uint64_t(info_.channels) * uint64_t(info_.bytesPerSample);
    const uint64_t count = packet.size / frameBytes;
    const int64_t expected = av_rescale_q(int64_t(r_.audioSamples), {1, std::max(info_.sampleRate, 1)},
                                          {info_.audioTimeBaseNum, info_.audioTimeBaseDen});
    if (packet.pts != INT64_MIN && packet.pts != expected && !audioGapReported_) {
        r_.problems.add("sound packet at sample " + std::to_string(r_.audioSamples) + " has pts " +
                        std::to_string(packet.pts) + ", expected " + std::to_string(expected));
        audioGapReported_ = true;
    }
    compareSound(packet, count);
    r_.audioSamples += count;
}

// The sound the host was given, sample for sample (16-bit movies).
void MovieCheck::compareSound(const MoviePacket& packet, uint64_t count)
{
    if (!(ref_.source && ref_.sound && info_.audioCodec == "pcm_s16le" && !soundDiffers_ &&
          ref_.source->composition().channels == info_.channels &&
          int(ref_.source->composition().sampleRate) == info_.sampleRate))
        return;
    const size_t got = ref_.source->sound(r_.audioSamples, size_t(count), &refSound_);
    const size_t n = got * size_t(info_.channels);
    for (size_t i = 0; i < n && !soundDiffers_; ++i) {
        const int16_t v = int16_t(uint16_t(packet.data[2 * i] | packet.data[2 * i + 1] << 8));
        if (v != refSound_[i])
            soundDiffers_ = true, soundDiffAt_ = r_.audioSamples + i / size_t(info_.channels);
    }
}

void MovieCheck::frame(const MoviePacket& packet)
{
    const uint64_t n = r_.frames.size();
    FrameRecord rec;
    rec.pts = packet.pts;
    rec.bytes = packet.size;
    rec.duration = packet.duration;
    if (n == 0)
        step_ = packet.duration;

    std::string why;
    nox::FramePictures::Header header;
    rec.decoded = pictures_.decode(packet.data, packet.size, &rgba_, &header, &why);
    rec.type = header.type;
    if (!rec.decoded) {
        if (++decodeFailures_ <= 5)
            r_.problems.add("frame " + std::to_string(n) + " does not decode: " + why);
    } else if (r_.movieType == UINT32_MAX) {
        r_.movieType = header.type;
    } else if (header.type != r_.movieType) {
        if (++typeMismatches_ <= 5)
            r_.problems.add("frame " + std::to_string(n) + " is " + nox::formatTypeName(header.type) + " (tag '" +
                            frameTagText(header.tag) + "'), the movie " + nox::formatTypeName(r_.movieType));
    }
    compareFrame(n, &rec);
    r_.frames.push_back(rec);
}

void MovieCheck::compareFrame(uint64_t n, FrameRecord* rec)
{
    if (!ref_.source || referenceEnded_)
        return;
    if (!referencePicture(ref_, n, &source_)) {
        referenceEnded_ = true;
        if (!ref_.source->error().empty())
            r_.problems.add("reading " + ref_.name + ": " + ref_.source->error());
    } else if (rec->decoded) {
        rec->compared = true;
        rec->quality = comparePictures(rgba_.data(), source_.data(), info_.width, info_.height, size_t(info_.width) * 4,
                                       nox::typeHasAlpha(rec->type));
        r_.totals.add(n, rec->quality);
        if (minPsnr_ > 0 && rec->quality.psnrAll < minPsnr_ && ++lowFrames_ <= 5)
            r_.problems.add("frame " + std::to_string(n) + " reaches only " + dbText(rec->quality.psnrAll) +
                            " dB against " + ref_.name + " (floor " + dbText(minPsnr_) + " dB)");
    }
}

void MovieCheck::wholeMovie(const std::string& readError)
{
    Problems& problems = r_.problems;
    checkTimestamps(r_.frames, step_, &problems);
    if (!readError.empty())
        problems.add(readError + " after " + std::to_string(r_.frames.size()) + " frames");
    if (decodeFailures_ > 5)
        problems.add(std::to_string(decodeFailures_) + " frames in all do not decode");
    if (typeMismatches_ > 5)
        problems.add(std::to_string(typeMismatches_) + " frames in all differ in type from the first");
    if (lowFrames_ > 5)
        problems.add(std::to_string(lowFrames_) + " frames in all fall below the PSNR floor");
    length();
    rate();
    soundLength();
    if (ref_.source && ref_.sound)
        soundAgainstReference();
}

// The frame count against the container's index and the reference.
void MovieCheck::length()
{
    Problems& problems = r_.problems;
    const uint64_t count = r_.frames.size();
    if (canDecode_ && count == 0)
        problems.add("the movie has no frames");
    if (canDecode_ && info_.indexedFrames > 0 && uint64_t(info_.indexedFrames) != count)
        problems.add("the container lists " + std::to_string(info_.indexedFrames) + " frames, the file holds " +
                     std::to_string(count));
    if (ref_.source && ref_.exactLength && ref_.frames != count)
        problems.add("the movie has " + std::to_string(count) + " frames, " + ref_.name + " " +
                     std::to_string(ref_.frames));
    else if (ref_.source && referenceEnded_)
        problems.add(ref_.name + " ends before the movie's frame " + std::to_string(r_.totals.frames));
    if (ref_.source && !ref_.exactLength && !referenceEnded_ && count > 0 && count < ref_.limit) {
        SourcePicture extra;
        if (ref_.source->frame(count, &extra))
            problems.add(ref_.name + " goes on after the movie's last frame " + std::to_string(count - 1));
    }
}

// The movie's rate, from one frame's duration, against the reference's.
void MovieCheck::rate()
{
    if (step_ > 0)
        frameTime_ = av_mul_q({int(step_), 1}, {info_.timeBaseNum, info_.timeBaseDen});
    r_.frameTimeNum = frameTime_.num;
    r_.frameTimeDen = frameTime_.den;
    if (!ref_.source || step_ <= 0)
        return;
    const Composition& c = ref_.source->composition();
    // The host hands the rate over as 16.16 fixed point and the module keeps
    // denominators up to 5000, so 29.97 comes back as 148861/4967: rates
    // agree when they differ by less than one part in 10^5.
    const double movieRate = av_q2d(av_inv_q(frameTime_)), referenceRate = double(c.fpsNum) / c.fpsDen;
    if (std::fabs(movieRate - referenceRate) > referenceRate * 1e-5)
        r_.problems.add("the movie runs at " + std::to_string(frameTime_.den) + "/" + std::to_string(frameTime_.num) +
                        " fps, " + ref_.name + " at " + std::to_string(c.fpsNum) + "/" + std::to_string(c.fpsDen));
}

// Whole sample frames, and as long as the picture.
void MovieCheck::soundLength()
{
    if (!(info_.audio >= 0 && info_.bytesPerSample > 0 && info_.channels > 0))
        return;
    const uint64_t frameBytes = uint64_t(info_.channels) * uint64_t(info_.bytesPerSample);
    if (audioBytes_ % frameBytes)
        r_.problems.add("the sound holds " + std::to_string(audioBytes_) + " bytes, not a whole number of " +
                        std::to_string(frameBytes) + "-byte sample frames");
    const double soundSeconds = double(r_.audioSamples) / std::max(info_.sampleRate, 1);
    const double pictureSeconds = double(r_.frames.size()) * av_q2d(frameTime_);
    if (step_ > 0 && std::fabs(soundSeconds - pictureSeconds) > av_q2d(frameTime_) + 1e-9)
        r_.problems.add("the sound lasts " + std::to_string(soundSeconds) + " s, the picture " +
                        std::to_string(pictureSeconds) + " s");
}

void MovieCheck::soundAgainstReference()
{
    Problems& problems = r_.problems;
    const Composition& c = ref_.source->composition();
    const bool refHasSound = c.sampleRate && c.channels;
    if (refHasSound && info_.audio < 0) {
        problems.add("the movie has no sound, " + ref_.name + " has");
        return;
    }
    if (!refHasSound) {
        if (info_.audio >= 0)
            problems.add("the movie has sound, " + ref_.name + " has none");
        return;
    }
    if (int(c.channels) != info_.channels || int(c.sampleRate) != info_.sampleRate)
        problems.add("the sound is " + std::to_string(info_.channels) + " channels at " +
                     std::to_string(info_.sampleRate) + " Hz, " + ref_.name + " " + std::to_string(c.channels) +
                     " at " + std::to_string(c.sampleRate) + " Hz");
    if (ref_.exactLength && info_.audio >= 0) {
        // A render cuts the sound at the first sample of the frame after its
        // last, at the rate it wrote the movie at (a close fraction of the
        // composition's, such as 141009/4705 for 30000/1001).
        const bool known = frameTime_.num > 0 && frameTime_.den > 0;
        const uint64_t expected =
            nox::firstSampleOfFrame(r_.frames.size(), c.sampleRate, known ? frameTime_.den : c.fpsNum,
                                    known ? frameTime_.num : c.fpsDen);
        if (r_.audioSamples != expected)
            problems.add("the sound has " + std::to_string(r_.audioSamples) + " samples, " + ref_.name + " " +
                         std::to_string(expected));
    }
    if (soundDiffers_)
        problems.add("the sound differs from " + ref_.name + " from sample " + std::to_string(soundDiffAt_));
}

}  // namespace

VerifyReport verifyMovie(MovieReader& movie, Reference& ref, double minPsnr, const VerifyProgress& progress)
{
    VerifyReport report;
    const MovieInfo& info = movie.info();
    MovieCheck check(info, ref, minPsnr, &report);
    check.container();
    const uint64_t expectedTotal = info.indexedFrames > 0 ? uint64_t(info.indexedFrames) : ref.frames;
    MoviePacket packet;
    while (movie.next(&packet)) {
        if (packet.kind == MoviePacket::AUDIO)
            check.sound(packet);
        if (packet.kind != MoviePacket::VIDEO || !check.canDecode())
            continue;
        check.frame(packet);
        if (progress)
            progress(report.frames.size(), expectedTotal, false);
    }
    if (progress)
        progress(report.frames.size(), expectedTotal, true);
    check.wholeMovie(movie.error());
    return report;
}

}  // namespace zemo3
