// The debug log's short waits: for the lock another run holds while it writes a line, or for
// a program that holds the file open without sharing it for writing.
#pragma once
#include "platform/SysCalls.h"

// Tries attempt until it succeeds or waitMs have passed (0: once), 1 ms apart, on the table's
// clock; true when it succeeded.
template <class Attempt>
bool TryWithin(unsigned waitMs, Attempt attempt)
{
    const ULONGLONG start = g_Sys.GetTickCount64();
    for (;;) {
        if (attempt())
            return true;
        if (g_Sys.GetTickCount64() - start >= waitMs)
            return false;
        g_Sys.Sleep(1);
    }
}
