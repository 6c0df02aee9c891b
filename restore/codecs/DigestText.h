// DigestText: the printable form of a 16-byte digest as kept in index lists.
#pragma once

#include <cstdint>

// Writes 32 upper-case hex digits (bytes in digest order, high nibble first)
// followed by a NUL into out.
void FormatDigestText(const uint8_t digest[16], char out[33]);
