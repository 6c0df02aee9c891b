// Doors for the repair-run tests: the run's log messages without their line fields, and a
// fake service control manager, process list and process launcher, all through the table
// of calls, so that no test needs the installed product.
#pragma once
#include "app/Operations.h"
#include "tests/support/SysHooks.h"
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

// The message of one log line: the fields "[PID:..][TID:..][time][~][SANARIX]" in front
// and the line end removed; nothing when the line does not have that form.
std::optional<std::wstring> MessageOfLine(const std::wstring& line);

// The debug file's text (UTF-8 with byte-order mark, CR LF) as lines.
std::vector<std::wstring> LinesOfFile(const std::string& bytes);

// Low 32 bits of a handle as the log shows them ("0x%0.8X").
std::wstring HandleText(HANDLE h);

// Every repair-run test: the log started on the (captured) debugger output, the product
// folders empty; both are put back afterwards, since they are process-wide.
class AppTest : public ::testing::Test
{
protected:
    AppTest();
    ~AppTest() override;
    // The log messages seen so far, in order; other debugger output is left out.
    std::vector<std::wstring> Messages() const;

    CDebugCapture m_Debugger;
};

// A service of the fake manager and what was done to it.
struct CFakeService
{
    std::vector<DWORD> states = {SERVICE_RUNNING}; // status answers in turn; the last repeats
    int failStatusAt = 0;                          // this status query fails (from 1; 0 never)
    bool refuseControl = false;
    DWORD stateAfterControl = SERVICE_STOP_PENDING;
    bool refuseStart = false;
    bool failConfig = false;
    std::optional<std::wstring> binaryPath;

    int statusCalls = 0;
    std::vector<DWORD> controls;
    int starts = 0;
    std::vector<DWORD> configBufferSizes;
};

// The service control manager: opens hand out fake handles, closes are checked.
class CFakeScm
{
public:
    CFakeScm();
    CFakeService& Add(const std::wstring& name, std::optional<std::wstring> binaryPath = {});
    // Every handle closed exactly once, each service before its manager.
    ::testing::AssertionResult AllClosedInOrder() const;

    bool m_bManagerFails = false;
    std::map<std::wstring, CFakeService> m_Services;
    std::vector<DWORD> m_ManagerAccess;
    std::vector<std::pair<std::wstring, DWORD>> m_ServiceOpens; // name, access
    std::vector<std::wstring> m_Events;                         // opens and closes in order
    std::vector<std::wstring> m_Faults; // closes of unknown or closed handles, stray calls

private:
    CFakeService* Find(SC_HANDLE h);

    std::map<SC_HANDLE, std::wstring> m_Open; // handle -> "manager" or service name
    std::map<SC_HANDLE, SC_HANDLE> m_ManagerOf;
    uintptr_t m_uNext = 0x51000000;
    CSysHook<&CSysCalls::OpenSCManagerW> m_openManager;
    CSysHook<&CSysCalls::OpenServiceW> m_openService;
    CSysHook<&CSysCalls::QueryServiceStatus> m_status;
    CSysHook<&CSysCalls::ControlService> m_control;
    CSysHook<&CSysCalls::StartServiceW> m_start;
    CSysHook<&CSysCalls::QueryServiceConfigW> m_config;
    CSysHook<&CSysCalls::CloseServiceHandle> m_close;
};

// One running process of the fake list.
struct CFakeProcess
{
    std::wstring exe;
    DWORD pid = 0;
    bool refuseOpen = false;      // OpenProcess answers null
    bool refuseTerminate = false; // TerminateProcess fails
};

// The Toolhelp process list and process termination.
class CFakeProcesses
{
public:
    explicit CFakeProcesses(std::vector<CFakeProcess> list = {});
    bool AllClosed() const { return m_Open.empty() && m_nFaults == 0; }

    std::vector<CFakeProcess> m_List;
    std::optional<HANDLE> m_SnapshotFailure; // when set, the snapshot answers this
    int m_nSnapshots = 0;
    std::vector<DWORD> m_EntrySizes;                     // dwSize handed to Process32FirstW/NextW
    std::vector<std::tuple<DWORD, BOOL, DWORD>> m_Opens; // access, inherit, pid
    std::vector<DWORD> m_Terminated;                     // pids, with exit code 0
    std::vector<UINT> m_ExitCodes;

private:
    std::set<HANDLE> m_Open;
    int m_nFaults = 0; // stray closes or calls with unexpected arguments
    size_t m_nCursor = 0;
    CSysHook<&CSysCalls::CreateToolhelp32Snapshot> m_snapshot;
    CSysHook<&CSysCalls::Process32FirstW> m_first;
    CSysHook<&CSysCalls::Process32NextW> m_next;
    CSysHook<&CSysCalls::OpenProcess> m_openProcess;
    CSysHook<&CSysCalls::TerminateProcess> m_terminate;
    CSysHook<&CSysCalls::CloseHandle> m_closeHandle;
};

// CreateProcessW recorded; a started "process" is a real event, unsignalled while it
// "runs" (its thread another), so that waits and closes work on real handles.
class CFakeLauncher
{
public:
    struct Call
    {
        std::optional<std::wstring> application;
        std::wstring commandLine;
        bool processAttributes, threadAttributes, environment;
        BOOL inherit;
        DWORD flags;
        std::optional<std::wstring> currentDirectory;
        STARTUPINFOW startup;
    };

    CFakeLauncher();
    ~CFakeLauncher();
    bool ProcessClosed() const { return m_Closed.count(m_hProcess) && m_Closed.count(m_hThread); }

    DWORD m_dwFailError = 0;     // CreateProcessW fails with this error when not 0
    bool m_bExitsAtOnce = false; // the process handle is signalled from the start
    std::vector<Call> m_Calls;
    HANDLE m_hProcess = nullptr;
    HANDLE m_hThread = nullptr;

private:
    std::set<HANDLE> m_Closed;
    std::vector<HANDLE> m_Created;
    CSysHook<&CSysCalls::CreateProcessW> m_create;
    CSysHook<&CSysCalls::CloseHandle> m_close;
};
