// Finished digests into their lists (see FinishDigest.h).
#include "restore/FinishDigest.h"
#include "restore/codecs/Md5Text.h"

void FinishDigestInto(MD5_CTX& ctx, DigestList& list)
{
    list.InsertSorted(FinishDigestText(ctx).c_str());
}
