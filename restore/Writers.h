// The restore writers: payload to destination, deciphered, with digests gathered.
#pragma once
#include "platform/WinHeaders.h"
#include "restore/codecs/DigestList.h"
#include "restore/codecs/Md5.h"
#include <cstdint>

// Ordinary items: creates the destination, applies the security data, feeds every stream
// record of the payload to BackupWrite deciphered, sets the file times. Returns 0, 3, 5,
// 7 or 13; on every non-zero result but 13 the destination is deleted.
int32_t RestoreNormalFile(const wchar_t* destination, HANDLE hPayload, DigestList& original,
                          DigestList& crypted, const uint8_t* security, int32_t securityLength,
                          int64_t crt, int64_t lwt, int64_t lat);

// EFS items: the payload, complemented back, through the raw import. Returns 0 or 5 and
// always closes the import context.
int32_t RestoreEfsFile(const wchar_t* destination, HANDLE hPayload, DigestList& original,
                       DigestList& crypted, PVOID efsContext);

// Context handed to EFSRawWriteCallback.
struct EfsCallbackContext
{
    HANDLE hPayload;
    MD5_CTX* original;
    MD5_CTX* crypted;
};

DWORD WINAPI EFSRawWriteCallback(PBYTE pbData, PVOID pvCallbackContext, PULONG ulLength);

// Compresses a restored file again; 0 or the system error of the failed step.
DWORD RecompressResoredFile(const wchar_t* path);
