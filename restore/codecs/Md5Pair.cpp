// Md5Pair: a two-lane MD5 compression function plus the block bookkeeping around it.
#include "restore/codecs/Md5Pair.h"

#include <cstring>

namespace {

inline uint32_t ReadLe32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline uint32_t Rotl(uint32_t v, int s) { return (v << s) | (v >> (32 - s)); }

// The round functions, each split into the part that needs only c and d (ready early:
// the previous step did not produce them) and the part that waits for b. Only G splits
// (its halves never share a set bit, so + gives the same as |); in F and H the c, d
// terms are grouped so they too are formed early.
inline uint32_t FEarly(uint32_t, uint32_t) { return 0; }
inline uint32_t FLate(uint32_t b, uint32_t c, uint32_t d) { return d ^ (b & (c ^ d)); }
inline uint32_t GEarly(uint32_t c, uint32_t d) { return c & ~d; }
inline uint32_t GLate(uint32_t b, uint32_t, uint32_t d) { return b & d; }
inline uint32_t HEarly(uint32_t, uint32_t) { return 0; }
inline uint32_t HLate(uint32_t b, uint32_t c, uint32_t d) { return b ^ (c ^ d); }
inline uint32_t IEarly(uint32_t, uint32_t) { return 0; }
inline uint32_t ILate(uint32_t b, uint32_t c, uint32_t d) { return c ^ (b | ~d); }

// Pins the accumulator once the message word, the constant and the early part are in,
// so the compiler cannot fold them into the tail of the chain (a + fn(b) + x + t); left
// to itself gcc reassociates and the two lanes run markedly slower.
#if defined(__GNUC__)
#define MD5_PIN(v) __asm__("" : "+r"(v))
#else
#define MD5_PIN(v) ((void)0)
#endif

// One step of each lane, statement by statement, so both chains are in flight together.
#define MD5_STEP2(fn, a, b, c, d, k, s, t)                           \
    do {                                                             \
        a##0 += xa[k] + static_cast<uint32_t>(t) + fn##Early(c##0, d##0); \
        a##1 += xb[k] + static_cast<uint32_t>(t) + fn##Early(c##1, d##1); \
        MD5_PIN(a##0);                                               \
        MD5_PIN(a##1);                                               \
        a##0 += fn##Late(b##0, c##0, d##0);                          \
        a##1 += fn##Late(b##1, c##1, d##1);                          \
        a##0 = Rotl(a##0, s) + b##0;                                 \
        a##1 = Rotl(a##1, s) + b##1;                                 \
    } while (0)

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

    MD5_STEP2(F, a, b, c, d, 0, 7, 0xd76aa478);
    MD5_STEP2(F, d, a, b, c, 1, 12, 0xe8c7b756);
    MD5_STEP2(F, c, d, a, b, 2, 17, 0x242070db);
    MD5_STEP2(F, b, c, d, a, 3, 22, 0xc1bdceee);
    MD5_STEP2(F, a, b, c, d, 4, 7, 0xf57c0faf);
    MD5_STEP2(F, d, a, b, c, 5, 12, 0x4787c62a);
    MD5_STEP2(F, c, d, a, b, 6, 17, 0xa8304613);
    MD5_STEP2(F, b, c, d, a, 7, 22, 0xfd469501);
    MD5_STEP2(F, a, b, c, d, 8, 7, 0x698098d8);
    MD5_STEP2(F, d, a, b, c, 9, 12, 0x8b44f7af);
    MD5_STEP2(F, c, d, a, b, 10, 17, 0xffff5bb1);
    MD5_STEP2(F, b, c, d, a, 11, 22, 0x895cd7be);
    MD5_STEP2(F, a, b, c, d, 12, 7, 0x6b901122);
    MD5_STEP2(F, d, a, b, c, 13, 12, 0xfd987193);
    MD5_STEP2(F, c, d, a, b, 14, 17, 0xa679438e);
    MD5_STEP2(F, b, c, d, a, 15, 22, 0x49b40821);

    MD5_STEP2(G, a, b, c, d, 1, 5, 0xf61e2562);
    MD5_STEP2(G, d, a, b, c, 6, 9, 0xc040b340);
    MD5_STEP2(G, c, d, a, b, 11, 14, 0x265e5a51);
    MD5_STEP2(G, b, c, d, a, 0, 20, 0xe9b6c7aa);
    MD5_STEP2(G, a, b, c, d, 5, 5, 0xd62f105d);
    MD5_STEP2(G, d, a, b, c, 10, 9, 0x02441453);
    MD5_STEP2(G, c, d, a, b, 15, 14, 0xd8a1e681);
    MD5_STEP2(G, b, c, d, a, 4, 20, 0xe7d3fbc8);
    MD5_STEP2(G, a, b, c, d, 9, 5, 0x21e1cde6);
    MD5_STEP2(G, d, a, b, c, 14, 9, 0xc33707d6);
    MD5_STEP2(G, c, d, a, b, 3, 14, 0xf4d50d87);
    MD5_STEP2(G, b, c, d, a, 8, 20, 0x455a14ed);
    MD5_STEP2(G, a, b, c, d, 13, 5, 0xa9e3e905);
    MD5_STEP2(G, d, a, b, c, 2, 9, 0xfcefa3f8);
    MD5_STEP2(G, c, d, a, b, 7, 14, 0x676f02d9);
    MD5_STEP2(G, b, c, d, a, 12, 20, 0x8d2a4c8a);

    MD5_STEP2(H, a, b, c, d, 5, 4, 0xfffa3942);
    MD5_STEP2(H, d, a, b, c, 8, 11, 0x8771f681);
    MD5_STEP2(H, c, d, a, b, 11, 16, 0x6d9d6122);
    MD5_STEP2(H, b, c, d, a, 14, 23, 0xfde5380c);
    MD5_STEP2(H, a, b, c, d, 1, 4, 0xa4beea44);
    MD5_STEP2(H, d, a, b, c, 4, 11, 0x4bdecfa9);
    MD5_STEP2(H, c, d, a, b, 7, 16, 0xf6bb4b60);
    MD5_STEP2(H, b, c, d, a, 10, 23, 0xbebfbc70);
    MD5_STEP2(H, a, b, c, d, 13, 4, 0x289b7ec6);
    MD5_STEP2(H, d, a, b, c, 0, 11, 0xeaa127fa);
    MD5_STEP2(H, c, d, a, b, 3, 16, 0xd4ef3085);
    MD5_STEP2(H, b, c, d, a, 6, 23, 0x04881d05);
    MD5_STEP2(H, a, b, c, d, 9, 4, 0xd9d4d039);
    MD5_STEP2(H, d, a, b, c, 12, 11, 0xe6db99e5);
    MD5_STEP2(H, c, d, a, b, 15, 16, 0x1fa27cf8);
    MD5_STEP2(H, b, c, d, a, 2, 23, 0xc4ac5665);

    MD5_STEP2(I, a, b, c, d, 0, 6, 0xf4292244);
    MD5_STEP2(I, d, a, b, c, 7, 10, 0x432aff97);
    MD5_STEP2(I, c, d, a, b, 14, 15, 0xab9423a7);
    MD5_STEP2(I, b, c, d, a, 5, 21, 0xfc93a039);
    MD5_STEP2(I, a, b, c, d, 12, 6, 0x655b59c3);
    MD5_STEP2(I, d, a, b, c, 3, 10, 0x8f0ccc92);
    MD5_STEP2(I, c, d, a, b, 10, 15, 0xffeff47d);
    MD5_STEP2(I, b, c, d, a, 1, 21, 0x85845dd1);
    MD5_STEP2(I, a, b, c, d, 8, 6, 0x6fa87e4f);
    MD5_STEP2(I, d, a, b, c, 15, 10, 0xfe2ce6e0);
    MD5_STEP2(I, c, d, a, b, 6, 15, 0xa3014314);
    MD5_STEP2(I, b, c, d, a, 13, 21, 0x4e0811a1);
    MD5_STEP2(I, a, b, c, d, 4, 6, 0xf7537e82);
    MD5_STEP2(I, d, a, b, c, 11, 10, 0xbd3af235);
    MD5_STEP2(I, c, d, a, b, 2, 15, 0x2ad7d2bb);
    MD5_STEP2(I, b, c, d, a, 9, 21, 0xeb86d391);

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
#undef MD5_PIN

uint32_t BufferedBytes(const MD5_CTX* ctx)
{
    return (ctx->count[0] >> 3) & 0x3F;
}

// The bit counter as MD5Update keeps it: two words, carry into the high one.
void AddLength(MD5_CTX* ctx, uint32_t count)
{
    uint32_t addBits = count << 3;
    ctx->count[0] += addBits;
    if (ctx->count[0] < addBits)
        ++ctx->count[1];
    ctx->count[1] += count >> 29;
}

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
