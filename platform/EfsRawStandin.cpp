// Raw EFS import for Wine: the imported bytes become the plain content of the file.
#include "platform/EfsRawStandin.h"
#include "platform/Owners.h"
#include <new>
#include <vector>

namespace {

const ULONG kImportBufferBytes = 64 * 1024;

struct CEfsImportContext
{
    CUniqueFile m_hFile;
};

long g_nOpenContexts = 0;

DWORD Fail(DWORD error)
{
    g_Sys.SetLastError(error);
    return error;
}

DWORD WriteAll(HANDLE hFile, const BYTE* data, DWORD count)
{
    while (count > 0) {
        DWORD written = 0;
        if (!g_Sys.WriteFile(hFile, data, count, &written, /*lpOverlapped=*/nullptr))
            return g_Sys.GetLastError();
        if (written == 0 || written > count)
            return ERROR_WRITE_FAULT;
        data += written;
        count -= written;
    }
    return ERROR_SUCCESS;
}

} // namespace

DWORD WINAPI StandinOpenEncryptedFileRawW(LPCWSTR lpFileName, ULONG ulFlags, PVOID* pvContext)
{
    if (!pvContext || !lpFileName)
        return Fail(ERROR_INVALID_PARAMETER);
    *pvContext = nullptr;
    // Export and directories would need an encrypted file system, which Wine lacks.
    if (!(ulFlags & CREATE_FOR_IMPORT) || (ulFlags & CREATE_FOR_DIR))
        return Fail(ERROR_CALL_NOT_IMPLEMENTED);
    CUniqueFile file(g_Sys.CreateFileW(lpFileName, GENERIC_WRITE, /*dwShareMode=*/0,
                                       /*lpSecurityAttributes=*/nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, /*hTemplateFile=*/nullptr));
    if (!file)
        return g_Sys.GetLastError();
    auto* ctx = new (std::nothrow) CEfsImportContext;
    if (!ctx)
        return Fail(ERROR_NOT_ENOUGH_MEMORY);
    ctx->m_hFile = std::move(file);
    *pvContext = ctx;
    ++g_nOpenContexts;
    return ERROR_SUCCESS;
}

DWORD WINAPI StandinWriteEncryptedFileRaw(PFE_IMPORT_FUNC pfImportCallback,
                                          PVOID pvCallbackContext, PVOID pvContext)
{
    auto* ctx = static_cast<CEfsImportContext*>(pvContext);
    if (!ctx || !pfImportCallback)
        return Fail(ERROR_INVALID_PARAMETER);
    std::vector<BYTE> buffer(kImportBufferBytes);
    for (;;) {
        ULONG length = kImportBufferBytes;
        DWORD rc = pfImportCallback(buffer.data(), pvCallbackContext, &length);
        if (rc != ERROR_SUCCESS)
            return rc;
        if (length == 0)
            return ERROR_SUCCESS;
        if (length > kImportBufferBytes)
            return Fail(ERROR_INVALID_DATA);
        rc = WriteAll(ctx->m_hFile.get(), buffer.data(), length);
        if (rc != ERROR_SUCCESS)
            return Fail(rc);
    }
}

VOID WINAPI StandinCloseEncryptedFileRaw(PVOID pvContext)
{
    auto* ctx = static_cast<CEfsImportContext*>(pvContext);
    if (!ctx)
        return;
    delete ctx;
    --g_nOpenContexts;
}

long StandinEfsOpenContexts()
{
    return g_nOpenContexts;
}
