// AVX2 level of the best tier's search (see dxt_best_search.h).
#if defined(__x86_64__)

#include "../dxt_best_search.h"

namespace nox::detail {

const BestSearch kAvx2BestSearch = kThisBuildsSearch;

}  // namespace nox::detail

#endif
