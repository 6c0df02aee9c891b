// RestoreDataPath: the per-run work of a restore on the bytes of one stream record:
// the digest of the run as stored, the decipher of its data bytes, the digest of the run
// as deciphered. Both digests are compressed together, so the run costs about one MD5
// pass instead of two.
#pragma once

#include "restore/codecs/Md5.h"
#include "restore/codecs/PayloadCipher.h"

#include <cstdint>

// run[0, fill) is fed to crypted as it is; run[decipherFrom, fill) is then deciphered in
// place (the bytes before it, a record's header and name, stay as they are); the result,
// all of run[0, fill), is fed to original. Equivalent to
//   MD5Update(crypted, run, fill);
//   cipher.Decipher(run + decipherFrom, fill - decipherFrom);
//   MD5Update(original, run, fill);
// A decipherFrom past fill deciphers nothing.
void DigestAndDecipherRun(uint8_t* run, uint32_t fill, uint32_t decipherFrom, MD5_CTX* crypted,
                          MD5_CTX* original, PayloadCipher& cipher);
