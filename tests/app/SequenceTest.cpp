// The repair run as a whole with every operation failing, the privilege start-up, and the
// debug log's place.
#include "app/Sanarix.h"
#include "diag/DebugLog.h"
#include "platform/Utf8.h"
#include "tests/app/AppTestSupport.h"
#include "tests/support/TestFiles.h"
#include "quarantine/Vaultkit.h"
#include <algorithm>

namespace {

const wchar_t kProgramFiles[] = L"C:\\Program Files";
const wchar_t kCommonFiles[] = L"C:\\Program Files\\Common Files";

// Shell folders: the common application data folder is a test folder. The query of one
// folder can be made to fail (its buffer then holds nothing).
class CShellFolders
{
public:
    explicit CShellFolders(std::wstring appData, HRESULT appDataResult = S_OK, int failing = -1)
        : m_sAppData(std::move(appData)),
          m_hook([this, appDataResult, failing](HWND hwnd, int csidl, HANDLE token, DWORD flags,
                                                LPWSTR out) -> HRESULT {
              m_Calls.push_back(csidl);
              if (hwnd || token || flags)
                  ++m_nOddArguments;
              if (csidl == failing)
                  return E_FAIL;
              const std::wstring& text = csidl == CSIDL_COMMON_APPDATA  ? m_sAppData
                                         : csidl == CSIDL_PROGRAM_FILES ? m_sProgramFiles
                                                                        : m_sCommonFiles;
              wcsncpy(out, text.c_str(), MAX_PATH - 1);
              return csidl == CSIDL_COMMON_APPDATA ? appDataResult : S_OK;
          })
    {
    }
    std::vector<int> m_Calls;
    int m_nOddArguments = 0;

private:
    std::wstring m_sAppData;
    std::wstring m_sProgramFiles = kProgramFiles;
    std::wstring m_sCommonFiles = kCommonFiles;
    CSysHook<&CSysCalls::SHGetFolderPathW> m_hook;
};

// Every operation of the run fails at its first Windows call.
struct CEverythingFails
{
    CSysFailNth<&CSysCalls::OpenSCManagerW> scm{1, ERROR_ACCESS_DENIED, nullptr, true};
    CSysFailNth<&CSysCalls::CreateProcessW> create{1, ERROR_FILE_NOT_FOUND, FALSE, true};
    CSysFailNth<&CSysCalls::FindFirstFileW> find{1, ERROR_PATH_NOT_FOUND, INVALID_HANDLE_VALUE,
                                                 true};
    CSysHook<&CSysCalls::RegOpenKeyExW> reg{
        [](HKEY, LPCWSTR, DWORD, REGSAM, PHKEY) -> LSTATUS { return ERROR_ACCESS_DENIED; }};
    CSysFailNth<&CSysCalls::LookupPrivilegeValueW> lookup{1, ERROR_NO_SUCH_PRIVILEGE, FALSE, true};
    CSysRecorder<&CSysCalls::LookupPrivilegeValueW> privilegeNames; // sees the calls first
};

std::vector<std::wstring> StepLines(const wchar_t* call, std::vector<std::wstring> inner,
                                    const wchar_t* result)
{
    std::vector<std::wstring> lines = {L"[ALL]:    DoSanarix - " + std::wstring(call) + L" ..."};
    lines.insert(lines.end(), inner.begin(), inner.end());
    lines.push_back(L"[ALL]:    DoSanarix - " + std::wstring(call) + L" result=" + result);
    return lines;
}

// A product command that fails: not found, or not run at all without its folder.
std::vector<std::wstring> AppLines(const wchar_t* tag, const wchar_t* exe, const wchar_t* word,
                                   bool folderKnown = true)
{
    std::wstring t = tag, command = L"C:\\Program Files\\Corvanta\\Corvanta Suite\\" +
                                    std::wstring(exe) + L" " + word;
    if (!folderKnown)
        return StepLines((t + L"(" + exe + L")").c_str(),
                         {L"[ALL]:    " + t + L" - szCVApp=" + exe,
                          L"[ERROR]:  " + t + L" - Install folder unknown, nothing run"},
                         L"fail");
    return StepLines(
        (t + L"(" + exe + L")").c_str(),
        {L"[ALL]:    " + t + L" - szCVApp=" + exe, L"[ALL]:    " + t + L" - szCommand=" + command,
         L"[ERROR]:  " + t + L" - CreateProcess failed, command=" + command + L" error=2"},
        L"fail");
}

std::vector<std::wstring> ServiceLines(const wchar_t* tag, const wchar_t* name)
{
    std::wstring t = tag;
    return StepLines((t + L"(" + name + L")").c_str(),
                     {L"[ALL]:    " + t + L" - szName=" + name,
                      L"[ERROR]:  " + t + L" - OpenSCManager() failed"},
                     L"fail");
}

// A start-up of the quarantine library that found no folder stays counted.
void VaultkitUninitAfterFailedStart()
{
    VaultkitUninit();
}

void Append(std::vector<std::wstring>& to, const std::vector<std::wstring>& lines)
{
    to.insert(to.end(), lines.begin(), lines.end());
}

class SequenceTest : public AppTest
{
protected:
    std::wstring LogFolder() const { return m_Dir.Join(L"Corvanta\\DTrace"); }
    std::wstring LogFile() const { return LogFolder() + L"\\sanarix.dbg"; }
    void SetUp() override
    {
        CreateDirectoryW(m_Dir.Join(L"Corvanta").c_str(), nullptr);
        ASSERT_TRUE(CreateDirectoryW(LogFolder().c_str(), nullptr));
    }
    CTempDir m_Dir;
};

} // namespace

// Every operation failing, once with all folders known and once with each product folder
// unknown: every step's lines in order, and each pause right after its service start.
TEST_F(SequenceTest, EveryOperationFailingStillLogsEveryStepInOrder)
{
    const std::wstring install = L"C:\\Program Files\\Corvanta\\Corvanta Suite\\";
    const std::wstring engine = L"C:\\Program Files\\Common Files\\Corvanta\\Corvanta Scan Kernel\\";
    for (int failing : {-1, CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILES_COMMON}) {
        const bool installKnown = failing != CSIDL_PROGRAM_FILES;
        const bool engineKnown = failing != CSIDL_PROGRAM_FILES_COMMON;
        g_sCVPath.clear();
        g_sCVSKPath.clear();
        DeleteFileW(LogFile().c_str());
        CShellFolders folders(m_Dir.Path(), S_OK, failing);
        CEverythingFails fails;
        CVirtualClock clock;
        std::vector<std::wstring> beforePause; // the last file line at each pause
        CSysHook<&CSysCalls::Sleep> pauses([&](DWORD ms) {
            std::vector<std::wstring> lines = LinesOfFile(ReadFileBytes(LogFile()));
            beforePause.push_back(lines.empty() ? std::wstring() : MessageOfLine(lines.back()).value_or(L"?"));
            CSysHook<&CSysCalls::Sleep>::Next()(ms);
        });
        DoSanarix();
        VaultkitUninitAfterFailedStart();

        std::string bytes = ReadFileBytes(LogFile());
        ASSERT_EQ(bytes.compare(0, 3, "\xEF\xBB\xBF"), 0) << "no byte-order mark";
        std::vector<std::wstring> messages;
        for (const std::wstring& line : LinesOfFile(bytes)) {
            auto message = MessageOfLine(line);
            ASSERT_TRUE(message) << "not a log line: " << WideToUtf8(line);
            messages.push_back(*message);
        }
        std::vector<std::wstring> expected = {
            L"",
            L"",
            L"=====started=====",
            L"[ALL]:    DoSanarix - ",
            L"[ALL]:    DoSanarix - InitGlobals() ...",
            L"[ALL]:    GetServicePath - szName=CVHOST",
            L"[ERROR]:  GetServicePath - OpenSCManager() failed",
            L"[ALL]:    DoSanarix - InitGlobals() ok",
            L"[ALL]:    DoSanarix - g_sCVPath=" + (installKnown ? install : L""),
            L"[ALL]:    DoSanarix - g_sCVSKPath=" + (engineKnown ? engine : L"")};
        for (const wchar_t* exe : {L"cvhost.exe", L"cvtray.exe", L"cvconsole.exe"})
            Append(expected, AppLines(L"StopCVApp", exe, L"stop", installKnown));
        for (const wchar_t* name : {L"CVUPDATE", L"CVPROBE", L"CVMSG"})
            Append(expected, ServiceLines(L"MyStopService", name));
        const std::wstring search = L"[ALL]:    RemoveFileRec - szFile=cvheur.xr0 szPath=";
        Append(expected, engineKnown
                             ? StepLines(L"RemoveFileRec(cvheur.xr0)", {search + engine}, L"0")
                             : StepLines(L"RemoveFileRec(cvheur.xr0)",
                                         {search, L"[ERROR]:  RemoveFileRec - Folder unknown, "
                                                  L"nothing searched"},
                                         L"-1"));
        Append(expected,
               StepLines(L"RemovePendingFileROp()",
                         {L"[ALL]:    DeleteRegistryKey - szRegPath=SYSTEM\\CurrentControlSet"
                          L"\\Control\\Session Manager szRegValue=PendingFileRenameOperations",
                          L"[ERROR]:  DeleteRegistryKey - Cannot open registry key, error=5"},
                         L"fail"));
        Append(expected,
               StepLines(L"RestoreQuarantine(trojan.fakealert.5)",
                         {L"[ALL]:    RestoreQuarantine - szVirusName=trojan.fakealert.5",
                          L"[ERROR]:  GetQuarFolderPath - Cannot open registry path: "
                          L"SOFTWARE\\Corvanta\\Corvanta Quarantine\\",
                          L"[ERROR]:  RestoreQuarantine - Could not init vaultkit!",
                          L"[ALL]:    RestoreQuarantine - ok"},
                         L"ok"));
        Append(expected, ServiceLines(L"MyStartService", L"CVMSG"));
        Append(expected, ServiceLines(L"MyStartService", L"CVUPDATE"));
        Append(expected, AppLines(L"StartCVApp", L"cvhost.exe", L"start", installKnown));
        Append(expected, AppLines(L"StartCVApp", L"cvtray.exe", L"start", installKnown));
        expected.push_back(L"[ALL]:    DoSanarix - ok");
        EXPECT_EQ(messages, expected) << "failing folder " << failing;

        EXPECT_EQ(clock.Sleeps(), (std::vector<DWORD>{10000, 10000}));
        EXPECT_EQ(beforePause, (std::vector<std::wstring>{
                                   L"[ALL]:    DoSanarix - MyStartService(CVMSG) result=fail",
                                   L"[ALL]:    DoSanarix - MyStartService(CVUPDATE) result=fail"}));
        EXPECT_EQ(clock.Waits(), std::vector<DWORD>{0}) << "the run lock is tried, not waited for";
        EXPECT_EQ(fails.create.Calls(), installKnown ? 5 : 0) << "nothing run without its folder";
        EXPECT_EQ(fails.find.Calls(), engineKnown ? 1 : 0) << "nothing searched without it";
        EXPECT_EQ(folders.m_nOddArguments, 0);
        EXPECT_EQ(folders.m_Calls, (std::vector<int>{CSIDL_COMMON_APPDATA, CSIDL_PROGRAM_FILES,
                                                     CSIDL_PROGRAM_FILES_COMMON}));
        ASSERT_EQ(fails.privilegeNames.Count(), 2u);
        EXPECT_STREQ(std::get<1>(fails.privilegeNames.Calls()[0]), L"SeShutdownPrivilege");
        EXPECT_STREQ(std::get<1>(fails.privilegeNames.Calls()[1]), L"SeDebugPrivilege");
    }
}

TEST_F(SequenceTest, WithoutAUsableLogPathTheRunLogsToTheDebuggerOnly)
{
    // 232 characters + "\Corvanta\DTrace\sanarix.dbg" (28) would be one over 259.
    const std::pair<std::wstring, HRESULT> cases[] = {
        {m_Dir.Path(), E_FAIL}, {L"", S_OK}, {L"C:\\" + std::wstring(229, L'a'), S_OK}};
    for (const auto& c : cases) {
        CShellFolders folders(c.first, c.second);
        CEverythingFails fails;
        CVirtualClock clock;
        m_Debugger.Clear();
        DoSanarix();
        VaultkitUninitAfterFailedStart();
        EXPECT_EQ(g_DebugLog.GetFile()[0], L'\0') << WideToUtf8(c.first);
        EXPECT_EQ(m_Debugger.All().find(L"Debug file"), std::wstring::npos);
        std::vector<std::wstring> messages = Messages();
        ASSERT_FALSE(messages.empty());
        EXPECT_EQ(messages.front(), L"[ALL]:    DoSanarix - ");
        EXPECT_EQ(messages.back(), L"[ALL]:    DoSanarix - ok");
    }
}

// Before the shell's first folder query and the first line of the log, the library search
// is cut down to the system folder; without SetDefaultDllDirectories, silently the other way.
TEST_F(SequenceTest, LibrarySearchIsRestrictedFirst)
{
    for (bool present : {true, false}) {
        std::vector<std::wstring> events;
        CShellFolders folders(m_Dir.Path());
        CEverythingFails fails;
        CVirtualClock clock;
        CSysHook<&CSysCalls::OutputDebugStringW> debugger([&](LPCWSTR text) {
            events.push_back(L"debugger");
            CSysHook<&CSysCalls::OutputDebugStringW>::Next()(text);
        });
        CSysHook<&CSysCalls::SHGetFolderPathW> shell(
            [&](HWND hwnd, int csidl, HANDLE token, DWORD flags, LPWSTR out) -> HRESULT {
                events.push_back(L"shell");
                return CSysHook<&CSysCalls::SHGetFolderPathW>::Next()(hwnd, csidl, token, flags,
                                                                      out);
            });
        CSysHook<&CSysCalls::SetDefaultDllDirectories> restrict([&](DWORD flags) -> BOOL {
            events.push_back(L"SetDefaultDllDirectories " + std::to_wstring(flags));
            g_Sys.SetLastError(ERROR_PROC_NOT_FOUND);
            return present;
        });
        CSysHook<&CSysCalls::SetDllDirectoryW> fallback([&](LPCWSTR path) -> BOOL {
            events.push_back(L"SetDllDirectoryW(" + std::wstring(path ? path : L"null") + L")");
            return TRUE;
        });
        DoSanarix();
        VaultkitUninitAfterFailedStart();
        std::vector<std::wstring> first(events.begin(), events.begin() + (present ? 2 : 3));
        std::vector<std::wstring> expected = {L"SetDefaultDllDirectories 2048"};
        if (!present)
            expected.push_back(L"SetDllDirectoryW()");
        expected.push_back(L"shell");
        EXPECT_EQ(first, expected);
        EXPECT_EQ(std::count(events.begin(), events.end(), L"SetDefaultDllDirectories 2048"), 1);
    }
}

// A run that finds another in progress writes its start marker and one line and touches
// nothing; one that finds no safe lock says so and runs all the same.
TEST_F(SequenceTest, RunLockHeldElsewhereOrUntrustworthy)
{
    {
        CShellFolders folders(m_Dir.Path());
        CEverythingFails fails;
        // Another run holds the mutex: the try finds it taken (RunLockTest holds it for real).
        CSysHook<&CSysCalls::WaitForSingleObject> held(
            [](HANDLE, DWORD ms) -> DWORD { return ms == 0 ? WAIT_TIMEOUT : WAIT_FAILED; });
        DoSanarix();
        std::vector<std::wstring> messages;
        for (const std::wstring& line : LinesOfFile(ReadFileBytes(LogFile())))
            messages.push_back(MessageOfLine(line).value_or(L"?"));
        EXPECT_EQ(messages, (std::vector<std::wstring>{
                                L"", L"", L"=====started=====",
                                L"[ERROR]:  DoSanarix - Another run is in progress, nothing done"}));
        EXPECT_EQ(folders.m_Calls, std::vector<int>{CSIDL_COMMON_APPDATA});
        EXPECT_EQ(fails.privilegeNames.Count(), 0u);
        EXPECT_EQ(fails.scm.Calls(), 0);
    }
    DeleteFileW(LogFile().c_str());
    {
        CShellFolders folders(m_Dir.Path());
        CEverythingFails fails;
        CVirtualClock clock;
        CSysFailNth<&CSysCalls::CreateMutexW> squatted(1, ERROR_ACCESS_DENIED, nullptr);
        DoSanarix();
        VaultkitUninitAfterFailedStart();
        std::vector<std::wstring> lines = LinesOfFile(ReadFileBytes(LogFile()));
        ASSERT_GT(lines.size(), 6u);
        EXPECT_EQ(MessageOfLine(lines[3]).value_or(L"?"),
                  L"[ERROR]:  DoSanarix - Cannot take a safe run lock, going on without it");
        EXPECT_EQ(MessageOfLine(lines[4]).value_or(L"?"), L"[ALL]:    DoSanarix - ");
        EXPECT_EQ(MessageOfLine(lines.back()).value_or(L"?"), L"[ALL]:    DoSanarix - ok");
        EXPECT_EQ(fails.privilegeNames.Count(), 2u);
    }
}

// ---------------------------------------------------------------------------------------

namespace {

const HANDLE kToken = reinterpret_cast<HANDLE>(0x70C0);

// The three privilege calls and the token's close, in order; any of them can fail.
class CPrivilegeCalls
{
public:
    std::vector<std::wstring> m_Events;
    std::vector<TOKEN_PRIVILEGES> m_Adjusted;
    std::wstring m_sFailLookup, m_sFailOpen; // fail this call for this privilege
    bool m_bFailAdjust = false;
    std::wstring m_sCurrent;

private:
    CSysHook<&CSysCalls::LookupPrivilegeValueW> m_lookup{
        [this](LPCWSTR system, LPCWSTR name, PLUID luid) -> BOOL {
            m_sCurrent = name;
            m_Events.push_back(L"lookup " + m_sCurrent + (system ? L" remote" : L""));
            if (m_sFailLookup == name)
                return FALSE;
            luid->LowPart = m_sCurrent == L"SeDebugPrivilege" ? 20 : 19;
            luid->HighPart = 0;
            return TRUE;
        }};
    CSysHook<&CSysCalls::OpenProcessToken> m_open{
        [this](HANDLE process, DWORD access, PHANDLE token) -> BOOL {
            bool self = process == GetCurrentProcess();
            m_Events.push_back(L"open " + std::to_wstring(access) + (self ? L"" : L" other"));
            if (m_sFailOpen == m_sCurrent)
                return FALSE;
            *token = kToken;
            return TRUE;
        }};
    CSysHook<&CSysCalls::AdjustTokenPrivileges> m_adjust{
        [this](HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES tp, DWORD length,
               PTOKEN_PRIVILEGES previous, PDWORD returned) -> BOOL {
            bool plain = token == kToken && !disableAll && length == 0 && !previous && !returned;
            m_Events.push_back(plain ? L"adjust" : L"adjust with odd arguments");
            m_Adjusted.push_back(*tp);
            return !m_bFailAdjust;
        }};
    CSysHook<&CSysCalls::CloseHandle> m_close{[this](HANDLE h) -> BOOL {
        if (h != kToken)
            return CSysHook<&CSysCalls::CloseHandle>::Next()(h);
        m_Events.push_back(L"close");
        return TRUE;
    }};
};

} // namespace

TEST_F(SequenceTest, PrivilegeIsLookedUpTokenOpenedAdjustedAndClosed)
{
    CPrivilegeCalls calls;
    calls.m_bFailAdjust = true; // its result is not examined: the token is closed anyway
    EnablePrivilege(L"SeShutdownPrivilege");
    EnablePrivilege(L"SeDebugPrivilege");
    EXPECT_EQ(calls.m_Events, (std::vector<std::wstring>{
                                  L"lookup SeShutdownPrivilege", L"open 32", L"adjust", L"close",
                                  L"lookup SeDebugPrivilege", L"open 32", L"adjust", L"close"}));
    ASSERT_EQ(calls.m_Adjusted.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(calls.m_Adjusted[i].PrivilegeCount, 1u);
        EXPECT_EQ(calls.m_Adjusted[i].Privileges[0].Attributes, DWORD(SE_PRIVILEGE_ENABLED));
        EXPECT_EQ(calls.m_Adjusted[i].Privileges[0].Luid.LowPart, i == 0 ? 19u : 20u);
    }
    EXPECT_TRUE(Messages().empty());
}

TEST_F(SequenceTest, PrivilegeFailureSkipsTheRestSilently)
{
    CPrivilegeCalls lookupFails;
    lookupFails.m_sFailLookup = L"SeShutdownPrivilege";
    EnablePrivilege(L"SeShutdownPrivilege");
    EnablePrivilege(L"SeDebugPrivilege");
    EXPECT_EQ(lookupFails.m_Events,
              (std::vector<std::wstring>{L"lookup SeShutdownPrivilege", L"lookup SeDebugPrivilege",
                                         L"open 32", L"adjust", L"close"}));
    lookupFails.m_Events.clear();
    lookupFails.m_sFailLookup.clear();
    lookupFails.m_sFailOpen = L"SeShutdownPrivilege";
    EnablePrivilege(L"SeShutdownPrivilege");
    EXPECT_EQ(lookupFails.m_Events,
              (std::vector<std::wstring>{L"lookup SeShutdownPrivilege", L"open 32"}));
    EXPECT_TRUE(Messages().empty());
}
