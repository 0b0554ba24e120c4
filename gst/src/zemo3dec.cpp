// zemo3dec: a GStreamer video decoder for Zemo 3 movies. Every frame is a
// key frame holding one texture; the element restores the texture with the
// frame reader and rebuilds the picture on the CPU, as RGBA for the types
// that keep alpha and RGBx for the others, cropped to the movie's size. The
// rebuild of large pictures is spread over the library's worker pool.
//
// A damaged frame is reported (a warning on the bus through
// GST_VIDEO_DECODER_ERROR) and dropped; the stream goes on. Caps without a
// usable picture size fail negotiation with an error that says why.
#include <gst/gst.h>
#include <gst/video/video.h>

#include <algorithm>
#include <memory>
#include <string>

#include "platform/platform.h"
#include "reader/pictures.h"

#define PACKAGE "zemo3"

namespace {

// Largest side accepted: the frame reader's textures stay well inside 32 bits.
constexpr int kMaxSide = 16384;

struct Zemo3Dec {
    GstVideoDecoder parent;
    GstVideoCodecState* input;
    // Created per stream; null until caps arrive.
    nox::FramePictures* pictures;
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

void resetStream(Zemo3Dec* self)
{
    delete self->pictures;
    self->pictures = nullptr;
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
        GST_ELEMENT_ERROR(self, STREAM, WRONG_TYPE, ("Not a Zemo 3 stream this decoder can play"),
                          ("caps %" GST_PTR_FORMAT " carry no picture size from 1x1 to %dx%d", state->caps, kMaxSide,
                           kMaxSide));
        return FALSE;
    }
    resetStream(self);
    self->input = gst_video_codec_state_ref(state);
    self->pictures = new nox::FramePictures(uint32_t(width), uint32_t(height));
    const unsigned threads = self->threads ? self->threads : std::max(1u, platform::processorCount());
    self->pictures->setThreads(threads);
    return TRUE;
}

// Sets (or changes) the output caps for a frame of the given format type.
gboolean negotiateFor(Zemo3Dec* self, uint32_t type)
{
    const GstVideoFormat want = nox::typeHasAlpha(type) ? GST_VIDEO_FORMAT_RGBA : GST_VIDEO_FORMAT_RGBx;
    if (want == self->format)
        return TRUE;
    const GstVideoInfo& in = self->input->info;
    GstVideoCodecState* out = gst_video_decoder_set_output_state(GST_VIDEO_DECODER(self), want,
                                                                 GST_VIDEO_INFO_WIDTH(&in), GST_VIDEO_INFO_HEIGHT(&in),
                                                                 self->input);
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
    if (!self->pictures) {
        GST_ELEMENT_ERROR(self, CORE, NEGOTIATION, ("No caps before the first frame"), (nullptr));
        gst_video_decoder_drop_frame(decoder, frame);
        return GST_FLOW_NOT_NEGOTIATED;
    }
    ++self->frames;
    GstMapInfo in;
    if (!gst_buffer_map(frame->input_buffer, &in, GST_MAP_READ)) {
        gst_video_decoder_drop_frame(decoder, frame);
        return GST_FLOW_ERROR;
    }
    nox::FramePictures::Header header;
    std::string why;
    GstFlowReturn ret = GST_FLOW_OK;
    const bool known = nox::FramePictures::readHeader(in.data, in.size, &header) && header.type <= 5;
    if (known && !negotiateFor(self, header.type)) {
        gst_buffer_unmap(frame->input_buffer, &in);
        gst_video_decoder_drop_frame(decoder, frame);
        return GST_FLOW_NOT_NEGOTIATED;
    }
    bool decoded = false;
    if (known && self->format != GST_VIDEO_FORMAT_UNKNOWN) {
        ret = gst_video_decoder_allocate_output_frame(decoder, frame);
        if (ret != GST_FLOW_OK) {
            gst_buffer_unmap(frame->input_buffer, &in);
            gst_video_decoder_drop_frame(decoder, frame);
            return ret;
        }
        GstVideoFrame out;
        GstVideoCodecState* state = gst_video_decoder_get_output_state(decoder);
        if (gst_video_frame_map(&out, &state->info, frame->output_buffer, GST_MAP_WRITE)) {
            decoded = self->pictures->decode(in.data, in.size, static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&out, 0)),
                                             size_t(GST_VIDEO_FRAME_PLANE_STRIDE(&out, 0)), nullptr, &why);
            gst_video_frame_unmap(&out);
        } else {
            why = "the output buffer cannot be written";
        }
        gst_video_codec_state_unref(state);
    } else if (!known) {
        why = in.size < 4 ? "too short for a frame header" : "it is no Zemo 3 picture frame";
    }
    gst_buffer_unmap(frame->input_buffer, &in);
    if (!decoded) {
        ++self->damaged;
        const guint number = frame->system_frame_number;
        gst_video_decoder_drop_frame(decoder, frame);
        // A warning on the bus for players and logs; GST_VIDEO_DECODER_ERROR
        // counts it against max-errors, which this element sets to -1 (never
        // fatal) unless the application sets another limit.
        GST_ELEMENT_WARNING(decoder, STREAM, DECODE, ("A damaged Zemo 3 frame was skipped"),
                            ("frame %u: %s", number, why.c_str()));
        GST_VIDEO_DECODER_ERROR(decoder, 1, STREAM, DECODE, ("A damaged Zemo 3 frame was skipped"),
                                ("frame %u: %s", number, why.c_str()), ret);
        return ret;
    }
    return gst_video_decoder_finish_frame(decoder, frame);
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
    case PROP_THREADS: g_value_set_uint(value, self->threads); break;
    case PROP_FRAMES: g_value_set_uint64(value, self->frames); break;
    case PROP_DAMAGED: g_value_set_uint64(value, self->damaged); break;
    default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, spec);
    }
}

void zemo3DecFinalize(GObject* object)
{
    resetStream(ZEMO3_DEC(object));
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
    g_object_class_install_property(
        object, PROP_THREADS,
        g_param_spec_uint("threads", "Threads", "Threads that rebuild a large picture (0: one per processor)", 0, 256,
                          0, readWrite));
    g_object_class_install_property(object, PROP_FRAMES,
                                    g_param_spec_uint64("frames", "Frames", "Frames received", 0, G_MAXUINT64, 0,
                                                        readOnly));
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
}

void zemo3_dec_init(Zemo3Dec* self)
{
    GstVideoDecoder* decoder = GST_VIDEO_DECODER(self);
    // One frame per buffer, every one a key frame.
    gst_video_decoder_set_packetized(decoder, TRUE);
    gst_video_decoder_set_needs_format(decoder, TRUE);
    gst_video_decoder_set_max_errors(decoder, -1);
    self->input = nullptr;
    self->pictures = nullptr;
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
                  "Proprietary", "Zemo 3 Export", "Zemo 3 Export")
}
