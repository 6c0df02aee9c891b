// The table of Windows calls: every Windows function the program uses is called through
// g_Sys, one typed row per function, named exactly as the function. By default a row
// points at the real function; tests swap rows (tests/support/SysHooks.h) to fail a call,
// record its arguments or run a virtual clock, and on Wine the few missing calls get our
// own stand-ins (platform/WineStandins.cpp).
#pragma once
#include "platform/WinHeaders.h"
#include <cstddef>

// The rows, in a fixed order; add new rows at the end of their group. A row wrapped in
// SANARIX_LATE names a function that some supported Windows versions lack: its default
// looks the function up when first called instead of importing it, so the program still
// starts there.
#define SANARIX_LATE(X, fn) X(fn)
#define SANARIX_SYSCALLS(X)                                                                \
    /* errors, time, ids, debugger */                                                      \
    X(GetLastError) X(SetLastError) X(Sleep) X(GetTickCount64) X(GetLocalTime)             \
    X(OutputDebugStringW)                                                                  \
    X(GetCurrentProcessId) X(GetCurrentThreadId) X(GetCurrentProcess)                      \
    X(GetModuleHandleW) X(GetProcAddress)                                                  \
    SANARIX_LATE(X, SetDefaultDllDirectories) X(SetDllDirectoryW)                          \
    /* locks */                                                                            \
    X(InitializeCriticalSection) X(EnterCriticalSection) X(LeaveCriticalSection)           \
    X(DeleteCriticalSection)                                                               \
    /* handles and waits */                                                                \
    X(CloseHandle) X(WaitForSingleObject) X(CreateMutexW) X(ReleaseMutex)                  \
    /* tokens and privileges */                                                            \
    X(OpenProcessToken) X(LookupPrivilegeValueW) X(AdjustTokenPrivileges)                  \
    /* object security and private namespaces */                                           \
    X(CreateWellKnownSid) X(EqualSid) X(GetSecurityInfo)                                   \
    X(ConvertStringSecurityDescriptorToSecurityDescriptorW) X(LocalFree)                   \
    X(CreateBoundaryDescriptorW) X(AddSIDToBoundaryDescriptor) X(DeleteBoundaryDescriptor) \
    X(CreatePrivateNamespaceW) X(OpenPrivateNamespaceW) X(ClosePrivateNamespace)           \
    /* processes */                                                                        \
    X(CreateProcessW) X(CreateToolhelp32Snapshot) X(Process32FirstW) X(Process32NextW)     \
    X(OpenProcess) X(TerminateProcess)                                                     \
    /* service control manager */                                                          \
    X(OpenSCManagerW) X(OpenServiceW) X(QueryServiceStatus) X(ControlService)              \
    X(StartServiceW) X(QueryServiceConfigW) X(CloseServiceHandle)                          \
    /* registry */                                                                         \
    X(RegOpenKeyExW) X(RegQueryValueExW) X(RegDeleteValueW) X(RegCloseKey)                 \
    /* shell */                                                                            \
    X(SHGetFolderPathW) X(SHFileOperationW)                                                \
    /* files */                                                                            \
    X(FindFirstFileW) X(FindNextFileW) X(FindClose)                                        \
    X(CreateFileW) X(ReadFile) X(WriteFile) X(FlushFileBuffers) X(SetFilePointerEx)        \
    X(GetFileSizeEx) X(DeleteFileW) X(MoveFileExW) X(SetFileAttributesW)                   \
    X(GetFileAttributesW) X(SetFileTime) X(GetDiskFreeSpaceExW) X(DeviceIoControl)         \
    X(SetKernelObjectSecurity)                                                             \
    X(GetFileInformationByHandle) X(GetFinalPathNameByHandleW) X(SetEndOfFile)             \
    X(SetFileInformationByHandle) X(CompareStringOrdinal) X(GetLongPathNameW)              \
    X(LockFileEx) X(UnlockFileEx)                                                          \
    /* backup restore and raw EFS import */                                                \
    X(BackupWrite) X(OpenEncryptedFileRawW) X(WriteEncryptedFileRaw)                      \
    X(CloseEncryptedFileRaw)

struct CSysCalls
{
#define SANARIX_SYSCALL_FIELD(fn) decltype(&::fn) fn;
    SANARIX_SYSCALLS(SANARIX_SYSCALL_FIELD)
#undef SANARIX_SYSCALL_FIELD
};

// The live table. Call sites read g_Sys.CreateFileW(...).
extern CSysCalls g_Sys;

// Restores every row to the real function.
void SysRestoreAllCalls();

// True when the row currently points at its real function.
bool SysCallIsDefault(const char* name);
