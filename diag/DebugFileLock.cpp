// The debug file's lock between runs (see DebugFileLock.h).
#include "diag/DebugFileLock.h"
#include "platform/SysCalls.h"

namespace {

// One byte at 2^62: no log comes near it, and the offset is valid for every file system's
// locks (the range neither wraps nor reaches the sign bit).
OVERLAPPED LockRange()
{
    OVERLAPPED at = {};
    at.OffsetHigh = 0x40000000;
    return at;
}

} // namespace

CDebugFileLock::CDebugFileLock(HANDLE file, unsigned waitMs) : m_hFile(file)
{
    const ULONGLONG start = g_Sys.GetTickCount64();
    for (;;) {
        OVERLAPPED at = LockRange();
        m_bHeld = g_Sys.LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY,
                                   /*dwReserved=*/0, /*nNumberOfBytesToLockLow=*/1,
                                   /*nNumberOfBytesToLockHigh=*/0, &at) != FALSE;
        if (m_bHeld || g_Sys.GetTickCount64() - start >= waitMs)
            return;
        g_Sys.Sleep(1);
    }
}

CDebugFileLock::~CDebugFileLock()
{
    if (!m_bHeld)
        return;
    OVERLAPPED at = LockRange();
    g_Sys.UnlockFileEx(m_hFile, /*dwReserved=*/0, 1, 0, &at);
}
