// YCG6 and YG10 payloads: the luma (or luma-and-alpha) stream and the
// chroma stream of 8-byte single-channel units, and the reference unpackers
// of one stream.
//
// The reference reads the op streams first, then replays the data stream
// unit by unit. Hash-slot references resolve through tables rebuilt exactly as the
// packer built them; distances are checked against the units restored so far.
#include <cstring>
#include <exception>
#include <memory>
#include <new>

#include "codec/opstream.h"
#include "core/threads.h"
#include "reader/frame_decoder.h"
#include "unpack_internal.h"

namespace nox::unpack {

namespace {

// Restores unit number j at byte p of base from op 2..17. S is the unit stride.
template <uint32_t S>
inline bool decodeUnit(Input& data, uint8_t* base, uint32_t j, uint32_t p, uint32_t op, UnitSlots& t)
{
    uint8_t* cur = base + p;
    const uint8_t* in = data.in;
    if (op == 2) {
        const uint32_t d = uint32_t(loadLe16(in)) + 1;
        if (d > j)
            return false;
        std::memcpy(cur, cur - size_t(d) * S, 8);
        data.in = in + 2;
        return true;
    }
    const uint32_t ep = kShape.endpoints[op], ix = kShape.indices[op];
    if (ep == 1) {
        const uint32_t at = t.endpoints[*in++];
        if (at == kEmptySlot)
            return false;
        std::memcpy(cur, base + at, 2);
    } else if (ep == 2) {
        std::memcpy(cur, cur - S, 2);
    }
    if (ix == 4) {
        const uint32_t d = uint32_t(loadLe16(in)) + 1;
        in += 2;
        if (d > j)
            return false;
        std::memcpy(cur + 2, cur - size_t(d) * S + 2, 6);
    } else {
        if (ix & 1) {
            const uint32_t at = t.pieces[*in++];
            if (at == kEmptySlot)
                return false;
            std::memcpy(cur + 2, base + at, 3);
        }
        if (ix & 2) {
            const uint32_t at = t.pieces[*in++];
            if (at == kEmptySlot)
                return false;
            std::memcpy(cur + 5, base + at, 3);
        }
    }
    if (ep == 0) {
        std::memcpy(cur, in, 2);
        in += 2;
    }
    if (ix == 0) {
        std::memcpy(cur + 2, in, 6);
        in += 6;
    } else if (ix == 1) {
        std::memcpy(cur + 5, in, 3);
        in += 3;
    } else if (ix == 2) {
        std::memcpy(cur + 2, in, 3);
        in += 3;
    }
    data.in = in;
    return true;
}

inline void repeat8(uint8_t* cur, size_t stride, size_t count)
{
    const uint64_t x = loadLe64(cur - stride);
    for (size_t k = 0; k < count; ++k, cur += stride)
        storeLe64(cur, x);
}

}  // namespace

// One stream of m single units. Returns the bytes it took, 0 when malformed.
size_t unitsReference(const uint8_t* src, size_t size, uint8_t* dst, uint32_t m, uint8_t* ops)
{
    if (size < 16 || m == 0)
        return 0;
    const size_t dataLength = loadLe32(src);
    const uint32_t nops = loadLe32(src + 4);
    if (dataLength < 16 || dataLength > size || nops > m - 1)
        return 0;
    const size_t opsLength = readOpStream(src + dataLength, size - dataLength, ops, nops);
    if (opsLength == 0)
        return 0;
    std::memcpy(dst, src + 8, 8);
    UnitSlots t;
    t.insert(loadLe64(dst), 0);
    Input data{src + 16, src + dataLength};
    uint32_t j = 1;
    for (uint32_t i = 0; i < nops; ++i) {
        const uint32_t op = ops[i];
        if (j >= m || op >= kOpValues || kShape.data[op] > data.left())
            return 0;
        if (op == 0) {
            // Runs leave the slots alone: the unit before the run, equal to
            // every unit of it, is already in them.
            uint64_t v;
            if (m - j < 4 || !readRun(data, m - j - 4, v))
                return 0;
            repeat8(dst + size_t(j) * 8, 8, size_t(v) + 4);
            j += uint32_t(v) + 4;
        } else if (op == 1) {
            repeat8(dst + size_t(j) * 8, 8, 1);
            ++j;
        } else {
            if (!decodeUnit<8>(data, dst, j, j * 8, op, t))
                return 0;
            t.insert(loadLe64(dst + j * 8), j * 8);
            ++j;
        }
    }
    if (j != m || data.in != data.end)
        return 0;
    return dataLength + opsLength;
}

// One stream of m paired units; each half follows its own op stream.
// `ops` holds 2m bytes, the first half's ops and then the second's.
size_t pairsReference(const uint8_t* src, size_t size, uint8_t* dst, uint32_t m, uint8_t* ops)
{
    if (size < 28 || m == 0)
        return 0;
    const size_t dataLength = loadLe32(src);
    const uint32_t n[2] = {loadLe32(src + 4), loadLe32(src + 8)};
    if (dataLength < 28 || dataLength > size || n[0] > m - 1 || n[1] > m - 1)
        return 0;
    uint8_t* halfOps[2] = {ops, ops + m};
    const size_t ops1 = readOpStream(src + dataLength, size - dataLength, halfOps[0], n[0]);
    if (ops1 == 0)
        return 0;
    const size_t ops2 = readOpStream(src + dataLength + ops1, size - dataLength - ops1, halfOps[1], n[1]);
    if (ops2 == 0)
        return 0;
    std::memcpy(dst, src + 12, 16);
    UnitSlots t[2];
    t[0].insert(loadLe64(dst), 0);
    t[1].insert(loadLe64(dst + 8), 8);
    Input data{src + 28, src + dataLength};
    uint32_t next[2] = {0, 0};
    uint64_t pending[2] = {0, 0};
    for (uint32_t j = 1; j < m; ++j) {
        for (uint32_t h = 0; h < 2; ++h) {
            const uint32_t p = j * 16 + h * 8;
            if (pending[h] > 0) {
                --pending[h];
                repeat8(dst + p, 16, 1);
                continue;
            }
            if (next[h] == n[h])
                return 0;
            const uint32_t op = halfOps[h][next[h]++];
            if (op >= kOpValues || kShape.data[op] > data.left())
                return 0;
            if (op == 0) {
                uint64_t v;
                if (m - j < 4 || !readRun(data, m - j - 4, v))
                    return 0;
                pending[h] = v + 3;
                repeat8(dst + p, 16, 1);
            } else if (op == 1) {
                // A run shorter than 4 is a row of op 1s, all written when
                // the run began.
                uint32_t k = 1;
                while (next[h] < n[h] && halfOps[h][next[h]] == 1)
                    ++k, ++next[h];
                if (k > m - j)
                    return 0;
                pending[h] = k - 1;
                repeat8(dst + p, 16, 1);
            } else {
                if (!decodeUnit<16>(data, dst, j, p, op, t[h]))
                    return 0;
                t[h].insert(loadLe64(dst + p), p);
            }
        }
    }
    if (next[0] != n[0] || next[1] != n[1] || data.in != data.end)
        return 0;
    return dataLength + ops1 + ops2;
}

namespace {

// The first stream's length, from its header and op streams; 0 when
// malformed (the unpacker then says so itself).
size_t firstStreamBytes(bool pairs, const uint8_t* src, size_t size, uint32_t m)
{
    const size_t header = pairs ? 12 : 8;
    if (size < header)
        return 0;
    size_t at = loadLe32(src);
    for (size_t h = 0; h < (pairs ? 2u : 1u); ++h) {
        const uint32_t n = loadLe32(src + 4 + 4 * h);
        if (at > size || n > m - 1)
            return 0;
        const size_t bytes = opStreamBytes(src + at, size - at, n);
        if (bytes == 0)
            return 0;
        at += bytes;
    }
    return at;
}

}  // namespace

size_t unpackYcocg(bool alpha, const Unpackers& with, bool twoStreams, const uint8_t* payload, uint8_t* destination,
                   size_t payloadSize, size_t textureSize)
{
    const size_t tile = alpha ? 80 : 48;
    if (textureSize == 0 || textureSize % tile != 0 || textureSize / tile > (alpha ? 0x1FFFFFFFu : 0x3FFFFFFFu))
        return 0;
    const uint32_t t = uint32_t(textureSize / tile);
    const StreamUnpacker first = alpha ? with.pairs : with.units;
    // Op bytes: m for single units, 2m for pairs; the chroma stream's 2t.
    const size_t firstOps = alpha ? size_t(8) * t : size_t(4) * t, chromaOps = size_t(2) * t;
    uint8_t* const chroma = destination + (alpha ? size_t(64) : size_t(32)) * t;
    const size_t split = twoStreams ? firstStreamBytes(alpha, payload, payloadSize, 4 * t) : 0;
    // The reference reads each op stream whole into a buffer first.
    std::unique_ptr<uint8_t[]> ops;
    if (with.usesOpBuffer) {
        ops.reset(new (std::nothrow) uint8_t[firstOps + (split ? chromaOps : 0)]);
        if (!ops)
            return 0;
    }
    if (split == 0 || split >= payloadSize) {
        // One after the other, sharing one op buffer.
        const size_t luma = first(payload, payloadSize, destination, 4 * t, ops.get());
        if (luma == 0)
            return 0;
        const size_t rest = with.pairs(payload + luma, payloadSize - luma, chroma, t, ops.get());
        return rest ? luma + rest : 0;
    }
    // The chroma stream on the pool while this thread restores the first.
    size_t rest = 0;
    auto work = [&] {
        rest = with.pairs(payload + split, payloadSize - split, chroma, t, ops ? ops.get() + firstOps : nullptr);
    };
    TaskHandle task;
    bool queued = false;
    try {
        queued = task.start(kWorkerQueue, kPlainUrgency, work);
    } catch (const std::exception&) {
    }
    const size_t luma = first(payload, payloadSize, destination, 4 * t, ops.get());
    if (queued)
        task.wait(true);
    else
        work();
    return luma == split && rest ? luma + rest : 0;
}

}  // namespace nox::unpack
