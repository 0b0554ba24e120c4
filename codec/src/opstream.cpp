// Op-stream forms and the 1024-state table coder (encoding side).
//
// The coder is a tabled asymmetric numeral system: ops are coded from the
// last to the first so that the reader, which takes the bits back from the
// end of the stream, restores them first to last.
#include <algorithm>
#include <cstring>
#include <vector>

#include "codec/opstream.h"
#include "pack_internal.h"

namespace nox {

using namespace pack;

bool normaliseOpCounts(const uint32_t counts[kOpValues], uint32_t n, uint16_t frequencies[kOpValues], uint32_t* raised)
{
    // Every occurring value gets a boost of about n/1024 so that a rare one
    // still scales to a frequency of 1 or more in nearly all cases.
    const uint32_t a = (18 * n) >> 10;
    const uint32_t k = (((a * 18) >> 10) + a + n) >> 10;
    uint32_t c[kOpValues];
    uint32_t present = 0;
    for (uint32_t s = 0; s < kOpValues; ++s) {
        c[s] = counts[s] ? counts[s] + k : 0;
        present += counts[s] ? 1 : 0;
    }
    const uint32_t total = n + k * present;

    // Scale to 2^30 / total and hand out units of 2^20, carrying the
    // fractional parts so that the frequencies add up to exactly 1024.
    const uint32_t scale = uint32_t((1u << 30) / total);
    const uint32_t r = (1u << 30) - scale * total;
    uint32_t acc = r > 0x100000 ? r : r + ((0x100000 - r) >> 1);
    for (uint32_t s = 0; s < kOpValues; ++s) {
        frequencies[s] = 0;
        if (c[s] == total)
            return false;
        if (c[s] > 0) {
            const uint32_t p = c[s] * scale;
            const uint32_t low = acc + (p & 0xFFFFF);
            frequencies[s] = uint16_t((p >> 20) + (low >> 20));
            acc = low & 0xFFFFF;
        }
    }

    // The boost is not enough from about 147 000 ops on: a value seen once
    // or twice can still scale to 0, which the coder cannot represent. Such
    // a value is lifted to 1, the unit taken from the largest frequency at
    // that moment (the lowest value on ties). Any table adding up to 1024
    // decodes, so readers need not know about this step.
    uint32_t lifted = 0;
    for (uint32_t s = 0; s < kOpValues; ++s) {
        if (counts[s] == 0 || frequencies[s] != 0)
            continue;
        uint32_t largest = 0;
        for (uint32_t t = 1; t < kOpValues; ++t)
            if (frequencies[t] > frequencies[largest])
                largest = t;
        frequencies[largest]--;
        frequencies[s] = 1;
        ++lifted;
    }
    if (raised)
        *raised = lifted;
    return true;
}

void spreadOpValues(const uint16_t frequencies[kOpValues], uint8_t symbolAt[kOpStates])
{
    uint32_t pos = 0;
    for (uint32_t s = 0; s < kOpValues; ++s) {
        for (uint32_t i = 0; i < frequencies[s]; ++i) {
            symbolAt[pos] = uint8_t(s);
            pos = (pos + kOpSpreadStep) & (kOpStates - 1);
        }
    }
}

namespace {

// Little-endian bit string writer into a bounded buffer. Bits gather in a
// 64-bit accumulator and leave it 32 at a time.
struct BitWriter {
    uint8_t* out;
    uint8_t* limit;  // flushes stop (and fail) here
    uint64_t acc = 0;
    uint32_t count = 0;
    bool overflow = false;

    void put(uint32_t value, uint32_t nb)
    {
        acc |= uint64_t(value) << count;
        count += nb;
        if (count >= 32) {
            // On overflow the bits are dropped; the caller gives up.
            if (limit - out < 4) {
                overflow = true;
            } else {
                storeLe32(out, uint32_t(acc));
                out += 4;
            }
            acc >>= 32;
            count -= 32;
        }
    }
    // Writes the remaining bits padded to a multiple of `unit` bytes.
    void finish(uint32_t unit)
    {
        uint32_t bytes = (count + 7) / 8;
        bytes = (bytes + unit - 1) / unit * unit;
        if (size_t(limit - out) < bytes) {
            overflow = true;
            return;
        }
        for (uint32_t b = 0; b < bytes; ++b)
            out[b] = uint8_t(acc >> (8 * b));
        out += bytes;
    }
};

// Writes the coded form into [out, limit). Returns its length, or 0 when it
// does not fit (the caller then falls back to the raw form).
size_t writeCodedOps(const uint8_t* ops, uint32_t n, const uint16_t f[kOpValues], uint8_t* out, uint8_t* limit)
{
    BitWriter table{out, limit};
    // Frequency fields shrink by one bit whenever the remaining total falls
    // below the current threshold, at most once per field.
    table.put(OP_FORM_CODED, 2);
    uint32_t remaining = kOpStates, width = 10, threshold = 512;
    for (uint32_t s = 0; s < kOpValues && remaining > 0; ++s) {
        table.put(f[s], width);
        remaining -= f[s];
        if (remaining < threshold) {
            --width;
            threshold >>= 1;
        }
    }
    table.finish(2);
    if (table.overflow || limit - table.out < 4)
        return 0;

    // Encoding tables: each value's states in ascending slot order.
    uint8_t symbolAt[kOpStates];
    spreadOpValues(f, symbolAt);
    uint16_t stateTable[kOpStates];
    uint32_t next[kOpValues];
    int32_t deltaFindState[kOpValues];
    uint32_t deltaNbBits[kOpValues];
    uint32_t cum = 0;
    for (uint32_t s = 0; s < kOpValues; ++s) {
        next[s] = cum;
        deltaFindState[s] = int32_t(cum) - int32_t(f[s]);
        if (f[s] > 0) {
            // b = 9 - floor(log2(f - 1)) (9 for f = 1); the state needs b + 1
            // bits when x >= f << (b + 1), else b.
            const uint32_t b = f[s] == 1 ? 9 : 9 - uint32_t(std::bit_width(uint32_t(f[s] - 1)) - 1);
            deltaNbBits[s] = ((b + 1) << 16) - (uint32_t(f[s]) << (b + 1));
        } else {
            deltaNbBits[s] = 0;
        }
        cum += f[s];
    }
    for (uint32_t u = 0; u < kOpStates; ++u)
        stateTable[next[symbolAt[u]]++] = uint16_t(kOpStates + u);

    uint8_t* field = table.out;
    BitWriter bits{field + 4, limit};
    uint32_t x = kOpStates;
    for (uint32_t j = n; j-- > 0;) {
        const uint32_t s = ops[j];
        const uint32_t nb = (x + deltaNbBits[s]) >> 16;
        bits.put(x & ((1u << nb) - 1), nb);
        x = stateTable[deltaFindState[s] + int32_t(x >> nb)];
        if (bits.overflow)
            return 0;
    }
    bits.put(x - kOpStates, kOpStateBits);
    const uint64_t total = 32 + uint64_t(bits.out - (field + 4)) * 8 + bits.count;
    bits.finish(1);
    if (bits.overflow)
        return 0;
    storeLe32(field, uint32_t(total));
    return size_t(bits.out - out);
}

}  // namespace

size_t writeOpStream(const uint8_t* ops, uint32_t n, uint8_t* output, size_t capacity, OpStreamForm* form)
{
    auto raw = [&]() -> size_t {
        if (capacity < size_t(n) + 1)
            return 0;
        output[0] = OP_FORM_RAW;
        if (n)
            std::memcpy(output + 1, ops, n);
        if (form)
            *form = OP_FORM_RAW;
        return size_t(n) + 1;
    };
    if (n < 2)
        return raw();

    uint32_t counts[kOpValues] = {};
    for (uint32_t j = 0; j < n; ++j)
        counts[ops[j]]++;
    uint16_t f[kOpValues];
    if (!normaliseOpCounts(counts, n, f)) {
        if (capacity < 2)
            return 0;
        output[0] = OP_FORM_SINGLE;
        output[1] = ops[0];
        if (form)
            *form = OP_FORM_SINGLE;
        return 2;
    }
    // The coded form must come out shorter than n - 1 bytes; writing stops
    // early once it cannot.
    const size_t limit = std::min(capacity, size_t(n) - 2);
    const size_t coded = writeCodedOps(ops, n, f, output, output + limit);
    if (coded == 0 || coded >= size_t(n) - 1)
        return raw();
    if (form)
        *form = OP_FORM_CODED;
    return coded;
}

}  // namespace nox
