// The fast unpackers compiled for the AVX-512 level, whose processors all
// have BMI2: shifts by a register without its fixed count register, and a
// bit field's extraction in one instruction, for the op coder's bits and the
// tables' fields (unpack_dxt_fast.h, unpack_units_fast.h).
#if defined(__x86_64__)

#include "unpack_dxt_fast.h"
#include "unpack_units_fast.h"

namespace nox::unpack {

const Unpackers kDepositUnpackers = {fast::dxt1, fast::dxt5, fast::units, fast::pairs, false};

}  // namespace nox::unpack

#endif
