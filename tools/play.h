// zemo3 play's pieces in files of their own.
#pragma once

#include "cli.h"

namespace zemo3 {

// zemo3 play --offscreen --bench: per type and size, the milliseconds per
// frame of reading and unpacking, of the upload and of the draw, beside
// FFmpeg's HAP decoder on the same pictures.
int benchPlayback(const Args& args);

}  // namespace zemo3
