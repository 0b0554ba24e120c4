// The options record of one output module as the host holds it: the bytes
// it keeps in a memory handle and stores (flattened) in projects and
// templates. The byte layout is the stored format: it must never change.
// While a job runs, the module keeps state of its own in the liveOnly bytes
// of the record the host holds; a host reads none of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/version.h"

namespace zexport {

struct StoredOptions {
    uint32_t flattened;     // 0 live, 1 flattened copy
    uint8_t reserved[332];  // carries no data; kept so stored offsets stay
    uint8_t liveOnly[16];   // the module's, in a live record; 0 when flattened
    uint32_t formatType;    // the chosen compression (0..3 from the dialog)
    uint8_t alphaType;      // alpha-type byte of the host's alpha label
    uint8_t padding[3];
    uint64_t framesAdded;  // job counters; 0 outside a job and when flattened
    uint64_t samplesAdded;
};
static_assert(sizeof(StoredOptions) == 376);
static_assert(offsetof(StoredOptions, reserved) == 4);
static_assert(offsetof(StoredOptions, liveOnly) == 336);
static_assert(offsetof(StoredOptions, formatType) == 352);
static_assert(offsetof(StoredOptions, alphaType) == 356);
static_assert(offsetof(StoredOptions, framesAdded) == 360);
static_assert(offsetof(StoredOptions, samplesAdded) == 368);

constexpr uint32_t kDefaultFormatType = 0;
constexpr uint8_t kDefaultAlphaType = 3;

// A record as a project stores it (flattened), with the given choices.
inline StoredOptions storedOptions(uint32_t formatType, uint8_t alphaType = kDefaultAlphaType)
{
    StoredOptions r{};
    r.flattened = 1;
    r.formatType = formatType;
    r.alphaType = alphaType;
    return r;
}
// Its bytes, as the host keeps them.
inline std::vector<uint8_t> storedOptionsBytes(uint32_t formatType, uint8_t alphaType = kDefaultAlphaType)
{
    const StoredOptions r = storedOptions(formatType, alphaType);
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
