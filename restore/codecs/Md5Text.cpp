// Digest texts in one call (see Md5Text.h).
#include "restore/codecs/Md5Text.h"
#include "restore/codecs/DigestText.h"
#include <algorithm>

std::string FinishDigestText(MD5_CTX& ctx)
{
    uint8_t digest[16];
    char text[33];
    MD5Final(digest, &ctx);
    FormatDigestText(digest, text);
    return text;
}

std::string Md5Text(const void* bytes, size_t size)
{
    const size_t kSlice = size_t(1) << 30;
    const uint8_t* at = static_cast<const uint8_t*>(bytes);
    MD5_CTX ctx;
    MD5Init(&ctx);
    for (size_t done = 0; done < size; done += kSlice)
        MD5Update(&ctx, at + done, static_cast<uint32_t>(std::min(kSlice, size - done)));
    return FinishDigestText(ctx);
}
