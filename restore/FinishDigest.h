// The last step of every digest the writers gather: finish it, print it, file it.
#pragma once
#include "restore/codecs/DigestList.h"
#include "restore/codecs/Md5.h"

// Finishes ctx (which is wiped) and inserts its digest text into list at its sorted place.
void FinishDigestInto(MD5_CTX& ctx, DigestList& list);
