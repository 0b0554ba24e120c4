// FFmpeg's own log goes to stderr by default; the tests keep only its errors
// so that a failure's context stays readable.
extern "C" {
#include <libavutil/log.h>
}

namespace {
const int g_quiet = [] {
    av_log_set_level(AV_LOG_ERROR);
    return 0;
}();
}  // namespace
