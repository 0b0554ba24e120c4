// zemo3dec in real pipelines on movies of every type at an odd size (the padding must be cropped),
// against the pictures `zemo3 decode` writes for the same movies.
#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/check/gstharness.h>
#include <gst/gst.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>

#include "common/movies.h"
#include "common/pictures.h"
#include "common/refusals.h"
#include "reader/pictures.h"

namespace {

using testutil::Bytes;

const char* const* const kTypes = testutil::kCompressions;
constexpr int kWidth = 99, kHeight = 61, kFrames = 15;  // half a second at 30 frames/s

struct Picture {
    GstClockTime pts;
    std::string format;
    Bytes rgba;  // rows cropped to the picture's width
};

Picture picture(GstSample* sample)
{
    GstVideoInfo info;
    gst_video_info_from_caps(&info, gst_sample_get_caps(sample));
    GstVideoFrame frame;
    Picture out{GST_BUFFER_PTS(gst_sample_get_buffer(sample)), GST_VIDEO_INFO_NAME(&info), {}};
    if (!gst_video_frame_map(&frame, &info, gst_sample_get_buffer(sample), GST_MAP_READ))
        return out;
    for (int y = 0; y < GST_VIDEO_INFO_HEIGHT(&info); ++y) {
        const auto* row = static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)) +
                          y * GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
        out.rgba.insert(out.rgba.end(), row, row + GST_VIDEO_INFO_WIDTH(&info) * 4);
    }
    gst_video_frame_unmap(&frame);
    return out;
}

// A pipeline ending in an appsink named "sink", and what came out of it.
struct Played {
    std::vector<Picture> pictures;
    std::vector<std::string> warnings, errors;
    guint64 damaged = 0;
};

Played play(const std::string& description, const std::function<void(GstElement*)>& whilePaused = {})
{
    Played out;
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
    if (!pipeline || error) {
        out.errors.push_back(error ? error->message : "no pipeline");
        g_clear_error(&error);
        if (pipeline)
            gst_object_unref(pipeline);
        return out;
    }
    GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
    if (!sink)  // a playbin, whose sink joins it only once it plays
        g_object_get(pipeline, "video-sink", &sink, nullptr);
    GstBus* bus = gst_element_get_bus(pipeline);
    gst_element_set_state(pipeline, GST_STATE_PAUSED);
    if (whilePaused)
        whilePaused(pipeline);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);
    // Pictures until the end of the stream or an error.
    for (int idle = 0; idle < 200 && out.errors.empty() && !gst_app_sink_is_eos(GST_APP_SINK(sink));) {
        if (GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), GST_SECOND / 10)) {
            out.pictures.push_back(picture(sample));
            gst_sample_unref(sample);
        } else {
            ++idle;
        }
        while (GstMessage* m = gst_bus_pop_filtered(bus, GstMessageType(GST_MESSAGE_WARNING | GST_MESSAGE_ERROR))) {
            GError* e = nullptr;
            gchar* debug = nullptr;
            const bool warning = GST_MESSAGE_TYPE(m) == GST_MESSAGE_WARNING;
            warning ? gst_message_parse_warning(m, &e, &debug) : gst_message_parse_error(m, &e, &debug);
            (warning ? out.warnings : out.errors).push_back(std::string(e->message) + " | " + (debug ? debug : ""));
            g_clear_error(&e);
            g_free(debug);
            gst_message_unref(m);
        }
    }
    if (GstElement* decoder = gst_bin_get_by_name(GST_BIN(pipeline), "dec")) {
        g_object_get(decoder, "damaged", &out.damaged, nullptr);
        gst_object_unref(decoder);
    }
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(sink);
    gst_object_unref(pipeline);
    return out;
}

std::string decoding(const std::string& movie, const std::string& properties = "")
{
    return "filesrc location=\"" + movie + "\" ! qtdemux ! zemo3dec name=dec " + properties +
           " ! appsink name=sink sync=false";
}

class Zemo3Dec : public testutil::PicturedSuite<kWidth, kHeight, 5> {
protected:
    static void SetUpTestSuite()
    {
        PicturedSuite::SetUpTestSuite();
        // A registry of our own, scanned in this process: a sanitizer build's plug-in cannot load into the scanner.
        platform::setEnvironment("GST_PLUGIN_PATH", ZEMO_GST_PLUGIN_DIR);
        platform::setEnvironment("GST_REGISTRY", dir_->file("registry.bin"));
        platform::setEnvironment("GST_REGISTRY_FORK", "no");
        gst_init(nullptr, nullptr);
    }
};

// Every frame byte for byte, stamped with its time; RGBA where the type keeps alpha, RGBx otherwise. One thread
// decodes in place, more overlap one frame's picture with the next frame's texture.
TEST_F(Zemo3Dec, EveryTypeMatchesTheCommandsDecode)
{
    for (int run = 0; run < 8; ++run) {
        const int t = run % 4;
        SCOPED_TRACE(std::string(kTypes[t]) + (run < 4 ? " threads=1" : " threads=3"));
        const Played p = play(decoding(movie(t), run < 4 ? "threads=1" : "threads=3"));
        EXPECT_TRUE(p.errors.empty() && p.warnings.empty()) << (p.errors.empty() ? p.warnings : p.errors)[0];
        ASSERT_EQ(p.pictures.size(), size_t(kFrames));
        for (int i = 0; i < kFrames; ++i) {
            EXPECT_EQ(p.pictures[i].format, t % 2 ? "RGBA" : "RGBx");
            EXPECT_EQ(p.pictures[i].pts, gst_util_uint64_scale(i, GST_SECOND, 30)) << i;
            EXPECT_TRUE(p.pictures[i].rgba == decoded_[t][i]) << "frame " << i;
        }
    }
}

// A seek while paused lands on its frame, a step shows the next; playing on gives the frames after it.
TEST_F(Zemo3Dec, SeekAndStepLandOnTheFrame)
{
    std::vector<Picture> shown;
    const Played p = play(decoding(movie(3)), [&](GstElement* pipeline) {
        GstAppSink* sink = GST_APP_SINK(gst_bin_get_by_name(GST_BIN(pipeline), "sink"));
        auto preroll = [&] {
            gst_element_get_state(pipeline, nullptr, nullptr, 10 * GST_SECOND);
            if (GstSample* sample = gst_app_sink_try_pull_preroll(sink, 10 * GST_SECOND)) {
                shown.push_back(picture(sample));
                gst_sample_unref(sample);
            }
        };
        preroll();
        EXPECT_TRUE(gst_element_seek_simple(pipeline, GST_FORMAT_TIME,
                                            GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
                                            gst_util_uint64_scale(9, GST_SECOND, 30)));
        preroll();
        EXPECT_TRUE(gst_element_send_event(pipeline, gst_event_new_step(GST_FORMAT_BUFFERS, 1, 1.0, TRUE, FALSE)));
        preroll();
        gst_object_unref(sink);
    });
    ASSERT_EQ(shown.size(), 3u);
    for (const auto& [at, frame] : {std::pair<size_t, int>{0, 0}, {1, 9}, {2, 10}}) {
        EXPECT_EQ(shown[at].pts, gst_util_uint64_scale(frame, GST_SECOND, 30)) << at;
        EXPECT_TRUE(shown[at].rgba == decoded_[3][frame]) << "frame " << frame;
    }
    ASSERT_FALSE(p.pictures.empty());
    for (size_t i = 0; i < p.pictures.size(); ++i) {
        const int frame = kFrames - int(p.pictures.size()) + int(i);
        EXPECT_GE(frame, 10);
        EXPECT_EQ(p.pictures[i].pts, gst_util_uint64_scale(frame, GST_SECOND, 30));
        EXPECT_TRUE(p.pictures[i].rgba == decoded_[3][frame]) << "frame " << frame;
    }
}

// In-process through a harness, the frames the picture pipeline refuses (the
// table every player shares): each is dropped with a warning that carries
// its number and the pipeline's reason, on one thread and on three, and the
// frames around it come out.
TEST_F(Zemo3Dec, RefusesAsThePipelineDoes)
{
    const Bytes good = nox::testing::frameOf(0, 112, 64, 5);
    for (const auto& c : nox::testing::refusedFrames(kWidth, kHeight)) {
        nox::FramePictures pictures(kWidth, kHeight);
        std::string why;
        EXPECT_FALSE(pictures.unpack(c.frame.data(), c.frame.size(), nullptr, &why)) << c.name;
        for (const char* threads : {"1", "3"}) {
            SCOPED_TRACE(std::string(c.name) + ", threads=" + threads);
            GstHarness* h = gst_harness_new("zemo3dec");
            gst_util_set_object_arg(G_OBJECT(h->element), "threads", threads);
            GstBus* bus = gst_bus_new();
            gst_element_set_bus(h->element, bus);
            gst_harness_set_src_caps_str(h, "video/x-zemo3,framerate=30/1,width=99,height=61");  // kWidth x kHeight
            for (const Bytes* frame : {&good, &c.frame, &good})
                EXPECT_EQ(gst_harness_push(h, gst_buffer_new_memdup(frame->data(), frame->size())), GST_FLOW_OK);
            EXPECT_TRUE(gst_harness_push_event(h, gst_event_new_eos()));
            EXPECT_EQ(gst_harness_buffers_received(h), 2u);
            guint64 damaged = 0;
            g_object_get(h->element, "damaged", &damaged, nullptr);
            EXPECT_EQ(damaged, 1u);
            GstMessage* m = gst_bus_pop_filtered(bus, GST_MESSAGE_WARNING);
            ASSERT_TRUE(m);
            gchar* debug = nullptr;
            gst_message_parse_warning(m, nullptr, &debug);
            EXPECT_NE(std::string(debug).find("frame 1: " + why), std::string::npos) << debug;
            g_free(debug);
            gst_message_unref(m);
            gst_element_set_bus(h->element, nullptr);
            gst_object_unref(bus);
            gst_harness_teardown(h);
        }
    }
}

// Other caps do not link; our caps without a usable size fail with a message that says so.
TEST_F(Zemo3Dec, OtherStreamsAreRefused)
{
    const struct {
        const char* pipeline;
        const char* says;
    } cases[] = {
        {"videotestsrc num-buffers=1 ! zemo3dec ! appsink name=sink", "could not link"},
        {"appsrc caps=video/x-zemo3 ! zemo3dec ! appsink name=sink", "not-negotiated"},
    };
    for (const auto& c : cases) {
        const Played p = play(c.pipeline, [](GstElement* pipeline) {
            GstElement* src = gst_bin_get_by_name(GST_BIN(pipeline), "appsrc0");
            if (!src)
                return;
            gst_app_src_push_buffer(GST_APP_SRC(src), gst_buffer_new_wrapped(g_strdup("ZMQ3...."), 8));
            gst_app_src_end_of_stream(GST_APP_SRC(src));
            gst_object_unref(src);
        });
        ASSERT_FALSE(p.errors.empty()) << c.pipeline;
        EXPECT_NE(p.errors[0].find(c.says), std::string::npos) << p.errors[0];
        EXPECT_TRUE(p.pictures.empty());
    }
}

// playbin picks the element by itself and plays to the end.
TEST_F(Zemo3Dec, PlayersFindAndPlayTheMovie)
{
    gchar* uri = gst_filename_to_uri(movie(1).c_str(), nullptr);
    const Played p = play(std::string("playbin uri=\"") + uri +
                          "\" video-sink=\"appsink name=sink sync=false\" audio-sink=fakesink");
    g_free(uri);
    EXPECT_TRUE(p.errors.empty()) << p.errors[0];
    ASSERT_EQ(p.pictures.size(), size_t(kFrames));
    for (int i = 0; i < kFrames; ++i)
        EXPECT_EQ(p.pictures[i].pts, gst_util_uint64_scale(i, GST_SECOND, 30)) << i;
}

}  // namespace
