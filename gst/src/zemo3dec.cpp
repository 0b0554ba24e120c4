// zemo3dec: a GStreamer video decoder for Zemo 3 movies. Every frame is a
// key frame holding one texture; the element hands the frames to the frame
// reader's picture pipeline (reader/pictures.h) with output buffers to fill:
// RGBA for the types that keep alpha and RGBx for the others, cropped to the
// movie's size. With more than one thread, one frame's picture is built on
// the library's worker pool while the streaming thread restores the next
// frame's texture; frames leave one frame later, in order.
//
// A frame the pipeline refuses is reported (a warning on the bus, and
// counted through GST_VIDEO_DECODER_ERROR) and dropped; the stream goes on.
#include <gst/gst.h>
#include <gst/video/video.h>

#include <algorithm>
#include <string>
#include <utility>

#include "core/version.h"
#include "platform/platform.h"
#include "reader/pictures.h"

#define PACKAGE "zemo3"

namespace {

struct Zemo3Dec;

// The element's side of the pipeline: a picture is a frame's output buffer,
// mapped for writing.
struct Sink final : nox::PictureSink {
    struct Building {
        GstVideoCodecFrame* frame;
        GstVideoFrame out;
    };
    explicit Sink(Zemo3Dec* element) : self(element) {}
    Target picture(uint32_t type, int64_t stamp) override;
    void show(void* handle) override;
    void release(void* handle) override;
    void refused(uint64_t number, int64_t stamp, const std::string& why, void* handle) override;
    // The frame of a picture, unmapped.
    static GstVideoCodecFrame* unmap(void* handle);

    Zemo3Dec* self;
};

struct Zemo3Dec {
    GstVideoDecoder parent;
    GstVideoCodecState* input;
    Sink* sink;
    nox::PicturePipeline* pipeline;  // null until caps arrive
    GstVideoCodecFrame* current;     // the frame being pushed, until the pipeline takes or refuses it
    GstFlowReturn flow;              // the first failure since the frame came in
    GstVideoFormat format;           // the negotiated output format, UNKNOWN until the first frame
    guint threads;                   // property: 0 = one per processor
    guint64 frames, damaged;
};

struct Zemo3DecClass {
    GstVideoDecoderClass parent_class;
};

GType zemo3_dec_get_type();
#define ZEMO3_DEC(obj) (reinterpret_cast<Zemo3Dec*>(obj))

G_DEFINE_TYPE(Zemo3Dec, zemo3_dec, GST_TYPE_VIDEO_DECODER)

GST_DEBUG_CATEGORY_STATIC(zemo3dec_debug);
#define GST_CAT_DEFAULT zemo3dec_debug

enum { PROP_0, PROP_THREADS, PROP_FRAMES, PROP_DAMAGED };

// What qtdemux (and other demuxers that turn an unknown four-character code
// into caps) produce for our tracks, and a name of our own for any other.
static_assert(nox::kMaxPictureSide == 16384, "the sink caps carry the largest side");
GstStaticPadTemplate sinkTemplate = GST_STATIC_PAD_TEMPLATE(
    "sink", GST_PAD_SINK, GST_PAD_ALWAYS,
    GST_STATIC_CAPS("video/x-gst-fourcc-ZMQ3, width = (int) [ 1, 16384 ], height = (int) [ 1, 16384 ]; "
                    "video/x-zemo3, width = (int) [ 1, 16384 ], height = (int) [ 1, 16384 ]"));

GstStaticPadTemplate srcTemplate =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS(GST_VIDEO_CAPS_MAKE("{ RGBA, RGBx }")));

void keepFirstFailure(Zemo3Dec* self, GstFlowReturn ret)
{
    if (self->flow == GST_FLOW_OK)
        self->flow = ret;
}

// Drops a frame that did not decode, with a warning on the bus for players
// and logs. GST_VIDEO_DECODER_ERROR counts it against max-errors, which this
// element sets to -1 (never fatal) unless the application sets a limit.
void reportDamaged(Zemo3Dec* self, GstVideoCodecFrame* frame, const std::string& why)
{
    GstVideoDecoder* decoder = GST_VIDEO_DECODER(self);
    ++self->damaged;
    const guint number = frame->system_frame_number;
    gst_video_decoder_drop_frame(decoder, frame);
    GstFlowReturn ret = GST_FLOW_OK;
    GST_ELEMENT_WARNING(decoder, STREAM, DECODE, ("A damaged Zemo 3 frame was skipped"),
                        ("frame %u: %s", number, why.c_str()));
    GST_VIDEO_DECODER_ERROR(decoder, 1, STREAM, DECODE, ("A damaged Zemo 3 frame was skipped"),
                            ("frame %u: %s", number, why.c_str()), ret);
    keepFirstFailure(self, ret);
}

// Sets (or changes) the output caps for a frame of the given format type.
gboolean negotiateFor(Zemo3Dec* self, uint32_t type)
{
    const GstVideoFormat want = nox::typeHasAlpha(type) ? GST_VIDEO_FORMAT_RGBA : GST_VIDEO_FORMAT_RGBx;
    if (want == self->format)
        return TRUE;
    const GstVideoInfo& in = self->input->info;
    GstVideoCodecState* out = gst_video_decoder_set_output_state(
        GST_VIDEO_DECODER(self), want, GST_VIDEO_INFO_WIDTH(&in), GST_VIDEO_INFO_HEIGHT(&in), self->input);
    // The pixels are full-range sRGB.
    gst_video_colorimetry_from_string(&out->info.colorimetry, GST_VIDEO_COLORIMETRY_SRGB);
    gst_video_codec_state_unref(out);
    if (!gst_video_decoder_negotiate(GST_VIDEO_DECODER(self)))
        return FALSE;
    self->format = want;
    return TRUE;
}

nox::PictureSink::Target Sink::picture(uint32_t type, int64_t)
{
    GstVideoDecoder* decoder = GST_VIDEO_DECODER(self);
    GstVideoCodecFrame* frame = std::exchange(self->current, nullptr);
    if (self->flow == GST_FLOW_OK && !negotiateFor(self, type))
        self->flow = GST_FLOW_NOT_NEGOTIATED;
    if (self->flow == GST_FLOW_OK)
        self->flow = gst_video_decoder_allocate_output_frame(decoder, frame);
    if (self->flow != GST_FLOW_OK) {
        gst_video_decoder_drop_frame(decoder, frame);
        return {};
    }
    auto* b = new Building{frame, {}};
    GstVideoCodecState* state = gst_video_decoder_get_output_state(decoder);
    const bool mapped = gst_video_frame_map(&b->out, &state->info, frame->output_buffer, GST_MAP_WRITE);
    gst_video_codec_state_unref(state);
    if (!mapped) {
        delete b;
        reportDamaged(self, frame, "the output buffer cannot be written");
        return {};
    }
    return {b, static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&b->out, 0)),
            size_t(GST_VIDEO_FRAME_PLANE_STRIDE(&b->out, 0))};
}

GstVideoCodecFrame* Sink::unmap(void* handle)
{
    auto* b = static_cast<Building*>(handle);
    gst_video_frame_unmap(&b->out);
    GstVideoCodecFrame* frame = b->frame;
    delete b;
    return frame;
}

void Sink::show(void* handle)
{
    keepFirstFailure(self, gst_video_decoder_finish_frame(GST_VIDEO_DECODER(self), unmap(handle)));
}

void Sink::release(void* handle) { gst_video_decoder_release_frame(GST_VIDEO_DECODER(self), unmap(handle)); }

void Sink::refused(uint64_t, int64_t, const std::string& why, void* handle)
{
    reportDamaged(self, handle ? unmap(handle) : std::exchange(self->current, nullptr), why);
}

void resetStream(Zemo3Dec* self)
{
    delete self->pipeline;  // releases the picture being built
    self->pipeline = nullptr;
    if (self->input)
        gst_video_codec_state_unref(self->input);
    self->input = nullptr;
    self->format = GST_VIDEO_FORMAT_UNKNOWN;
}

// Hands on the picture being built; the flow of handing it on.
GstFlowReturn drainStream(Zemo3Dec* self)
{
    self->flow = GST_FLOW_OK;
    if (self->pipeline)
        self->pipeline->drain();
    return self->flow;
}

gboolean zemo3DecStart(GstVideoDecoder* decoder)
{
    Zemo3Dec* self = ZEMO3_DEC(decoder);
    self->frames = self->damaged = 0;
    return TRUE;
}

gboolean zemo3DecStop(GstVideoDecoder* decoder)
{
    resetStream(ZEMO3_DEC(decoder));
    return TRUE;
}

gboolean zemo3DecSetFormat(GstVideoDecoder* decoder, GstVideoCodecState* state)
{
    Zemo3Dec* self = ZEMO3_DEC(decoder);
    const GstStructure* s = gst_caps_get_structure(state->caps, 0);
    int width = 0, height = 0;
    if (!gst_structure_get_int(s, "width", &width) || !gst_structure_get_int(s, "height", &height) ||
        !nox::pictureSizeAccepted(uint32_t(std::max(width, 0)), uint32_t(std::max(height, 0)))) {
        GST_ELEMENT_ERROR(self, STREAM, WRONG_TYPE, ("Not a Zemo 3 stream this decoder can play"),
                          ("caps %" GST_PTR_FORMAT " carry no picture size from 1x1 to %ux%u", state->caps,
                           nox::kMaxPictureSide, nox::kMaxPictureSide));
        return FALSE;
    }
    if (drainStream(self) != GST_FLOW_OK)
        return FALSE;
    resetStream(self);
    self->input = gst_video_codec_state_ref(state);
    const unsigned threads = self->threads ? self->threads : std::max(1u, platform::processorCount());
    self->pipeline = new nox::PicturePipeline(uint32_t(width), uint32_t(height), threads, *self->sink);
    return TRUE;
}

GstFlowReturn zemo3DecHandleFrame(GstVideoDecoder* decoder, GstVideoCodecFrame* frame)
{
    Zemo3Dec* self = ZEMO3_DEC(decoder);
    if (!self->pipeline) {
        GST_ELEMENT_ERROR(self, CORE, NEGOTIATION, ("No caps before the first frame"), (nullptr));
        gst_video_decoder_drop_frame(decoder, frame);
        return GST_FLOW_NOT_NEGOTIATED;
    }
    ++self->frames;
    // Held past the frame, which the pipeline may drop while its bytes are read.
    GstBuffer* input = gst_buffer_ref(frame->input_buffer);
    GstMapInfo in;
    if (!gst_buffer_map(input, &in, GST_MAP_READ)) {
        gst_buffer_unref(input);
        gst_video_decoder_drop_frame(decoder, frame);
        return GST_FLOW_ERROR;
    }
    self->current = frame;
    self->flow = GST_FLOW_OK;
    self->pipeline->push(in.data, in.size, frame->system_frame_number);
    gst_buffer_unmap(input, &in);
    gst_buffer_unref(input);
    return self->flow;
}

GstFlowReturn zemo3DecFinish(GstVideoDecoder* decoder) { return drainStream(ZEMO3_DEC(decoder)); }

gboolean zemo3DecFlush(GstVideoDecoder* decoder)
{
    Zemo3Dec* self = ZEMO3_DEC(decoder);
    if (self->pipeline)
        self->pipeline->flush();
    return TRUE;
}

void zemo3DecSetProperty(GObject* object, guint id, const GValue* value, GParamSpec* spec)
{
    Zemo3Dec* self = ZEMO3_DEC(object);
    if (id == PROP_THREADS)
        self->threads = g_value_get_uint(value);
    else
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, spec);
}

void zemo3DecGetProperty(GObject* object, guint id, GValue* value, GParamSpec* spec)
{
    Zemo3Dec* self = ZEMO3_DEC(object);
    switch (id) {
    case PROP_THREADS:
        g_value_set_uint(value, self->threads);
        break;
    case PROP_FRAMES:
        g_value_set_uint64(value, self->frames);
        break;
    case PROP_DAMAGED:
        g_value_set_uint64(value, self->damaged);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, spec);
    }
}

void zemo3DecFinalize(GObject* object)
{
    resetStream(ZEMO3_DEC(object));
    delete ZEMO3_DEC(object)->sink;
    G_OBJECT_CLASS(zemo3_dec_parent_class)->finalize(object);
}

void zemo3_dec_class_init(Zemo3DecClass* klass)
{
    GObjectClass* object = G_OBJECT_CLASS(klass);
    GstElementClass* element = GST_ELEMENT_CLASS(klass);
    GstVideoDecoderClass* video = GST_VIDEO_DECODER_CLASS(klass);
    object->set_property = zemo3DecSetProperty;
    object->get_property = zemo3DecGetProperty;
    object->finalize = zemo3DecFinalize;
    const auto readWrite = GParamFlags(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS);
    const auto readOnly = GParamFlags(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS);
    g_object_class_install_property(object, PROP_THREADS,
                                    g_param_spec_uint("threads", "Threads",
                                                      "Threads that rebuild a large picture (0: one per processor)", 0,
                                                      256, 0, readWrite));
    g_object_class_install_property(
        object, PROP_FRAMES, g_param_spec_uint64("frames", "Frames", "Frames received", 0, G_MAXUINT64, 0, readOnly));
    g_object_class_install_property(object, PROP_DAMAGED,
                                    g_param_spec_uint64("damaged", "Damaged frames",
                                                        "Frames that did not decode and were skipped", 0, G_MAXUINT64,
                                                        0, readOnly));

    gst_element_class_add_static_pad_template(element, &sinkTemplate);
    gst_element_class_add_static_pad_template(element, &srcTemplate);
    gst_element_class_set_static_metadata(element, "Zemo 3 video decoder", "Codec/Decoder/Video",
                                          "Decodes Zemo 3 GPU-texture video to RGBA or RGBx pictures",
                                          "Zemo 3 Export developers");
    video->start = zemo3DecStart;
    video->stop = zemo3DecStop;
    video->set_format = zemo3DecSetFormat;
    video->handle_frame = zemo3DecHandleFrame;
    video->finish = zemo3DecFinish;
    video->drain = zemo3DecFinish;
    video->flush = zemo3DecFlush;
}

void zemo3_dec_init(Zemo3Dec* self)
{
    GstVideoDecoder* decoder = GST_VIDEO_DECODER(self);
    // One frame per buffer, every one a key frame.
    gst_video_decoder_set_packetized(decoder, TRUE);
    gst_video_decoder_set_needs_format(decoder, TRUE);
    gst_video_decoder_set_max_errors(decoder, -1);
    self->input = nullptr;
    self->sink = new Sink(self);
    self->pipeline = nullptr;
    self->current = nullptr;
    self->flow = GST_FLOW_OK;
    self->format = GST_VIDEO_FORMAT_UNKNOWN;
    self->threads = 0;
    self->frames = self->damaged = 0;
}

gboolean pluginInit(GstPlugin* plugin)
{
    GST_DEBUG_CATEGORY_INIT(zemo3dec_debug, "zemo3dec", 0, "Zemo 3 video decoder");
    // Primary: playbin and decodebin pick it for our tracks without asking.
    return gst_element_register(plugin, "zemo3dec", GST_RANK_PRIMARY, zemo3_dec_get_type());
}

}  // namespace

extern "C" {
GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, zemo3, "Zemo 3 GPU-texture video", pluginInit, ZEMO3_VERSION,
                  "MIT/X11", "Zemo 3 Export", "Zemo 3 Export")
}
