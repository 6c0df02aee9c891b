// Md5: MD5 message digest (RFC 1321) used to fingerprint payloads.
// Streaming interface: MD5Init, any number of MD5Update calls, MD5Final.
#pragma once

#include <cstdint>

struct MD5_CTX
{
    uint32_t state[4];   // running A, B, C, D
    uint32_t count[2];   // message length in bits: [0] low word, [1] high word
    uint8_t buffer[64];  // bytes of the block not yet transformed
};

void MD5Init(MD5_CTX* ctx);
void MD5Update(MD5_CTX* ctx, const uint8_t* input, uint32_t count);
// Writes the 16-byte digest and wipes the context (call MD5Init to reuse).
void MD5Final(uint8_t digest[16], MD5_CTX* ctx);
