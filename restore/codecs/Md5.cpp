// Md5: MD5 block transform plus the buffering/padding around it.
#include "restore/codecs/Md5.h"
#include "restore/codecs/Md5Steps.h"

#include <cstring>

namespace {

using namespace md5steps;

// One step on the one lane's state, words in x.
#define MD5_STEP(fn, a, b, c, d, k, s, t)                              \
    do {                                                               \
        (a) += x[k] + static_cast<uint32_t>(t) + fn##Early((c), (d));  \
        MD5_PIN(a);                                                    \
        (a) = (b) + Rotl((a) + fn##Late((b), (c), (d)), (s));          \
    } while (0);

void Transform(uint32_t state[4], const uint8_t block[64])
{
    uint32_t x[16];
    for (int i = 0; i < 16; ++i)
        x[i] = ReadLe32(block + 4 * i);

    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    MD5_ALL_STEPS(MD5_STEP)

    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

#undef MD5_STEP

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
    uint32_t used = BufferedBytes(ctx);
    AddLength(ctx, count);

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
    uint32_t used = BufferedBytes(ctx);
    uint32_t padLen = (used < 56) ? (56 - used) : (120 - used);
    MD5Update(ctx, kPadding, padLen);
    MD5Update(ctx, lengthBytes, 8);

    for (int i = 0; i < 4; ++i)
        WriteLe32(digest + 4 * i, ctx->state[i]);

    // The context held message bytes; do not leave them lying around.
    std::memset(ctx, 0, sizeof(*ctx));
}
