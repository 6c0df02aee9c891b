// Md5: MD5 block transform plus the buffering/padding around it.
#include "restore/codecs/Md5.h"

#include <cstring>

namespace {

uint32_t ReadLe32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void WriteLe32(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

// The four auxiliary functions of the rounds, each split into the part that needs only
// y and z (ready early: the previous step did not produce them) and the part that waits
// for x. Only G splits (its two halves never share a set bit, so + gives the same as the
// textbook |); in F and H the y, z terms are grouped so they too are formed early.
inline uint32_t FEarly(uint32_t, uint32_t) { return 0; }
inline uint32_t FLate(uint32_t x, uint32_t y, uint32_t z) { return z ^ (x & (y ^ z)); }
inline uint32_t GEarly(uint32_t y, uint32_t z) { return y & ~z; }
inline uint32_t GLate(uint32_t x, uint32_t, uint32_t z) { return x & z; }
inline uint32_t HEarly(uint32_t, uint32_t) { return 0; }
inline uint32_t HLate(uint32_t x, uint32_t y, uint32_t z) { return x ^ (y ^ z); }
inline uint32_t IEarly(uint32_t, uint32_t) { return 0; }
inline uint32_t ILate(uint32_t x, uint32_t y, uint32_t z) { return y ^ (x | ~z); }

inline uint32_t Rotl(uint32_t v, int s) { return (v << s) | (v >> (32 - s)); }

// Pins a once the message word, the constant and the early part of fn are in, so that
// sum is formed while the previous step is still running; left alone gcc reassociates
// them after the late part and lengthens the chain every step waits on.
#if defined(__GNUC__)
#define MD5_PIN(v) __asm__("" : "+r"(v))
#else
#define MD5_PIN(v) ((void)0)
#endif

// One step: a = b + ((a + fn(b,c,d) + x + t) <<< s). Unrolled via macro so
// the compiler sees constant shifts and constants.
#define MD5_STEP(fn, a, b, c, d, x, s, t)                             \
    do {                                                              \
        (a) += (x) + static_cast<uint32_t>(t) + fn##Early((c), (d));  \
        MD5_PIN(a);                                                   \
        (a) = (b) + Rotl((a) + fn##Late((b), (c), (d)), (s));         \
    } while (0)

void Transform(uint32_t state[4], const uint8_t block[64])
{
    uint32_t x[16];
    for (int i = 0; i < 16; ++i)
        x[i] = ReadLe32(block + 4 * i);

    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];

    MD5_STEP(F, a, b, c, d, x[0], 7, 0xd76aa478);
    MD5_STEP(F, d, a, b, c, x[1], 12, 0xe8c7b756);
    MD5_STEP(F, c, d, a, b, x[2], 17, 0x242070db);
    MD5_STEP(F, b, c, d, a, x[3], 22, 0xc1bdceee);
    MD5_STEP(F, a, b, c, d, x[4], 7, 0xf57c0faf);
    MD5_STEP(F, d, a, b, c, x[5], 12, 0x4787c62a);
    MD5_STEP(F, c, d, a, b, x[6], 17, 0xa8304613);
    MD5_STEP(F, b, c, d, a, x[7], 22, 0xfd469501);
    MD5_STEP(F, a, b, c, d, x[8], 7, 0x698098d8);
    MD5_STEP(F, d, a, b, c, x[9], 12, 0x8b44f7af);
    MD5_STEP(F, c, d, a, b, x[10], 17, 0xffff5bb1);
    MD5_STEP(F, b, c, d, a, x[11], 22, 0x895cd7be);
    MD5_STEP(F, a, b, c, d, x[12], 7, 0x6b901122);
    MD5_STEP(F, d, a, b, c, x[13], 12, 0xfd987193);
    MD5_STEP(F, c, d, a, b, x[14], 17, 0xa679438e);
    MD5_STEP(F, b, c, d, a, x[15], 22, 0x49b40821);

    MD5_STEP(G, a, b, c, d, x[1], 5, 0xf61e2562);
    MD5_STEP(G, d, a, b, c, x[6], 9, 0xc040b340);
    MD5_STEP(G, c, d, a, b, x[11], 14, 0x265e5a51);
    MD5_STEP(G, b, c, d, a, x[0], 20, 0xe9b6c7aa);
    MD5_STEP(G, a, b, c, d, x[5], 5, 0xd62f105d);
    MD5_STEP(G, d, a, b, c, x[10], 9, 0x02441453);
    MD5_STEP(G, c, d, a, b, x[15], 14, 0xd8a1e681);
    MD5_STEP(G, b, c, d, a, x[4], 20, 0xe7d3fbc8);
    MD5_STEP(G, a, b, c, d, x[9], 5, 0x21e1cde6);
    MD5_STEP(G, d, a, b, c, x[14], 9, 0xc33707d6);
    MD5_STEP(G, c, d, a, b, x[3], 14, 0xf4d50d87);
    MD5_STEP(G, b, c, d, a, x[8], 20, 0x455a14ed);
    MD5_STEP(G, a, b, c, d, x[13], 5, 0xa9e3e905);
    MD5_STEP(G, d, a, b, c, x[2], 9, 0xfcefa3f8);
    MD5_STEP(G, c, d, a, b, x[7], 14, 0x676f02d9);
    MD5_STEP(G, b, c, d, a, x[12], 20, 0x8d2a4c8a);

    MD5_STEP(H, a, b, c, d, x[5], 4, 0xfffa3942);
    MD5_STEP(H, d, a, b, c, x[8], 11, 0x8771f681);
    MD5_STEP(H, c, d, a, b, x[11], 16, 0x6d9d6122);
    MD5_STEP(H, b, c, d, a, x[14], 23, 0xfde5380c);
    MD5_STEP(H, a, b, c, d, x[1], 4, 0xa4beea44);
    MD5_STEP(H, d, a, b, c, x[4], 11, 0x4bdecfa9);
    MD5_STEP(H, c, d, a, b, x[7], 16, 0xf6bb4b60);
    MD5_STEP(H, b, c, d, a, x[10], 23, 0xbebfbc70);
    MD5_STEP(H, a, b, c, d, x[13], 4, 0x289b7ec6);
    MD5_STEP(H, d, a, b, c, x[0], 11, 0xeaa127fa);
    MD5_STEP(H, c, d, a, b, x[3], 16, 0xd4ef3085);
    MD5_STEP(H, b, c, d, a, x[6], 23, 0x04881d05);
    MD5_STEP(H, a, b, c, d, x[9], 4, 0xd9d4d039);
    MD5_STEP(H, d, a, b, c, x[12], 11, 0xe6db99e5);
    MD5_STEP(H, c, d, a, b, x[15], 16, 0x1fa27cf8);
    MD5_STEP(H, b, c, d, a, x[2], 23, 0xc4ac5665);

    MD5_STEP(I, a, b, c, d, x[0], 6, 0xf4292244);
    MD5_STEP(I, d, a, b, c, x[7], 10, 0x432aff97);
    MD5_STEP(I, c, d, a, b, x[14], 15, 0xab9423a7);
    MD5_STEP(I, b, c, d, a, x[5], 21, 0xfc93a039);
    MD5_STEP(I, a, b, c, d, x[12], 6, 0x655b59c3);
    MD5_STEP(I, d, a, b, c, x[3], 10, 0x8f0ccc92);
    MD5_STEP(I, c, d, a, b, x[10], 15, 0xffeff47d);
    MD5_STEP(I, b, c, d, a, x[1], 21, 0x85845dd1);
    MD5_STEP(I, a, b, c, d, x[8], 6, 0x6fa87e4f);
    MD5_STEP(I, d, a, b, c, x[15], 10, 0xfe2ce6e0);
    MD5_STEP(I, c, d, a, b, x[6], 15, 0xa3014314);
    MD5_STEP(I, b, c, d, a, x[13], 21, 0x4e0811a1);
    MD5_STEP(I, a, b, c, d, x[4], 6, 0xf7537e82);
    MD5_STEP(I, d, a, b, c, x[11], 10, 0xbd3af235);
    MD5_STEP(I, c, d, a, b, x[2], 15, 0x2ad7d2bb);
    MD5_STEP(I, b, c, d, a, x[9], 21, 0xeb86d391);

    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

#undef MD5_STEP
#undef MD5_PIN

}  // namespace

void MD5Init(MD5_CTX* ctx)
{
    ctx->state[0] = 0x67452301;
    ctx->state[1] = 0xefcdab89;
    ctx->state[2] = 0x98badcfe;
    ctx->state[3] = 0x10325476;
    ctx->count[0] = 0;
    ctx->count[1] = 0;
    std::memset(ctx->buffer, 0, sizeof(ctx->buffer));
}

void MD5Update(MD5_CTX* ctx, const uint8_t* input, uint32_t count)
{
    if (count == 0 || input == nullptr)
        return;
    uint32_t used = (ctx->count[0] >> 3) & 0x3F;

    // 64-bit bit counter kept as two words; count << 3 may carry out of the
    // low word, and count >> 29 holds the bits shifted past it.
    uint32_t addBits = count << 3;
    ctx->count[0] += addBits;
    if (ctx->count[0] < addBits)
        ++ctx->count[1];
    ctx->count[1] += count >> 29;

    uint32_t offset = 0;
    uint32_t room = 64 - used;
    if (count >= room) {
        // Complete the pending block, then transform whole blocks straight
        // from the caller's data without copying.
        std::memcpy(ctx->buffer + used, input, room);
        Transform(ctx->state, ctx->buffer);
        for (offset = room; count - offset >= 64; offset += 64)
            Transform(ctx->state, input + offset);
        used = 0;
    }
    std::memcpy(ctx->buffer + used, input + offset, count - offset);
}

void MD5Final(uint8_t digest[16], MD5_CTX* ctx)
{
    // Capture the length before padding changes the counter.
    uint8_t lengthBytes[8];
    WriteLe32(lengthBytes, ctx->count[0]);
    WriteLe32(lengthBytes + 4, ctx->count[1]);

    // Pad with 0x80 then zeros up to 56 mod 64, leaving room for the length.
    static const uint8_t kPadding[64] = {0x80};
    uint32_t used = (ctx->count[0] >> 3) & 0x3F;
    uint32_t padLen = (used < 56) ? (56 - used) : (120 - used);
    MD5Update(ctx, kPadding, padLen);
    MD5Update(ctx, lengthBytes, 8);

    for (int i = 0; i < 4; ++i)
        WriteLe32(digest + 4 * i, ctx->state[i]);

    // The context held message bytes; do not leave them lying around.
    std::memset(ctx, 0, sizeof(*ctx));
}
