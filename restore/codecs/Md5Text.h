// Md5Text: digest texts in one call, for a digest being gathered and for bytes held in
// memory.
#pragma once

#include "restore/codecs/Md5.h"
#include <cstddef>
#include <string>

// Finishes ctx (which is wiped) and gives its digest text (see DigestText.h).
std::string FinishDigestText(MD5_CTX& ctx);

// The digest text of size bytes. Any size: MD5Update counts in 32 bits, so large inputs
// are fed in slices.
std::string Md5Text(const void* bytes, size_t size);
inline std::string Md5Text(const std::string& bytes)
{
    return Md5Text(bytes.data(), bytes.size());
}
