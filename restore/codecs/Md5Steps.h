// Md5Steps: what the one-lane MD5 (Md5.cpp) and the two-lane one (Md5Pair.cpp) share: the
// bit counter, the word loads, the rotation, the round functions and the order of the 64
// steps. Each
// transform spells out only how one step is done on its own state.
#pragma once

#include "restore/codecs/Md5.h"

#include <cstdint>

namespace md5steps {

// Bytes of the block in progress, not yet compressed.
inline uint32_t BufferedBytes(const MD5_CTX* ctx)
{
    return (ctx->count[0] >> 3) & 0x3F;
}

// Counts count more bytes in the 64-bit bit counter kept as two words: count << 3 may carry
// out of the low word, and count >> 29 holds the bits shifted past it.
inline void AddLength(MD5_CTX* ctx, uint32_t count)
{
    uint32_t addBits = count << 3;
    ctx->count[0] += addBits;
    if (ctx->count[0] < addBits)
        ++ctx->count[1];
    ctx->count[1] += count >> 29;
}

inline uint32_t ReadLe32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline void WriteLe32(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

inline uint32_t Rotl(uint32_t v, int s) { return (v << s) | (v >> (32 - s)); }

// The four round functions of step a = b + ((a + fn(b, c, d) + x + t) <<< s), each split
// into the part that needs only c and d (ready early: the previous step did not produce
// them) and the part that waits for b. Only G splits (its two halves never share a set
// bit, so + gives the same as the textbook |); in F and H the c, d terms are grouped so
// that they too are formed early.
inline uint32_t FEarly(uint32_t, uint32_t) { return 0; }
inline uint32_t FLate(uint32_t b, uint32_t c, uint32_t d) { return d ^ (b & (c ^ d)); }
inline uint32_t GEarly(uint32_t c, uint32_t d) { return c & ~d; }
inline uint32_t GLate(uint32_t b, uint32_t, uint32_t d) { return b & d; }
inline uint32_t HEarly(uint32_t, uint32_t) { return 0; }
inline uint32_t HLate(uint32_t b, uint32_t c, uint32_t d) { return b ^ (c ^ d); }
inline uint32_t IEarly(uint32_t, uint32_t) { return 0; }
inline uint32_t ILate(uint32_t b, uint32_t c, uint32_t d) { return c ^ (b | ~d); }

} // namespace md5steps

// Pins the accumulator once the message word, the constant and the early part are in, so
// that their sum is formed while the previous step is still running; left alone gcc
// reassociates them after the late part and lengthens the chain every step waits on.
#if defined(__GNUC__)
#define MD5_PIN(v) __asm__("" : "+r"(v))
#else
#define MD5_PIN(v) ((void)0)
#endif

// The 64 steps in order, as STEP(round function, a, b, c, d, message word, shift,
// constant). Expanded in place by each transform, so the compiler sees constant words,
// shifts and constants, as in a hand-unrolled loop.
#define MD5_ALL_STEPS(STEP)                       \
    STEP(F, a, b, c, d, 0, 7, 0xd76aa478)         \
    STEP(F, d, a, b, c, 1, 12, 0xe8c7b756)        \
    STEP(F, c, d, a, b, 2, 17, 0x242070db)        \
    STEP(F, b, c, d, a, 3, 22, 0xc1bdceee)        \
    STEP(F, a, b, c, d, 4, 7, 0xf57c0faf)         \
    STEP(F, d, a, b, c, 5, 12, 0x4787c62a)        \
    STEP(F, c, d, a, b, 6, 17, 0xa8304613)        \
    STEP(F, b, c, d, a, 7, 22, 0xfd469501)        \
    STEP(F, a, b, c, d, 8, 7, 0x698098d8)         \
    STEP(F, d, a, b, c, 9, 12, 0x8b44f7af)        \
    STEP(F, c, d, a, b, 10, 17, 0xffff5bb1)       \
    STEP(F, b, c, d, a, 11, 22, 0x895cd7be)       \
    STEP(F, a, b, c, d, 12, 7, 0x6b901122)        \
    STEP(F, d, a, b, c, 13, 12, 0xfd987193)       \
    STEP(F, c, d, a, b, 14, 17, 0xa679438e)       \
    STEP(F, b, c, d, a, 15, 22, 0x49b40821)       \
    STEP(G, a, b, c, d, 1, 5, 0xf61e2562)         \
    STEP(G, d, a, b, c, 6, 9, 0xc040b340)         \
    STEP(G, c, d, a, b, 11, 14, 0x265e5a51)       \
    STEP(G, b, c, d, a, 0, 20, 0xe9b6c7aa)        \
    STEP(G, a, b, c, d, 5, 5, 0xd62f105d)         \
    STEP(G, d, a, b, c, 10, 9, 0x02441453)        \
    STEP(G, c, d, a, b, 15, 14, 0xd8a1e681)       \
    STEP(G, b, c, d, a, 4, 20, 0xe7d3fbc8)        \
    STEP(G, a, b, c, d, 9, 5, 0x21e1cde6)         \
    STEP(G, d, a, b, c, 14, 9, 0xc33707d6)        \
    STEP(G, c, d, a, b, 3, 14, 0xf4d50d87)        \
    STEP(G, b, c, d, a, 8, 20, 0x455a14ed)        \
    STEP(G, a, b, c, d, 13, 5, 0xa9e3e905)        \
    STEP(G, d, a, b, c, 2, 9, 0xfcefa3f8)         \
    STEP(G, c, d, a, b, 7, 14, 0x676f02d9)        \
    STEP(G, b, c, d, a, 12, 20, 0x8d2a4c8a)       \
    STEP(H, a, b, c, d, 5, 4, 0xfffa3942)         \
    STEP(H, d, a, b, c, 8, 11, 0x8771f681)        \
    STEP(H, c, d, a, b, 11, 16, 0x6d9d6122)       \
    STEP(H, b, c, d, a, 14, 23, 0xfde5380c)       \
    STEP(H, a, b, c, d, 1, 4, 0xa4beea44)         \
    STEP(H, d, a, b, c, 4, 11, 0x4bdecfa9)        \
    STEP(H, c, d, a, b, 7, 16, 0xf6bb4b60)        \
    STEP(H, b, c, d, a, 10, 23, 0xbebfbc70)       \
    STEP(H, a, b, c, d, 13, 4, 0x289b7ec6)        \
    STEP(H, d, a, b, c, 0, 11, 0xeaa127fa)        \
    STEP(H, c, d, a, b, 3, 16, 0xd4ef3085)        \
    STEP(H, b, c, d, a, 6, 23, 0x04881d05)        \
    STEP(H, a, b, c, d, 9, 4, 0xd9d4d039)         \
    STEP(H, d, a, b, c, 12, 11, 0xe6db99e5)       \
    STEP(H, c, d, a, b, 15, 16, 0x1fa27cf8)       \
    STEP(H, b, c, d, a, 2, 23, 0xc4ac5665)        \
    STEP(I, a, b, c, d, 0, 6, 0xf4292244)         \
    STEP(I, d, a, b, c, 7, 10, 0x432aff97)        \
    STEP(I, c, d, a, b, 14, 15, 0xab9423a7)       \
    STEP(I, b, c, d, a, 5, 21, 0xfc93a039)        \
    STEP(I, a, b, c, d, 12, 6, 0x655b59c3)        \
    STEP(I, d, a, b, c, 3, 10, 0x8f0ccc92)        \
    STEP(I, c, d, a, b, 10, 15, 0xffeff47d)       \
    STEP(I, b, c, d, a, 1, 21, 0x85845dd1)        \
    STEP(I, a, b, c, d, 8, 6, 0x6fa87e4f)         \
    STEP(I, d, a, b, c, 15, 10, 0xfe2ce6e0)       \
    STEP(I, c, d, a, b, 6, 15, 0xa3014314)        \
    STEP(I, b, c, d, a, 13, 21, 0x4e0811a1)       \
    STEP(I, a, b, c, d, 4, 6, 0xf7537e82)         \
    STEP(I, d, a, b, c, 11, 10, 0xbd3af235)       \
    STEP(I, c, d, a, b, 2, 15, 0x2ad7d2bb)        \
    STEP(I, b, c, d, a, 9, 21, 0xeb86d391)
