// Fakes and log helpers of the repair-run tests (see AppTestSupport.h).
#include "tests/app/AppTestSupport.h"
#include "diag/DebugLog.h"
#include "platform/Utf8.h"
#include "tools/logreader/LogLine.h"
#include "tools/logreader/LogText.h"
#include <algorithm>
#include <cwchar>
#include <set>

namespace {

// The text after the line tag of one of the run's lines; nothing for any other line.
std::optional<std::wstring> MessageOfLine(std::string_view line)
{
    CLogLine parsed = ParseLogLine(line);
    if (parsed.m_kind == ELineKind::Foreign || parsed.m_kind == ELineKind::OtherProgram)
        return std::nullopt;
    size_t tagEnd = parsed.m_lineTag.data() + parsed.m_lineTag.size() - line.data();
    return Utf8ToWide(std::string(line.substr(tagEnd)));
}

} // namespace

std::vector<std::wstring> MessagesOfFile(const std::string& bytes)
{
    std::vector<CNulRegion> nulRegions;
    std::vector<std::wstring> messages;
    for (const CTextLine& line : SplitLogLines(bytes, /*headCut=*/false, nulRegions))
        messages.push_back(MessageOfLine(line.m_text).value_or(L"?"));
    return messages;
}

std::wstring All(const std::wstring& tag, const std::wstring& text)
{
    return L"[ALL]:    " + tag + L" - " + text;
}

std::wstring Error(const std::wstring& tag, const std::wstring& text)
{
    return L"[ERROR]:  " + tag + L" - " + text;
}

std::wstring Info(const std::wstring& tag, const std::wstring& text)
{
    return L"[INFO]:   " + tag + L" - " + text;
}

AppTest::AppTest()
{
    g_DebugLog.Start(L"[SANARIX]");
    g_sCVPath.clear();
    g_sCVSKPath.clear();
}

AppTest::~AppTest()
{
    g_DebugLog.Start(L"[SANARIX]"); // drops any debug file a test pointed the log at
    g_sCVPath.clear();
    g_sCVSKPath.clear();
}

std::vector<std::wstring> AppTest::Messages() const
{
    std::vector<std::wstring> messages;
    for (const std::wstring& line : m_Debugger.Lines()) {
        if (line.empty() || line.back() != L'\n')
            continue;
        if (auto message = MessageOfLine(WideToUtf8(line.substr(0, line.size() - 1))))
            messages.push_back(*message);
    }
    return messages;
}

// ---------------------------------------------------------------------------------------

namespace {

const SC_HANDLE kManager = reinterpret_cast<SC_HANDLE>(0x5100);
const SC_HANDLE kService = reinterpret_cast<SC_HANDLE>(0x5200);

} // namespace

struct CFakeService::CHooks
{
    explicit CHooks(CFakeService& service) : s(service) {}
    CFakeService& s;

    CSysHook<&CSysCalls::OpenSCManagerW> m_manager{
        [](LPCWSTR, LPCWSTR, DWORD) { return kManager; }};
    CSysHook<&CSysCalls::OpenServiceW> m_service{[this](SC_HANDLE, LPCWSTR name, DWORD) {
        return name == s.m_sName ? kService : nullptr;
    }};
    CSysHook<&CSysCalls::QueryServiceStatus> m_status{[this](SC_HANDLE, LPSERVICE_STATUS status) {
        if (++s.m_nStatusCalls == s.m_nFailStatusAt)
            return FALSE;
        size_t answer = std::min<size_t>(s.m_nStatusCalls, s.m_States.size()) - 1;
        *status = SERVICE_STATUS{};
        status->dwCurrentState = s.m_States[answer];
        return TRUE;
    }};
    // Windows fills the block with the latest status even when it refuses, as here with
    // ERROR_SERVICE_CANNOT_ACCEPT_CTRL.
    CSysHook<&CSysCalls::ControlService> m_control{
        [this](SC_HANDLE, DWORD, LPSERVICE_STATUS status) {
            *status = SERVICE_STATUS{};
            status->dwCurrentState = s.m_dwStateAfterControl;
            return !s.m_bRefuseControl;
        }};
    CSysHook<&CSysCalls::StartServiceW> m_start{
        [this](SC_HANDLE, DWORD, LPCWSTR*) { return !s.m_bRefuseStart; }};
    CSysHook<&CSysCalls::QueryServiceConfigW> m_config{
        [this](SC_HANDLE, LPQUERY_SERVICE_CONFIGW config, DWORD, LPDWORD needed) {
            *needed = 0;
            *config = QUERY_SERVICE_CONFIGW{};
            if (s.m_BinaryPath) { // the text right after the structure, as Windows puts it
                config->lpBinaryPathName = reinterpret_cast<wchar_t*>(config + 1);
                wcscpy(config->lpBinaryPathName, s.m_BinaryPath->c_str());
            }
            return TRUE;
        }};
    CSysHook<&CSysCalls::CloseServiceHandle> m_close{[](SC_HANDLE) { return TRUE; }};
};

CFakeService::CFakeService() : m_pHooks(new CHooks(*this)) {}

CFakeService::~CFakeService() = default;

// ---------------------------------------------------------------------------------------

namespace {

const HANDLE kSnapshot = reinterpret_cast<HANDLE>(0x5A5A0000);

HANDLE ProcessHandle(DWORD pid)
{
    return reinterpret_cast<HANDLE>(0x6A000000 + pid * 4);
}

} // namespace

struct CFakeProcesses::CHooks
{
    explicit CHooks(CFakeProcesses& processes) : p(processes) {}
    CFakeProcesses& p;
    size_t m_nCursor = 0;
    std::set<HANDLE> m_Started; // real handles the code under test has not closed

    // Toolhelp fails an entry whose size was not set.
    BOOL Entry(LPPROCESSENTRY32W entry)
    {
        if (entry->dwSize != sizeof(PROCESSENTRY32W) || m_nCursor >= p.m_List.size())
            return FALSE;
        entry->th32ProcessID = p.m_List[m_nCursor].pid;
        wcscpy(entry->szExeFile, p.m_List[m_nCursor].exe.c_str());
        return TRUE;
    }

    CSysHook<&CSysCalls::CreateToolhelp32Snapshot> m_snapshot{[](DWORD flags, DWORD pid) {
        return flags == TH32CS_SNAPPROCESS && pid == 0 ? kSnapshot : INVALID_HANDLE_VALUE;
    }};
    CSysHook<&CSysCalls::Process32FirstW> m_first{[this](HANDLE, LPPROCESSENTRY32W entry) {
        m_nCursor = 0;
        return Entry(entry);
    }};
    CSysHook<&CSysCalls::Process32NextW> m_next{[this](HANDLE, LPPROCESSENTRY32W entry) {
        ++m_nCursor;
        return Entry(entry);
    }};
    CSysHook<&CSysCalls::OpenProcess> m_open{
        [](DWORD, BOOL, DWORD pid) { return ProcessHandle(pid); }};
    CSysHook<&CSysCalls::TerminateProcess> m_terminate{[this](HANDLE h, UINT) {
        for (const CProcess& process : p.m_List)
            if (ProcessHandle(process.pid) == h && !process.refuseTerminate) {
                p.m_Terminated.push_back(process.pid);
                return TRUE;
            }
        return FALSE;
    }};
    CSysHook<&CSysCalls::CreateProcessW> m_create{
        [this](LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES pa,
               LPSECURITY_ATTRIBUTES ta, BOOL inherit, DWORD flags, LPVOID environment,
               LPCWSTR folder, LPSTARTUPINFOW si, LPPROCESS_INFORMATION pi) {
            bool hidden = !pa && !ta && !inherit && flags == NORMAL_PRIORITY_CLASS &&
                          !environment && !folder && si->cb == sizeof(*si) &&
                          si->dwFlags == STARTF_USESHOWWINDOW && si->wShowWindow == SW_HIDE;
            p.m_Launches.push_back(std::wstring(application ? application : L"(none)") + L"|" +
                                   commandLine + (hidden ? L"" : L" (shown)"));
            g_Sys.SetLastError(p.m_dwLaunchError);
            if (p.m_dwLaunchError)
                return FALSE;
            p.m_hProcess = CreateEventW(nullptr, /*bManualReset=*/TRUE, p.m_bExitsAtOnce, nullptr);
            *pi = PROCESS_INFORMATION{p.m_hProcess, CreateEventW(nullptr, TRUE, FALSE, nullptr), 42,
                                      43};
            m_Started.insert({pi->hProcess, pi->hThread});
            return TRUE;
        }};
    CSysHook<&CSysCalls::CloseHandle> m_close{[this](HANDLE h) {
        // The fake's own lie far above Wine's handles, which are small numbers.
        if (!m_Started.erase(h) && reinterpret_cast<uintptr_t>(h) >= 0x5A5A0000)
            return TRUE;
        return CSysHook<&CSysCalls::CloseHandle>::Next()(h);
    }};
};

CFakeProcesses::CFakeProcesses(std::vector<CProcess> list)
    : m_List(std::move(list)), m_pHooks(new CHooks(*this))
{
}

CFakeProcesses::~CFakeProcesses()
{
    EXPECT_TRUE(m_pHooks->m_Started.empty()) << "a started process's handle left open";
    for (HANDLE h : m_pHooks->m_Started)
        CloseHandle(h);
}
