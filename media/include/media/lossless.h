// A Zemo 3 movie decoded into what any player opens: a numbered picture
// sequence, or a lossless video (FFV1 where the container takes it)
// carrying the movie's sound unchanged.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "media/movie.h"

namespace zemo3 {

// What a lossless copy wrote.
struct LosslessCopy {
    uint64_t frames = 0;
    std::string codec;      // the pictures' codec ("ffv1", "png", ...)
    std::string container;  // FFmpeg's name of the container
    bool soundCopied = false;
};

// Why a lossless copy failed: the movie (a frame that does not decode, a
// movie that ends in error or holds no frame) or the output (it cannot be
// written, or cannot take these pictures or this sound).
enum class LosslessFault { None, Movie, Output };

// Whether `out` names a picture sequence: it holds a %d pattern.
bool isPictureSequence(const std::string& out);
// Why `out` cannot take a copy of `movie` before a frame is read: its
// folder is missing, or a video would replace the movie itself; "" when it
// can.
std::string losslessOutputProblem(const std::string& movie, const std::string& out);

// Decodes every frame of `movie` (opened from the file `movieName`, named in
// messages) into `out`: a picture sequence when it holds a %d pattern
// (frame_%04d.png, numbered from 0 like the movie's frames, the format
// following the extension), else a lossless video in the container it
// names, FFV1 where the container takes it, otherwise PNG or Ut Video, with
// the movie's sound copied unchanged unless withSound is false. A video is
// written under its partial name and takes `out` only when complete; what a
// failed copy wrote goes. Pictures keep their alpha when the movie stores
// it. progress hears of every frame (with the frames expected, 0 when
// unknown) and once more with `last` set.
bool copyLossless(MovieReader& movie, const std::string& movieName, const std::string& out, bool withSound,
                  const std::function<void(uint64_t done, uint64_t expected, bool last)>& progress, LosslessCopy* copy,
                  LosslessFault* fault, std::string* error);

}  // namespace zemo3
