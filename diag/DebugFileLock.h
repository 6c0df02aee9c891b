// The debug file's lock between runs. Two runs of the program can write one log at the same
// moment (the second only to say that it does nothing): each takes this lock for the few
// calls that handle one line (the size, a trim, the byte-order mark of an empty file, the
// append), so that a new log gets exactly one mark and a trim never cuts another run's
// line. The lock is a byte range far past any end the file can have, so that it keeps no
// one from reading or writing the lines themselves.
#pragma once
#include "platform/WinHeaders.h"

class CDebugFileLock
{
public:
    // Tries for waitMs (0: once). A lock held longer is not another run writing a line; the
    // line is written without it.
    CDebugFileLock(HANDLE file, unsigned waitMs);
    // Declared after the file's owner, so that the lock goes before the handle closes.
    ~CDebugFileLock();
    CDebugFileLock(const CDebugFileLock&) = delete;
    CDebugFileLock& operator=(const CDebugFileLock&) = delete;

    bool Held() const { return m_bHeld; }

private:
    HANDLE m_hFile;
    bool m_bHeld = false;
};
