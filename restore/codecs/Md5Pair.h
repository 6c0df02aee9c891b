// Md5Pair: two MD5 digests over two equally long inputs at the cost of about one.
// MD5 is one long dependency chain, so a single digest leaves most of a core's ALUs
// idle; running the steps of two independent blocks side by side fills them.
#pragma once

#include "restore/codecs/Md5.h"

#include <cstdint>

// Same result as MD5Update(a, dataA, count) followed by MD5Update(b, dataB, count).
// The two contexts may be at different points of their input; only the whole blocks that
// both reach at the same time are compressed together.
void MD5UpdatePair(MD5_CTX* a, const uint8_t* dataA, MD5_CTX* b, const uint8_t* dataB,
                   uint32_t count);
