#include "media/join.h"

#include <algorithm>
#include <memory>

#include "codec/zemo3.h"
#include "core/rational.h"
#include "media/movie.h"
#include "media/partial_output.h"
#include "platform/platform.h"
#include "reader/frame_decoder.h"
#include "writer/ffmpeg_writer.h"

extern "C" {
#include <libavutil/rational.h>
}

namespace zemo3 {

namespace {

// The sound formats a render writes: plain PCM whose codec the writer picks
// by sample size.
const char* pcmCodecFor(int bytesPerSample)
{
    switch (bytesPerSample) {
    case 1:
        return "pcm_u8";
    case 2:
        return "pcm_s16le";
    case 4:
        return "pcm_s32le";
    default:
        return "";
    }
}

std::string rateText(int32_t num, int32_t den)
{
    return den == 1 ? std::to_string(num) : std::to_string(num) + "/" + std::to_string(den);
}

// What must agree between the parts of a join.
struct StreamFacts {
    uint32_t type = 0;
    uint32_t width = 0, height = 0;
    int32_t rateNum = 0, rateDen = 1;
    int channels = 0, sampleRate = 0, bytesPerSample = 0;  // no sound: 0 channels

    // The first difference from `other` in words, "" when there is none.
    std::string differenceFrom(const StreamFacts& other) const
    {
        auto pair = [](const std::string& a, const std::string& b) { return " (" + a + " against " + b + ")"; };
        if (type != other.type)
            return "format type" + pair(nox::formatTypeName(type), nox::formatTypeName(other.type));
        if (width != other.width || height != other.height)
            return "picture size" + pair(std::to_string(width) + "x" + std::to_string(height),
                                         std::to_string(other.width) + "x" + std::to_string(other.height));
        if (int64_t(rateNum) * other.rateDen != int64_t(other.rateNum) * rateDen)
            return "frame rate" + pair(rateText(rateNum, rateDen), rateText(other.rateNum, other.rateDen));
        if ((channels == 0) != (other.channels == 0))
            return channels ? "sound (it has sound, the first has none)" : "sound (it has none, the first has)";
        if (channels != other.channels)
            return "sound channels" + pair(std::to_string(channels), std::to_string(other.channels));
        if (sampleRate != other.sampleRate)
            return "sound rate" + pair(std::to_string(sampleRate) + " Hz", std::to_string(other.sampleRate) + " Hz");
        if (bytesPerSample != other.bytesPerSample)
            return "sample size" + pair(std::to_string(8 * bytesPerSample) + " bits",
                                        std::to_string(8 * other.bytesPerSample) + " bits");
        return "";
    }

    // The first sample of frame n's sound.
    int64_t firstSampleOf(uint64_t frame) const
    {
        return int64_t(nox::firstSampleOfFrame(frame, sampleRate, rateNum, rateDen));
    }
};

// One part being copied: a reader for its frames and one for its sound (each
// reader keeps one place in the file).
class Part {
public:
    explicit Part(MoviePart range) : range_(std::move(range)) {}

    // Opens the movie and reads its first frame of the range. False with the
    // reason when it is no Zemo 3 movie or the range holds no frame.
    bool open(std::string* error)
    {
        const MovieOpenOptions quick{false, true};
        const std::string& path = range_.path;
        if (!frames_.open(path, error, quick))
            return false;
        const MovieInfo& info = frames_.info();
        if (info.video < 0 || info.codecTag != kMovieTag)
            return fail(error, info.video < 0
                                   ? "has no video"
                                   : "is not a Zemo 3 movie (its video is '" + tagText(info.codecTag) + "')");
        count_ = uint64_t(std::max<int64_t>(info.streams[size_t(info.video)].frameCount(), 0));
        if (range_.first >= count_)
            return fail(error, "has no frame " + std::to_string(range_.first) + " (it holds " + std::to_string(count_) +
                                   " frames)");
        last_ = std::min(range_.last, count_ - 1);
        frames_.readOnly(info.video);
        if (!frames_.seekFrame(info.video, int64_t(range_.first), &held_))
            return fail(error, "is damaged: frame " + std::to_string(range_.first) + " cannot be read (" +
                                   frames_.error() + ")");
        nox::FrameFacts header;
        if (!nox::readFrameFacts(held_.data, held_.size, &header))
            return fail(error, "is damaged: frame " + std::to_string(range_.first) + " has no header");
        const MovieStream& video = info.streams[size_t(info.video)];
        facts_.type = header.type;
        facts_.width = info.width;
        facts_.height = info.height;
        // The rate from the frame's duration in the stream's time base.
        int num = 0, den = 0;
        if (held_.duration > 0 && held_.duration <= INT32_MAX && video.timeBaseNum > 0 && video.timeBaseDen > 0)
            av_reduce(&num, &den, video.timeBaseDen, held_.duration * video.timeBaseNum, INT32_MAX);
        if (num <= 0 || den <= 0)
            return fail(error, "is damaged: its frames have no duration");
        facts_.rateNum = num;
        facts_.rateDen = den;
        firstTime_ = held_.dts;
        duration_ = held_.duration;
        if (video.framePlaces.size() != count_)
            return fail(error, "has no index of its frames");
        std::string why;
        if (!file_.open(path, &why))
            return fail(error, "cannot be read: " + why);
        return openSound(error);
    }

    const StreamFacts& facts() const { return facts_; }
    const MoviePart& range() const { return range_; }
    uint64_t frames() const { return last_ - range_.first + 1; }
    // The range's sound, in sample frames of the part.
    int64_t soundFirst() const { return facts_.firstSampleOf(range_.first); }
    int64_t soundEnd() const { return last_ + 1 < count_ ? facts_.firstSampleOf(last_ + 1) : INT64_MAX; }

    // Where the range's frame n lies, as the index gives it; false with the
    // reason when it is missing there or out of order.
    bool place(uint64_t n, MovieStream::Place* where, std::string* error) const
    {
        const uint64_t index = range_.first + n;
        const MovieStream& video = frames_.info().streams[size_t(frames_.info().video)];
        if (index >= video.framePlaces.size())
            return fail(error, "is damaged: its index lists no place for frame " + std::to_string(index));
        if (video.frameTimes[index] != firstTime_ + int64_t(n) * duration_)
            return fail(error, "is damaged: frame " + std::to_string(index) + " is missing or out of order");
        *where = video.framePlaces[index];
        return true;
    }

    // The range's frame n where it lies in the mapped file, checked to be a
    // whole frame of the stream; null with the reason otherwise.
    const uint8_t* frame(uint64_t n, const MovieStream::Place& where, std::string* error)
    {
        const std::string name = "frame " + std::to_string(range_.first + n);
        if (where.position < 0 || where.size <= 0 || uint64_t(where.position) > file_.size() ||
            uint64_t(where.size) > file_.size() - uint64_t(where.position)) {
            fail(error, "is truncated: " + name + " lies past the end of the file");
            return nullptr;
        }
        const uint8_t* data = file_.data() + where.position;
        nox::FrameFacts header;
        if (!nox::readFrameFacts(data, size_t(where.size), &header) || header.type != facts_.type ||
            uint64_t(header.headerSize) + header.payloadSize != uint64_t(where.size)) {
            fail(error, "is damaged: " + name + " (" + std::to_string(where.size) +
                            " bytes) is not a whole frame of its stream");
            return nullptr;
        }
        return data;
    }

    // Up to `count` sample frames from `first` (in the part's samples) into
    // out; the number read, -1 with the reason on a read error.
    int64_t sound(int64_t first, int64_t count, std::vector<uint8_t>* out, std::string* error)
    {
        out->resize(size_t(count) * size_t(facts_.channels) * size_t(facts_.bytesPerSample));
        const int64_t got = sound_.readSound(first, count, out->data());
        if (got < 0)
            fail(error, "is damaged: its sound cannot be read (" + sound_.error() + ")");
        return got;
    }

private:
    bool openSound(std::string* error)
    {
        const MovieInfo& info = frames_.info();
        if (info.audio < 0)
            return true;
        const MovieStream& audio = info.streams[size_t(info.audio)];
        if (audio.codec != pcmCodecFor(audio.bytesPerSample) || audio.channels <= 0 || audio.sampleRate <= 0)
            return fail(error, "has sound in a format a render does not write (" + audio.codec + ")");
        facts_.channels = audio.channels;
        facts_.sampleRate = audio.sampleRate;
        facts_.bytesPerSample = audio.bytesPerSample;
        return sound_.open(range_.path, error, {false, true});
    }

    bool fail(std::string* error, const std::string& why) const
    {
        *error = "'" + range_.path + "' " + why;
        return false;
    }

    MoviePart range_;
    MovieReader frames_, sound_;
    platform::MappedFile file_;             // the frames are copied from here
    MoviePacket held_;                      // the frame read last
    int64_t firstTime_ = 0, duration_ = 0;  // the first frame's time stamp and duration
    uint64_t count_ = 0;                    // frames in the movie
    uint64_t last_ = 0;                     // the range's last frame, clamped
    StreamFacts facts_;
};

// Writes the parts one after another: each frame, then the sound up to the
// end of that frame's chunk.
class Joiner {
public:
    Joiner(std::vector<std::unique_ptr<Part>>& parts, nox::VideoFormatWriterFFMPEG& writer)
        : parts_(parts), writer_(writer), facts_(parts.front()->facts())
    {
    }

    bool run(JoinResult* result, std::string* error, const JoinProgress& progress)
    {
        error->clear();
        uint64_t total = 0;
        for (const auto& part : parts_)
            total += part->frames();
        // Sound chunks end where a render of the first part's frames ends them.
        const uint64_t base = parts_.front()->range().first;
        for (auto& part : parts_) {
            int64_t position = part->soundFirst();
            const int64_t end = part->soundEnd();
            for (uint64_t n = 0; n < part->frames(); ++n) {
                MovieStream::Place where;
                if (!part->place(n, &where, error))
                    return false;
                const uint8_t* data = part->frame(n, where, error);
                if (!data)
                    return false;
                if (!writer_.writeEncodedFrame(result->frames, data, size_t(where.size))) {
                    if (!writer_.failure().empty())
                        return writeFailed(error);
                    *error = "'" + part->range().path + "' is damaged: frame " +
                             std::to_string(part->range().first + n) + " (" + std::to_string(where.size) +
                             " bytes) is larger than a frame of its type and size";
                    return false;
                }
                ++result->frames;
                if (facts_.channels) {
                    const bool lastOfPart = n + 1 == part->frames();
                    const int64_t wanted = facts_.firstSampleOf(base + result->frames) - facts_.firstSampleOf(base);
                    int64_t count =
                        std::min<int64_t>(end - position, lastOfPart ? INT64_MAX : wanted - int64_t(result->samples));
                    if (count > 0 && !copySound(*part, &position, count, result, error))
                        return false;
                }
                if (progress)
                    progress(result->frames, total);
            }
        }
        return writer_.writePendingPackets(true) || writeFailed(error);
    }

private:
    // `count` sample frames (fewer at the end of the part's sound) from
    // *position on; a part's last frame takes all that is left, in chunks.
    bool copySound(Part& part, int64_t* position, int64_t count, JoinResult* result, std::string* error)
    {
        constexpr int64_t kChunk = 1 << 16;
        while (count > 0) {
            const int64_t got = part.sound(*position, std::min(count, kChunk), &pcm_, error);
            if (got < 0)
                return false;
            if (got == 0)
                return true;
            if (!writer_.addAudio(pcm_.data(), result->samples, uint32_t(got)))
                return writeFailed(error);
            *position += got;
            result->samples += uint64_t(got);
            count -= got;
        }
        return true;
    }

    bool writeFailed(std::string* error)
    {
        *error = "cannot write '" + writer_.path() +
                 "': " + (writer_.failure().empty() ? std::string("the writer refused") : writer_.failure());
        return false;
    }

    std::vector<std::unique_ptr<Part>>& parts_;
    nox::VideoFormatWriterFFMPEG& writer_;
    const StreamFacts& facts_;
    std::vector<uint8_t> pcm_;
};

bool openParts(const std::vector<MoviePart>& ranges, const std::string& output,
               std::vector<std::unique_ptr<Part>>* parts, std::string* error)
{
    if (ranges.empty()) {
        *error = "no movie to join";
        return false;
    }
    for (const MoviePart& range : ranges) {
        if (range.last < range.first) {
            *error = "'" + range.path + "': the range ends (frame " + std::to_string(range.last) +
                     ") before it starts (frame " + std::to_string(range.first) + ")";
            return false;
        }
        if (platform::sameFile(range.path, output)) {
            *error = "the output '" + output + "' is one of the movies being joined";
            return false;
        }
        auto part = std::make_unique<Part>(range);
        if (!part->open(error))
            return false;
        if (!parts->empty()) {
            const std::string difference = part->facts().differenceFrom(parts->front()->facts());
            if (!difference.empty()) {
                *error = "'" + range.path + "' differs from '" + ranges.front().path + "' in " + difference;
                return false;
            }
        }
        parts->push_back(std::move(part));
    }
    return true;
}

}  // namespace

bool joinMovies(const std::vector<MoviePart>& ranges, const std::string& output, JoinResult* result, std::string* error,
                const JoinProgress& progress)
{
    *result = {};
    std::vector<std::unique_ptr<Part>> parts;
    if (!openParts(ranges, output, &parts, error))
        return false;
    const StreamFacts& facts = parts.front()->facts();
    result->formatType = facts.type;
    result->width = facts.width;
    result->height = facts.height;
    result->rateNum = facts.rateNum;
    result->rateDen = facts.rateDen;

    nox::VideoCodecInfoZemo3 codec;
    codec.setFormatType(facts.type);
    nox::VideoStreamDescription stream(facts.width, facts.height, facts.rateNum, facts.rateDen, &codec);
    auto writer = std::make_unique<nox::VideoFormatWriterFFMPEG>(
        stream, output, facts.rateNum, facts.rateDen, stream.bytesPerPixel, facts.width, facts.height,
        uint32_t(facts.channels), uint32_t(facts.bytesPerSample), uint32_t(facts.sampleRate));
    if (!writer->isOpen() || !writer->isCustomCodec()) {
        *error = "cannot write '" + output + "'" + (writer->failure().empty() ? "" : ": " + writer->failure());
        return false;
    }
    const bool ok = Joiner(parts, *writer).run(result, error, progress);
    writer.reset();  // drains the queues and writes the index
    if (!ok)
        platform::removeFile(output);
    return ok;
}

bool joinIntoFile(const std::vector<MoviePart>& parts, const std::string& output, JoinResult* result,
                  std::string* error, bool* partsOrOutput, const JoinProgress& progress)
{
    *partsOrOutput = true;
    for (const MoviePart& part : parts) {
        std::string reason;
        if (!platform::fileSize(part.path, &reason) || platform::isDirectory(part.path)) {
            *error = "cannot open '" + part.path + "': " + (reason.empty() ? "a folder" : reason);
            return false;
        }
        if (platform::sameFile(part.path, output)) {
            *error = "the output '" + output + "' is one of the movies being joined";
            return false;
        }
    }
    PartialOutput file(output);
    if (!file.writable(error)) {
        *error = "cannot write '" + output + "': " + *error;
        return false;
    }
    *partsOrOutput = false;
    if (!joinMovies(parts, file.partial(), result, error, progress))
        return false;
    *partsOrOutput = true;
    return file.commit(error);
}

}  // namespace zemo3
