// Process helpers of the set-up, the tests and the benchmarks: find, count and end processes
// by executable file name, and run a program to its end without handing it our pipes, its
// output caught where asked.
#pragma once
#include "platform/Owners.h"
#include "platform/WinHeaders.h"
#include <string>
#include <vector>

// Ids of the running processes whose executable file name equals name (case ignored).
std::vector<DWORD> FindProcesses(const std::wstring& name);
size_t CountProcesses(const std::wstring& name);

// Terminates every process of that name and waits until each has ended; returns how many
// were terminated.
size_t TerminateProcesses(const std::wstring& name);

// Waits up to timeoutMs until no process of that name runs (or, with wantRunning, until
// at least one does). Polls, since there is nothing to wait on for processes not yet seen.
bool WaitForProcessCount(const std::wstring& name, bool wantRunning, DWORD timeoutMs);

struct CRunResult
{
    bool m_bStarted = false;
    bool m_bEnded = false;
    DWORD m_dwProcessId = 0;
    DWORD m_dwExitCode = 0;
    DWORD m_dwError = 0; // CreateProcessW's error when it did not start
    std::string m_sOutput; // what it wrote to its standard output, when that was caught
};

// Starts program with the given command line (passed as is; an empty program: the line's
// first word names it, searched for as CreateProcess does), its standard handles the null
// device, or its output standardOutput where one is given; false with the last error when it
// did not start. CREATE_SUSPENDED among the flags lets a caller start several programs at one
// moment.
bool StartProgram(const std::wstring& program, const std::wstring& commandLine,
                  CProcessInfo& process, DWORD creationFlags = 0, HANDLE standardOutput = nullptr);

// Runs program (as StartProgram, without a window) and waits up to timeoutMs for it to end.
// Its standard handles are the null device: a child that outlives us must not keep the pipes
// of whoever started us open. With catchOutput, its standard output is a pipe instead, read
// into m_sOutput until every holder of the pipe has ended, before the wait.
CRunResult RunProgram(const std::wstring& program, const std::wstring& commandLine,
                      DWORD timeoutMs, bool catchOutput = false);
