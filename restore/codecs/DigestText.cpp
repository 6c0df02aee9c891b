// DigestText: hex formatting of digests.
#include "restore/codecs/DigestText.h"

void FormatDigestText(const uint8_t digest[16], char out[33])
{
    static const char kDigits[] = "0123456789ABCDEF";
    for (int i = 0; i < 16; ++i) {
        out[2 * i] = kDigits[digest[i] >> 4];
        out[2 * i + 1] = kDigits[digest[i] & 0x0F];
    }
    out[32] = '\0';
}
