// The options record of one output module, as the host keeps it in a memory
// handle and stores it (flattened) in projects and templates. The byte layout
// is the stored format: it must never change.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/version.h"

namespace nox {
class VideoFormatWriter;
}

namespace zexport {

// The export job's list of outstanding frame tasks (defined by the module).
struct PendingFrames;

struct ExportOptions {
    uint32_t flattened;              // 0 live, 1 flattened copy
    uint8_t reserved[332];           // carries no data; kept so stored offsets stay
    nox::VideoFormatWriter* writer;  // the running job's writer; live records only
    PendingFrames* pendingFrames;    // outstanding frame tasks; live records only
    uint32_t formatType;             // the chosen compression (0..3 from the dialog)
    uint8_t alphaType;               // alpha-type byte of the host's alpha label
    uint8_t padding[3];
    uint64_t framesAdded;  // job counters; 0 outside a job and when flattened
    uint64_t samplesAdded;
};
static_assert(sizeof(ExportOptions) == 376);
static_assert(offsetof(ExportOptions, reserved) == 4);
static_assert(offsetof(ExportOptions, writer) == 336);
static_assert(offsetof(ExportOptions, pendingFrames) == 344);
static_assert(offsetof(ExportOptions, formatType) == 352);
static_assert(offsetof(ExportOptions, alphaType) == 356);
static_assert(offsetof(ExportOptions, framesAdded) == 360);
static_assert(offsetof(ExportOptions, samplesAdded) == 368);

constexpr uint32_t kDefaultFormatType = 0;
constexpr uint8_t kDefaultAlphaType = 3;

// A record as a project stores it (flattened), with the given choices.
inline ExportOptions storedOptions(uint32_t formatType, uint8_t alphaType = kDefaultAlphaType)
{
    ExportOptions r{};
    r.flattened = 1;
    r.formatType = formatType;
    r.alphaType = alphaType;
    return r;
}
// Its bytes, as the host keeps them.
inline std::vector<uint8_t> storedOptionsBytes(uint32_t formatType, uint8_t alphaType = kDefaultAlphaType)
{
    const ExportOptions r = storedOptions(formatType, alphaType);
    std::vector<uint8_t> bytes(sizeof r);
    std::memcpy(bytes.data(), &r, sizeof r);
    return bytes;
}

// Debugging labels of the record's memory handles.
constexpr const char* kLiveOptionsLabel = "InitOutputSpec options";
constexpr const char* kFlatOptionsLabel = "flat optionsH";

// Registration values the host sees.
constexpr const char* kPluginName = "Zemo 3";
constexpr const char* kFormatName = "MOV (Zemo 3)";
constexpr uint32_t kModuleFlags = 0x8000076;
constexpr uint32_t kModuleSignature = 0x4D4F565F;  // 'MOV_'
constexpr uint32_t kCoreFeatureMask = 0x84;        // worker pool and format registry
// The dialog's version line: the product's version (core/version.h) and the
// build the host's users know it by.
constexpr const char* kVersionText = ZEMO3_VERSION " rev 8700";

}  // namespace zexport
