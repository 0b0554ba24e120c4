// The fast unpackers (see unpack_internal.h).
#include "unpack_internal.h"

namespace nox::unpack {

size_t dxt1Reference(const uint8_t*, uint8_t*, size_t, size_t);
size_t dxt5Reference(const uint8_t*, uint8_t*, size_t, size_t);
size_t unitsReference(const uint8_t*, size_t, uint8_t*, uint32_t, uint8_t*);
size_t pairsReference(const uint8_t*, size_t, uint8_t*, uint32_t, uint8_t*);

const Unpackers kReferenceUnpackers = {dxt1Reference, dxt5Reference, unitsReference, pairsReference};
const Unpackers kFastUnpackers = {dxt1Reference, dxt5Reference, unitsReference, pairsReference};

}  // namespace nox::unpack
