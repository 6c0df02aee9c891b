// The product's executables (cvhost.exe, cvtray.exe, cvconsole.exe), played for the tests
// and the demo: one program installed under each name, acting for the name it runs under.
//   <name> start     launches one resident instance of itself and returns at once
//   <name> start-stubborn  launches a resident that never listens to "stop"
//   <name> stop      asks every resident instance of its name to end and waits for them
//   <name> resident  (internal) waits until asked to end
//   <name> stubborn  (internal) waits forever; only a kill ends it
// The word is the last one on the command line: the repair run passes the program path
// unquoted, so a path with blanks arrives in several pieces.
#include "platform/WinHeaders.h"
#include <string>
#include <vector>

namespace {

const DWORD kStopWaitMs = 5000;

std::wstring OwnPath()
{
    wchar_t path[MAX_PATH] = {};
    DWORD n = GetModuleFileNameW(/*hModule=*/nullptr, path, MAX_PATH);
    return std::wstring(path, n < MAX_PATH ? n : 0);
}

std::wstring FileNameOf(const std::wstring& path)
{
    size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// A resident announces itself by an event named after its executable and process id;
// "stop" sets it. Stubborn residents create none, so "stop" leaves them running.
std::wstring StopEventName(const std::wstring& exeName, DWORD pid)
{
    return L"CorvantaSim.Stop." + exeName + L"." + std::to_wstring(pid);
}

std::vector<DWORD> OtherProcessesNamed(const std::wstring& exeName)
{
    std::vector<DWORD> pids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, /*th32ProcessID=*/0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return pids;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ProcessID != GetCurrentProcessId() &&
            _wcsicmp(entry.szExeFile, exeName.c_str()) == 0)
            pids.push_back(entry.th32ProcessID);
    }
    CloseHandle(snapshot);
    return pids;
}

void StopResidents(const std::wstring& exeName)
{
    std::vector<HANDLE> ending;
    for (DWORD pid : OtherProcessesNamed(exeName)) {
        HANDLE event = OpenEventW(EVENT_MODIFY_STATE, /*bInheritHandle=*/FALSE,
                                  StopEventName(exeName, pid).c_str());
        if (!event)
            continue;
        HANDLE process = OpenProcess(SYNCHRONIZE, /*bInheritHandle=*/FALSE, pid);
        SetEvent(event);
        CloseHandle(event);
        if (process)
            ending.push_back(process);
    }
    for (HANDLE process : ending) {
        WaitForSingleObject(process, kStopWaitMs);
        CloseHandle(process);
    }
}

int LaunchResident(const std::wstring& ownPath, const wchar_t* word)
{
    std::wstring command = L"\"" + ownPath + L"\" " + word;
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    // No standard handles: whoever started us may be waiting for its pipes to close.
    si.dwFlags = STARTF_USESTDHANDLES;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(ownPath.c_str(), &command[0], /*lpProcessAttributes=*/nullptr,
                        /*lpThreadAttributes=*/nullptr, /*bInheritHandles=*/FALSE,
                        DETACHED_PROCESS, /*lpEnvironment=*/nullptr,
                        /*lpCurrentDirectory=*/nullptr, &si, &pi))
        return 1;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return 0;
}

int RunResident(const std::wstring& exeName)
{
    HANDLE event = CreateEventW(/*lpEventAttributes=*/nullptr, /*bManualReset=*/TRUE,
                                /*bInitialState=*/FALSE,
                                StopEventName(exeName, GetCurrentProcessId()).c_str());
    if (!event)
        return 1;
    WaitForSingleObject(event, INFINITE);
    CloseHandle(event);
    return 0;
}

} // namespace

int WINAPI wWinMain(HINSTANCE /*hInstance*/, HINSTANCE /*hPrevInstance*/, LPWSTR /*lpCmdLine*/,
                    int /*nShowCmd*/)
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 2)
        return 2;
    std::wstring word = argv[argc - 1];
    std::wstring ownPath = OwnPath();
    std::wstring exeName = FileNameOf(ownPath);
    if (_wcsicmp(word.c_str(), L"stop") == 0) {
        StopResidents(exeName);
        return 0;
    }
    if (_wcsicmp(word.c_str(), L"start") == 0)
        return LaunchResident(ownPath, L"resident");
    if (_wcsicmp(word.c_str(), L"start-stubborn") == 0)
        return LaunchResident(ownPath, L"stubborn");
    if (_wcsicmp(word.c_str(), L"resident") == 0)
        return RunResident(exeName);
    if (_wcsicmp(word.c_str(), L"stubborn") == 0) {
        Sleep(INFINITE);
        return 0;
    }
    return 2;
}
