#include "player/gpu_timing.h"

#include "movie_handle.h"
#include "player/gpu.h"
#include "reader/texture.h"

namespace zemo3::gpu {

bool LoadedFrames::load(const std::string& path, std::string* error)
{
    const MovieHandle movie = openMovie(path, error);
    if (!movie)
        return false;
    info = *zemo3_info(movie.get());
    Zemo3Frame f;
    for (auto start = Clock::now(); zemo3_next_frame(movie.get(), &f) == ZEMO3_OK; start = Clock::now()) {
        readMs += msSince(start);
        textures.emplace_back();
        frameTexture(f, &textures.back());
        frames.push_back(f);
    }
    if (frames.empty())
        *error = "the movie has no frames";
    return !frames.empty();
}

Zemo3Frame LoadedFrames::frame(size_t i) const
{
    Zemo3Frame f = frames[i];
    size_t at = 0;
    for (uint32_t p = 0; p < f.planeCount; ++p) {
        f.planes[p].data = textures[i].data() + at;
        at += f.planes[p].size;
    }
    return f;
}

std::vector<uint8_t> LoadedFrames::picture(size_t i) const
{
    std::vector<uint8_t> rgba(size_t(info.width) * info.height * 4);
    nox::textureToRgba(frames[i].type, textures[i].data(), textures[i].size(), info.width, info.height, rgba.data(),
                       size_t(info.width) * 4);
    return rgba;
}

bool timeUploadAndDraw(const LoadedFrames& loaded, GpuTimes* times, std::string* error)
{
    FrameRenderer renderer;
    if (!renderer.init(loaded.info, error))
        return false;
    for (int pass = 0; pass < 2; ++pass) {
        *times = {};
        for (size_t i = 0; i < loaded.frames.size(); ++i) {
            auto start = Clock::now();
            if (!renderer.upload(loaded.frame(i), error))
                return false;
            renderer.finish();
            times->uploadMs += msSince(start);
            start = Clock::now();
            if (!renderer.drawPicture(error))
                return false;
            renderer.finish();
            times->drawMs += msSince(start);
        }
    }
    return true;
}

}  // namespace zemo3::gpu
