// Repair-run test helpers: the log's messages as the log reader parses them, and fakes of the
// service control manager and the process list through the table of calls.
#pragma once
#include "app/Operations.h"
#include "tests/support/SysHooks.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <cwchar>
#include <optional>
#include <set>

// Each line's text after its line tag ("" before a start marker; "?": not the run's line).
std::vector<std::wstring> MessagesOfFile(const std::string& bytes);

// Messages as the run writes them: "[ALL]:    <tag> - <text>" and the like.
inline std::wstring All(const std::wstring& tag, const std::wstring& s) { return L"[ALL]:    " + tag + L" - " + s; }
inline std::wstring Error(const std::wstring& tag, const std::wstring& s) { return L"[ERROR]:  " + tag + L" - " + s; }
inline std::wstring Info(const std::wstring& tag, const std::wstring& s) { return L"[INFO]:   " + tag + L" - " + s; }

// The log started on the captured debugger, the product folders empty; both reset afterwards.
class AppTest : public ::testing::Test
{
protected:
    AppTest() { Reset(); }
    ~AppTest() override { Reset(); }
    static void Reset();
    // The log's messages on the debugger so far.
    std::vector<std::wstring> Messages() const;

    CDebugCapture m_Debugger;
};

// One service behind a fake service control manager that answers as the test sets it.
struct CFakeService
{
    using C = CSysCalls;
    std::wstring m_sName = L"CVMSG";                    // other names do not exist
    std::vector<DWORD> m_States = {SERVICE_RUNNING};    // status answers in turn; the last repeats
    int m_nFailStatusAt = 0;                            // this status query fails (from 1)
    DWORD m_dwStateAfterControl = SERVICE_STOP_PENDING; // the stop's status block, even refused
    bool m_bRefuseControl = false, m_bRefuseStart = false;
    std::optional<std::wstring> m_BinaryPath;
    int m_nStatusCalls = 0;
    const SC_HANDLE m_hManager = reinterpret_cast<SC_HANDLE>(0x5100);

    CSysHook<&C::OpenSCManagerW> m_manager{[this](LPCWSTR, LPCWSTR, DWORD) { return m_hManager; }};
    CSysHook<&C::OpenServiceW> m_service{[this](SC_HANDLE, LPCWSTR name, DWORD) {
        return name == m_sName ? m_hManager + 1 : nullptr;
    }};
    CSysHook<&C::QueryServiceStatus> m_status{[this](SC_HANDLE, LPSERVICE_STATUS status) {
        *status = SERVICE_STATUS{};
        status->dwCurrentState = m_States[std::min<size_t>(++m_nStatusCalls, m_States.size()) - 1];
        return m_nStatusCalls != m_nFailStatusAt;
    }};
    // Windows fills the block with the latest status even when it refuses.
    CSysHook<&C::ControlService> m_control{[this](SC_HANDLE, DWORD, LPSERVICE_STATUS status) {
        *status = SERVICE_STATUS{};
        status->dwCurrentState = m_dwStateAfterControl;
        return !m_bRefuseControl;
    }};
    CSysHook<&C::StartServiceW> m_start{[this](SC_HANDLE, DWORD, LPCWSTR*) { return !m_bRefuseStart; }};
    CSysHook<&C::QueryServiceConfigW> m_config{
        [this](SC_HANDLE, LPQUERY_SERVICE_CONFIGW config, DWORD, LPDWORD needed) {
            *needed = 0;
            *config = QUERY_SERVICE_CONFIGW{};
            if (m_BinaryPath) { // the text right after the structure, as Windows puts it
                config->lpBinaryPathName = reinterpret_cast<wchar_t*>(config + 1);
                wcscpy(config->lpBinaryPathName, m_BinaryPath->c_str());
            }
            return TRUE;
        }};
    CSysHook<&C::CloseServiceHandle> m_close{[](SC_HANDLE) { return TRUE; }};
};

// The process list (Toolhelp), termination and start: a started process is a real event,
// unsignalled while it runs, so that waits and closes work on real handles.
struct CFakeProcesses
{
    using C = CSysCalls;
    struct CProcess
    {
        std::wstring exe;
        DWORD pid;
        bool refuseTerminate = false;
    };
    explicit CFakeProcesses(std::vector<CProcess> list) : m_List(std::move(list)) {}
    ~CFakeProcesses() { EXPECT_TRUE(m_Started.empty()) << "a started process's handle left open"; }

    std::vector<CProcess> m_List;
    std::vector<DWORD> m_Terminated;
    // "application|command line" of each start; " (shown)" unless hidden and given nothing else.
    std::vector<std::wstring> m_Launches;
    DWORD m_dwLaunchError = 0; // a start fails with this error when not 0
    bool m_bExitsAtOnce = false;
    HANDLE m_hProcess = nullptr;
    size_t m_nCursor = 0;
    std::set<HANDLE> m_Started; // real handles the code under test has not closed

    // Toolhelp fails an entry whose size was not set.
    BOOL Entry(LPPROCESSENTRY32W entry, size_t at)
    {
        if (entry->dwSize != sizeof(PROCESSENTRY32W) || (m_nCursor = at) >= m_List.size())
            return FALSE;
        entry->th32ProcessID = m_List[at].pid;
        return wcscpy(entry->szExeFile, m_List[at].exe.c_str()) != nullptr;
    }
    static HANDLE Handle(DWORD pid) { return reinterpret_cast<HANDLE>(0x6A000000 + pid * 4); }

    CSysHook<&C::CreateToolhelp32Snapshot> m_snapshot{[](DWORD flags, DWORD pid) {
        return flags == TH32CS_SNAPPROCESS && pid == 0 ? Handle(0) : INVALID_HANDLE_VALUE;
    }};
    CSysHook<&C::Process32FirstW> m_first{[this](HANDLE, LPPROCESSENTRY32W e) { return Entry(e, 0); }};
    CSysHook<&C::Process32NextW> m_next{
        [this](HANDLE, LPPROCESSENTRY32W e) { return Entry(e, m_nCursor + 1); }};
    CSysHook<&C::OpenProcess> m_open{[](DWORD, BOOL, DWORD pid) { return Handle(pid); }};
    CSysHook<&C::TerminateProcess> m_terminate{[this](HANDLE h, UINT) {
        auto it = std::find_if(m_List.begin(), m_List.end(), [h](auto& p) { return Handle(p.pid) == h; });
        if (it != m_List.end() && !it->refuseTerminate)
            m_Terminated.push_back(it->pid);
        return it != m_List.end() && !it->refuseTerminate;
    }};
    CSysHook<&C::CreateProcessW> m_create{[this](LPCWSTR application, LPWSTR commandLine,
                                                 LPSECURITY_ATTRIBUTES pa, LPSECURITY_ATTRIBUTES ta,
                                                 BOOL inherit, DWORD flags, LPVOID environment,
                                                 LPCWSTR folder, LPSTARTUPINFOW si,
                                                 LPPROCESS_INFORMATION pi) {
        bool hidden = !pa && !ta && !inherit && flags == NORMAL_PRIORITY_CLASS && !environment &&
                      !folder && si->cb == sizeof(*si) && si->dwFlags == STARTF_USESHOWWINDOW &&
                      si->wShowWindow == SW_HIDE;
        m_Launches.push_back(std::wstring(application ? application : L"(none)") + L"|" +
                             commandLine + (hidden ? L"" : L" (shown)"));
        g_Sys.SetLastError(m_dwLaunchError);
        if (m_dwLaunchError)
            return FALSE;
        m_hProcess = CreateEventW(nullptr, /*bManualReset=*/TRUE, m_bExitsAtOnce, nullptr);
        *pi = PROCESS_INFORMATION{m_hProcess, CreateEventW(nullptr, TRUE, FALSE, nullptr), 42, 43};
        m_Started.insert({pi->hProcess, pi->hThread});
        return TRUE;
    }};
    CSysHook<&C::CloseHandle> m_close{[this](HANDLE h) {
        // The fake's own handles lie far above Wine's, which are small numbers.
        if (!m_Started.erase(h) && reinterpret_cast<uintptr_t>(h) >= 0x6A000000)
            return TRUE;
        return CSysHook<&C::CloseHandle>::Next()(h);
    }};
};
