#include "media/contact_sheet.h"

#include <algorithm>
#include <cmath>
#include <cstring>

extern "C" {
#include <libswscale/swscale.h>
}

#include "media/png.h"

namespace zemo3 {

std::vector<uint8_t> sheetThumbnail(const std::vector<uint8_t>& rgba, uint32_t w, uint32_t h, uint32_t tw, uint32_t th)
{
    std::vector<uint8_t> scaled(size_t(tw) * th * 4);
    SwsContext* sws = sws_getContext(int(w), int(h), AV_PIX_FMT_RGBA, int(tw), int(th), AV_PIX_FMT_RGBA,
                                     tw > w ? SWS_POINT : SWS_AREA, nullptr, nullptr, nullptr);
    const uint8_t* src[1] = {rgba.data()};
    const int srcStride[1] = {int(w * 4)};
    uint8_t* dst[1] = {scaled.data()};
    const int dstStride[1] = {int(tw * 4)};
    sws_scale(sws, src, srcStride, 0, int(h), dst, dstStride);
    sws_freeContext(sws);
    std::vector<uint8_t> rgb(size_t(tw) * th * 3);
    for (uint32_t y = 0; y < th; ++y)
        for (uint32_t x = 0; x < tw; ++x) {
            const uint8_t* p = &scaled[(size_t(y) * tw + x) * 4];
            const int board = ((x / 8 + y / 8) & 1) ? 200 : 150;
            for (int c = 0; c < 3; ++c)
                rgb[(size_t(y) * tw + x) * 3 + size_t(c)] = uint8_t((p[c] * p[3] + board * (255 - p[3]) + 127) / 255);
        }
    return rgb;
}

ContactSheet::ContactSheet(const MovieInfo& info, uint64_t count, Reference& ref, uint32_t longest)
    : info_(info), ref_(ref), pictures_(info.width, info.height)
{
    const uint64_t listed = info.indexedFrames > 0 ? uint64_t(info.indexedFrames) : count;
    for (uint64_t i = 0; i < std::min(count, listed); ++i)
        wanted_.insert(listed <= count ? i : i * (listed - 1) / (count - 1 ? count - 1 : 1));
    const double fit = double(longest ? longest : kThumbMax) / std::max(info.width, info.height);
    const double scale = longest ? fit : std::min(1.0, fit);
    tw_ = std::max(1u, uint32_t(std::lround(info.width * scale)));
    th_ = std::max(1u, uint32_t(std::lround(info.height * scale)));
}

std::vector<uint8_t> ContactSheet::thumbnail(const uint8_t* packet, size_t size, bool* decoded, std::string* why)
{
    *decoded = pictures_.decode(packet, size, &rgba_, nullptr, why);
    if (!*decoded)
        rgba_.assign(size_t(info_.width) * info_.height * 4, 0);
    return sheetThumbnail(rgba_, info_.width, info_.height, tw_, th_);
}

bool ContactSheet::addBeside(const MoviePacket& packet, std::string* why)
{
    bool decoded = false;
    if (!cells_.empty())
        cells_.back().other = thumbnail(packet.data, packet.size, &decoded, why);
    return decoded;
}

bool ContactSheet::add(uint64_t n, const MoviePacket& packet, std::string* why)
{
    Cell cell{n, {}, {}, {}};
    bool decoded = false;
    cell.decoded = thumbnail(packet.data, packet.size, &decoded, why);
    if (ref_.source) {
        // A reference is read in order: skip to this frame.
        bool have = false;
        for (uint64_t k = cells_.empty() ? 0 : cells_.back().frame + 1; k <= n; ++k)
            have = referencePicture(ref_, k, &source_);
        if (have)
            cell.source = sheetThumbnail(source_, info_.width, info_.height, tw_, th_);
        else
            cell.source.assign(size_t(tw_) * th_ * 3, 0);
    }
    cells_.push_back(std::move(cell));
    return decoded;
}

std::vector<uint8_t> ContactSheet::compose(uint32_t* width, uint32_t* height) const
{
    // A cell: the source, the frame, the other movie's frame, those there are.
    const uint32_t pictures = 1 + uint32_t(withSources()) + uint32_t(withOther());
    const uint32_t cellW = pictures * tw_ + (pictures - 1) * kGap;
    const uint32_t cols = uint32_t(std::max<size_t>(1, std::min<size_t>(cells_.size(), 5 - pictures)));
    const uint32_t rows = uint32_t((cells_.size() + cols - 1) / cols);
    const uint32_t sw = kGap + cols * (cellW + kGap), sh = kGap + rows * (th_ + kGap);
    std::vector<uint8_t> canvas(size_t(sw) * sh * 3, 40);
    auto place = [&](const std::vector<uint8_t>& pic, uint32_t x0, uint32_t y0) {
        for (uint32_t y = 0; y < th_; ++y)
            std::memcpy(&canvas[(size_t(y0 + y) * sw + x0) * 3], &pic[size_t(y) * tw_ * 3], size_t(tw_) * 3);
    };
    for (size_t i = 0; i < cells_.size(); ++i) {
        const uint32_t x0 = kGap + uint32_t(i % cols) * (cellW + kGap), y0 = kGap + uint32_t(i / cols) * (th_ + kGap);
        uint32_t x = x0;
        for (const std::vector<uint8_t>* pic : {&cells_[i].source, &cells_[i].decoded, &cells_[i].other}) {
            if (pic->empty())
                continue;
            place(*pic, x, y0);
            x += tw_ + kGap;
        }
    }
    *width = sw;
    *height = sh;
    return canvas;
}

bool ContactSheet::write(const std::string& path, std::string* error) const
{
    uint32_t w = 0, h = 0;
    const std::vector<uint8_t> canvas = compose(&w, &h);
    return writePng(path, canvas.data(), w, h, false, error);
}

std::vector<uint64_t> ContactSheet::frames() const
{
    std::vector<uint64_t> out;
    for (const Cell& c : cells_)
        out.push_back(c.frame);
    return out;
}

}  // namespace zemo3
