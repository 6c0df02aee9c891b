// RestoreDataPath: digests and deciphers a run in small slices, so the stored copy of
// each slice is still in L1 when both digests take it.
#include "restore/codecs/RestoreDataPath.h"

#include "restore/codecs/Md5Pair.h"

#include <algorithm>
#include <cstring>

namespace {

// A few KiB: large enough to amortise the call overhead, small enough that the stored
// copy, the deciphered bytes and the tables all stay in L1.
const uint32_t kSliceBytes = 4096;

}  // namespace

void DigestAndDecipherRun(uint8_t* run, uint32_t fill, uint32_t decipherFrom, MD5_CTX* crypted,
                          MD5_CTX* original, PayloadCipher& cipher)
{
    if (run == nullptr || fill == 0)
        return;
    uint32_t plainEnd = std::min(decipherFrom, fill);
    // Header and name are the same bytes in both digests.
    MD5UpdatePair(crypted, run, original, run, plainEnd);

    alignas(64) uint8_t stored[kSliceBytes];
    for (uint32_t pos = plainEnd; pos < fill;) {
        uint32_t n = std::min(kSliceBytes, fill - pos);
        std::memcpy(stored, run + pos, n);
        cipher.Decipher(run + pos, n);
        MD5UpdatePair(crypted, stored, original, run + pos, n);
        pos += n;
    }
}
