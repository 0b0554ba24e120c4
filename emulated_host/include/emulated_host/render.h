// Renders through the module in the emulated host, as the compositing
// application drives an output module for one render-queue item:
// InitOutputSpec over a stored options record, UserOptionsDialog when asked,
// GetDepths, StartAdding, AddFrame and AddSoundChunk frame by frame (the
// sound in chunks of one frame's duration), EndAdding, GetFlatOutputOptions
// and DisposeOutputOptions.
//
//   emulated_host::ModuleSession session;
//   if (session.open(emulated_host::defaultModulePath(), &error) != RenderStep::Done) ...
//   RenderJob job;                     // size, rate, sound, path, format type
//   RenderResult r = session.render(job, feed);
//   session.close();                   // the death hook; session.errors() then
//
// The pictures and the sound come from a RenderFeed, so that anything that
// makes ARGB rows can be rendered.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "emulated_host/host.h"

namespace emulated_host {

// What a render hands the module.
class RenderFeed {
public:
    virtual ~RenderFeed() = default;
    // Picture n (asked in order from the job's first frame) as 8-bit ARGB rows, bytes A, R, G, B
    // per pixel, *rowBytes apart; valid until the next call. False after the
    // last picture.
    virtual bool picture(uint64_t n, const uint8_t** argb, size_t* rowBytes) = 0;
    // Interleaved 16-bit sound: `count` sample frames from `start`, asked in
    // order (from the first frame's first sample) and only when the job has
    // sound. Returns how many it gave.
    virtual size_t sound(uint64_t start, size_t count, std::vector<int16_t>* samples);
    // Hears of every frame the module took, and once more with `last` set
    // when the frames end.
    virtual void progress(uint64_t frames, bool last);
    // Hears that the options dialog was asked for where none can be shown
    // (no terminal); the render goes on without it.
    virtual void dialogUnavailable();
};

struct RenderJob {
    std::string path;  // the movie to write, UTF-8
    uint32_t width = 0, height = 0;
    int32_t fpsNum = 25, fpsDen = 1;  // the module gets it as 16.16 fixed point
    uint32_t sampleRate = 0;          // 16-bit sound; 0 or no channels: none
    uint16_t channels = 0;
    uint32_t formatType = 0;  // of the stored options record the output starts from
    bool dialog = false;      // show the options dialog after InitOutputSpec
    // The frames to render: from firstFrame up to (not including) frameLimit,
    // numbered in the composition. The sound of frame n runs from sample
    // n * rate / fps to (n + 1) * rate / fps (whole samples, rounded down; fps
    // the movie's rate as the module writes it, which for rates such as
    // 30000/1001 is a close fraction of the 16.16 value it is handed), so a
    // render that starts later hands over the very samples a whole render
    // holds for its frames.
    uint64_t firstFrame = 0;
    uint64_t frameLimit = UINT64_MAX;
    // The encoders' best tier (core/quality.h) instead of the module's own
    // encoding: a wish of our command's that a real host never makes. The
    // host sets ZEMO_QUALITY=best for the job, from StartAdding to EndAdding,
    // and puts back what was there.
    bool bestQuality = false;
};

// The first sample of frame n's sound at the job's sample rate and the
// movie's frame rate.
uint64_t firstSampleOf(const RenderJob& job, uint64_t frame);

// The steps of a session, in the host's order. A result names the one that
// failed, or Done.
enum class RenderStep {
    Load,
    Register,
    InitOutputSpec,
    UserOptionsDialog,
    GetDepths,
    StartAdding,
    AddFrame,
    EndAdding,
    Done,
};

struct RenderResult {
    RenderStep failed = RenderStep::Done;
    A_Err err = A_Err_NONE;   // the module's answer at that step
    uint64_t frames = 0;      // frames the module took
    uint64_t samples = 0;     // sample frames of sound handed over
    uint32_t formatType = 0;  // the options record's after GetDepths (the dialog may change it)
    // From StartAdding to the end of EndAdding, which closes the movie.
    double seconds = 0, cpuSeconds = 0;
    // Why the movie file took no more, as the module reported it: the
    // system's reason ("No space left on device"); "" when no write failed.
    std::string writeFailure;
};

// The module loaded into an emulated host and registered, for renders one
// after another; the module stays loaded (its workers and pools warm) until
// close(). One session at a time per process, as for Host.
class ModuleSession {
public:
    // Loads the module and calls its entry. Done, or the step that failed
    // with *error saying why.
    RenderStep open(const std::string& modulePath, std::string* error);
    // One render-queue item. A failure before StartAdding leaves the output
    // in the host until close(); after StartAdding the movie is always ended.
    RenderResult render(const RenderJob& job, RenderFeed& feed);
    // Closes the project and unloads the module; errors() then also holds
    // the handles the module leaked.
    void close() { host_.unload(); }
    const std::vector<std::string>& errors() const { return host_.errors(); }
    Host& host() { return host_; }

private:
    RenderStep startOutput(const RenderJob& job, RenderFeed& feed, AEIO_OutSpecH out, RenderResult* result);
    void addFrames(const RenderJob& job, RenderFeed& feed, AEIO_OutSpecH out, RenderResult* result);

    Host host_;
};

}  // namespace emulated_host
