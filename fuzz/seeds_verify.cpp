// The verify target has no built-in seeds: its seeds are small movies the
// writer made (fuzz/seeds/verify, and those scripts/fuzz.sh renders).
#include "seeds.h"

namespace nox::fuzz {

std::vector<Bytes> seeds() { return {}; }

}  // namespace nox::fuzz
