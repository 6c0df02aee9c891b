// The EFS restore writer: the payload of an item that was an encrypted file goes back
// through the raw encrypted-file import, complemented back block by block, with one
// crypted and one original digest over the whole payload.
//
// The import opens the file by its path on its own and would write through whatever
// that path leads to, so the staging file is claimed first (made new, checked where it
// lies, held so that nobody can swap it) and taken back through a handle of our own once
// the import is done.
//
// Two things this rests on are inferred, not documented: that the import opens an existing
// file without asking for delete access (otherwise our claim, which shares no deletion,
// makes its open fail), and that NTFS refuses to rename a folder while a file below it is
// open (so the folders the claim was checked in stay where they are). Should the first not
// hold, the import fails and the item stays in the quarantine (5): safe, but EFS items
// would then not come back. Should the second not hold, a user who swaps a folder for a
// link in the instant between the check and the import's own open could still send the
// import elsewhere; the file taken back is then not the one claimed and the item stays,
// but what the import wrote stays where it went. Both want checking on Windows.
#include "restore/Writers.h"
#include "platform/Owners.h"
#include "quarantine/Vaultkit.h"
#include "quarantine/VaultkitError.h"
#include "quarantine/VaultkitTrace.h"
#include "restore/codecs/Md5Text.h"
#include "restore/StagingFile.h"
#include "restore/codecs/ComplementBytes.h"

namespace {

VaultkitError Import(const wchar_t* staging, HANDLE hPayload, DigestList& original,
                     DigestList& crypted, int64_t size)
{
    CUniqueEfsContext context;
    if (g_Sys.OpenEncryptedFileRawW(staging, CREATE_FOR_IMPORT, context.put()) != ERROR_SUCCESS)
        return TraceCallResult(L"OpenEncryptedFileRaw", VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION,
                               g_Sys.GetLastError());
    return static_cast<VaultkitError>(
        RestoreEfsFile(hPayload, original, crypted, context.release(), size));
}

} // namespace

// What the import left is removed by staged, unless the location is restored.
VaultkitError RestoreEfsStaging(CStagingFile& staged, HANDLE hPayload, DigestList& original,
                                DigestList& crypted, int64_t size)
{
    VaultkitError result = staged.Claim();
    if (result != VAULTKIT_ERROR_SUCCESS)
        return result;
    result = staged.CheckPlace(EPlace::Staging);
    if (result == VAULTKIT_ERROR_SUCCESS)
        result = Import(staged.Path(), hPayload, original, crypted, size);
    VaultkitError back = staged.TakeBack();
    if (back != VAULTKIT_ERROR_SUCCESS)
        return result != VAULTKIT_ERROR_SUCCESS ? result : back;
    if (result != VAULTKIT_ERROR_SUCCESS)
        return result;
    return staged.CheckPlace(EPlace::Staging);
}

int32_t RestoreEfsFile(HANDLE hPayload, DigestList& original, DigestList& crypted,
                       PVOID efsContext, int64_t size)
{
    CUniqueEfsContext import(efsContext);
    MD5_CTX originalCtx;
    MD5_CTX cryptedCtx;
    MD5Init(&originalCtx);
    MD5Init(&cryptedCtx);
    EfsCallbackContext callback = {hPayload, &originalCtx, &cryptedCtx};
    callback.limit = (size > 0 ? static_cast<uint64_t>(size) : 0) + kStreamAllowance;

    DWORD error = g_Sys.WriteEncryptedFileRaw(EFSRawWriteCallback, &callback, import.get());
    if (callback.tooLong)
        return TraceResult(VAULTKIT_ERROR_FILE_SIZE_MISMATCH);
    if (error != ERROR_SUCCESS)
        return TraceCallResult(L"WriteEncryptedFileRaw", VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION,
                               error);
    FinishDigestInto(originalCtx, original);
    FinishDigestInto(cryptedCtx, crypted);
    return VAULTKIT_ERROR_SUCCESS;
}

// A read that would take the import past its limit aborts it before those bytes are
// handed on.
DWORD WINAPI EFSRawWriteCallback(PBYTE pbData, PVOID pvCallbackContext, PULONG ulLength)
{
    VaultkitTrace(L"[VAULTKIT] --> EFSRawWriteCallback");
    EfsCallbackContext* context = static_cast<EfsCallbackContext*>(pvCallbackContext);

    DWORD got = 0;
    DWORD error = ERROR_SUCCESS;
    g_Sys.EnterCriticalSection(&g_csEfsRead);
    BOOL read = g_Sys.ReadFile(context->hPayload, pbData, *ulLength, &got, /*lpOverlapped=*/nullptr);
    if (!read)
        error = g_Sys.GetLastError();
    g_Sys.LeaveCriticalSection(&g_csEfsRead);

    if (!read) {
        // 0 would tell the import to go on with a length we never set.
        if (error == ERROR_SUCCESS)
            error = ERROR_READ_FAULT;
        VaultkitTrace(L"[VAULTKIT] <-- EFSRawWriteCallback %s (%d)",
                      VaultkitErrorName(VAULTKIT_ERROR_CANNOT_READ_SOURCE), error);
        return error;
    }
    if (got > context->limit - context->delivered) {
        context->tooLong = true;
        return ERROR_FILE_TOO_LARGE;
    }
    context->delivered += got;
    MD5Update(context->crypted, pbData, got);
    ComplementBytes(pbData, got);
    MD5Update(context->original, pbData, got);

    *ulLength = got;
    if (got == 0)
        VaultkitTrace(L"[VAULTKIT] EFSRawWriteCallback: finished reading the file");
    VaultkitTrace(L"[VAULTKIT] <-- EFSRawWriteCallback");
    return ERROR_SUCCESS;
}
