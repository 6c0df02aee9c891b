// Fakes and log helpers of the repair-run tests (see AppTestSupport.h).
#include "tests/app/AppTestSupport.h"
#include "diag/DebugLog.h"
#include "platform/Utf8.h"
#include "tools/logreader/LogLine.h"
#include "tools/logreader/LogText.h"
#include <algorithm>
#include <cstring>
#include <cwchar>

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

std::wstring Labelled(const wchar_t* label, const std::wstring& tag, const std::wstring& text)
{
    return label + tag + L" - " + text;
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
    return Labelled(L"[ALL]:    ", tag, text);
}

std::wstring Error(const std::wstring& tag, const std::wstring& text)
{
    return Labelled(L"[ERROR]:  ", tag, text);
}

std::wstring Info(const std::wstring& tag, const std::wstring& text)
{
    return Labelled(L"[INFO]:   ", tag, text);
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

CFakeScm::CFakeScm()
    : m_openManager([this](LPCWSTR machine, LPCWSTR database, DWORD access) -> SC_HANDLE {
          m_Events.push_back(L"open manager " + std::to_wstring(access));
          if (machine || database)
              m_Faults.push_back(L"manager of another machine or database");
          if (m_bManagerFails) {
              g_Sys.SetLastError(ERROR_ACCESS_DENIED);
              return nullptr;
          }
          SC_HANDLE h = reinterpret_cast<SC_HANDLE>(m_uNext += 0x10);
          m_Open[h] = L"manager";
          return h;
      }),
      m_openService([this](SC_HANDLE manager, LPCWSTR name, DWORD access) -> SC_HANDLE {
          m_Events.push_back(L"open " + std::wstring(name) + L" " + std::to_wstring(access));
          if (!m_Open.count(manager) || m_Open[manager] != L"manager")
              m_Faults.push_back(L"OpenServiceW on a handle that is no open manager");
          if (!m_Services.count(name)) {
              g_Sys.SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
              return nullptr;
          }
          SC_HANDLE h = reinterpret_cast<SC_HANDLE>(m_uNext += 0x10);
          m_Open[h] = name;
          return h;
      }),
      m_status([this](SC_HANDLE h, LPSERVICE_STATUS status) -> BOOL {
          CFakeService* s = Find(h, L"");
          if (!s || ++s->statusCalls == s->failStatusAt) {
              g_Sys.SetLastError(ERROR_ACCESS_DENIED);
              return FALSE;
          }
          *status = SERVICE_STATUS{};
          size_t n = std::min<size_t>(s->statusCalls, s->states.size());
          status->dwCurrentState = s->states[n - 1];
          return TRUE;
      }),
      m_control([this](SC_HANDLE h, DWORD control, LPSERVICE_STATUS status) -> BOOL {
          CFakeService* s = Find(h, L"control " + std::to_wstring(control));
          if (!s)
              return FALSE;
          // Windows fills the block with the latest status even when it refuses, as here
          // with ERROR_SERVICE_CANNOT_ACCEPT_CTRL.
          *status = SERVICE_STATUS{};
          status->dwCurrentState = s->stateAfterControl;
          g_Sys.SetLastError(ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
          return !s->refuseControl;
      }),
      m_start([this](SC_HANDLE h, DWORD argc, LPCWSTR* argv) -> BOOL {
          CFakeService* s = Find(h, argc || argv ? L"start with arguments" : L"start");
          g_Sys.SetLastError(ERROR_SERVICE_DISABLED);
          return s && !s->refuseStart;
      }),
      m_config([this](SC_HANDLE h, LPQUERY_SERVICE_CONFIGW config, DWORD bytes,
                      LPDWORD needed) -> BOOL {
          CFakeService* s = Find(h, L"config " + std::to_wstring(bytes));
          if (!s || s->failConfig) {
              g_Sys.SetLastError(ERROR_ACCESS_DENIED);
              return FALSE;
          }
          size_t chars = s->binaryPath ? s->binaryPath->size() + 1 : 0;
          *needed = static_cast<DWORD>(sizeof(QUERY_SERVICE_CONFIGW) + chars * sizeof(wchar_t));
          if (bytes < *needed) {
              g_Sys.SetLastError(ERROR_INSUFFICIENT_BUFFER);
              return FALSE;
          }
          *config = QUERY_SERVICE_CONFIGW{};
          config->dwServiceType = SERVICE_WIN32_OWN_PROCESS;
          if (s->binaryPath) {
              wchar_t* text = reinterpret_cast<wchar_t*>(config + 1);
              std::memcpy(text, s->binaryPath->c_str(), chars * sizeof(wchar_t));
              config->lpBinaryPathName = text;
          }
          return TRUE;
      }),
      m_close([this](SC_HANDLE h) -> BOOL {
          auto it = m_Open.find(h);
          if (it == m_Open.end()) {
              m_Faults.push_back(L"close of a handle that is not open");
              return FALSE;
          }
          if (it->second == L"manager" && m_Open.size() > 1)
              m_Faults.push_back(L"manager closed before its service");
          m_Events.push_back(L"close " + it->second);
          m_Open.erase(it);
          return TRUE;
      })
{
}

CFakeService& CFakeScm::Add(const std::wstring& name, std::optional<std::wstring> binaryPath)
{
    CFakeService& s = m_Services[name];
    s.binaryPath = std::move(binaryPath);
    return s;
}

// The service of an open service handle; event (when not empty) is listed.
CFakeService* CFakeScm::Find(SC_HANDLE h, const std::wstring& event)
{
    if (!event.empty())
        m_Events.push_back(event);
    auto it = m_Open.find(h);
    if (it == m_Open.end() || it->second == L"manager") {
        m_Faults.push_back(L"service call on a handle that is no open service");
        g_Sys.SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return &m_Services[it->second];
}

::testing::AssertionResult CFakeScm::AllClosedInOrder() const
{
    if (m_Open.empty() && m_Faults.empty())
        return ::testing::AssertionSuccess();
    auto failure = ::testing::AssertionFailure();
    for (const auto& open : m_Open)
        failure << "left open: " << WideToUtf8(open.second) << "; ";
    for (const std::wstring& fault : m_Faults)
        failure << WideToUtf8(fault) << "; ";
    return failure;
}

// ---------------------------------------------------------------------------------------

namespace {

const uintptr_t kSnapshot = 0x5A5A0000;
const uintptr_t kProcessBase = 0x6A000000;

HANDLE ProcessHandle(DWORD pid)
{
    return reinterpret_cast<HANDLE>(kProcessBase + pid * 4);
}

} // namespace

CFakeProcesses::CFakeProcesses(std::vector<CFakeProcess> list)
    : m_List(std::move(list)), m_snapshot([this](DWORD flags, DWORD pid) -> HANDLE {
          ++m_nSnapshots;
          if (flags != TH32CS_SNAPPROCESS || pid != 0)
              m_Faults.push_back(L"snapshot of something else than all processes");
          if (m_SnapshotFailure) {
              g_Sys.SetLastError(ERROR_ACCESS_DENIED);
              return *m_SnapshotFailure;
          }
          m_Open.insert(reinterpret_cast<HANDLE>(kSnapshot));
          return reinterpret_cast<HANDLE>(kSnapshot);
      }),
      m_first([this](HANDLE h, LPPROCESSENTRY32W entry) -> BOOL {
          m_nCursor = 0;
          return Entry(h, entry);
      }),
      m_next([this](HANDLE h, LPPROCESSENTRY32W entry) -> BOOL {
          ++m_nCursor;
          return Entry(h, entry);
      }),
      m_openProcess([this](DWORD access, BOOL inherit, DWORD pid) -> HANDLE {
          if (access != PROCESS_TERMINATE || inherit)
              m_Faults.push_back(L"process opened for more than terminating it");
          for (const CFakeProcess& p : m_List)
              if (p.pid == pid && !p.refuseOpen) {
                  m_Open.insert(ProcessHandle(pid));
                  return ProcessHandle(pid);
              }
          g_Sys.SetLastError(ERROR_ACCESS_DENIED);
          return nullptr;
      }),
      m_terminate([this](HANDLE h, UINT code) -> BOOL {
          if (code != 0)
              m_Faults.push_back(L"exit code other than 0");
          for (const CFakeProcess& p : m_List)
              if (ProcessHandle(p.pid) == h && m_Open.count(h) && !p.refuseTerminate) {
                  m_Terminated.push_back(p.pid);
                  return TRUE;
              }
          g_Sys.SetLastError(ERROR_ACCESS_DENIED);
          return FALSE;
      }),
      m_closeHandle([this](HANDLE h) -> BOOL {
          uintptr_t v = reinterpret_cast<uintptr_t>(h);
          if (v != kSnapshot && (v < kProcessBase || v >= kProcessBase + 0x1000000))
              return CSysHook<&CSysCalls::CloseHandle>::Next()(h);
          if (!m_Open.erase(h))
              m_Faults.push_back(L"close of a handle that is not open");
          return TRUE;
      })
{
}

BOOL CFakeProcesses::Entry(HANDLE snapshot, LPPROCESSENTRY32W entry)
{
    if (entry->dwSize != sizeof(PROCESSENTRY32W))
        m_Faults.push_back(L"entry without its size");
    if (!m_Open.count(snapshot) || m_nCursor >= m_List.size()) {
        g_Sys.SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    entry->th32ProcessID = m_List[m_nCursor].pid;
    wcsncpy(entry->szExeFile, m_List[m_nCursor].exe.c_str(), MAX_PATH - 1);
    return TRUE;
}

::testing::AssertionResult CFakeProcesses::AllClosed() const
{
    if (m_Open.empty() && m_Faults.empty())
        return ::testing::AssertionSuccess();
    auto failure = ::testing::AssertionFailure() << m_Open.size() << " left open; ";
    for (const std::wstring& fault : m_Faults)
        failure << WideToUtf8(fault) << "; ";
    return failure;
}

// ---------------------------------------------------------------------------------------

CFakeLauncher::CFakeLauncher()
    : m_create([this](LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES pa,
                      LPSECURITY_ATTRIBUTES ta, BOOL inherit, DWORD flags, LPVOID environment,
                      LPCWSTR currentDirectory, LPSTARTUPINFOW startup,
                      LPPROCESS_INFORMATION pi) -> BOOL {
          bool plain = !pa && !ta && !inherit && flags == NORMAL_PRIORITY_CLASS &&
                       !environment && !currentDirectory && startup->cb == sizeof(STARTUPINFOW) &&
                       startup->dwFlags == STARTF_USESHOWWINDOW && startup->wShowWindow == SW_HIDE;
          m_Calls.push_back({application ? application : L"(none)", commandLine, plain});
          if (m_dwFailError) {
              g_Sys.SetLastError(m_dwFailError);
              return FALSE;
          }
          m_hProcess = CreateEventW(nullptr, /*bManualReset=*/TRUE, m_bExitsAtOnce, nullptr);
          m_hThread = CreateEventW(nullptr, TRUE, FALSE, nullptr);
          m_Created.push_back(m_hProcess);
          m_Created.push_back(m_hThread);
          *pi = PROCESS_INFORMATION{m_hProcess, m_hThread, 4242, 4243};
          return TRUE;
      }),
      m_close([this](HANDLE h) -> BOOL {
          m_Closed.insert(h);
          return CSysHook<&CSysCalls::CloseHandle>::Next()(h);
      })
{
}

CFakeLauncher::~CFakeLauncher()
{
    for (HANDLE h : m_Created)
        if (h && !m_Closed.count(h))
            CloseHandle(h);
}
