#include "verify/verify_movie.h"

#include <algorithm>
#include <climits>
#include <cmath>

extern "C" {
#include <libavutil/mathematics.h>
#include <libavutil/rational.h>
}

#include "codec/zemo3.h"

namespace zemo3 {

namespace {

// The largest side zemo3 renders (picture sizes in cli.h).
constexpr uint32_t kLargestSide = 16384;

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

VerifyReport verifyMovie(MovieReader& movie, Reference& ref, double minPsnr, const VerifyProgress& progress)
{
    VerifyReport report;
    const MovieInfo& info = movie.info();
    Problems& problems = report.problems;
    std::vector<FrameRecord>& frames = report.frames;
    QualityTotals& totals = report.totals;
    uint32_t& movieType = report.movieType;
    uint64_t& audioSamples = report.audioSamples;

    // The container.
    bool canDecode = true;
    if (info.videoStreams != 1) {
        problems.add(info.videoStreams ? std::to_string(info.videoStreams) + " video streams, expected one"
                                       : "no video stream");
        canDecode = info.videoStreams > 0;
    }
    if (info.videoStreams && info.codecTag != kMovieTag) {
        problems.add("the video stream is tagged '" + tagText(info.codecTag) + "', not 'ZMQ3'");
        canDecode = false;
    }
    if (info.videoStreams && (info.width == 0 || info.height == 0)) {
        problems.add("the video stream has no picture size");
        canDecode = false;
    } else if (info.videoStreams && (info.width > kLargestSide || info.height > kLargestSide)) {
        // A damaged size field: decoding would ask for gigabytes.
        problems.add("the video stream is " + std::to_string(info.width) + "x" + std::to_string(info.height) +
                     ", larger than Zemo 3 pictures go (" + std::to_string(kLargestSide) + " per side)");
        canDecode = false;
    }
    if (info.audioStreams > 1)
        problems.add(std::to_string(info.audioStreams) + " audio streams, expected at most one");
    if (info.audio >= 0 && info.bytesPerSample == 0)
        problems.add("the audio stream is " + info.audioCodec + ", not uncompressed PCM");
    if (info.otherStreams)
        problems.add(std::to_string(info.otherStreams) + " streams that are neither picture nor sound");
    if (ref.source) {
        const Composition& c = ref.source->composition();
        if (c.width != info.width || c.height != info.height) {
            problems.add("the movie is " + std::to_string(info.width) + "x" + std::to_string(info.height) + ", " +
                         ref.name + " " + std::to_string(c.width) + "x" + std::to_string(c.height));
            ref.source.reset();
        }
    }

    // Every packet.
    FramePictures pictures(info.width, info.height, true);
    std::vector<uint8_t> rgba, source;
    std::vector<int16_t> refSound;
    uint64_t expectedTotal = info.indexedFrames > 0 ? uint64_t(info.indexedFrames) : ref.frames;
    int64_t step = 0;                        // frame duration in the video time base
    uint64_t decodeFailures = 0, typeMismatches = 0, lowFrames = 0;
    uint64_t audioBytes = 0;
    bool audioGapReported = false, soundDiffers = false;
    uint64_t soundDiffAt = 0;
    bool referenceEnded = false;
    MoviePacket packet;
    while (movie.next(&packet)) {
        if (packet.kind == MoviePacket::AUDIO) {
            audioBytes += packet.size;
            if (info.bytesPerSample == 0 || info.channels == 0)
                continue;
            const uint64_t frameBytes = uint64_t(info.channels) * uint64_t(info.bytesPerSample);
            const uint64_t count = packet.size / frameBytes;
            const int64_t expected =
                av_rescale_q(int64_t(audioSamples), {1, std::max(info.sampleRate, 1)},
                             {info.audioTimeBaseNum, info.audioTimeBaseDen});
            if (packet.pts != INT64_MIN && packet.pts != expected && !audioGapReported) {
                problems.add("sound packet at sample " + std::to_string(audioSamples) + " has pts " +
                             std::to_string(packet.pts) + ", expected " + std::to_string(expected));
                audioGapReported = true;
            }
            // The sound the host was given, sample for sample (16-bit movies).
            if (ref.source && ref.sound && info.audioCodec == "pcm_s16le" && !soundDiffers &&
                ref.source->composition().channels == info.channels &&
                int(ref.source->composition().sampleRate) == info.sampleRate) {
                const size_t got = ref.source->sound(audioSamples, size_t(count), &refSound);
                const size_t n = got * size_t(info.channels);
                for (size_t i = 0; i < n && !soundDiffers; ++i) {
                    const int16_t v = int16_t(uint16_t(packet.data[2 * i] | packet.data[2 * i + 1] << 8));
                    if (v != refSound[i])
                        soundDiffers = true, soundDiffAt = audioSamples + i / size_t(info.channels);
                }
            }
            audioSamples += count;
            continue;
        }
        if (packet.kind != MoviePacket::VIDEO || !canDecode)
            continue;

        const uint64_t n = frames.size();
        FrameRecord rec;
        rec.pts = packet.pts;
        rec.bytes = packet.size;
        rec.duration = packet.duration;
        if (n == 0)
            step = packet.duration;

        std::string why;
        FramePictures::Header header;
        rec.decoded = pictures.decode(packet.data, packet.size, &rgba, &header, &why);
        rec.type = header.type;
        if (!rec.decoded) {
            if (++decodeFailures <= 5)
                problems.add("frame " + std::to_string(n) + " does not decode: " + why);
        } else if (movieType == UINT32_MAX) {
            movieType = header.type;
        } else if (header.type != movieType) {
            if (++typeMismatches <= 5)
                problems.add("frame " + std::to_string(n) + " is " + nox::formatTypeName(header.type) + " (tag '" +
                             frameTagText(header.tag) + "'), the movie " + nox::formatTypeName(movieType));
        }
        if (ref.source && !referenceEnded) {
            if (!referencePicture(ref, n, &source)) {
                referenceEnded = true;
                if (!ref.source->error().empty())
                    problems.add("reading " + ref.name + ": " + ref.source->error());
            } else if (rec.decoded) {
                rec.compared = true;
                rec.quality = comparePictures(rgba.data(), source.data(), info.width, info.height,
                                              size_t(info.width) * 4, typeHasAlpha(rec.type));
                totals.add(n, rec.quality);
                if (minPsnr > 0 && rec.quality.psnrAll < minPsnr && ++lowFrames <= 5)
                    problems.add("frame " + std::to_string(n) + " reaches only " + dbText(rec.quality.psnrAll) +
                                 " dB against " + ref.name + " (floor " + dbText(minPsnr) + " dB)");
            }
        }
        frames.push_back(rec);
        if (progress)
            progress(frames.size(), expectedTotal, false);
    }
    if (progress)
        progress(frames.size(), expectedTotal, true);

    // What only the whole movie tells.
    const uint64_t count = frames.size();
    checkTimestamps(frames, step, &problems);
    if (!movie.error().empty())
        problems.add(movie.error() + " after " + std::to_string(count) + " frames");
    if (decodeFailures > 5)
        problems.add(std::to_string(decodeFailures) + " frames in all do not decode");
    if (typeMismatches > 5)
        problems.add(std::to_string(typeMismatches) + " frames in all differ in type from the first");
    if (lowFrames > 5)
        problems.add(std::to_string(lowFrames) + " frames in all fall below the PSNR floor");
    if (canDecode && count == 0)
        problems.add("the movie has no frames");
    if (canDecode && info.indexedFrames > 0 && uint64_t(info.indexedFrames) != count)
        problems.add("the container lists " + std::to_string(info.indexedFrames) + " frames, the file holds " +
                     std::to_string(count));
    if (ref.source && ref.exactLength && ref.frames != count)
        problems.add("the movie has " + std::to_string(count) + " frames, " + ref.name + " " +
                     std::to_string(ref.frames));
    else if (ref.source && referenceEnded)
        problems.add(ref.name + " ends before the movie's frame " + std::to_string(totals.frames));
    if (ref.source && !ref.exactLength && !referenceEnded && count > 0 && count < ref.limit) {
        SourcePicture extra;
        if (ref.source->frame(count, &extra))
            problems.add(ref.name + " goes on after the movie's last frame " + std::to_string(count - 1));
    }
    // Rate of the movie against the reference's.
    AVRational frameTime{0, 1};
    if (step > 0)
        frameTime = av_mul_q({int(step), 1}, {info.timeBaseNum, info.timeBaseDen});
    report.frameTimeNum = frameTime.num;
    report.frameTimeDen = frameTime.den;
    if (ref.source && step > 0) {
        const Composition& c = ref.source->composition();
        // The host hands the rate over as 16.16 fixed point and the module
        // keeps denominators up to 5000, so 29.97 comes back as 148861/4967:
        // rates agree when they differ by less than one part in 10^5.
        const double movieRate = av_q2d(av_inv_q(frameTime)), referenceRate = double(c.fpsNum) / c.fpsDen;
        if (std::fabs(movieRate - referenceRate) > referenceRate * 1e-5)
            problems.add("the movie runs at " + std::to_string(frameTime.den) + "/" + std::to_string(frameTime.num) +
                         " fps, " + ref.name + " at " + std::to_string(c.fpsNum) + "/" + std::to_string(c.fpsDen));
    }
    // Sound.
    if (info.audio >= 0 && info.bytesPerSample > 0 && info.channels > 0) {
        const uint64_t frameBytes = uint64_t(info.channels) * uint64_t(info.bytesPerSample);
        if (audioBytes % frameBytes)
            problems.add("the sound holds " + std::to_string(audioBytes) + " bytes, not a whole number of " +
                         std::to_string(frameBytes) + "-byte sample frames");
        const double soundSeconds = double(audioSamples) / std::max(info.sampleRate, 1);
        const double pictureSeconds = double(count) * av_q2d(frameTime);
        if (step > 0 && std::fabs(soundSeconds - pictureSeconds) > av_q2d(frameTime) + 1e-9)
            problems.add("the sound lasts " + std::to_string(soundSeconds) + " s, the picture " +
                         std::to_string(pictureSeconds) + " s");
    }
    if (ref.source && ref.sound) {
        const Composition& c = ref.source->composition();
        const bool refHasSound = c.sampleRate && c.channels;
        if (refHasSound && info.audio < 0)
            problems.add("the movie has no sound, " + ref.name + " has");
        else if (!refHasSound && info.audio >= 0)
            problems.add("the movie has sound, " + ref.name + " has none");
        else if (refHasSound) {
            if (int(c.channels) != info.channels || int(c.sampleRate) != info.sampleRate)
                problems.add("the sound is " + std::to_string(info.channels) + " channels at " +
                             std::to_string(info.sampleRate) + " Hz, " + ref.name + " " +
                             std::to_string(c.channels) + " at " + std::to_string(c.sampleRate) + " Hz");
            if (ref.exactLength && info.audio >= 0) {
                const uint64_t expected =
                    count * uint64_t(c.sampleRate) * uint64_t(c.fpsDen) / uint64_t(std::max(c.fpsNum, 1));
                if (audioSamples != expected)
                    problems.add("the sound has " + std::to_string(audioSamples) + " samples, " + ref.name + " " +
                                 std::to_string(expected));
            }
            if (soundDiffers)
                problems.add("the sound differs from " + ref.name + " from sample " + std::to_string(soundDiffAt));
        }
    }

    return report;
}

}  // namespace zemo3
