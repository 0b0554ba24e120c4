#include "media/png.h"

#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "platform/platform.h"

namespace zemo3 {

bool writePng(const std::string& path, const uint8_t* pixels, uint32_t w, uint32_t h, bool alpha, std::string* error)
{
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_PNG);
    AVCodecContext* ctx = codec ? avcodec_alloc_context3(codec) : nullptr;
    if (!ctx) {
        *error = "no PNG encoder";
        return false;
    }
    const AVPixelFormat format = alpha ? AV_PIX_FMT_RGBA : AV_PIX_FMT_RGB24;
    const size_t rowBytes = size_t(w) * (alpha ? 4 : 3);
    ctx->width = int(w);
    ctx->height = int(h);
    ctx->pix_fmt = format;
    ctx->time_base = {1, 1};
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    bool ok = avcodec_open2(ctx, codec, nullptr) >= 0;
    if (ok) {
        frame->format = format;
        frame->width = int(w);
        frame->height = int(h);
        ok = av_frame_get_buffer(frame, 0) >= 0;
    }
    if (ok) {
        for (uint32_t y = 0; y < h; ++y)
            std::memcpy(frame->data[0] + size_t(y) * size_t(frame->linesize[0]), pixels + y * rowBytes, rowBytes);
        ok = avcodec_send_frame(ctx, frame) >= 0 && avcodec_receive_packet(ctx, packet) >= 0;
    }
    if (!ok)
        *error = "cannot encode '" + path + "' as PNG";
    else
        ok = platform::writeFileAtomic(path, packet->data, size_t(packet->size), error);
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&ctx);
    return ok;
}

}  // namespace zemo3
