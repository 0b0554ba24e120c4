// The best tier's entry points: the search of dxt_best_search.h as this
// file builds it for the plain levels, or as x86/dxt_best_avx2.cpp builds
// it for AVX2 and up.
#include "codec/dxt.h"
#include "dxt_best_search.h"

namespace nox {

namespace detail {

const BestSearch kPlainBestSearch = kThisBuildsSearch;

const BestSearch& bestSearchFor(SimdLevel level)
{
#if defined(__x86_64__)
    if (runnableSimdLevel(level) >= SimdLevel::Avx2)
        return kAvx2BestSearch;
#endif
    return kPlainBestSearch;
}

}  // namespace detail

void refineColorBlock(uint8_t* colour, const uint8_t* block)
{
    detail::bestSearchFor(activeSimdLevel()).colorBlock(colour, block);
}

void refineAlphaBlock(uint8_t* alpha, const uint8_t* block)
{
    detail::bestSearchFor(activeSimdLevel()).alphaBlock(alpha, block);
}

void refineDxt1TextureWith(SimdLevel level, const uint8_t* picture, uint32_t width, uint32_t height, uint8_t* texture)
{
    detail::bestSearchFor(level).dxt1Texture(picture, width, height, texture);
}

void refineDxt5TextureWith(SimdLevel level, const uint8_t* picture, uint32_t width, uint32_t height, uint8_t* texture)
{
    detail::bestSearchFor(level).dxt5Texture(picture, width, height, texture);
}

void refineDxt1Texture(const uint8_t* picture, uint32_t width, uint32_t height, uint8_t* texture)
{
    refineDxt1TextureWith(activeSimdLevel(), picture, width, height, texture);
}

void refineDxt5Texture(const uint8_t* picture, uint32_t width, uint32_t height, uint8_t* texture)
{
    refineDxt5TextureWith(activeSimdLevel(), picture, width, height, texture);
}

}  // namespace nox
