// Op streams of the YCG6/YG10 packers: the three stored forms and the
// 1024-state table coder, shared by the packer and the frame reader.
//
// Form byte (low two bits of the first byte):
//   0 raw:          0, then the n op bytes
//   1 single value: 1, then the value all n ops share
//   2 coded:        frequency table (bit string, 16-bit chunks), then a u32
//                   bit count and the coded bits; decoded backwards.
#pragma once

#include <cstddef>
#include <cstdint>

namespace nox {

constexpr uint32_t kOpValues = 18;    // op values 0..17
constexpr uint32_t kOpStates = 1024;  // coder table size
constexpr uint32_t kOpStateBits = 10;
constexpr uint32_t kOpSpreadStep = 641;  // odd, so the spread visits every slot once

enum OpStreamForm : uint32_t { OP_FORM_RAW = 0, OP_FORM_SINGLE = 1, OP_FORM_CODED = 2 };

// Normalises op-value counts (of n ops, at least two values occurring) to
// frequencies that add up to 1024, every occurring value getting at least 1.
// Returns false when only one value occurs (the single-value form applies).
// raised, if given, receives the number of values that had to be lifted from
// 0 to 1 after the scaling.
bool normaliseOpCounts(const uint32_t counts[kOpValues], uint32_t n, uint16_t frequencies[kOpValues],
                       uint32_t* raised = nullptr);

// Fills symbolAt[1024] with the op value owning each coder state: the i-th
// slot visited in steps of 641 goes to the value whose cumulative range holds
// i. Frequencies must add up to 1024.
void spreadOpValues(const uint16_t frequencies[kOpValues], uint8_t symbolAt[kOpStates]);

// Writes n ops in the smallest applicable form. Returns the bytes written, or
// 0 when they would not fit in capacity. form, if given, receives the form used.
size_t writeOpStream(const uint8_t* ops, uint32_t n, uint8_t* output, size_t capacity, OpStreamForm* form = nullptr);

}  // namespace nox
