// Fuzz target: the zemo3dec element's input path, caps plus buffers, through
// a GStreamer test harness.
//
// Input: the picture header of fuzz_input.h (its "type" picks the caps name:
// 0 the demuxer's, 1 our own), then buffers, each a 16-bit little-endian
// length and that many bytes (the last one takes what is left). Every
// picture that comes out must have the movie's size.
#include <gst/check/gstharness.h>
#include <gst/gst.h>

#include <cstdlib>
#include <string>

#include "fuzz_input.h"
#include "platform/platform.h"

extern "C" {
GST_PLUGIN_STATIC_DECLARE(zemo3);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using nox::fuzz::kPictureBytes;
    static const bool ready = [] {
        // Only the element itself is needed: no plug-in folders are scanned.
        platform::setEnvironment("GST_PLUGIN_SYSTEM_PATH", "");
        platform::setEnvironment("GST_PLUGIN_PATH", "");
        platform::setEnvironment("GST_REGISTRY_UPDATE", "no");
        gst_init(nullptr, nullptr);
        // A GStreamer assertion the element trips is a failure like any other.
        g_log_set_always_fatal(GLogLevelFlags(G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING));
        GST_PLUGIN_STATIC_REGISTER(zemo3);
        return true;
    }();
    if (!ready || size < kPictureBytes)
        return 0;
    const auto p = nox::fuzz::picture(data, 2);
    GstHarness* h = gst_harness_new("zemo3dec");
    const std::string caps = std::string(p.type ? "video/x-zemo3" : "video/x-gst-fourcc-ZMQ3") +
                             ",width=" + std::to_string(p.width) + ",height=" + std::to_string(p.height) +
                             ",framerate=30/1";
    gst_harness_set_src_caps_str(h, caps.c_str());
    nox::fuzz::forEachBuffer(data, size, [h](const uint8_t* bytes, size_t n, size_t at) {
        GstBuffer* buffer = n ? gst_buffer_new_memdup(bytes, n) : gst_buffer_new();
        GST_BUFFER_PTS(buffer) = at * GST_MSECOND;
        return gst_harness_push(h, buffer) == GST_FLOW_OK;
    });
    while (GstBuffer* out = gst_harness_try_pull(h)) {
        if (gst_buffer_get_size(out) != size_t(p.width) * p.height * 4)
            std::abort();
        gst_buffer_unref(out);
    }
    gst_harness_teardown(h);
    return 0;
}
