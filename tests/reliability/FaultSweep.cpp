// The fault sweep's injector (see FaultSweep.h).
#include "tests/reliability/FaultSweep.h"
#include <cstring>

namespace {

struct CRowErrors
{
    const char* row;
    DWORD errors[2];
};

// What each row meets in the field: a virus scanner or another process holding the file,
// missing rights, a full disk, a bad sector, a volume that cannot compress.
const CRowErrors kRowErrors[] = {
    {"CreateFileW", {ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION}},
    {"ReadFile", {ERROR_READ_FAULT, ERROR_LOCK_VIOLATION}},
    {"WriteFile", {ERROR_DISK_FULL, ERROR_WRITE_FAULT}},
    {"FlushFileBuffers", {ERROR_DISK_FULL, ERROR_WRITE_FAULT}},
    {"GetFileSizeEx", {ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED}},
    {"DeleteFileW", {ERROR_SHARING_VIOLATION, ERROR_ACCESS_DENIED}},
    {"MoveFileExW", {ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION}},
    {"SetFileAttributesW", {ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION}},
    {"GetFileAttributesW", {ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED}},
    {"GetFileAttributesExW", {ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION}},
    {"SetFileTime", {ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED}},
    {"GetDiskFreeSpaceExW", {ERROR_ACCESS_DENIED, ERROR_NOT_READY}},
    {"DeviceIoControl", {ERROR_INVALID_FUNCTION, ERROR_ACCESS_DENIED}},
    {"SetKernelObjectSecurity", {ERROR_ACCESS_DENIED, ERROR_PRIVILEGE_NOT_HELD}},
    {"BackupWrite", {ERROR_DISK_FULL, ERROR_ACCESS_DENIED}},
    {"OpenEncryptedFileRawW", {ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION}},
    {"WriteEncryptedFileRaw", {ERROR_DISK_FULL, ERROR_ACCESS_DENIED}},
    {"CloseHandle", {ERROR_DISK_FULL, ERROR_DISK_FULL}}, // a lost delayed write
    {"GetFileInformationByHandle", {ERROR_ACCESS_DENIED, ERROR_INVALID_FUNCTION}},
    {"GetFinalPathNameByHandleW", {ERROR_PATH_NOT_FOUND, ERROR_NOT_ENOUGH_MEMORY}},
    {"SetFileInformationByHandle", {ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION}},
    {"GetLongPathNameW", {ERROR_ACCESS_DENIED, ERROR_PATH_NOT_FOUND}},
};

DWORD ErrorFor(const char* row, size_t callNumber)
{
    for (const CRowErrors& r : kRowErrors)
        if (std::strcmp(r.row, row) == 0)
            return r.errors[callNumber % 2];
    return ERROR_GEN_FAILURE;
}

template <auto Slot>
using Ret = typename SysThunk<Slot>::Ret;

} // namespace

// One hook per row. A failing call returns the row's failure value without running, except
// where the resource must still be released: then it runs and reports failure anyway.
#define SWEEP_FAIL(row, failValue)                                                          \
    CSysHook<&CSysCalls::row> m_##row{[this](auto... args) -> Ret<&CSysCalls::row> {        \
        if (m_Injector.Due(#row))                                                           \
            return failValue;                                                               \
        return CSysHook<&CSysCalls::row>::Next()(args...);                                  \
    }};

struct CFaultInjector::CHooks
{
    explicit CHooks(CFaultInjector& injector) : m_Injector(injector) {}
    CFaultInjector& m_Injector;

    SWEEP_FAIL(CreateFileW, INVALID_HANDLE_VALUE)
    SWEEP_FAIL(ReadFile, FALSE)
    SWEEP_FAIL(WriteFile, FALSE)
    SWEEP_FAIL(FlushFileBuffers, FALSE)
    SWEEP_FAIL(GetFileSizeEx, FALSE)
    SWEEP_FAIL(DeleteFileW, FALSE)
    SWEEP_FAIL(MoveFileExW, FALSE)
    SWEEP_FAIL(SetFileAttributesW, FALSE)
    SWEEP_FAIL(GetFileAttributesW, INVALID_FILE_ATTRIBUTES)
    SWEEP_FAIL(GetFileAttributesExW, FALSE)
    SWEEP_FAIL(SetFileTime, FALSE)
    SWEEP_FAIL(GetDiskFreeSpaceExW, FALSE)
    SWEEP_FAIL(DeviceIoControl, FALSE)
    SWEEP_FAIL(SetKernelObjectSecurity, FALSE)
    SWEEP_FAIL(GetFileInformationByHandle, FALSE)
    SWEEP_FAIL(GetFinalPathNameByHandleW, 0)
    SWEEP_FAIL(SetFileInformationByHandle, FALSE)
    SWEEP_FAIL(GetLongPathNameW, 0)

    // The raw EFS calls answer with their error code.
    CSysHook<&CSysCalls::OpenEncryptedFileRawW> m_OpenEncryptedFileRawW{
        [this](LPCWSTR file, ULONG flags, PVOID* context) -> DWORD {
            if (m_Injector.Due("OpenEncryptedFileRawW"))
                return m_Injector.FailedError();
            return CSysHook<&CSysCalls::OpenEncryptedFileRawW>::Next()(file, flags, context);
        }};
    CSysHook<&CSysCalls::WriteEncryptedFileRaw> m_WriteEncryptedFileRaw{
        [this](PFE_IMPORT_FUNC callback, PVOID callbackContext, PVOID context) -> DWORD {
            if (m_Injector.Due("WriteEncryptedFileRaw"))
                return m_Injector.FailedError();
            return CSysHook<&CSysCalls::WriteEncryptedFileRaw>::Next()(callback, callbackContext,
                                                                         context);
        }};
    // The abort call releases the backup context: it runs even when it is to fail.
    CSysHook<&CSysCalls::BackupWrite> m_BackupWrite{
        [this](HANDLE h, LPBYTE buffer, DWORD count, LPDWORD written, BOOL abort,
               BOOL security, LPVOID* context) -> BOOL {
            if (!m_Injector.Due("BackupWrite"))
                return CSysHook<&CSysCalls::BackupWrite>::Next()(h, buffer, count, written,
                                                                 abort, security, context);
            if (abort) {
                DWORD error = g_Sys.GetLastError();
                CSysHook<&CSysCalls::BackupWrite>::Next()(h, buffer, count, written, abort,
                                                          security, context);
                g_Sys.SetLastError(error);
            }
            return FALSE;
        }};
    // A close that fails has still closed the handle.
    CSysHook<&CSysCalls::CloseHandle> m_CloseHandle{[this](HANDLE h) -> BOOL {
        if (!m_Injector.Due("CloseHandle"))
            return CSysHook<&CSysCalls::CloseHandle>::Next()(h);
        DWORD error = g_Sys.GetLastError();
        CSysHook<&CSysCalls::CloseHandle>::Next()(h);
        g_Sys.SetLastError(error);
        return FALSE;
    }};
};

#undef SWEEP_FAIL

CFaultInjector::CFaultInjector(size_t failAt)
    : m_nFailAt(failAt), m_Hooks(std::make_unique<CHooks>(*this))
{
}

CFaultInjector::~CFaultInjector() = default;

bool CFaultInjector::Due(const char* row)
{
    m_Calls.push_back(row);
    if (m_Calls.size() != m_nFailAt)
        return false;
    m_bInjected = true;
    m_pFailedRow = row;
    m_dwFailedError = ErrorFor(row, m_Calls.size());
    g_Sys.SetLastError(m_dwFailedError);
    return true;
}
