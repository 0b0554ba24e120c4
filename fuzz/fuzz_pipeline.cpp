// Fuzz target: the frame reader's picture pipeline (reader/pictures.h), as
// the VLC module and the GStreamer element drive it.
//
// Input: the picture header of fuzz_input.h (its "type" picks the threads:
// 0 one, 1 three), then buffers, each a 16-bit little-endian length and that
// many bytes (the last one takes what is left); an empty buffer is a flush.
// The stream is drained at the end. Every picture handed out must come back
// exactly once, shown ones in the order of their frames, and no byte past a
// row's picture may be written.
#include <cstdlib>
#include <memory>
#include <vector>

#include "fuzz_input.h"
#include "reader/pictures.h"

namespace {

constexpr uint8_t kFill = 0xA5;
constexpr size_t kRowPadding = 20;

struct Output final : nox::PictureSink {
    struct Picture {
        std::vector<uint8_t> rgba;
        int64_t stamp;
        int returned = 0;
    };

    Output(uint32_t w, uint32_t h) : width(w), height(h), stride(size_t(w) * 4 + kRowPadding) {}

    Target picture(uint32_t, int64_t stamp) override
    {
        given.push_back(std::make_unique<Picture>(Picture{std::vector<uint8_t>(stride * height, kFill), stamp}));
        return {given.back().get(), given.back()->rgba.data(), stride};
    }
    void show(void* handle) override
    {
        auto* p = static_cast<Picture*>(handle);
        if (p->returned++ || p->stamp <= lastShown)
            std::abort();
        lastShown = p->stamp;
        for (uint32_t y = 0; y < height; ++y)
            for (size_t x = size_t(width) * 4; x < stride; ++x)
                if (p->rgba[y * stride + x] != kFill)
                    std::abort();
    }
    void release(void* handle) override
    {
        if (static_cast<Picture*>(handle)->returned++)
            std::abort();
    }
    void refused(uint64_t, int64_t, const std::string& why, void* handle) override
    {
        if (why.empty())
            std::abort();
        if (handle)
            release(handle);
    }

    uint32_t width, height;
    size_t stride;
    int64_t lastShown = -1;
    std::vector<std::unique_ptr<Picture>> given;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using nox::fuzz::kPictureBytes;
    if (size < kPictureBytes)
        return 0;
    const auto p = nox::fuzz::picture(data, 2);
    Output out(p.width, p.height);
    {
        nox::PicturePipeline pipeline(p.width, p.height, p.type ? 3 : 1, out);
        int64_t stamp = 0;
        nox::fuzz::forEachBuffer(data, size, [&](const uint8_t* bytes, size_t n, size_t) {
            // A copy the size of the buffer, so that the sanitizers see a read past its end.
            const std::vector<uint8_t> frame(bytes, bytes + n);
            n ? pipeline.push(frame.data(), frame.size(), stamp++) : pipeline.flush();
            return true;
        });
        pipeline.drain();
    }
    for (const auto& picture : out.given)
        if (picture->returned != 1)
            std::abort();
    return 0;
}
