// The join target has no built-in seeds: it starts from the small movies the
// writer made for the verify target (fuzz/seeds/verify).
#include "seeds.h"

namespace nox::fuzz {

std::vector<Bytes> seeds() { return {}; }

}  // namespace nox::fuzz
