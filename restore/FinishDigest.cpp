// Finished digests into their lists (see FinishDigest.h).
#include "restore/FinishDigest.h"
#include "restore/codecs/DigestText.h"

void FinishDigestInto(MD5_CTX& ctx, DigestList& list)
{
    uint8_t digest[16];
    char text[33];
    MD5Final(digest, &ctx);
    FormatDigestText(digest, text);
    list.InsertSorted(text);
}
