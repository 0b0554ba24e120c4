// zemo3 verify: reads a Zemo 3 movie back packet by packet, decodes every
// frame to RGBA and checks the container's structure; against a reference it
// measures how close the pictures came to their source.
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/mathematics.h>
#include <libavutil/rational.h>
}

#include "cli.h"
#include "codec/zemo3.h"
#include "commands.h"
#include "movie.h"
#include "progress.h"
#include "quality.h"
#include "reference.h"

namespace {

using namespace zemo3;

const char* kUsageHead =
    "usage: zemo3 verify MOVIE [--reference SRC | --demo [--size WxH] [--fps RATE]\n"
    "                    [--duration S] [--no-sound]] [--min-psnr DB] [--per-frame | --json]\n"
    "\n"
    "Reads every packet of a Zemo 3 movie, decodes every frame and checks the\n"
    "structure: one ZMQ3 video stream, its frame count, timestamps 0..n-1 in\n"
    "order with one duration, and the PCM sound stream and its length. With a\n"
    "reference it reports PSNR per channel and SSIM per frame and overall, and\n"
    "the worst frame (alpha is compared only for types that store it).\n"
    "\n";
const char* kUsageTail =
    "  --min-psnr DB    also fail when a frame's PSNR falls below DB\n"
    "  --per-frame      also print each frame's figures against the reference\n"
    "  --json           print the report as JSON on stdout (per-frame figures too)\n"
    "\n"
    "Exit codes: 0 every frame decodes and the structure holds, 1 a check failed\n"
    "(each reason on stderr), 2 bad arguments or an unreadable file.\n";

struct FrameRecord {
    int64_t pts = 0;
    int64_t duration = 0;
    size_t bytes = 0;
    uint32_t type = 0;
    bool decoded = false;
    bool compared = false;
    FrameQuality quality;
};

// Problems are reported in the order found; a long run of the same kind
// (every frame after a gap, say) is summarised rather than listed.
struct Problems {
    std::vector<std::string> list;
    uint64_t dropped = 0;
    void add(const std::string& p)
    {
        if (list.size() < 20)
            list.push_back(p);
        else
            ++dropped;
    }
    bool empty() const { return list.empty(); }
};

std::string jsonText(const std::string& s)
{
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\')
            out += '\\', out += c;
        else if (uint8_t(c) < 0x20) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, "\\u%04x", unsigned(uint8_t(c)));
            out += buffer;
        } else
            out += c;
    }
    return out + "\"";
}

std::string jsonNumber(double v)
{
    if (std::isinf(v))
        return "null";  // a lossless channel: JSON has no infinity
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.4f", v);
    return buffer;
}

std::string dbText(double v)
{
    if (std::isinf(v))
        return "inf";
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.2f", v);
    return buffer;
}

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

int cmdVerify(const std::vector<std::string>& in)
{
    std::set<std::string> valued = kReferenceOptions, flags = kReferenceFlags;
    valued.insert("--min-psnr");
    flags.insert({"--json", "--per-frame"});
    Args args = parseArgs(in, valued, flags);
    if (args.help) {
        std::fputs(kUsageHead, stdout);
        std::fputs(kReferenceUsage, stdout);
        std::fputs(kUsageTail, stdout);
        return EXIT_OK;
    }
    if (!args.error.empty())
        return fail(EXIT_USAGE, "verify: " + args.error);
    if (args.positional.size() != 1)
        return fail(EXIT_USAGE, "verify: expected one MOVIE (see zemo3 verify --help)");
    double minPsnr = -1;
    if (args.has("--min-psnr")) {
        try {
            minPsnr = std::stod(args.get("--min-psnr"));
        } catch (...) {
        }
        if (!(minPsnr > 0 && minPsnr < 1000))
            return fail(EXIT_USAGE, "verify: --min-psnr must be a positive number of dB");
    }
    const bool json = args.has("--json");
    const std::string path = args.positional[0];
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        return fail(EXIT_USAGE, "verify: cannot open '" + path + "': " + std::strerror(errno));

    MovieReader movie;
    std::string error;
    if (!movie.open(path, &error)) {
        if (json)  // a JSON reader still gets its verdict
            std::printf("{\n  \"movie\": %s,\n  \"ok\": false,\n  \"problems\": [%s]\n}\n", jsonText(path).c_str(),
                        jsonText(error).c_str());
        return fail(EXIT_REJECTED, "verify: " + error);
    }
    const MovieInfo& info = movie.info();

    Reference ref;
    if (!openReference(args, info.width, info.height, &ref, &error))
        return fail(EXIT_USAGE, "verify: " + error);

    // The container.
    Problems problems;
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
    std::vector<FrameRecord> frames;
    std::vector<uint8_t> rgba, argb, source;
    std::vector<int16_t> refSound;
    QualityTotals totals;
    uint64_t expectedTotal = info.indexedFrames > 0 ? uint64_t(info.indexedFrames) : ref.frames;
    ProgressLine progress("verify");
    int64_t step = 0;                        // frame duration in the video time base
    uint64_t decodeFailures = 0, typeMismatches = 0, lowFrames = 0;
    uint32_t movieType = UINT32_MAX;
    uint64_t audioBytes = 0, audioSamples = 0;
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
            if (!referencePicture(ref, n, &argb, &source)) {
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
        progress.draw(frames.size(), expectedTotal);
    }
    progress.draw(frames.size(), expectedTotal, true);

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
    if (ref.source && !ref.exactLength && !referenceEnded && count < ref.limit) {
        uint32_t rowBytes;
        if (ref.source->frame(count, &argb, &rowBytes))
            problems.add(ref.name + " goes on after the movie's last frame " + std::to_string(count - 1));
    }
    // Rate of the movie against the reference's.
    AVRational frameTime{0, 1};
    if (step > 0)
        frameTime = av_mul_q({int(step), 1}, {info.timeBaseNum, info.timeBaseDen});
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

    const bool ok = problems.empty();
    const double rate = frameTime.num ? 1.0 / av_q2d(frameTime) : 0.0;
    const std::string typeName = movieType == UINT32_MAX ? "unknown type" : nox::formatTypeName(movieType);
    if (json) {
        std::printf("{\n  \"movie\": %s,\n  \"ok\": %s,\n", jsonText(path).c_str(), ok ? "true" : "false");
        std::printf("  \"problems\": [");
        for (size_t i = 0; i < problems.list.size(); ++i)
            std::printf("%s%s", i ? ", " : "", jsonText(problems.list[i]).c_str());
        std::printf("],\n  \"width\": %u, \"height\": %u, \"frames\": %llu, \"tag\": %s,\n", info.width, info.height,
                    (unsigned long long)count, jsonText(tagText(info.codecTag)).c_str());
        std::printf("  \"type\": %s, \"typeName\": %s, \"frameRate\": %s,\n",
                    movieType == UINT32_MAX ? "null" : std::to_string(movieType).c_str(), jsonText(typeName).c_str(),
                    jsonNumber(rate).c_str());
        if (info.audio >= 0)
            std::printf("  \"sound\": {\"codec\": %s, \"channels\": %d, \"sampleRate\": %d, \"samples\": %llu},\n",
                        jsonText(info.audioCodec).c_str(), info.channels, info.sampleRate,
                        (unsigned long long)audioSamples);
        else
            std::printf("  \"sound\": null,\n");
        if (totals.frames) {
            std::printf("  \"reference\": %s,\n", jsonText(ref.name).c_str());
            std::printf("  \"psnr\": {\"r\": %s, \"g\": %s, \"b\": %s, \"a\": %s, \"all\": %s},\n",
                        jsonNumber(totals.psnr(0)).c_str(), jsonNumber(totals.psnr(1)).c_str(),
                        jsonNumber(totals.psnr(2)).c_str(), totals.alpha ? jsonNumber(totals.psnr(3)).c_str() : "null",
                        jsonNumber(totals.psnrAll()).c_str());
            std::printf("  \"ssim\": %s,\n", jsonNumber(totals.ssim()).c_str());
            std::printf("  \"worst\": {\"frame\": %llu, \"psnr\": %s, \"ssim\": %s},\n",
                        (unsigned long long)totals.worstFrame, jsonNumber(totals.worst.psnrAll).c_str(),
                        jsonNumber(totals.worst.ssim).c_str());
        }
        std::printf("  \"perFrame\": [");
        for (size_t i = 0; i < frames.size(); ++i) {
            const FrameRecord& r = frames[i];
            std::printf("%s\n    {\"frame\": %zu, \"pts\": %lld, \"bytes\": %zu, \"type\": %u, \"decoded\": %s", i ? "," : "",
                        i, (long long)r.pts, r.bytes, r.type, r.decoded ? "true" : "false");
            if (r.compared)
                std::printf(", \"psnr\": {\"r\": %s, \"g\": %s, \"b\": %s, \"a\": %s, \"all\": %s}, \"ssim\": %s",
                            jsonNumber(r.quality.psnr[0]).c_str(), jsonNumber(r.quality.psnr[1]).c_str(),
                            jsonNumber(r.quality.psnr[2]).c_str(),
                            r.quality.alpha ? jsonNumber(r.quality.psnr[3]).c_str() : "null",
                            jsonNumber(r.quality.psnrAll).c_str(), jsonNumber(r.quality.ssim).c_str());
            std::printf("}");
        }
        std::printf("%s]\n}\n", frames.empty() ? "" : "\n  ");
    } else {
        std::printf("%s: %llu frames of %ux%u at %.3f fps, %s\n", path.c_str(), (unsigned long long)count, info.width,
                    info.height, rate, typeName.c_str());
        if (info.audio >= 0)
            std::printf("sound: %s, %d channels at %d Hz, %llu samples\n", info.audioCodec.c_str(), info.channels,
                        info.sampleRate, (unsigned long long)audioSamples);
        else
            std::printf("sound: none\n");
        if (totals.frames) {
            std::printf("against %s (%llu frames):\n", ref.name.c_str(), (unsigned long long)totals.frames);
            std::printf("  PSNR  R %s  G %s  B %s", dbText(totals.psnr(0)).c_str(), dbText(totals.psnr(1)).c_str(),
                        dbText(totals.psnr(2)).c_str());
            if (totals.alpha)
                std::printf("  A %s", dbText(totals.psnr(3)).c_str());
            std::printf(" dB, overall %s dB\n", dbText(totals.psnrAll()).c_str());
            std::printf("  SSIM  %.5f\n", totals.ssim());
            std::printf("  worst frame %llu: PSNR %s dB, SSIM %.5f\n", (unsigned long long)totals.worstFrame,
                        dbText(totals.worst.psnrAll).c_str(), totals.worst.ssim);
            if (args.has("--per-frame")) {
                std::printf("  %7s %7s %7s %7s %7s %7s %8s\n", "frame", "R", "G", "B", "A", "all", "SSIM");
                for (size_t i = 0; i < frames.size(); ++i) {
                    const FrameQuality& q = frames[i].quality;
                    if (frames[i].compared)
                        std::printf("  %7zu %7s %7s %7s %7s %7s %8.5f\n", i, dbText(q.psnr[0]).c_str(),
                                    dbText(q.psnr[1]).c_str(), dbText(q.psnr[2]).c_str(),
                                    q.alpha ? dbText(q.psnr[3]).c_str() : "-", dbText(q.psnrAll).c_str(), q.ssim);
                }
            }
        }
        std::printf("%s\n", ok ? "verified: every frame decodes and the structure holds" : "verification FAILED");
    }
    std::fflush(stdout);
    for (const std::string& p : problems.list)
        fail(EXIT_REJECTED, "verify: " + path + ": " + p);
    if (problems.dropped)
        fail(EXIT_REJECTED, "verify: " + path + ": and " + std::to_string(problems.dropped) + " more problems");
    return ok ? EXIT_OK : EXIT_REJECTED;
}

}  // namespace

ZEMO3_COMMAND("verify", "check a Zemo 3 movie: structure, every frame, quality against a source", cmdVerify);
