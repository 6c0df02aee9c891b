// Md5Pair: a two-lane MD5 compression function plus the block bookkeeping around it.
#include "restore/codecs/Md5Pair.h"
#include "restore/codecs/Md5Steps.h"

#include <cstring>

namespace {

using namespace md5steps;

// One step of each lane, statement by statement, so both chains are in flight together.
#define MD5_STEP2(fn, a, b, c, d, k, s, t)                                \
    do {                                                                  \
        a##0 += xa[k] + static_cast<uint32_t>(t) + fn##Early(c##0, d##0); \
        a##1 += xb[k] + static_cast<uint32_t>(t) + fn##Early(c##1, d##1); \
        MD5_PIN(a##0);                                                    \
        MD5_PIN(a##1);                                                    \
        a##0 += fn##Late(b##0, c##0, d##0);                               \
        a##1 += fn##Late(b##1, c##1, d##1);                               \
        a##0 = Rotl(a##0, s) + b##0;                                      \
        a##1 = Rotl(a##1, s) + b##1;                                      \
    } while (0);

void TransformPair(uint32_t stateA[4], const uint8_t* blockA, uint32_t stateB[4],
                   const uint8_t* blockB)
{
    uint32_t xa[16];
    uint32_t xb[16];
    for (int i = 0; i < 16; ++i) {
        xa[i] = ReadLe32(blockA + 4 * i);
        xb[i] = ReadLe32(blockB + 4 * i);
    }
    uint32_t a0 = stateA[0], b0 = stateA[1], c0 = stateA[2], d0 = stateA[3];
    uint32_t a1 = stateB[0], b1 = stateB[1], c1 = stateB[2], d1 = stateB[3];
    MD5_ALL_STEPS(MD5_STEP2)

    stateA[0] += a0;
    stateA[1] += b0;
    stateA[2] += c0;
    stateA[3] += d0;
    stateB[0] += a1;
    stateB[1] += b1;
    stateB[2] += c1;
    stateB[3] += d1;
}

#undef MD5_STEP2

}  // namespace

void MD5UpdatePair(MD5_CTX* a, const uint8_t* dataA, MD5_CTX* b, const uint8_t* dataB,
                   uint32_t count)
{
    uint32_t used = BufferedBytes(a);
    if (count == 0 || dataA == nullptr || dataB == nullptr || used != BufferedBytes(b)) {
        MD5Update(a, dataA, count);
        MD5Update(b, dataB, count);
        return;
    }
    // Top up the pending blocks through the plain path; it compresses them on its own.
    uint32_t offset = 0;
    if (used != 0) {
        offset = 64 - used;
        if (count <= offset)
            offset = count;
        MD5Update(a, dataA, offset);
        MD5Update(b, dataB, offset);
    }
    uint32_t whole = (count - offset) & ~63u;
    if (whole != 0) {
        AddLength(a, whole);
        AddLength(b, whole);
        for (uint32_t end = offset + whole; offset < end; offset += 64)
            TransformPair(a->state, dataA + offset, b->state, dataB + offset);
    }
    // What is left is shorter than a block: MD5Update only buffers it.
    MD5Update(a, dataA + offset, count - offset);
    MD5Update(b, dataB + offset, count - offset);
}
