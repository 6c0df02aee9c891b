// A program run to its end with its standard output caught, for the tools, the tests and the
// benchmarks. Like the file helpers it calls Windows directly, past the table of calls.
#pragma once
#include "platform/WinHeaders.h"
#include <string>

struct CProgramOutput
{
    bool m_bStarted = false;
    DWORD m_dwExitCode = 0xFFFFFFFF; // stays so when it did not end in time
    std::string m_sOutput;           // all it wrote to its standard output
};

// Runs the command line (passed as is, no window) with its standard output on a pipe, its input
// the null device and its error output ours. The output is read until every holder of the pipe
// has ended; the end of the program itself is then awaited up to timeoutMs.
CProgramOutput RunForOutput(std::wstring commandLine, DWORD timeoutMs);
