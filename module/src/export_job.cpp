// The export job: StartAdding, AddFrame, AddSoundChunk and EndAdding.
//
// The job keeps its state in the options record (writer, pendingFrames,
// framesAdded, samplesAdded). Frames are converted to RGBA on the host's
// thread and compressed and written by tasks on the core's worker pool; the
// writer puts their packets back in frame order.
//
// Decisions where the host's contract leaves room, chosen so that the user's
// movie is never silently damaged:
//  - A start on a record whose pending list was destroyed by an earlier end
//    creates a new empty list.
//  - A start on a record that still holds the writer of a job that was never
//    ended first finishes that job (its frames are written and its movie is
//    closed), so the earlier file stays a valid movie. Disposing of a live
//    record mid-job does the same.
//  - Format types the compressor cannot encode (the UV map 6, the mask 7, and
//    values outside 0..3) are refused at the start with 1: the host reports a
//    failed render instead of a movie whose frames would all be dropped.
//  - Sound for a writer made without sound (sound rate 0 at the start) is
//    refused with 1 and not counted.
//  - A frame whose size the host describes inconsistently (no rows, rows
//    shorter than a line of pixels, a size of 2 GiB or more) is refused like a
//    buffer that cannot be created.
#include "export_job.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "codec/zemo3.h"
#include "core/context.h"
#include "core/logger.h"
#include "core/memory.h"
#include "core/rational.h"
#include "module.h"
#include "options_record.h"
#include "platform/platform.h"
#include "writer/formats.h"

namespace zexport {

namespace {

// A codec description lives as long as the writer made from it.
std::mutex g_codecsLock;
std::map<const nox::VideoFormatWriter*, std::unique_ptr<nox::VideoCodecInfoZemo3>> g_codecs;

void destroyWriter(nox::VideoFormatWriter* writer)
{
    delete writer;  // drains the encoders, writes the trailer, closes the file
    std::lock_guard<std::mutex> lock(g_codecsLock);
    g_codecs.erase(writer);
}

// Collects every pending frame from the back, running queued ones here.
void collectAll(PendingFrames& pending)
{
    auto& tasks = pending.tasks;
    while (!tasks.empty()) {
        nox::TaskHandle& last = *tasks.back();
        if (last.poll(true) == nox::kTaskOnWorker) {
            // A worker is compressing it: wait for it rather than spin, so the
            // worker keeps the processor.
            last.doneEvent().wait(1);
            continue;
        }
        tasks.pop_back();
    }
}

// Collects every pending frame from the back without running queued ones:
// those are dropped, frames a worker has begun are waited for.
void dropAll(PendingFrames& pending)
{
    while (!pending.tasks.empty()) {
        pending.tasks.back()->wait(false);
        pending.tasks.pop_back();
    }
}

// Runs `body` on the output's options record, locked for the call. No
// record: 0 (the frame or chunk is dropped). The body's refusal wins over an
// unlock error; host errors are passed on.
template <typename Body>
A_Err withRecord(AEIO_BasicData* basic, AEIO_OutSpecH out, Body&& body)
{
    return guarded([&]() -> A_Err {
        SuiteCache suites(basic);
        OptionsRecord options(suites, out);
        if (A_Err err = options.open(); err != A_Err_NONE || !options)
            return err;
        const A_Err result = body(*options);
        const A_Err unlocked = options.unlock();
        return result == A_Err_NONE ? unlocked : result;
    });
}

// What the start reads from the output before it opens a writer.
struct OutputFormat {
    A_long width = 0, height = 0;
    A_FpLong soundRate = 0.0;
    A_Fixed fps = 0;                           // 16.16; read only for an output with pixels
    A_short channels = 0, bytesPerSample = 0;  // read only for an output with sound
};

A_Err readFormat(const AEGP_IOOutSuite7& io, AEIO_OutSpecH out, OutputFormat& f)
{
    A_Err err = io.AEGP_GetOutSpecDimensions(out, &f.width, &f.height);
    if (err != A_Err_NONE || (err = io.AEGP_GetOutSpecSoundRate(out, &f.soundRate)) != A_Err_NONE)
        return err;
    if (f.width != 0 && f.height != 0 && (err = io.AEGP_GetOutSpecFPS(out, &f.fps)) != A_Err_NONE)
        return err;
    if (f.soundRate > 0.0) {
        if ((err = io.AEGP_GetOutSpecSoundChannels(out, &f.channels)) != A_Err_NONE)
            return err;
        err = io.AEGP_GetOutSpecSoundSampleSize(out, &f.bytesPerSample);
    }
    return err;
}

// The output's path, in UTF-8; the host's handle is freed.
A_Err readPath(const AEGP_IOOutSuite7& io, const AEGP_MemorySuite1& memory, AEIO_OutSpecH out, std::string& path)
{
    AEGP_MemHandle pathHandle = nullptr;
    A_Boolean reserved = 0;
    A_Err err = io.AEGP_GetOutSpecFilePath(out, &pathHandle, &reserved);
    if (err != A_Err_NONE || !pathHandle)
        return err;
    HandleLock pathLock(memory, pathHandle);
    if ((err = pathLock.lock()) != A_Err_NONE) {
        memory.AEGP_FreeMemHandle(pathHandle);
        return err;
    }
    path = platform::utf16ToUtf8(pathLock.as<const char16_t>());
    // A handle the host would not unlock is not freed (that would free a
    // locked handle); it stays with the host.
    if ((err = pathLock.unlock()) != A_Err_NONE)
        return err;
    return memory.AEGP_FreeMemHandle(pathHandle);
}

// Opens the job's writer for the record's format type: 0, or 1 when the
// format type or the size cannot be exported or no writer opens.
A_Err openWriter(ExportOptions& record, const OutputFormat& f, const std::string& path)
{
    if (record.formatType >= nox::kExportedTypes || !exportableSize(f.width, f.height, record.formatType))
        return A_Err_GENERIC;
    auto codec = std::make_unique<nox::VideoCodecInfoZemo3>();
    codec->setFormatType(record.formatType);
    const auto [rateNum, rateDen] = nox::movieRateOfFixed(f.fps);
    nox::VideoStreamDescription stream(uint32_t(f.width), uint32_t(f.height), rateNum, rateDen, codec.get());
    nox::VideoFormatManager* formats = nox::videoFormatManager(nox::getContext());
    std::unique_ptr<nox::VideoFormatWriter> writer;
    if (formats)
        writer = formats->createWriter(path, rateNum, rateDen, stream.bytesPerPixel, uint32_t(f.width),
                                       uint32_t(f.height), stream, uint32_t(f.channels), uint32_t(f.bytesPerSample),
                                       uint32_t(int32_t(f.soundRate)));
    if (!writer) {
        nox::logf(nox::LOG_ERROR,
                  "Zemo 3 export: no movie writer could be opened for \"%s\" (%dx%d, %d/%d fps, %d channels)",
                  path.c_str(), int(f.width), int(f.height), int(rateNum), int(rateDen), int(f.channels));
        return A_Err_GENERIC;
    }
    record.writer = writer.release();
    record.framesAdded = 0;
    record.samplesAdded = 0;
    std::lock_guard<std::mutex> codecs(g_codecsLock);
    g_codecs[record.writer] = std::move(codec);
    return A_Err_NONE;
}

// Why the frame path refuses a frame (null: it does not). A frame the writer
// would drop leaves a gap that loses every later frame of the movie, so it is
// refused here, where the host hears of it.
const char* frameRefusal(const ExportOptions& record, const PF_EffectWorld& world, bool deep)
{
    const int64_t bytesPerPixel = deep ? 8 : 4;
    if (deep && record.formatType != nox::ZEMO3_UV_MAP && record.formatType != nox::ZEMO3_MASK)
        return "has 16 bits per channel";
    if (world.width <= 0 || world.height <= 0 || !world.data)
        return "has no pixels";
    if (int64_t(world.rowbytes) < int64_t(world.width) * bytesPerPixel)
        return "has rows shorter than its width";
    if (int64_t(world.rowbytes) * int64_t(world.height) >= (int64_t(1) << 31))
        return "is 2 GiB or more";
    if (uint32_t(world.width) < record.writer->width() || uint32_t(world.height) < record.writer->height())
        return "is smaller than the movie";
    return nullptr;
}

// The frame's pooled buffer (null when the pool cannot give one). Rows
// without padding are written in full by the conversion, so the picture need
// not be cleared first; padded rows keep their zeros.
std::shared_ptr<nox::PixelsCached> framePixels(const PF_EffectWorld& world, bool deep)
{
    const uint16_t bytesPerPixel = deep ? 8 : 4;
    const uint64_t size = uint64_t(int64_t(world.rowbytes) * int64_t(world.height));
    try {
        if (int64_t(world.rowbytes) == int64_t(world.width) * bytesPerPixel)
            return std::make_shared<nox::PixelsCached>(uint32_t(world.width), uint32_t(world.height), bytesPerPixel,
                                                       size, nox::PixelsCached::Overwritten{});
        return std::make_shared<nox::PixelsCached>(uint32_t(world.width), uint32_t(world.height), bytesPerPixel, size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

// Help with, and wait for, every outstanding frame: queued ones run here,
// busy ones are left to their worker.
void drainAll(std::vector<std::unique_ptr<nox::TaskHandle>>& tasks)
{
    while (!tasks.empty()) {
        bool collected = false;
        for (auto it = tasks.begin(); it != tasks.end(); ++it) {
            if ((*it)->poll(true) != nox::kTaskOnWorker) {
                tasks.erase(it);
                collected = true;
                break;
            }
        }
        if (!collected)
            tasks.front()->doneEvent().wait(1);
    }
}

uint16_t scale16(uint16_t v) { return v < 32767 ? uint16_t(v * 2) : uint16_t(65535); }

}  // namespace

void finishJob(ExportOptions& record)
{
    if (!record.writer)
        return;
    if (record.pendingFrames)
        collectAll(*record.pendingFrames);
    record.writer->writePendingPackets(true);
    destroyWriter(record.writer);
    record.writer = nullptr;
}

void convertPixels(const PF_EffectWorld& world, bool deep, uint8_t* destination, uint64_t rowBytes)
{
    const auto* source = static_cast<const uint8_t*>(world.data);
    for (A_long y = 0; y < world.height; ++y) {
        const uint8_t* s = source + ptrdiff_t(y) * world.rowbytes;
        uint8_t* d = destination + size_t(y) * rowBytes;
        if (!deep) {
            // ARGB -> RGBA; alpha is copied as it comes (no premultiplication).
            // As little-endian words that is a rotation right by 8 bits.
            A_long x = 0;
#if defined(__SSE2__)
            for (; x + 4 <= world.width; x += 4, s += 16, d += 16) {
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(d),
                                 _mm_or_si128(_mm_srli_epi32(v, 8), _mm_slli_epi32(v, 24)));
            }
#endif
            for (; x < world.width; ++x, s += 4, d += 4) {
                d[0] = s[1];
                d[1] = s[2];
                d[2] = s[3];
                d[3] = s[0];
            }
        } else {
            // 16-bit channels in the host's 0..32768 become 0..65535.
            for (A_long x = 0; x < world.width; ++x, s += 8, d += 8) {
                uint16_t a, r, g, b;
                std::memcpy(&a, s, 2);
                std::memcpy(&r, s + 2, 2);
                std::memcpy(&g, s + 4, 2);
                std::memcpy(&b, s + 6, 2);
                const uint16_t out[4] = {scale16(r), scale16(g), scale16(b), scale16(a)};
                std::memcpy(d, out, 8);
            }
        }
    }
}

bool exportableSize(A_long width, A_long height, uint32_t formatType)
{
    // Each frame is a host buffer of at least width x 4 bytes per row whose
    // size is a signed 32-bit number, and a compressed frame whose length the
    // codec and FFmpeg's packets carry in 32 bits.
    const char* why = nullptr;
    if (width <= 0 || height <= 0)
        why = "has no pixels";
    else if (int64_t(width) * 4 * height >= (int64_t(1) << 31))
        why = "makes frames of 2 GiB or more";
    else if (!nox::frameSizeFits(formatType, uint32_t(width), uint32_t(height)))
        why = "is too large for the codec's frames";
    if (why)
        nox::logf(nox::LOG_ERROR, "Zemo 3 export: the output size %dx%d %s", int(width), int(height), why);
    return why == nullptr;
}

bool memoryIsLow(uint64_t frameBytes)
{
    const float available = float(platform::availablePhysicalMemory()) / 1048576.0f;
    const float frame = float(double(frameBytes) / 1024.0 / 1024.0);
    return available < 300.0f || frame * 5.0f > available;
}

A_Err startAdding(AEIO_BasicData* basic, AEIO_OutSpecH out, A_long)
{
    return guarded([&]() -> A_Err {
        SuiteCache suites(basic);
        const AEGP_IOOutSuite7& io = suites.ioOut();
        const AEGP_MemorySuite1& memory = suites.memory();
        OutputFormat format;
        std::string path;
        A_Err err = readFormat(io, out, format);
        if (err != A_Err_NONE || (err = readPath(io, memory, out, path)) != A_Err_NONE)
            return err;

        OptionsRecord options(suites, out);
        if ((err = options.open()) != A_Err_NONE || !options)
            return err;  // no record: nothing to export into, frames are dropped
        ExportOptions& record = *options;
        finishJob(record);
        if (!record.pendingFrames)
            record.pendingFrames = new PendingFrames;
        const A_Err result = openWriter(record, format, path);
        err = options.unlock();
        if (err != A_Err_NONE && result == A_Err_NONE) {
            // The host takes the start as failed: it gets no job and no file.
            const std::string written = record.writer->path();
            finishJob(record);
            platform::removeFile(written);
        }
        return result != A_Err_NONE ? result : err;
    });
}

A_Err addFrame(AEIO_BasicData* basic, AEIO_OutSpecH out, A_long, A_long, const PF_EffectWorld* world, const A_LPoint*,
               A_Boolean, AEIO_InterruptFuncs*)
{
    return withRecord(basic, out, [&](ExportOptions& record) {
        const A_Err err = addFrameLocked(record, world);
        // A host that serves the result suite hears why the file took no more.
        if (const std::string why = err != A_Err_NONE && record.writer ? record.writer->writeFailure() : "";
            !why.empty()) {
            SuiteCache suites(basic);
            if (const Zemo_ResultSuite1* result = suites.result())
                result->Zemo_WriteFailed(why.c_str());
        }
        return err;
    });
}

A_Err addFrameLocked(ExportOptions& record, const PF_EffectWorld* world)
{
    if (!record.writer || !world)
        return A_Err_GENERIC;
    if (!record.pendingFrames)
        record.pendingFrames = new PendingFrames;
    PendingFrames& pending = *record.pendingFrames;

    const bool deep = (world->world_flags & PF_WorldFlag_DEEP) != 0;
    const char* refusal = frameRefusal(record, *world, deep);
    const std::string failure = refusal ? std::string() : record.writer->failure();
    if (refusal || !failure.empty()) {
        if (refusal)
            nox::logf(nox::LOG_ERROR, "Zemo 3 export: frame %llu refused: %dx%d, %d bytes per row, %s",
                      static_cast<unsigned long long>(record.framesAdded), int(world->width), int(world->height),
                      int(world->rowbytes), refusal);
        else
            nox::logf(nox::LOG_ERROR, "Zemo 3 export: frame %llu refused: %s",
                      static_cast<unsigned long long>(record.framesAdded), failure.c_str());
        dropAll(pending);
        return A_Err_GENERIC;
    }
    std::shared_ptr<nox::PixelsCached> pixels = framePixels(*world, deep);
    if (!pixels) {
        nox::logf(nox::LOG_ERROR, "Zemo 3 export: frame %llu refused: no memory for its %dx%d picture",
                  static_cast<unsigned long long>(record.framesAdded), int(world->width), int(world->height));
        dropAll(pending);
        return A_Err_GENERIC;
    }
    convertPixels(*world, deep, pixels->data(), pixels->rowBytes());

    // Frames that are done leave the list; the others keep their order.
    auto& tasks = pending.tasks;
    tasks.erase(std::remove_if(tasks.begin(), tasks.end(), [](const auto& h) { return h->isDone(); }), tasks.end());
    const size_t workers = nox::TaskManager::instance(8)->workerCount();
    if (memoryIsLow(pixels->size()) || tasks.size() >= workers)
        drainAll(tasks);

    const uint64_t n = record.framesAdded++;
    nox::VideoFormatWriter* writer = record.writer;
    auto handle = std::make_unique<nox::TaskHandle>();
    handle->start(nox::kWorkerQueue, nox::kPlainUrgency, [writer, n, pixels] {
        writer->addFrame(n, *pixels);
        if (n % 30 == 0)
            writer->writePendingPackets(true);
    });
    tasks.push_back(std::move(handle));
    return A_Err_NONE;
}

A_Err addSoundChunk(AEIO_BasicData* basic, AEIO_OutSpecH out, const A_Time*, A_u_long samples, const void* data)
{
    return withRecord(basic, out, [&](ExportOptions& record) { return addSoundLocked(record, samples, data); });
}

A_Err addSoundLocked(ExportOptions& record, A_u_long samples, const void* data)
{
    if (!record.writer || record.writer->channels() == 0)
        return A_Err_GENERIC;
    // The chunk's place comes from the job's own count, whatever the host's
    // start time says; the count grows whatever the writer reports.
    record.writer->addAudio(data, record.samplesAdded, samples);
    record.samplesAdded += samples;
    return A_Err_NONE;
}

A_Err endAdding(AEIO_BasicData* basic, AEIO_OutSpecH out, A_long)
{
    return guarded([&]() -> A_Err {
        SuiteCache suites(basic);
        OptionsRecord options(suites, out);
        if (options.open() != A_Err_NONE || !options)
            return A_Err_NONE;
        AEIO_AlphaLabel label{};
        if (suites.ioOut().AEGP_GetOutSpecAlphaLabel(out, &label) == A_Err_NONE)
            options->alphaType = label.alpha;
        finishJob(*options);
        delete options->pendingFrames;
        options->pendingFrames = nullptr;
        options.unlock();
        return A_Err_NONE;
    });
}

}  // namespace zexport
