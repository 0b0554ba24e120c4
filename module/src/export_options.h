// The options record as the module works on it: the stored layout
// (module/options.h), with the running job's state in the bytes a stored
// record keeps as liveOnly. Only the module, and tests that look into it,
// read these.
#pragma once

#include <cstddef>
#include <cstdint>

#include "module/options.h"

namespace nox {
class VideoFormatWriter;
}

namespace zexport {

// The export job's list of outstanding frame tasks (defined by the module).
struct PendingFrames;

struct ExportOptions {
    uint32_t flattened;
    uint8_t reserved[332];
    nox::VideoFormatWriter* writer;  // the running job's writer; live records only
    PendingFrames* pendingFrames;    // outstanding frame tasks; live records only
    uint32_t formatType;
    uint8_t alphaType;
    uint8_t padding[3];
    uint64_t framesAdded;
    uint64_t samplesAdded;
};
static_assert(sizeof(ExportOptions) == sizeof(StoredOptions));
static_assert(offsetof(ExportOptions, writer) == offsetof(StoredOptions, liveOnly));
static_assert(offsetof(ExportOptions, pendingFrames) == offsetof(StoredOptions, liveOnly) + 8);
static_assert(offsetof(ExportOptions, formatType) == offsetof(StoredOptions, formatType));
static_assert(offsetof(ExportOptions, alphaType) == offsetof(StoredOptions, alphaType));
static_assert(offsetof(ExportOptions, framesAdded) == offsetof(StoredOptions, framesAdded));
static_assert(offsetof(ExportOptions, samplesAdded) == offsetof(StoredOptions, samplesAdded));

}  // namespace zexport
