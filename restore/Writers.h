// The restore writers: payload to the staging file, deciphered, with digests gathered.
#pragma once
#include "platform/WinHeaders.h"
#include "quarantine/VaultkitError.h"
#include "restore/codecs/DigestList.h"
#include "restore/codecs/Md5.h"
#include <cstdint>

class CStagingFile;

// What a payload may write beyond the main data: a file's other streams, extended
// attributes, security data and sparse blocks, every record's header and name, or the
// encrypted-file import's own framing. Never more than the item's size plus this.
const uint64_t kStreamAllowance = 1 << 20;

// Ordinary items: creates the staging file, checks that it lies where it was meant to
// (a folder on the way that is a link fails with 5 before anything is written), applies
// the item's security data, feeds every stream record of the payload to BackupWrite,
// deciphered, and sets the file times. The records are bounded by size: the data of the
// main stream records may not pass it, everything else the payload hands on may not pass
// size + kStreamAllowance; a record that would cross either ends the write with 12.
// Returns 0, 3, 5, 7, 12 or 13 (nothing was created); whatever was created stays open in
// staged, which removes it unless it is renamed into place (StagingFile.h).
int32_t RestoreNormalFile(CStagingFile& staged, HANDLE hPayload, DigestList& original,
                          DigestList& crypted, const uint8_t* security, int32_t securityLength,
                          int64_t crt, int64_t lwt, int64_t lat, int64_t size);

// EFS items: claims the staging file, checks where it lies, lets the raw import fill it
// (ImportEfsFile) and takes it back (see CStagingFile). Returns 0 with the staging file
// open in staged, or 5, 12 or 13 (something stands under the staging name); on 5 and 12
// what was created is left to staged to remove.
VaultkitError RestoreEfsStaging(CStagingFile& staged, HANDLE hPayload, DigestList& original,
                                DigestList& crypted, int64_t size);

// The raw import itself, on an opened import context: the payload, complemented back.
// More than size + kStreamAllowance bytes end it with 12. Returns 0, 5 or 12 and always
// closes the import context; it removes nothing.
int32_t RestoreEfsFile(HANDLE hPayload, DigestList& original, DigestList& crypted,
                       PVOID efsContext, int64_t size);

// Context handed to EFSRawWriteCallback.
struct EfsCallbackContext
{
    HANDLE hPayload;
    MD5_CTX* original;
    MD5_CTX* crypted;
    uint64_t limit = UINT64_MAX;  // bytes the import may be handed
    uint64_t delivered = 0;
    bool tooLong = false;        // the payload passed limit: the import was aborted
};

DWORD WINAPI EFSRawWriteCallback(PBYTE pbData, PVOID pvCallbackContext, PULONG ulLength);

// Compresses the open restored file again; 0 or the system error of the failed step.
DWORD RecompressResoredFile(HANDLE hFile);
