// A program's standard output caught (see ProgramOutput.h).
#include "tools/common/ProgramOutput.h"

CProgramOutput RunForOutput(std::wstring commandLine, DWORD timeoutMs)
{
    CProgramOutput result;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE read = nullptr, write = nullptr;
    if (!CreatePipe(&read, &write, &inherit, 0))
        return result;
    SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = write;
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    si.hStdInput = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                               OPEN_EXISTING, 0, nullptr);
    PROCESS_INFORMATION pi = {};
    result.m_bStarted = CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                                       nullptr, nullptr, &si, &pi);
    CloseHandle(write); // the child holds the only write end now: the read ends when it does
    if (si.hStdInput != INVALID_HANDLE_VALUE)
        CloseHandle(si.hStdInput);
    char buffer[4096];
    DWORD got = 0;
    while (result.m_bStarted && ReadFile(read, buffer, sizeof buffer, &got, nullptr) && got > 0)
        result.m_sOutput.append(buffer, got);
    CloseHandle(read);
    if (result.m_bStarted) {
        if (WaitForSingleObject(pi.hProcess, timeoutMs) == WAIT_OBJECT_0)
            GetExitCodeProcess(pi.hProcess, &result.m_dwExitCode);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    return result;
}
