// Digest texts (see Md5Text.h).
#include "restore/codecs/Md5Text.h"
#include <algorithm>

std::string FinishDigestText(MD5_CTX& ctx)
{
    static const char kDigits[] = "0123456789ABCDEF";
    uint8_t digest[16];
    MD5Final(digest, &ctx);
    std::string text(32, '0');
    for (int i = 0; i < 16; ++i) {
        text[2 * i] = kDigits[digest[i] >> 4];
        text[2 * i + 1] = kDigits[digest[i] & 0x0F];
    }
    return text;
}

void FinishDigestInto(MD5_CTX& ctx, DigestList& list)
{
    list.InsertSorted(FinishDigestText(ctx).c_str());
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
