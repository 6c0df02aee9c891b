// The debug file's lock between runs (see DebugFileLock.h).
#include "diag/DebugFileLock.h"
#include "diag/DebugWait.h"

namespace {

// One byte at 2^62: no log comes near it, and the range neither wraps nor reaches the sign
// bit of a file offset.
OVERLAPPED LockRange()
{
    OVERLAPPED at = {};
    at.OffsetHigh = 0x40000000;
    return at;
}

} // namespace

CDebugFileLock::CDebugFileLock(HANDLE file, unsigned waitMs) : m_hFile(file)
{
    m_bHeld = TryWithin(waitMs, [file] {
        OVERLAPPED at = LockRange();
        return g_Sys.LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY,
                                /*dwReserved=*/0, /*nNumberOfBytesToLockLow=*/1,
                                /*nNumberOfBytesToLockHigh=*/0, &at) != FALSE;
    });
}

CDebugFileLock::~CDebugFileLock()
{
    if (!m_bHeld)
        return;
    OVERLAPPED at = LockRange();
    g_Sys.UnlockFileEx(m_hFile, /*dwReserved=*/0, 1, 0, &at);
}
