// The fault sweep's injector (see FaultSweep.h).
#include "tests/reliability/FaultSweep.h"

namespace {

template <auto Slot>
using Ret = typename SysThunk<Slot>::Ret;

} // namespace

// One hook per row, with the two errors the row meets in the field (a virus scanner or
// another process holding the file, missing rights, a full disk, a bad sector, a volume
// that cannot compress), taken in turn. A failing call returns the row's failure value
// without running.
#define SWEEP_FAIL(row, failValue, error1, error2)                                       \
    CSysHook<&CSysCalls::row> m_##row{[this](auto... args) -> Ret<&CSysCalls::row> {     \
        if (m_Injector.Due(#row, error1, error2))                                        \
            return failValue;                                                            \
        return CSysHook<&CSysCalls::row>::Next()(args...);                               \
    }};

struct CFaultInjector::CHooks
{
    explicit CHooks(CFaultInjector& injector) : m_Injector(injector) {}
    CFaultInjector& m_Injector;

    SWEEP_FAIL(CreateFileW, INVALID_HANDLE_VALUE, ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION)
    SWEEP_FAIL(ReadFile, FALSE, ERROR_READ_FAULT, ERROR_LOCK_VIOLATION)
    SWEEP_FAIL(WriteFile, FALSE, ERROR_DISK_FULL, ERROR_WRITE_FAULT)
    SWEEP_FAIL(FlushFileBuffers, FALSE, ERROR_DISK_FULL, ERROR_WRITE_FAULT)
    SWEEP_FAIL(GetFileSizeEx, FALSE, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED)
    SWEEP_FAIL(DeleteFileW, FALSE, ERROR_SHARING_VIOLATION, ERROR_ACCESS_DENIED)
    SWEEP_FAIL(MoveFileExW, FALSE, ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION)
    SWEEP_FAIL(GetFileAttributesW, INVALID_FILE_ATTRIBUTES, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED)
    SWEEP_FAIL(SetFileTime, FALSE, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED)
    SWEEP_FAIL(GetDiskFreeSpaceExW, FALSE, ERROR_ACCESS_DENIED, ERROR_NOT_READY)
    SWEEP_FAIL(DeviceIoControl, FALSE, ERROR_INVALID_FUNCTION, ERROR_ACCESS_DENIED)
    SWEEP_FAIL(SetKernelObjectSecurity, FALSE, ERROR_ACCESS_DENIED, ERROR_PRIVILEGE_NOT_HELD)
    SWEEP_FAIL(GetFileInformationByHandle, FALSE, ERROR_ACCESS_DENIED, ERROR_INVALID_FUNCTION)
    SWEEP_FAIL(GetFinalPathNameByHandleW, 0, ERROR_PATH_NOT_FOUND, ERROR_NOT_ENOUGH_MEMORY)
    SWEEP_FAIL(SetFileInformationByHandle, FALSE, ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION)
    SWEEP_FAIL(GetLongPathNameW, 0, ERROR_ACCESS_DENIED, ERROR_PATH_NOT_FOUND)

    // The raw EFS calls answer with their error code.
    CSysHook<&CSysCalls::OpenEncryptedFileRawW> m_OpenEncryptedFileRawW{
        [this](LPCWSTR file, ULONG flags, PVOID* context) -> DWORD {
            if (m_Injector.Due("OpenEncryptedFileRawW", ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION))
                return m_Injector.FailedError();
            return CSysHook<&CSysCalls::OpenEncryptedFileRawW>::Next()(file, flags, context);
        }};
    CSysHook<&CSysCalls::WriteEncryptedFileRaw> m_WriteEncryptedFileRaw{
        [this](PFE_IMPORT_FUNC callback, PVOID callbackContext, PVOID context) -> DWORD {
            if (m_Injector.Due("WriteEncryptedFileRaw", ERROR_DISK_FULL, ERROR_ACCESS_DENIED))
                return m_Injector.FailedError();
            return CSysHook<&CSysCalls::WriteEncryptedFileRaw>::Next()(callback, callbackContext, context);
        }};
    // The abort call releases the backup context, and a close that fails has still closed
    // the handle (a lost delayed write): both run even when they are to fail.
    CSysHook<&CSysCalls::BackupWrite> m_BackupWrite{[this](HANDLE h, LPBYTE buffer, DWORD count,
                                                           LPDWORD written, BOOL abort, BOOL security,
                                                           LPVOID* context) -> BOOL {
        if (!m_Injector.Due("BackupWrite", ERROR_DISK_FULL, ERROR_ACCESS_DENIED))
            return CSysHook<&CSysCalls::BackupWrite>::Next()(h, buffer, count, written, abort, security,
                                                             context);
        if (abort)
            CallKeepingError<&CSysCalls::BackupWrite>(true, h, buffer, count, written, abort, security,
                                                      context);
        return FALSE;
    }};
    CSysHook<&CSysCalls::CloseHandle> m_CloseHandle{[this](HANDLE h) -> BOOL {
        bool fail = m_Injector.Due("CloseHandle", ERROR_DISK_FULL, ERROR_DISK_FULL);
        return CallKeepingError<&CSysCalls::CloseHandle>(fail, h) && !fail;
    }};

    // Runs the call; after an injected failure its own last error does not count.
    template <auto Slot, class... A>
    static Ret<Slot> CallKeepingError(bool failed, A... args)
    {
        DWORD error = g_Sys.GetLastError();
        Ret<Slot> result = CSysHook<Slot>::Next()(args...);
        if (failed)
            g_Sys.SetLastError(error);
        return result;
    }
};

#undef SWEEP_FAIL

CFaultInjector::CFaultInjector(size_t failAt)
    : m_nFailAt(failAt), m_Hooks(std::make_unique<CHooks>(*this))
{
}

CFaultInjector::~CFaultInjector() = default;

bool CFaultInjector::Due(const char* row, DWORD error1, DWORD error2)
{
    if (++m_nCalls != m_nFailAt)
        return false;
    m_pFailedRow = row;
    m_dwFailedError = m_nCalls % 2 ? error2 : error1;
    g_Sys.SetLastError(m_dwFailedError);
    return true;
}
