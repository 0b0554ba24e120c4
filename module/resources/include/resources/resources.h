// The module's resources: the plug-in property list by which the host finds
// the module, the version strings and the options dialog's template.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/dialog.h"

namespace zexport::resources {

constexpr int kPiPLResourceId = 16000;

// The property list, little-endian: version 1 (16 bits), list version 0 and
// property count 5 (32 bits each), then per property the vendor '8BIM', the
// key, id 0, the data length and the data zero-padded to a multiple of 4.
// Four-character codes are 32-bit values, so their bytes appear reversed.
// Properties: 'kind' 'AEgx', 'name' "Zemo 3", 'catg' "General Plugin",
// 'vers' 00 00 01 00, '8664' "EntryPointFunc".
std::vector<uint8_t> piplResource();

struct VersionStrings {
    const char* fileDescription;
    const char* fileVersion;
    const char* internalName;
};
const VersionStrings& versionStrings();

// Options dialog template and its control ids.
constexpr int kOptionsDialogId = 100;
constexpr int kCompressionListId = 3;
constexpr int kVersionLabelId = 1004;
constexpr int kCompressionLabelId = 1005;
const platform::DialogTemplate& optionsDialogTemplate();

}  // namespace zexport::resources
