// Seeds of the picture pipeline's target: frameStreamSeeds on one thread and on
// three, with a flush and a frame of a larger picture.
#include "seeds.h"

namespace nox::fuzz {

std::vector<Bytes> seeds() { return frameStreamSeeds(true); }

}  // namespace nox::fuzz
