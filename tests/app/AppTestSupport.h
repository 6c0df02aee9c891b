// Doors for the repair-run tests: the run's log messages as the log reader takes its lines
// apart, and a fake service control manager, process list and process launcher, all through
// the table of calls, so that no test needs the installed product.
#pragma once
#include "app/Operations.h"
#include "tests/support/SysHooks.h"
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

// The message of each line as the log reader reads it: the text after the line tag ("" for
// the lines before a start marker), "?" for a line that is not the repair run's.
std::vector<std::wstring> MessagesOfFile(const std::string& bytes);

// Messages as the run writes them: "[ALL]:    <tag> - <text>" and the like.
std::wstring All(const std::wstring& tag, const std::wstring& text);
std::wstring Error(const std::wstring& tag, const std::wstring& text);
std::wstring Info(const std::wstring& tag, const std::wstring& text);

// Every repair-run test: the log started on the (captured) debugger output, the product
// folders empty; both are put back afterwards, since they are process-wide.
class AppTest : public ::testing::Test
{
protected:
    AppTest();
    ~AppTest() override;
    // The log's messages on the debugger so far; other debugger output is left out.
    std::vector<std::wstring> Messages() const;

    CDebugCapture m_Debugger;
};

// A service of the fake manager: its answers, chosen by the test.
struct CFakeService
{
    std::vector<DWORD> states = {SERVICE_RUNNING};  // status answers in turn; the last repeats
    int failStatusAt = 0;                           // this status query fails (from 1; 0 never)
    DWORD stateAfterControl = SERVICE_STOP_PENDING; // the stop's status block, even refused
    bool refuseControl = false;
    bool refuseStart = false;
    bool failConfig = false;
    std::optional<std::wstring> binaryPath;
    int statusCalls = 0;
};

// The service control manager. m_Events lists opens (with their access), controls, starts,
// configuration queries (with their buffer size) and closes in order; status queries are
// only counted.
class CFakeScm
{
public:
    CFakeScm();
    CFakeService& Add(const std::wstring& name, std::optional<std::wstring> binaryPath = {});
    // Every handle closed exactly once, each service before its manager, no stray call.
    ::testing::AssertionResult AllClosedInOrder() const;

    bool m_bManagerFails = false;
    std::map<std::wstring, CFakeService> m_Services;
    std::vector<std::wstring> m_Events;

private:
    CFakeService* Find(SC_HANDLE h, const std::wstring& event);

    std::map<SC_HANDLE, std::wstring> m_Open; // handle -> "manager" or service name
    std::vector<std::wstring> m_Faults;
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

// The Toolhelp process list and termination. Calls with other arguments than a full list,
// an entry of the right size, terminate-only access and exit code 0 count as faults.
class CFakeProcesses
{
public:
    explicit CFakeProcesses(std::vector<CFakeProcess> list = {});
    ::testing::AssertionResult AllClosed() const;

    std::vector<CFakeProcess> m_List;
    std::optional<HANDLE> m_SnapshotFailure; // when set, the snapshot answers this
    int m_nSnapshots = 0;
    std::vector<DWORD> m_Terminated; // pids

private:
    BOOL Entry(HANDLE snapshot, LPPROCESSENTRY32W entry);

    std::set<HANDLE> m_Open;
    std::vector<std::wstring> m_Faults;
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
        std::wstring application; // "(none)" when not given
        std::wstring commandLine;
        bool plain; // hidden window, nothing inherited, no environment, folder or attributes
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
