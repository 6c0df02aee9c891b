// Process helpers (see ProcessTools.h).
#include "tools/product/ProcessTools.h"
#include "platform/Owners.h"

std::vector<DWORD> FindProcesses(const std::wstring& name)
{
    std::vector<DWORD> pids;
    CUniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, /*th32ProcessID=*/0));
    if (!snapshot)
        return pids;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        if (_wcsicmp(entry.szExeFile, name.c_str()) == 0)
            pids.push_back(entry.th32ProcessID);
    }
    return pids;
}

size_t CountProcesses(const std::wstring& name)
{
    return FindProcesses(name).size();
}

size_t TerminateProcesses(const std::wstring& name)
{
    size_t terminated = 0;
    for (DWORD pid : FindProcesses(name)) {
        if (pid == GetCurrentProcessId())
            continue;
        CUniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE,
                                          /*bInheritHandle=*/FALSE, pid));
        if (!process || !TerminateProcess(process.get(), /*uExitCode=*/1))
            continue;
        WaitForSingleObject(process.get(), 5000);
        ++terminated;
    }
    return terminated;
}

bool WaitForProcessCount(const std::wstring& name, bool wantRunning, DWORD timeoutMs)
{
    const DWORD step = 100;
    for (DWORD waited = 0;; waited += step) {
        if ((CountProcesses(name) > 0) == wantRunning)
            return true;
        if (waited >= timeoutMs)
            return false;
        Sleep(step);
    }
}

bool StartProgram(const std::wstring& program, const std::wstring& commandLine,
                  CProcessInfo& process, DWORD creationFlags, HANDLE standardOutput)
{
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    CUniqueFile nul(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, /*hTemplateFile=*/nullptr));
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = nul.get();
    si.hStdOutput = standardOutput ? standardOutput : nul.get();
    si.hStdError = nul.get();
    std::wstring line = commandLine;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(program.empty() ? nullptr : program.c_str(), &line[0],
                        /*lpProcessAttributes=*/nullptr,
                        /*lpThreadAttributes=*/nullptr, /*bInheritHandles=*/TRUE,
                        creationFlags, /*lpEnvironment=*/nullptr,
                        /*lpCurrentDirectory=*/nullptr, &si, &pi))
        return false;
    process.Take(pi);
    return true;
}

CRunResult RunProgram(const std::wstring& program, const std::wstring& commandLine,
                      DWORD timeoutMs, bool catchOutput)
{
    CRunResult result;
    CProcessInfo process;
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    CUniqueHandle readEnd, writeEnd;
    if (catchOutput && (!CreatePipe(readEnd.put(), writeEnd.put(), &inheritable, /*nSize=*/0) ||
                        !SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0))) {
        result.m_dwError = GetLastError();
        return result;
    }
    if (!StartProgram(program, commandLine, process, CREATE_NO_WINDOW, writeEnd.get())) {
        result.m_dwError = GetLastError();
        return result;
    }
    result.m_bStarted = true;
    result.m_dwProcessId = process.m_dwProcessId;
    writeEnd.reset(); // the child holds the only write end now: the reads end when it does
    char chunk[4096];
    DWORD got = 0;
    while (catchOutput && ReadFile(readEnd.get(), chunk, sizeof(chunk), &got, nullptr) && got > 0)
        result.m_sOutput.append(chunk, got);
    result.m_bEnded = WaitForSingleObject(process.m_hProcess.get(), timeoutMs) == WAIT_OBJECT_0;
    GetExitCodeProcess(process.m_hProcess.get(), &result.m_dwExitCode);
    return result;
}
