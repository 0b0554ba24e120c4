// The VLC 3.0 decoder module "zemo3": VLC's MP4/MOV demuxer passes our
// tracks through under their four-character code ZMQ3, with the picture size
// of the sample description and no extradata; this module claims them and
// hands them to the frame reader's picture pipeline (reader/pictures.h) with
// VLC's pictures to fill: RGBA for the format types that keep alpha and RV32
// (the same bytes, opaque) for the others. Each frame names its own format
// type, so the output format follows the frames. With more than one thread a
// picture is held back one frame while the next frame's texture is restored.
//
// Every frame is a key frame: frames VLC sends only to reach a seek's
// target (pre-roll) are not decoded at all. A frame the pipeline refuses is
// dropped with a warning in VLC's log and the stream goes on. VLC's option
// zemo3-threads sets the threads (0, the default: one per processor).
//
// Use: put libzemo3_plugin.so into VLC's plug-in folder (cmake --install), or
// point VLC_PLUGIN_PATH at the folder that holds it.
#include <algorithm>
#include <cinttypes>
#include <exception>
#include <memory>
#include <new>
#include <string>

#define MODULE_STRING "zemo3"
#include <vlc_common.h>  // first: the other VLC headers stand on it

#include <vlc_codec.h>
#include <vlc_plugin.h>

#include "core/version.h"
#include "reader/pictures.h"

namespace {

constexpr vlc_fourcc_t kZemo3 = VLC_FOURCC('Z', 'M', 'Q', '3');

}  // namespace

// VLC's handle on one decoder: the VLC side of the pipeline.
struct decoder_sys_t final : nox::PictureSink {
    explicit decoder_sys_t(decoder_t* d) : dec(d) {}

    Target picture(uint32_t type, int64_t stamp) override
    {
        const vlc_fourcc_t chroma = nox::typeHasAlpha(type) ? VLC_CODEC_RGBA : VLC_CODEC_RGB32;
        if (chroma != chosen) {
            setFormat(chroma);
            if (decoder_UpdateVideoFormat(dec)) {
                // Once per format, not once per frame.
                if (chroma != refusedFormat)
                    msg_Err(dec, "VLC has no output for %4.4s pictures of %ux%u",
                            reinterpret_cast<const char*>(&chroma), width, height);
                refusedFormat = chroma;
                return {};
            }
            chosen = chroma;
        }
        picture_t* pic = decoder_NewPicture(dec);
        if (!pic)
            return {};
        pic->date = stamp;
        pic->b_progressive = true;
        return {pic, pic->p[0].p_pixels, size_t(pic->p[0].i_pitch)};
    }

    void show(void* handle) override { decoder_QueueVideo(dec, static_cast<picture_t*>(handle)); }
    void release(void* handle) override { picture_Release(static_cast<picture_t*>(handle)); }
    void refused(uint64_t number, int64_t stamp, const std::string& why, void* handle) override
    {
        if (handle)
            release(handle);
        msg_Warn(dec, "damaged Zemo 3 frame %" PRIu64 " at %" PRId64 " us skipped: %s", number, stamp, why.c_str());
    }

    void setFormat(vlc_fourcc_t chroma)
    {
        video_format_t& v = dec->fmt_out.video;
        dec->fmt_out.i_codec = v.i_chroma = chroma;
        v.i_width = v.i_visible_width = width;
        v.i_height = v.i_visible_height = height;
        v.i_x_offset = v.i_y_offset = 0;
        v.i_bits_per_pixel = 32;
        // Bytes R, G, B, then A or padding; VLC's default RV32 masks are the other way round.
        v.i_rmask = chroma == VLC_CODEC_RGB32 ? 0x000000ff : 0;
        v.i_gmask = chroma == VLC_CODEC_RGB32 ? 0x0000ff00 : 0;
        v.i_bmask = chroma == VLC_CODEC_RGB32 ? 0x00ff0000 : 0;
        video_format_FixRgb(&v);
        v.primaries = COLOR_PRIMARIES_SRGB;
        v.transfer = TRANSFER_FUNC_SRGB;
        v.space = COLOR_SPACE_SRGB;
        v.b_color_range_full = true;
    }

    decoder_t* dec;
    uint32_t width = 0, height = 0;
    vlc_fourcc_t chosen = 0;         // the output format VLC took last; 0 before the first picture
    vlc_fourcc_t refusedFormat = 0;  // the one it refused last
    std::unique_ptr<nox::PicturePipeline> pipeline;
};

namespace {

// VLC is C: no exception may leave these functions.

int decodeBlock(decoder_t* dec, block_t* block)
{
    decoder_sys_t* sys = dec->p_sys;
    try {
        if (!block) {
            sys->pipeline->drain();
            return VLCDEC_SUCCESS;
        }
        if (!(block->i_flags & BLOCK_FLAG_PREROLL)) {
            const int64_t stamp = block->i_pts > VLC_TS_INVALID ? block->i_pts : block->i_dts;
            sys->pipeline->push(block->p_buffer, block->i_buffer, stamp);
        }
    } catch (const std::exception& e) {
        msg_Err(dec, "Zemo 3 frame not decoded: %s", e.what());
    } catch (...) {
        msg_Err(dec, "Zemo 3 frame not decoded");
    }
    if (block)
        block_Release(block);
    return VLCDEC_SUCCESS;
}

void flush(decoder_t* dec)
{
    try {
        dec->p_sys->pipeline->flush();
    } catch (...) {
    }
}

int openDecoder(vlc_object_t* object)
{
    decoder_t* dec = reinterpret_cast<decoder_t*>(object);
    if (dec->fmt_in.i_cat != VIDEO_ES || dec->fmt_in.i_codec != kZemo3)
        return VLC_EGENERIC;
    const video_format_t& in = dec->fmt_in.video;
    const uint32_t width = in.i_visible_width ? in.i_visible_width : in.i_width;
    const uint32_t height = in.i_visible_height ? in.i_visible_height : in.i_height;
    if (!nox::pictureSizeAccepted(width, height)) {
        msg_Err(dec, "Zemo 3 track of %ux%u: no picture size from 1x1 to %ux%u", width, height, nox::kMaxPictureSide,
                nox::kMaxPictureSide);
        return VLC_EGENERIC;
    }
    int64_t threads = var_InheritInteger(dec, "zemo3-threads");
    if (threads <= 0)
        threads = vlc_GetCPUCount();
    decoder_sys_t* sys = nullptr;
    try {
        sys = new decoder_sys_t(dec);
        sys->width = width;
        sys->height = height;
        sys->pipeline =
            std::make_unique<nox::PicturePipeline>(width, height, unsigned(std::min<int64_t>(threads, 64)), *sys);
    } catch (...) {
        delete sys;
        return VLC_ENOMEM;
    }
    dec->p_sys = sys;
    // The picture being built is held back one frame.
    dec->i_extra_picture_buffers = 1;
    dec->fmt_out.i_cat = VIDEO_ES;
    sys->setFormat(VLC_CODEC_RGBA);
    dec->fmt_out.video.i_sar_num = in.i_sar_num ? in.i_sar_num : 1;
    dec->fmt_out.video.i_sar_den = in.i_sar_den ? in.i_sar_den : 1;
    dec->fmt_out.video.i_frame_rate = in.i_frame_rate;
    dec->fmt_out.video.i_frame_rate_base = in.i_frame_rate_base;
    dec->pf_decode = decodeBlock;
    dec->pf_flush = flush;
    msg_Dbg(dec, "Zemo 3 track of %ux%u, %u threads", width, height, unsigned(threads));
    return VLC_SUCCESS;
}

void closeDecoder(vlc_object_t* object)
{
    decoder_t* dec = reinterpret_cast<decoder_t*>(object);
    decoder_sys_t* sys = dec->p_sys;
    if (sys)
        msg_Dbg(dec, "Zemo 3: %" PRIu64 " frames, %" PRIu64 " damaged", sys->pipeline->frames(),
                sys->pipeline->refusals());
    delete sys;
}

}  // namespace

// A VLC 3.0 module carries no version of its own: ours is in its description,
// which `vlc --list` prints beside the module's name, and in its help text.
vlc_module_begin() set_shortname("Zemo 3") set_description("Zemo 3 GPU-texture video decoder " ZEMO3_VERSION)
    set_help("Decodes Zemo 3 GPU-texture video (Zemo 3 Export " ZEMO3_VERSION ").") set_category(CAT_INPUT)
    set_subcategory(SUBCAT_INPUT_VCODEC) set_capability("video decoder", 100) set_callbacks(openDecoder, closeDecoder)
        add_integer("zemo3-threads", 0, "Threads",
                    "Threads that decode Zemo 3 video (0: one per processor). Large pictures are rebuilt in bands on "
                    "that many threads while the next frame is read.",
                    true) change_integer_range(0, 64)
    // The worker pool's threads live in this library for the rest of the process.
    cannot_unload_broken_library() vlc_module_end()
