// The fast unpackers for any processor: the templates of unpack_dxt_fast.h
// and unpack_units_fast.h in plain C++.
#include "unpack_dxt_fast.h"
#include "unpack_units_fast.h"

namespace nox::unpack {

const Unpackers kReferenceUnpackers = {dxt1Reference, dxt5Reference, unitsReference, pairsReference, true};
const Unpackers kFastUnpackers = {fast::dxt1, fast::dxt5, fast::units, fast::pairs, false};

}  // namespace nox::unpack
