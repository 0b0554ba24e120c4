// Seeds of the element target: frameStreamSeeds under both caps names.
#include "seeds.h"

namespace nox::fuzz {

std::vector<Bytes> seeds() { return frameStreamSeeds(false); }

}  // namespace nox::fuzz
