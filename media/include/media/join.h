// Joining and cutting Zemo 3 movies without decoding a frame. Every frame of
// the codec stands alone, so frame ranges rendered apart (on the machines of a
// render farm) join into the whole movie by copying their frames' bytes and
// their sound.
//
//   std::string error;
//   JoinResult result;
//   if (!joinMovies({{"seg0.mov"}, {"seg1.mov"}}, "clip.mov", &result, &error))
//       ...                                  // error names the file and the difference
//
// The result is written through the project's movie writer, frame by frame
// and with the sound in chunks of one frame's duration as a render hands it
// over, so that it is a movie like any render: the same sample description,
// timing and sound layout, and large files with 64-bit chunk offsets.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zemo3 {

// Frames `first` to `last` of a movie (inclusive, counted from 0; a last
// frame past the movie's end stands for its end).
struct MoviePart {
    std::string path;
    uint64_t first = 0;
    uint64_t last = UINT64_MAX;
};

struct JoinResult {
    uint64_t frames = 0;   // frames written
    uint64_t samples = 0;  // sample frames of sound written
    uint32_t formatType = 0;
    uint32_t width = 0, height = 0;
    int32_t rateNum = 0, rateDen = 1;
};

// Hears of the frames copied so far, of all there are to copy.
using JoinProgress = std::function<void(uint64_t done, uint64_t total)>;

// Copies the parts' frames and the sound that goes with them, in the order
// given, into a new movie at `output`. The sound of a part runs from the
// first sample of its first frame, first * rate / fps (whole samples, rounded
// down, counted from the part's start), to the same point of the frame after
// its last; a part copied whole brings all of its sound.
//
// Refused, with *error naming the file and the difference: a part that is no
// Zemo 3 movie, that differs from the first in format type, picture size,
// frame rate or sound format (rate, channels, sample size; sound or none),
// that is damaged or truncated (a frame whose header does not hold, frames
// missing from the count its index gives, a read error), an empty range, and
// an output that is one of the parts. A refused or failed join leaves no file
// at `output`.
bool joinMovies(const std::vector<MoviePart>& parts, const std::string& output, JoinResult* result, std::string* error,
                const JoinProgress& progress = {});

// As a command writes a join: the parts must be files, none of them the
// output; the movie goes under the output's partial name (PartialOutput) and
// takes the output's name only when complete. False with *error, and
// *partsOrOutput set when a part cannot be opened or the output cannot be
// written (rather than the join refusing the parts).
bool joinIntoFile(const std::vector<MoviePart>& parts, const std::string& output, JoinResult* result,
                  std::string* error, bool* partsOrOutput, const JoinProgress& progress = {});

}  // namespace zemo3
