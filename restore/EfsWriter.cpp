// The EFS restore writer: the payload of an item that was an encrypted file goes back
// through the raw encrypted-file import, complemented back block by block, with one
// crypted and one original digest over the whole payload.
#include "restore/Writers.h"
#include "platform/Owners.h"
#include "quarantine/Vaultkit.h"
#include "quarantine/VaultkitError.h"
#include "quarantine/VaultkitTrace.h"
#include "restore/FinishDigest.h"
#include "restore/codecs/ComplementBytes.h"

int32_t RestoreEfsFile(const wchar_t* destination, HANDLE hPayload, DigestList& original,
                       DigestList& crypted, PVOID efsContext)
{
    CUniqueEfsContext import(efsContext);
    MD5_CTX originalCtx;
    MD5_CTX cryptedCtx;
    MD5Init(&originalCtx);
    MD5Init(&cryptedCtx);
    EfsCallbackContext callback = {hPayload, &originalCtx, &cryptedCtx};

    DWORD error = g_Sys.WriteEncryptedFileRaw(EFSRawWriteCallback, &callback, import.get());
    if (error != ERROR_SUCCESS) {
        VaultkitTrace(L"[VAULTKIT] WriteEncryptedFileRaw [VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION (%d)]",
                      error);
        // The import holds the file open until its context is closed.
        import.reset();
        g_Sys.DeleteFileW(destination);
        return VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION;
    }
    FinishDigestInto(originalCtx, original);
    FinishDigestInto(cryptedCtx, crypted);
    return VAULTKIT_ERROR_SUCCESS;
}

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
        VaultkitTrace(L"[VAULTKIT] <-- EFSRawWriteCallback VAULTKIT_ERROR_CANNOT_READ_SOURCE (%d)",
                      error);
        return error;
    }
    MD5Update(context->crypted, pbData, got);
    ComplementBytes(pbData, got);
    MD5Update(context->original, pbData, got);

    *ulLength = got;
    if (got == 0)
        VaultkitTrace(L"[VAULTKIT] EFSRawWriteCallback: finished reading the file");
    VaultkitTrace(L"[VAULTKIT] <-- EFSRawWriteCallback");
    return ERROR_SUCCESS;
}
