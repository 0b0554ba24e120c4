// A contact sheet of a movie: frames spread evenly over its length, each
// decoded, scaled and laid over a checkerboard where it is transparent, left
// to right and top to bottom, each beside its source when there is a
// reference, and beside the same frame of another movie when one is given
// (the fast and the best tier's renders of one source, say); written as a
// PNG (zemo3 inspect --sheet).
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "media/movie.h"
#include "media/reference.h"
#include "reader/pictures.h"

namespace zemo3 {

// An RGBA picture of w x h (rows packed) scaled to tw x th (averaged down,
// each pixel repeated up) and laid over a checkerboard of 8-pixel squares
// (grey 150 and 200) by its alpha: RGB rows.
std::vector<uint8_t> sheetThumbnail(const std::vector<uint8_t>& rgba, uint32_t w, uint32_t h, uint32_t tw, uint32_t th);

class ContactSheet {
public:
    static constexpr uint32_t kThumbMax = 240;  // the longest side of a sheet picture, unless asked
    static constexpr uint32_t kGap = 6;         // between pictures and around them

    // `count` frames of the movie (0: none), spread over the frames its
    // container lists; `ref` gives each frame's source when it has one and
    // is read in order, so it must outlive the sheet. Pictures are scaled to
    // `longest` pixels on their longer side, down but not up by default.
    ContactSheet(const MovieInfo& info, uint64_t count, Reference& ref, uint32_t longest = 0);

    // Whether frame n is one of the sheet's.
    bool wants(uint64_t n) const { return wanted_.count(n) != 0; }
    bool empty() const { return cells_.empty(); }
    // Frame n's cell. False when the frame does not decode: its cell shows the
    // bare checkerboard.
    bool add(uint64_t n, const MoviePacket& packet, std::string* why);
    // Frame n of the other movie, beside the last one added (frame n too).
    bool addBeside(const MoviePacket& packet, std::string* why);

    // The sheet as RGB rows of *width x *height.
    std::vector<uint8_t> compose(uint32_t* width, uint32_t* height) const;
    bool write(const std::string& path, std::string* error) const;

    // The frames on it, in order; whether each stands beside its source.
    std::vector<uint64_t> frames() const;
    bool withSources() const { return ref_.source != nullptr; }
    bool withOther() const { return !cells_.empty() && !cells_.front().other.empty(); }
    uint32_t thumbWidth() const { return tw_; }
    uint32_t thumbHeight() const { return th_; }

private:
    struct Cell {
        uint64_t frame;
        std::vector<uint8_t> decoded, source, other;  // RGB thumbnails
    };
    const MovieInfo& info_;
    Reference& ref_;
    nox::FramePictures pictures_;
    std::set<uint64_t> wanted_;
    uint32_t tw_ = 1, th_ = 1;
    std::vector<Cell> cells_;
    std::vector<uint8_t> rgba_, source_;
    std::vector<uint8_t> thumbnail(const uint8_t* packet, size_t size, bool* decoded, std::string* why);
};

}  // namespace zemo3
