// The product's user-mode processes: run an executable of the install folder with "stop"
// or "start" and wait for it; terminate every process of a given executable name.
#include "app/Operations.h"
#include "app/PathText.h"
#include "diag/DebugLog.h"
#include "platform/Owners.h"
#include <cwchar>

namespace {

const size_t kCommandChars = 260;

// Runs "<install folder>\<exe> <word>" hidden and waits up to the time-out. The full
// path also goes in as the application name: with none, Windows would try every blank
// of the unquoted path as the end of the program name ("C:\Program.exe", ...) and could
// run a planted file with administrator rights. The command line itself stays as logged.
bool RunProductCommand(const wchar_t* tag, const wchar_t* exe, const wchar_t* word,
                       DWORD timeout)
{
    Log(DBG_ALL, tag, L"szCVApp=%s", exe);
    // Without its folder the command would be "\<exe>" at the root of the current drive,
    // where ordinary users can put files: run nothing rather than whatever lies there.
    if (g_sCVPath.empty()) {
        Log(DBG_ERROR, tag, L"Install folder unknown, nothing run");
        return false;
    }
    std::wstring path = g_sCVPath;
    std::wstring command = path;
    bool fits = AppendPathFits(path, exe);
    AppendPath(path, exe);
    command = path + L" " + word;
    if (!fits || command.size() + 1 > kCommandChars) {
        Log(DBG_ERROR, tag, L"Command too long, szCVApp=%s", exe);
        return false;
    }
    wchar_t commandLine[kCommandChars] = {};
    wcsncpy(commandLine, command.c_str(), kCommandChars - 1);
    Log(DBG_ALL, tag, L"szCommand=%s", commandLine);

    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION pi = {};
    if (!g_Sys.CreateProcessW(path.c_str(), commandLine, /*lpProcessAttributes=*/nullptr,
                              /*lpThreadAttributes=*/nullptr, /*bInheritHandles=*/FALSE,
                              NORMAL_PRIORITY_CLASS, /*lpEnvironment=*/nullptr,
                              /*lpCurrentDirectory=*/nullptr, &si, &pi)) {
        DWORD error = g_Sys.GetLastError();
        Log(DBG_ERROR, tag, L"CreateProcess failed, command=%s error=%d", commandLine,
            static_cast<int>(error));
        return false;
    }
    CProcessInfo process;
    process.Take(pi);
    // The handle value is logged as its low 32 bits, as the line has always shown it.
    unsigned handleBits = static_cast<unsigned>(reinterpret_cast<ULONG_PTR>(pi.hProcess));
    Log(DBG_INFO, tag, L"WaitForSingleObject handle=0x%0.8X ...", handleBits);
    g_Sys.WaitForSingleObject(process.m_hProcess.get(), timeout);
    Log(DBG_INFO, tag, L"WaitForSingleObject handle=0x%0.8X ok", handleBits);
    return true;
}

} // namespace

bool StopCVApp(const wchar_t* szCVApp, DWORD dwTimeout)
{
    if (!RunProductCommand(L"StopCVApp", szCVApp, L"stop", dwTimeout))
        return false;
    KillProcess(szCVApp);
    return true;
}

bool StartCVApp(const wchar_t* szCVApp, DWORD dwTimeout)
{
    return RunProductCommand(L"StartCVApp", szCVApp, L"start", dwTimeout);
}

bool KillProcess(const wchar_t* szProcess)
{
    Log(DBG_ALL, L"KillProcess", L"szProcess=%s", szProcess);
    CUniqueFile snapshot(g_Sys.CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, /*th32ProcessID=*/0));
    if (!snapshot)
        return false;
    int killed = 0;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = g_Sys.Process32FirstW(snapshot.get(), &entry); more;
         more = g_Sys.Process32NextW(snapshot.get(), &entry)) {
        if (!NameEqualsNoCase(entry.szExeFile, szProcess))
            continue;
        CUniqueHandle process(g_Sys.OpenProcess(PROCESS_TERMINATE, /*bInheritHandle=*/FALSE,
                                                entry.th32ProcessID));
        if (process && g_Sys.TerminateProcess(process.get(), /*uExitCode=*/0))
            ++killed;
    }
    return killed >= 1;
}
