// One of the product's services, played for the tests and the demo. The same program is
// installed under one file name per service (cvhostsvc.exe, cvupdate.exe, ...), so that a
// kill by executable name hits only that service's process. The words after the quoted
// program path in the binary path choose how it behaves:
//   normal            starts and stops at once
//   ignore-stop       accepts the stop request and goes on running
//   hang-stop         answers the stop request with STOP_PENDING and never gets further
//   slow-start=<ms>   spends <ms> in START_PENDING, with check points
//   slow-stop=<ms>    spends <ms> in STOP_PENDING, with check points
#include "platform/WinHeaders.h"
#include <cwchar>
#include <cwctype>

namespace {

const DWORD kCheckPointMs = 500;

struct CServiceBehaviour
{
    bool m_bIgnoreStop = false;
    bool m_bHangStop = false;
    DWORD m_dwStartMs = 0;
    DWORD m_dwStopMs = 0;
};

CServiceBehaviour g_Behaviour;
SERVICE_STATUS_HANDLE g_hStatus = nullptr;
SERVICE_STATUS g_Status = {};
CRITICAL_SECTION g_csStatus;
HANDLE g_hStopRequested = nullptr;

bool StartsWith(const wchar_t* text, const wchar_t* prefix, const wchar_t** rest)
{
    size_t n = wcslen(prefix);
    if (_wcsnicmp(text, prefix, n) != 0)
        return false;
    *rest = text + n;
    return true;
}

void ParseBehaviour(int argc, wchar_t** argv)
{
    for (int i = 1; i < argc; ++i) {
        const wchar_t* value = nullptr;
        if (_wcsicmp(argv[i], L"ignore-stop") == 0)
            g_Behaviour.m_bIgnoreStop = true;
        else if (_wcsicmp(argv[i], L"hang-stop") == 0)
            g_Behaviour.m_bHangStop = true;
        else if (StartsWith(argv[i], L"slow-start=", &value))
            g_Behaviour.m_dwStartMs = static_cast<DWORD>(wcstoul(value, nullptr, 10));
        else if (StartsWith(argv[i], L"slow-stop=", &value))
            g_Behaviour.m_dwStopMs = static_cast<DWORD>(wcstoul(value, nullptr, 10));
    }
}

void Report(DWORD state, DWORD checkPoint, DWORD waitHint)
{
    EnterCriticalSection(&g_csStatus);
    g_Status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    g_Status.dwCurrentState = state;
    g_Status.dwControlsAccepted =
        state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    g_Status.dwWin32ExitCode = NO_ERROR;
    g_Status.dwCheckPoint = checkPoint;
    g_Status.dwWaitHint = waitHint;
    SetServiceStatus(g_hStatus, &g_Status);
    LeaveCriticalSection(&g_csStatus);
}

// Stays in a pending state for the given time, moving the check point on so that a
// patient controller sees progress.
void StayPending(DWORD state, DWORD totalMs)
{
    DWORD checkPoint = 1;
    for (DWORD spent = 0; spent < totalMs; spent += kCheckPointMs) {
        Report(state, checkPoint++, kCheckPointMs * 2);
        Sleep(kCheckPointMs < totalMs - spent ? kCheckPointMs : totalMs - spent);
    }
}

DWORD WINAPI ControlHandler(DWORD control, DWORD /*eventType*/, LPVOID /*eventData*/,
                            LPVOID /*context*/)
{
    switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
        if (!g_Behaviour.m_bIgnoreStop)
            SetEvent(g_hStopRequested);
        else
            Report(SERVICE_RUNNING, 0, 0);
        return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
        return NO_ERROR;
    default:
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
}

void WINAPI ServiceMain(DWORD argc, LPWSTR* argv)
{
    const wchar_t* name = argc > 0 ? argv[0] : L"";
    g_hStatus = RegisterServiceCtrlHandlerExW(name, ControlHandler, /*lpContext=*/nullptr);
    if (!g_hStatus)
        return;
    StayPending(SERVICE_START_PENDING, g_Behaviour.m_dwStartMs);
    Report(SERVICE_RUNNING, 0, 0);

    WaitForSingleObject(g_hStopRequested, INFINITE);
    if (g_Behaviour.m_bHangStop) {
        Report(SERVICE_STOP_PENDING, 1, 0);
        Sleep(INFINITE);
    }
    StayPending(SERVICE_STOP_PENDING, g_Behaviour.m_dwStopMs);
    Report(SERVICE_STOPPED, 0, 0);
}

} // namespace

int WINAPI wWinMain(HINSTANCE /*hInstance*/, HINSTANCE /*hPrevInstance*/, LPWSTR /*lpCmdLine*/,
                    int /*nShowCmd*/)
{
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv)
        ParseBehaviour(argc, argv);
    InitializeCriticalSection(&g_csStatus);
    g_hStopRequested = CreateEventW(/*lpEventAttributes=*/nullptr, /*bManualReset=*/TRUE,
                                    /*bInitialState=*/FALSE, /*lpName=*/nullptr);
    // An own-process service: the control manager ignores the name in the table.
    wchar_t name[] = L"CorvantaService";
    SERVICE_TABLE_ENTRYW table[] = {{name, ServiceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherW(table))
        return 1;
    return 0;
}
