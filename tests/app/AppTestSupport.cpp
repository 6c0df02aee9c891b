// Fakes and log helpers of the repair-run tests (see AppTestSupport.h).
#include "tests/app/AppTestSupport.h"
#include "diag/DebugLog.h"
#include "platform/Utf8.h"
#include <algorithm>
#include <cstring>
#include <cwchar>
#include <regex>

std::optional<std::wstring> MessageOfLine(const std::wstring& line)
{
    static const std::wregex kFields(L"^\\[PID:\\d{8,}\\]\\[TID:\\d{8,}\\]"
                                     L"\\[\\d{4}-\\d\\d-\\d\\d-\\d\\d:\\d\\d:\\d\\d\\]"
                                     L"\\[~\\]\\[SANARIX\\]([\\s\\S]*)$");
    std::wsmatch m;
    if (!std::regex_match(line, m, kFields))
        return std::nullopt;
    return m[1].str();
}

std::vector<std::wstring> LinesOfFile(const std::string& bytes)
{
    std::string text = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? bytes.substr(3) : bytes;
    std::wstring wide = Utf8ToWide(text);
    std::vector<std::wstring> lines;
    for (size_t at = 0; at < wide.size();) {
        size_t end = wide.find(L"\r\n", at);
        if (end == std::wstring::npos) {
            lines.push_back(wide.substr(at)); // an unterminated last line shows as such
            break;
        }
        lines.push_back(wide.substr(at, end - at));
        at = end + 2;
    }
    return lines;
}

std::wstring HandleText(HANDLE h)
{
    unsigned bits = static_cast<unsigned>(reinterpret_cast<uintptr_t>(h));
    std::wstring text = L"0x";
    for (int shift = 28; shift >= 0; shift -= 4)
        text += L"0123456789ABCDEF"[(bits >> shift) & 0xF];
    return text;
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
        if (auto message = MessageOfLine(line.substr(0, line.size() - 1)))
            messages.push_back(*message);
    }
    return messages;
}

// ---------------------------------------------------------------------------------------

CFakeScm::CFakeScm()
    : m_openManager([this](LPCWSTR machine, LPCWSTR database, DWORD access) -> SC_HANDLE {
          m_ManagerAccess.push_back(access);
          if (machine || database)
              m_Faults.push_back(L"manager of another machine or database");
          if (m_bManagerFails) {
              g_Sys.SetLastError(ERROR_ACCESS_DENIED);
              return nullptr;
          }
          SC_HANDLE h = reinterpret_cast<SC_HANDLE>(m_uNext += 0x10);
          m_Open[h] = L"manager";
          m_Events.push_back(L"open manager");
          return h;
      }),
      m_openService([this](SC_HANDLE manager, LPCWSTR name, DWORD access) -> SC_HANDLE {
          m_ServiceOpens.emplace_back(name ? name : L"", access);
          if (!m_Open.count(manager) || m_Open[manager] != L"manager")
              m_Faults.push_back(L"OpenServiceW on a handle that is no open manager");
          if (!name || !m_Services.count(name)) {
              g_Sys.SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
              return nullptr;
          }
          SC_HANDLE h = reinterpret_cast<SC_HANDLE>(m_uNext += 0x10);
          m_Open[h] = name;
          m_ManagerOf[h] = manager;
          m_Events.push_back(L"open " + std::wstring(name));
          return h;
      }),
      m_status([this](SC_HANDLE h, LPSERVICE_STATUS status) -> BOOL {
          CFakeService* s = Find(h);
          if (!s)
              return FALSE;
          int n = ++s->statusCalls;
          if (n == s->failStatusAt) {
              g_Sys.SetLastError(ERROR_ACCESS_DENIED);
              return FALSE;
          }
          *status = SERVICE_STATUS{};
          status->dwCurrentState = s->states[std::min<size_t>(n - 1, s->states.size() - 1)];
          return TRUE;
      }),
      m_control([this](SC_HANDLE h, DWORD control, LPSERVICE_STATUS status) -> BOOL {
          CFakeService* s = Find(h);
          if (!s)
              return FALSE;
          s->controls.push_back(control);
          // Windows fills the block with the latest status even when it refuses, as
          // here with ERROR_SERVICE_CANNOT_ACCEPT_CTRL.
          *status = SERVICE_STATUS{};
          status->dwCurrentState = s->stateAfterControl;
          if (s->refuseControl) {
              g_Sys.SetLastError(ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
              return FALSE;
          }
          return TRUE;
      }),
      m_start([this](SC_HANDLE h, DWORD argc, LPCWSTR* argv) -> BOOL {
          CFakeService* s = Find(h);
          if (!s)
              return FALSE;
          ++s->starts;
          if (argc != 0 || argv)
              m_Faults.push_back(L"StartServiceW with arguments");
          if (s->refuseStart) {
              g_Sys.SetLastError(ERROR_SERVICE_DISABLED);
              return FALSE;
          }
          return TRUE;
      }),
      m_config([this](SC_HANDLE h, LPQUERY_SERVICE_CONFIGW config, DWORD bytes,
                      LPDWORD needed) -> BOOL {
          CFakeService* s = Find(h);
          if (!s)
              return FALSE;
          s->configBufferSizes.push_back(bytes);
          if (s->failConfig) {
              g_Sys.SetLastError(ERROR_ACCESS_DENIED);
              return FALSE;
          }
          size_t chars = s->binaryPath ? s->binaryPath->size() + 1 : 0;
          DWORD size = static_cast<DWORD>(sizeof(QUERY_SERVICE_CONFIGW) + chars * sizeof(wchar_t));
          *needed = size;
          if (bytes < size) {
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
          if (it->second == L"manager")
              for (const auto& open : m_Open)
                  if (m_ManagerOf.count(open.first) && m_ManagerOf[open.first] == h)
                      m_Faults.push_back(L"manager closed before " + open.second);
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

CFakeService* CFakeScm::Find(SC_HANDLE h)
{
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

bool IsFakeProcessHandle(HANDLE h)
{
    uintptr_t v = reinterpret_cast<uintptr_t>(h);
    return v == kSnapshot || (v >= kProcessBase && v < kProcessBase + 0x1000000);
}

} // namespace

CFakeProcesses::CFakeProcesses(std::vector<CFakeProcess> list)
    : m_List(std::move(list)), m_snapshot([this](DWORD flags, DWORD pid) -> HANDLE {
          ++m_nSnapshots;
          if (flags != TH32CS_SNAPPROCESS || pid != 0)
              ++m_nFaults;
          if (m_SnapshotFailure) {
              g_Sys.SetLastError(ERROR_ACCESS_DENIED);
              return *m_SnapshotFailure;
          }
          HANDLE h = reinterpret_cast<HANDLE>(kSnapshot);
          m_Open.insert(h);
          return h;
      }),
      m_first([this](HANDLE h, LPPROCESSENTRY32W entry) -> BOOL {
          m_nCursor = 0;
          m_EntrySizes.push_back(entry->dwSize);
          if (!m_Open.count(h) || m_nCursor >= m_List.size()) {
              g_Sys.SetLastError(ERROR_NO_MORE_FILES);
              return FALSE;
          }
          entry->th32ProcessID = m_List[m_nCursor].pid;
          wcsncpy(entry->szExeFile, m_List[m_nCursor].exe.c_str(), MAX_PATH - 1);
          return TRUE;
      }),
      m_next([this](HANDLE h, LPPROCESSENTRY32W entry) -> BOOL {
          ++m_nCursor;
          m_EntrySizes.push_back(entry->dwSize);
          if (!m_Open.count(h) || m_nCursor >= m_List.size()) {
              g_Sys.SetLastError(ERROR_NO_MORE_FILES);
              return FALSE;
          }
          entry->th32ProcessID = m_List[m_nCursor].pid;
          wcsncpy(entry->szExeFile, m_List[m_nCursor].exe.c_str(), MAX_PATH - 1);
          return TRUE;
      }),
      m_openProcess([this](DWORD access, BOOL inherit, DWORD pid) -> HANDLE {
          m_Opens.emplace_back(access, inherit, pid);
          for (const CFakeProcess& p : m_List)
              if (p.pid == pid && !p.refuseOpen) {
                  m_Open.insert(ProcessHandle(pid));
                  return ProcessHandle(pid);
              }
          g_Sys.SetLastError(ERROR_ACCESS_DENIED);
          return nullptr;
      }),
      m_terminate([this](HANDLE h, UINT code) -> BOOL {
          m_ExitCodes.push_back(code);
          for (const CFakeProcess& p : m_List)
              if (ProcessHandle(p.pid) == h && m_Open.count(h)) {
                  if (p.refuseTerminate)
                      break;
                  m_Terminated.push_back(p.pid);
                  return TRUE;
              }
          g_Sys.SetLastError(ERROR_ACCESS_DENIED);
          return FALSE;
      }),
      m_closeHandle([this](HANDLE h) -> BOOL {
          if (!IsFakeProcessHandle(h))
              return CSysHook<&CSysCalls::CloseHandle>::Next()(h);
          if (!m_Open.erase(h))
              ++m_nFaults;
          return TRUE;
      })
{
}

// ---------------------------------------------------------------------------------------

CFakeLauncher::CFakeLauncher()
    : m_create([this](LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES pa,
                      LPSECURITY_ATTRIBUTES ta, BOOL inherit, DWORD flags, LPVOID environment,
                      LPCWSTR currentDirectory, LPSTARTUPINFOW startup,
                      LPPROCESS_INFORMATION pi) -> BOOL {
          Call call{};
          if (application)
              call.application = application;
          call.commandLine = commandLine ? commandLine : L"";
          call.processAttributes = pa != nullptr;
          call.threadAttributes = ta != nullptr;
          call.environment = environment != nullptr;
          call.inherit = inherit;
          call.flags = flags;
          if (currentDirectory)
              call.currentDirectory = currentDirectory;
          call.startup = *startup;
          m_Calls.push_back(call);
          if (m_dwFailError) {
              g_Sys.SetLastError(m_dwFailError);
              return FALSE;
          }
          m_hProcess = CreateEventW(nullptr, /*bManualReset=*/TRUE, m_bExitsAtOnce, nullptr);
          m_hThread = CreateEventW(nullptr, TRUE, FALSE, nullptr);
          m_Created.push_back(m_hProcess);
          m_Created.push_back(m_hThread);
          pi->hProcess = m_hProcess;
          pi->hThread = m_hThread;
          pi->dwProcessId = 4242;
          pi->dwThreadId = 4243;
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
