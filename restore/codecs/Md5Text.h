// Md5Text: the printable form of an MD5 digest as the index keeps it, 32 upper-case hex
// digits (bytes in digest order, high nibble first), and the three ways to it: a digest
// being gathered, finished into text or filed into a digest list; bytes held in memory.
#pragma once

#include "restore/codecs/DigestList.h"
#include "restore/codecs/Md5.h"
#include <cstddef>
#include <string>

// Finishes ctx (which is wiped) and gives its digest text.
std::string FinishDigestText(MD5_CTX& ctx);

// Finishes ctx (which is wiped) and inserts its digest text into list at its sorted place:
// the last step of every digest the restore writers gather.
void FinishDigestInto(MD5_CTX& ctx, DigestList& list);

// The digest text of size bytes. Any size: MD5Update counts in 32 bits, so large inputs
// are fed in slices.
std::string Md5Text(const void* bytes, size_t size);
inline std::string Md5Text(const std::string& bytes)
{
    return Md5Text(bytes.data(), bytes.size());
}
