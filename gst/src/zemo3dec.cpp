// zemo3dec: a GStreamer video decoder for Zemo 3 movies. Every frame is a
// key frame holding one texture; the element restores the texture with the
// frame reader and rebuilds the picture on the CPU, as RGBA for the types
// that keep alpha and RGBx for the others, cropped to the movie's size. With
// more than one thread, one frame's picture is built on the library's worker
// pool (in bands when it is large) while the streaming thread restores the
// next frame's texture; frames leave one frame later, in order.
//
// A damaged frame is reported (a warning on the bus, and counted through
// GST_VIDEO_DECODER_ERROR) and dropped; the stream goes on.
#include <gst/gst.h>
#include <gst/video/video.h>

#include <algorithm>
#include <memory>
#include <string>

#include "core/threads.h"
#include "core/version.h"
#include "platform/platform.h"
#include "reader/pictures.h"

#define PACKAGE "zemo3"

namespace {

// Largest side accepted: the frame reader's textures stay well inside 32 bits.
constexpr int kMaxSide = 16384;

// The frame whose picture is being built on the worker pool.
struct Building {
    GstVideoCodecFrame* frame = nullptr;  // null: none
    GstVideoFrame out;                    // its output, mapped for writing
    nox::TaskHandle task;
    bool ok = false;  // written by the task, read after it is done
};

struct Zemo3Dec {
    GstVideoDecoder parent;
    GstVideoCodecState* input;
    // Two per stream, taken in turn: one builds a picture while the other
    // unpacks the next frame. Null until caps arrive.
    nox::FramePictures* pictures[2];
    unsigned slot;           // the one the next frame unpacks into
    unsigned streamThreads;  // threads of this stream; 1: everything on the streaming thread
    Building* building;
    GstVideoFormat format;  // the negotiated output format, UNKNOWN until the first frame
    guint threads;          // property: 0 = one per processor
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
GstStaticPadTemplate sinkTemplate = GST_STATIC_PAD_TEMPLATE(
    "sink", GST_PAD_SINK, GST_PAD_ALWAYS,
    GST_STATIC_CAPS("video/x-gst-fourcc-ZMQ3, width = (int) [ 1, 16384 ], height = (int) [ 1, 16384 ]; "
                    "video/x-zemo3, width = (int) [ 1, 16384 ], height = (int) [ 1, 16384 ]"));

GstStaticPadTemplate srcTemplate =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS(GST_VIDEO_CAPS_MAKE("{ RGBA, RGBx }")));

// Drops a frame that did not decode, with a warning on the bus for players
// and logs. GST_VIDEO_DECODER_ERROR counts it against max-errors, which this
// element sets to -1 (never fatal) unless the application sets a limit.
GstFlowReturn reportDamaged(Zemo3Dec* self, GstVideoCodecFrame* frame, const std::string& why)
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
    return ret;
}

// Waits for the picture being built and hands it on (or reports it); with
// keep false (a flush or a stop) it is released unseen.
GstFlowReturn completeBuilding(Zemo3Dec* self, bool keep = true)
{
    Building& b = *self->building;
    if (!b.frame)
        return GST_FLOW_OK;
    b.task.wait(true);
    gst_video_frame_unmap(&b.out);
    GstVideoCodecFrame* frame = b.frame;
    b.frame = nullptr;
    GstVideoDecoder* decoder = GST_VIDEO_DECODER(self);
    if (!keep) {
        gst_video_decoder_release_frame(decoder, frame);
        return GST_FLOW_OK;
    }
    if (b.ok)
        return gst_video_decoder_finish_frame(decoder, frame);
    return reportDamaged(self, frame, "its texture cannot be rebuilt");
}

void resetStream(Zemo3Dec* self)
{
    completeBuilding(self, false);
    for (auto*& p : self->pictures) {
        delete p;
        p = nullptr;
    }
    if (self->input)
        gst_video_codec_state_unref(self->input);
    self->input = nullptr;
    self->format = GST_VIDEO_FORMAT_UNKNOWN;
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
    if (!gst_structure_get_int(s, "width", &width) || !gst_structure_get_int(s, "height", &height) || width < 1 ||
        height < 1 || width > kMaxSide || height > kMaxSide) {
        GST_ELEMENT_ERROR(
            self, STREAM, WRONG_TYPE, ("Not a Zemo 3 stream this decoder can play"),
            ("caps %" GST_PTR_FORMAT " carry no picture size from 1x1 to %dx%d", state->caps, kMaxSide, kMaxSide));
        return FALSE;
    }
    if (completeBuilding(self) != GST_FLOW_OK)
        return FALSE;
    resetStream(self);
    self->input = gst_video_codec_state_ref(state);
    self->streamThreads = self->threads ? self->threads : std::max(1u, platform::processorCount());
    for (auto*& p : self->pictures) {
        p = new nox::FramePictures(uint32_t(width), uint32_t(height));
        p->setThreads(self->streamThreads);
    }
    self->slot = 0;
    return TRUE;
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

GstFlowReturn zemo3DecHandleFrame(GstVideoDecoder* decoder, GstVideoCodecFrame* frame)
{
    Zemo3Dec* self = ZEMO3_DEC(decoder);
    if (!self->pictures[0]) {
        GST_ELEMENT_ERROR(self, CORE, NEGOTIATION, ("No caps before the first frame"), (nullptr));
        gst_video_decoder_drop_frame(decoder, frame);
        return GST_FLOW_NOT_NEGOTIATED;
    }
    ++self->frames;
    nox::FramePictures& pictures = *self->pictures[self->slot];
    GstMapInfo in;
    if (!gst_buffer_map(frame->input_buffer, &in, GST_MAP_READ)) {
        gst_video_decoder_drop_frame(decoder, frame);
        return GST_FLOW_ERROR;
    }
    // The texture of this frame, while the previous one's picture is built.
    nox::FramePictures::Header header;
    std::string why;
    const bool unpacked = pictures.unpack(in.data, in.size, &header, &why);
    gst_buffer_unmap(frame->input_buffer, &in);
    GstFlowReturn ret = completeBuilding(self);
    if (ret != GST_FLOW_OK) {
        gst_video_decoder_drop_frame(decoder, frame);
        return ret;
    }
    if (!unpacked)
        return reportDamaged(self, frame, why);
    if (!negotiateFor(self, header.type)) {
        gst_video_decoder_drop_frame(decoder, frame);
        return GST_FLOW_NOT_NEGOTIATED;
    }
    ret = gst_video_decoder_allocate_output_frame(decoder, frame);
    if (ret != GST_FLOW_OK) {
        gst_video_decoder_drop_frame(decoder, frame);
        return ret;
    }
    Building& b = *self->building;
    GstVideoCodecState* state = gst_video_decoder_get_output_state(decoder);
    const bool mapped = gst_video_frame_map(&b.out, &state->info, frame->output_buffer, GST_MAP_WRITE);
    gst_video_codec_state_unref(state);
    if (!mapped)
        return reportDamaged(self, frame, "the output buffer cannot be written");
    auto* rgba = static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&b.out, 0));
    const size_t stride = size_t(GST_VIDEO_FRAME_PLANE_STRIDE(&b.out, 0));
    b.frame = frame;
    auto build = [&b, &pictures, rgba, stride] { b.ok = pictures.rebuild(rgba, stride); };
    if (self->streamThreads > 1 && b.task.start(1, 0, build)) {
        self->slot ^= 1;
        return GST_FLOW_OK;
    }
    build();
    return completeBuilding(self);
}

GstFlowReturn zemo3DecFinish(GstVideoDecoder* decoder) { return completeBuilding(ZEMO3_DEC(decoder)); }

gboolean zemo3DecFlush(GstVideoDecoder* decoder)
{
    completeBuilding(ZEMO3_DEC(decoder), false);
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
    delete ZEMO3_DEC(object)->building;
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
    self->pictures[0] = self->pictures[1] = nullptr;
    self->slot = 0;
    self->streamThreads = 1;
    self->building = new Building;
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
