// Reading op streams: raw, single-value and table-coded forms.
#include <algorithm>
#include <bit>
#include <cstring>

#include "codec/opstream.h"
#include "reader/frame_decoder.h"
#include "unpack_internal.h"

namespace nox {

using namespace unpack;

namespace {

// Reads the frequency table (after the 2-bit form tag). Returns its length
// in bytes (a multiple of 2), 0 when malformed.
size_t readFrequencies(const uint8_t* p, size_t size, uint16_t f[kOpValues])
{
    size_t bit = 2;
    auto get = [&](uint32_t nb, uint32_t& v) {
        if (((bit + nb + 7) >> 3) > size)
            return false;
        v = 0;
        for (uint32_t b = 0; b < nb; ++b, ++bit)
            v |= uint32_t((p[bit >> 3] >> (bit & 7)) & 1) << b;
        return true;
    };
    uint32_t remaining = kOpStates, width = 10, threshold = 512;
    for (uint32_t s = 0; s < kOpValues; ++s)
        f[s] = 0;
    for (uint32_t s = 0; remaining > 0; ++s) {
        uint32_t v;
        if (s == kOpValues || !get(width, v) || v > remaining)
            return 0;
        f[s] = uint16_t(v);
        remaining -= v;
        if (remaining < threshold) {
            --width;
            threshold >>= 1;
        }
    }
    const size_t bytes = ((bit + 15) >> 4) * 2;
    return bytes <= size ? bytes : 0;
}

}  // namespace

bool unpack::readCodedHeader(const uint8_t* stream, size_t size, CodedOps* c)
{
    const size_t tableBytes = readFrequencies(stream, size, c->frequencies);
    if (tableBytes == 0 || size - tableBytes < 4)
        return false;
    c->coded = stream + tableBytes;
    c->total = loadLe32(c->coded);
    c->codedBytes = size_t((c->total + 7) >> 3);
    c->bytes = tableBytes + c->codedBytes;
    return c->total >= 32 + kOpStateBits && c->codedBytes <= size - tableBytes;
}

void unpack::buildOpDecoding(const uint16_t frequencies[kOpValues], OpDecodeEntry table[kOpStates])
{
    uint8_t symbolAt[kOpStates];
    spreadOpValues(frequencies, symbolAt);
    uint32_t rank[kOpValues];
    for (uint32_t s = 0; s < kOpValues; ++s)
        rank[s] = frequencies[s];
    for (uint32_t u = 0; u < kOpStates; ++u) {
        const uint32_t s = symbolAt[u];
        const uint32_t x = rank[s]++;  // f[s] + rank of u among s's states
        const uint32_t nb = kOpStateBits - (std::bit_width(x) - 1);
        table[u] = {uint16_t((x << nb) - kOpStates), uint8_t(s), uint8_t(nb)};
    }
}

namespace {

size_t readCodedOps(const uint8_t* stream, size_t size, uint8_t* ops, uint32_t n)
{
    CodedOps c;
    if (!readCodedHeader(stream, size, &c))
        return 0;
    const uint8_t* coded = c.coded;
    const uint64_t total = c.total;
    const size_t codedBytes = c.codedBytes;
    OpDecodeEntry table[kOpStates];
    buildOpDecoding(c.frequencies, table);

    // Bits are taken backwards from the end; position counts bits from the
    // start of the bit-count field, which the bits never reach into.
    uint64_t position = total;
    auto take = [&](uint32_t nb) -> uint32_t {
        position -= nb;
        const size_t at = size_t(position >> 3);
        uint32_t word;
        if (at + 4 <= codedBytes) {
            word = loadLe32(coded + at);
        } else {
            word = 0;
            for (size_t b = at; b < codedBytes; ++b)
                word |= uint32_t(coded[b]) << (8 * (b - at));
        }
        return (word >> (position & 7)) & ((1u << nb) - 1);
    };
    uint32_t state = take(kOpStateBits);
    uint32_t j = 0;
    // Groups of 5 ops from one 64-bit window: after a load at least 57 bits
    // lie below the position, and 5 ops take at most 50. Only the last ops,
    // near the start of the bits, go through the checked reads.
    while (n - j >= 5 && position >= 32 + 5 * kOpStateBits + 64) {
        const size_t start = size_t((position - 1) >> 3) - 7;
        const uint64_t window = loadLe64(coded + start);
        const uint64_t low = uint64_t(start) * 8;
        for (int k = 0; k < 5; ++k, ++j) {
            const OpDecodeEntry e = table[state];
            ops[j] = e.symbol;
            position -= e.nb;
            // The shift reaches 64 only for a first op of 0 bits, whose
            // mask is 0; & 63 keeps it defined.
            state = e.base + uint32_t((window >> ((position - low) & 63)) & ((1u << e.nb) - 1));
        }
    }
    for (; j < n; ++j) {
        const OpDecodeEntry e = table[state];
        ops[j] = e.symbol;
        if (position < 32 + uint64_t(e.nb))
            return 0;
        state = e.base + take(e.nb);
    }
    // The encoder started from state 1024 right after the bit-count field.
    if (position != 32 || state != 0)
        return 0;
    return c.bytes;
}

}  // namespace

size_t unpack::opStreamBytes(const uint8_t* stream, size_t size, uint32_t n)
{
    if (size == 0)
        return 0;
    switch (stream[0] & 3) {
    case OP_FORM_RAW:
        return size - 1 < n ? 0 : size_t(n) + 1;
    case OP_FORM_SINGLE:
        return size < 2 || stream[1] >= kOpValues ? 0 : 2;
    case OP_FORM_CODED: {
        CodedOps c;
        return readCodedHeader(stream, size, &c) ? c.bytes : 0;
    }
    default:
        return 0;
    }
}

size_t readOpStream(const uint8_t* stream, size_t size, uint8_t* ops, uint32_t n)
{
    if (size == 0)
        return 0;
    switch (stream[0] & 3) {
    case OP_FORM_RAW:
        if (size - 1 < n)
            return 0;
        if (n)
            std::memcpy(ops, stream + 1, n);
        return size_t(n) + 1;
    case OP_FORM_SINGLE:
        if (size < 2 || stream[1] >= kOpValues)
            return 0;
        if (n)
            std::memset(ops, stream[1], n);
        return 2;
    case OP_FORM_CODED:
        return readCodedOps(stream, size, ops, n);
    default:
        return 0;
    }
}

}  // namespace nox
