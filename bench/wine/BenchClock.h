// The benchmark's stopwatch: QueryPerformanceCounter, read directly (the restore's own
// clock rows in the table of calls are left alone).
#pragma once
#include "platform/WinHeaders.h"

class CStopwatch
{
public:
    CStopwatch() { Restart(); }
    void Restart() { QueryPerformanceCounter(&m_Start); }
    double Seconds() const
    {
        LARGE_INTEGER now;
        LARGE_INTEGER frequency;
        QueryPerformanceCounter(&now);
        QueryPerformanceFrequency(&frequency);
        return double(now.QuadPart - m_Start.QuadPart) / double(frequency.QuadPart);
    }

private:
    LARGE_INTEGER m_Start;
};
