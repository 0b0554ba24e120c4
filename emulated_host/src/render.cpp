#include "emulated_host/render.h"

#include <cmath>
#include <optional>
#include <string>

#include "core/rational.h"
#include "module/options.h"
#include "platform/dialog.h"
#include "platform/platform.h"

namespace emulated_host {

size_t RenderFeed::sound(uint64_t, size_t, std::vector<int16_t>*) { return 0; }
void RenderFeed::progress(uint64_t, bool) {}
void RenderFeed::dialogUnavailable() {}

namespace {

bool hasSound(const RenderJob& job) { return job.sampleRate && job.channels; }

// The rate as the host hands it to the module, 16.16 fixed point.
A_Fixed fixedRate(const RenderJob& job) { return A_Fixed(nox::rationalToFixed(job.fpsNum, job.fpsDen)); }

OutputSettings outputSettings(const RenderJob& job)
{
    OutputSettings settings;
    settings.width = A_long(job.width);
    settings.height = A_long(job.height);
    settings.fps = fixedRate(job);
    settings.soundRate = hasSound(job) ? double(job.sampleRate) : 0.0;
    settings.channels = A_short(job.channels);
    settings.sampleSize = 2;
    settings.path = platform::utf8ToUtf16(job.path);
    return settings;
}

}  // namespace

uint64_t firstSampleOf(const RenderJob& job, uint64_t frame)
{
    // At the rate the movie is written at, so that a range cut from a movie
    // finds its sound where a render of that range put it.
    const auto [num, den] = nox::movieRateOfFixed(fixedRate(job));
    return nox::firstSampleOfFrame(frame, job.sampleRate, num, den);
}

RenderStep ModuleSession::open(const std::string& modulePath, std::string* error)
{
    if (!host_.load(modulePath, error))
        return RenderStep::Load;
    if (A_Err err = host_.callEntry(); err != A_Err_NONE) {
        *error = "the module refused to register (error " + std::to_string(err) + ")";
        return RenderStep::Register;
    }
    return RenderStep::Done;
}

namespace {

// ZEMO_QUALITY for the life of a job, then as it was.
class JobQuality {
public:
    explicit JobQuality(bool best) : set_(best)
    {
        if (!set_)
            return;
        before_ = platform::environmentValue(kName);
        platform::setEnvironment(kName, "best");
    }
    ~JobQuality()
    {
        if (set_)
            platform::setEnvironment(kName, before_.value_or(""));
    }
    JobQuality(const JobQuality&) = delete;
    JobQuality& operator=(const JobQuality&) = delete;

private:
    static constexpr const char* kName = "ZEMO_QUALITY";
    bool set_;
    std::optional<std::string> before_;
};

}  // namespace

RenderResult ModuleSession::render(const RenderJob& job, RenderFeed& feed)
{
    const JobQuality quality(job.bestQuality);
    RenderResult result;
    const std::vector<uint8_t> stored = zexport::storedOptionsBytes(job.formatType);
    AEIO_OutSpecH out = host_.addOutput(outputSettings(job), &stored);
    if ((result.failed = startOutput(job, feed, out, &result)) != RenderStep::Done)
        return result;

    const double wall = platform::monotonicMilliseconds(), cpu = platform::processCpuSeconds();
    if ((result.err = host_.startAdding(out)) != A_Err_NONE) {
        result.failed = RenderStep::StartAdding;
        return result;
    }
    addFrames(job, feed, out, &result);
    const A_Err ended = host_.endAdding(out);
    result.seconds = (platform::monotonicMilliseconds() - wall) / 1000.0;
    result.writeFailure = host_.takeWriteFailure();
    result.cpuSeconds = platform::processCpuSeconds() - cpu;
    if (ended != A_Err_NONE && result.failed == RenderStep::Done) {
        result.failed = RenderStep::EndAdding;
        result.err = ended;
    }
    // The render is over: the host stores the record with the project, and
    // lets go of the item.
    std::vector<uint8_t> flat;
    host_.getFlatOutputOptions(out, &flat);
    host_.disposeOutputOptions(out);
    return result;
}

RenderStep ModuleSession::startOutput(const RenderJob& job, RenderFeed& feed, AEIO_OutSpecH out, RenderResult* result)
{
    if ((result->err = host_.initOutputSpec(out)) != A_Err_NONE)
        return RenderStep::InitOutputSpec;
    if (job.dialog && !platform::canShowDialogs()) {
        feed.dialogUnavailable();
    } else if (job.dialog) {
        bool interacted = false;
        if ((result->err = host_.userOptionsDialog(out, &interacted)) != A_Err_NONE)
            return RenderStep::UserOptionsDialog;
    }
    AEIO_SupportedDepthFlags depth = 0;
    if ((result->err = host_.getDepths(out, &depth)) != A_Err_NONE)
        return RenderStep::GetDepths;
    const auto options = host_.options(out);
    result->formatType = options ? options->formatType : job.formatType;
    return RenderStep::Done;
}

void ModuleSession::addFrames(const RenderJob& job, RenderFeed& feed, AEIO_OutSpecH out, RenderResult* result)
{
    std::vector<int16_t> pcm;
    uint64_t sample = hasSound(job) ? firstSampleOf(job, job.firstFrame) : 0;
    for (uint64_t n = job.firstFrame; n < job.frameLimit; ++n) {
        const uint8_t* argb = nullptr;
        size_t rowBytes = 0;
        if (!feed.picture(n, &argb, &rowBytes))
            break;
        PF_EffectWorld world{};
        world.world_flags = 0;
        world.rowbytes = A_long(rowBytes);
        world.width = A_long(job.width);
        world.height = A_long(job.height);
        world.data = const_cast<uint8_t*>(argb);
        if ((result->err = host_.addFrame(out, A_long(n), world)) != A_Err_NONE) {
            result->failed = RenderStep::AddFrame;
            break;
        }
        ++result->frames;
        if (hasSound(job)) {
            // Sound in chunks of one frame's duration, as a render delivers it.
            const uint64_t end = firstSampleOf(job, n + 1);
            if (end > sample) {
                const size_t got = feed.sound(sample, size_t(end - sample), &pcm);
                if (got > 0) {
                    host_.addSoundChunk(out, A_u_long(got), pcm.data());
                    result->samples += got;
                    sample += got;
                }
            }
        }
        feed.progress(result->frames, false);
    }
    feed.progress(result->frames, true);
}

}  // namespace emulated_host
