// The repair run as a whole with every operation failing, the start-up before it (library
// search, log place, run lock, privileges) and the debug log's place.
#include "app/Sanarix.h"
#include "diag/DebugLog.h"
#include "platform/Utf8.h"
#include "quarantine/Vaultkit.h"
#include "tests/app/AppTestSupport.h"
#include "tests/support/TestFiles.h"
#include <algorithm>

namespace {

const std::wstring kRun = L"DoSanarix";
const std::wstring kInstall = L"C:\\Program Files\\Corvanta\\Corvanta Suite\\";
const std::wstring kEngine = L"C:\\Program Files\\Common Files\\Corvanta\\Corvanta Scan Kernel\\";

// Shell folders: the common application data folder is a test folder. The query of one
// folder can be made to fail (its buffer then holds nothing).
class CShellFolders
{
public:
    explicit CShellFolders(std::wstring appData, HRESULT appDataResult = S_OK, int failing = -1)
        : m_hook([=](HWND hwnd, int csidl, HANDLE token, DWORD flags, LPWSTR out) -> HRESULT {
              m_Calls.push_back(hwnd || token || flags ? -1 : csidl);
              if (csidl == failing)
                  return E_FAIL;
              const std::wstring text = csidl == CSIDL_COMMON_APPDATA  ? appData
                                        : csidl == CSIDL_PROGRAM_FILES ? L"C:\\Program Files"
                                                                       : L"C:\\Program Files\\Common Files";
              wcsncpy(out, text.c_str(), MAX_PATH - 1);
              return csidl == CSIDL_COMMON_APPDATA ? appDataResult : S_OK;
          })
    {
    }
    std::vector<int> m_Calls;

private:
    CSysHook<&CSysCalls::SHGetFolderPathW> m_hook;
};

// Every operation of the run fails at its first Windows call.
struct CEverythingFails
{
    CSysFailNth<&CSysCalls::OpenSCManagerW> scm{1, ERROR_ACCESS_DENIED, nullptr, true};
    CSysFailNth<&CSysCalls::CreateProcessW> create{1, ERROR_FILE_NOT_FOUND, FALSE, true};
    CSysFailNth<&CSysCalls::FindFirstFileW> find{1, ERROR_PATH_NOT_FOUND, INVALID_HANDLE_VALUE,
                                                 true};
    CSysFailNth<&CSysCalls::RegOpenKeyExW> reg{1, 0, ERROR_ACCESS_DENIED, true};
    CSysFailNth<&CSysCalls::LookupPrivilegeValueW> lookup{1, ERROR_NO_SUCH_PRIVILEGE, FALSE, true};
    CSysRecorder<&CSysCalls::LookupPrivilegeValueW> privileges; // sees the calls first
};

// One step of the sequence: its call, the operation's own lines, its result.
std::vector<std::wstring> Step(const std::wstring& call, std::vector<std::wstring> inner,
                               const std::wstring& result)
{
    inner.insert(inner.begin(), All(kRun, call + L" ..."));
    inner.push_back(All(kRun, call + L" result=" + result));
    return inner;
}

// A product command that fails: not found, or not run at all without its folder.
std::vector<std::wstring> App(const std::wstring& tag, const std::wstring& exe,
                              const std::wstring& word, bool folderKnown)
{
    const std::wstring command = kInstall + exe + L" " + word;
    std::vector<std::wstring> lines = {All(tag, L"szCVApp=" + exe)};
    if (!folderKnown)
        lines.push_back(Error(tag, L"Install folder unknown, nothing run"));
    else
        lines = {lines[0], All(tag, L"szCommand=" + command),
                 Error(tag, L"CreateProcess failed, command=" + command + L" error=2")};
    return Step(tag + L"(" + exe + L")", lines, L"fail");
}

std::vector<std::wstring> Service(const std::wstring& tag, const std::wstring& name)
{
    return Step(tag + L"(" + name + L")",
                {All(tag, L"szName=" + name), Error(tag, L"OpenSCManager() failed")}, L"fail");
}

// The whole run's messages with every operation failing.
std::vector<std::wstring> FailedRun(bool installKnown, bool engineKnown)
{
    std::vector<std::wstring> run = {
        L"", L"", L"=====started=====", All(kRun, L""), All(kRun, L"InitGlobals() ..."),
        All(L"GetServicePath", L"szName=CVHOST"), Error(L"GetServicePath", L"OpenSCManager() failed"),
        All(kRun, L"InitGlobals() ok"), All(kRun, L"g_sCVPath=" + (installKnown ? kInstall : L"")),
        All(kRun, L"g_sCVSKPath=" + (engineKnown ? kEngine : L""))};
    auto add = [&run](const std::vector<std::wstring>& lines) {
        run.insert(run.end(), lines.begin(), lines.end());
    };
    for (const wchar_t* exe : {L"cvhost.exe", L"cvtray.exe", L"cvconsole.exe"})
        add(App(L"StopCVApp", exe, L"stop", installKnown));
    for (const wchar_t* name : {L"CVUPDATE", L"CVPROBE", L"CVMSG"})
        add(Service(L"MyStopService", name));
    const std::wstring search = L"szFile=cvheur.xr0 szPath=";
    add(engineKnown ? Step(L"RemoveFileRec(cvheur.xr0)", {All(L"RemoveFileRec", search + kEngine)}, L"0")
                    : Step(L"RemoveFileRec(cvheur.xr0)",
                           {All(L"RemoveFileRec", search),
                            Error(L"RemoveFileRec", L"Folder unknown, nothing searched")},
                           L"-1"));
    add(Step(L"RemovePendingFileROp()",
             {All(L"DeleteRegistryKey", L"szRegPath=SYSTEM\\CurrentControlSet\\Control\\Session "
                                        L"Manager szRegValue=PendingFileRenameOperations"),
              Error(L"DeleteRegistryKey", L"Cannot open registry key, error=5")},
             L"fail"));
    add(Step(L"RestoreQuarantine(trojan.fakealert.5)",
             {All(L"RestoreQuarantine", L"szVirusName=trojan.fakealert.5"),
              Error(L"GetQuarFolderPath",
                    L"Cannot open registry path: SOFTWARE\\Corvanta\\Corvanta Quarantine\\"),
              Error(L"RestoreQuarantine", L"Could not init vaultkit!"), All(L"RestoreQuarantine", L"ok")},
             L"ok"));
    add(Service(L"MyStartService", L"CVMSG"));
    add(Service(L"MyStartService", L"CVUPDATE"));
    add(App(L"StartCVApp", L"cvhost.exe", L"start", installKnown));
    add(App(L"StartCVApp", L"cvtray.exe", L"start", installKnown));
    run.push_back(All(kRun, L"ok"));
    return run;
}

class SequenceTest : public AppTest
{
protected:
    SequenceTest() { CreateDirectoryW(m_Dir.Join(L"Corvanta").c_str(), nullptr); }
    void SetUp() override { ASSERT_TRUE(CreateDirectoryW(LogFolder().c_str(), nullptr)); }
    // DoSanarix on unknown product folders, and the quarantine library's start that found
    // no folder stopped.
    void Run()
    {
        g_sCVPath.clear();
        g_sCVSKPath.clear();
        DoSanarix();
        while (g_nVaultkitInit > 0)
            VaultkitUninit();
    }
    std::wstring LogFolder() const { return m_Dir.Join(L"Corvanta\\DTrace"); }
    std::wstring LogFile() const { return LogFolder() + L"\\sanarix.dbg"; }
    std::vector<std::wstring> LogMessages() const { return MessagesOfFile(ReadFileBytes(LogFile())); }

    CTempDir m_Dir;
};

} // namespace

// Every operation failing, once with all folders known and once with each product folder
// unknown: every step's lines in order, and each pause right after its service start.
TEST_F(SequenceTest, EveryOperationFailingStillLogsEveryStepInOrder)
{
    for (int failing : {-1, CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILES_COMMON}) {
        SCOPED_TRACE(failing);
        DeleteFileW(LogFile().c_str());
        const bool installKnown = failing != CSIDL_PROGRAM_FILES;
        const bool engineKnown = failing != CSIDL_PROGRAM_FILES_COMMON;
        CShellFolders folders(m_Dir.Path(), S_OK, failing);
        CEverythingFails fails;
        CVirtualClock clock;
        std::vector<std::wstring> beforePause; // the last line of the file at each pause
        CSysHook<&CSysCalls::Sleep> pauses([&](DWORD ms) {
            beforePause.push_back(LogMessages().back());
            CSysHook<&CSysCalls::Sleep>::Next()(ms);
        });
        Run();

        EXPECT_EQ(ReadFileBytes(LogFile()).substr(0, 3), "\xEF\xBB\xBF");
        EXPECT_EQ(LogMessages(), FailedRun(installKnown, engineKnown));
        EXPECT_EQ(clock.Sleeps(), (std::vector<DWORD>{10000, 10000}));
        EXPECT_EQ(beforePause, (std::vector<std::wstring>{
                                   All(kRun, L"MyStartService(CVMSG) result=fail"),
                                   All(kRun, L"MyStartService(CVUPDATE) result=fail")}));
        EXPECT_EQ(clock.Waits(), std::vector<DWORD>{0}) << "the run lock is tried, not waited for";
        EXPECT_EQ(fails.create.Calls(), installKnown ? 5 : 0) << "nothing run without its folder";
        EXPECT_EQ(fails.find.Calls(), engineKnown ? 1 : 0) << "nothing searched without it";
        EXPECT_EQ(folders.m_Calls, (std::vector<int>{CSIDL_COMMON_APPDATA, CSIDL_PROGRAM_FILES,
                                                     CSIDL_PROGRAM_FILES_COMMON}));
        ASSERT_EQ(fails.privileges.Count(), 2u);
        EXPECT_STREQ(std::get<1>(fails.privileges.Calls()[0]), L"SeShutdownPrivilege");
        EXPECT_STREQ(std::get<1>(fails.privileges.Calls()[1]), L"SeDebugPrivilege");
    }
}

// No folder, an empty one, or one whose log path would not fit 259 characters (232 and
// "\Corvanta\DTrace\sanarix.dbg" are 260): the run logs to the debugger only.
TEST_F(SequenceTest, WithoutAUsableLogPathTheRunLogsToTheDebuggerOnly)
{
    const std::pair<std::wstring, HRESULT> cases[] = {
        {m_Dir.Path(), E_FAIL}, {L"", S_OK}, {L"C:\\" + std::wstring(229, L'a'), S_OK}};
    for (const auto& c : cases) {
        CShellFolders folders(c.first, c.second);
        CEverythingFails fails;
        CVirtualClock clock;
        m_Debugger.Clear();
        Run();
        EXPECT_EQ(g_DebugLog.GetFile()[0], L'\0') << WideToUtf8(c.first);
        EXPECT_EQ(m_Debugger.All().find(L"Debug file"), std::wstring::npos);
        const std::vector<std::wstring> run = FailedRun(true, true);
        EXPECT_EQ(Messages(), std::vector<std::wstring>(run.begin() + 3, run.end()))
            << "the same run, without the file's start marker";
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
        CSysHook<&CSysCalls::OutputDebugStringW> debugger([&](LPCWSTR) { events.push_back(L"debugger"); });
        CSysHook<&CSysCalls::SHGetFolderPathW> shell(
            [&](HWND hwnd, int csidl, HANDLE token, DWORD flags, LPWSTR out) -> HRESULT {
                events.push_back(L"shell");
                return CSysHook<&CSysCalls::SHGetFolderPathW>::Next()(hwnd, csidl, token, flags, out);
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
        Run();
        std::vector<std::wstring> expected = {L"SetDefaultDllDirectories 2048", L"shell"};
        if (!present)
            expected.insert(expected.begin() + 1, L"SetDllDirectoryW()");
        EXPECT_EQ(std::vector<std::wstring>(events.begin(), events.begin() + expected.size()),
                  expected);
        EXPECT_EQ(std::count(events.begin(), events.end(), expected[0]), 1);
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
        Run();
        EXPECT_EQ(LogMessages(), (std::vector<std::wstring>{
                                     L"", L"", L"=====started=====",
                                     Error(kRun, L"Another run is in progress, nothing done")}));
        EXPECT_EQ(folders.m_Calls, std::vector<int>{CSIDL_COMMON_APPDATA});
        EXPECT_EQ(fails.privileges.Count() + fails.scm.Calls(), 0u);
    }
    DeleteFileW(LogFile().c_str());
    CShellFolders folders(m_Dir.Path());
    CEverythingFails fails;
    CVirtualClock clock;
    CSysFailNth<&CSysCalls::CreateMutexW> squatted(1, ERROR_ACCESS_DENIED, nullptr);
    Run();
    std::vector<std::wstring> expected = FailedRun(true, true);
    expected.insert(expected.begin() + 3, Error(kRun, L"Cannot take a safe run lock, going on without it"));
    EXPECT_EQ(LogMessages(), expected);
}

// Each privilege is looked up, the token opened for adjusting, the privilege enabled alone
// and the token closed; a failure skips the rest of that privilege silently.
TEST_F(SequenceTest, PrivilegeIsLookedUpTokenOpenedAdjustedAndClosed)
{
    const HANDLE kToken = reinterpret_cast<HANDLE>(0x70C0);
    std::vector<std::wstring> events;
    std::wstring failLookup, failOpen, current;
    CSysHook<&CSysCalls::LookupPrivilegeValueW> lookup([&](LPCWSTR system, LPCWSTR name, PLUID luid) {
        current = name;
        events.push_back(L"lookup " + current + (system ? L" remote" : L""));
        *luid = LUID{current == L"SeDebugPrivilege" ? 20u : 19u, 0};
        return current != failLookup;
    });
    CSysHook<&CSysCalls::OpenProcessToken> open([&](HANDLE process, DWORD access, PHANDLE token) {
        events.push_back(L"open " + std::to_wstring(access) +
                         (process == GetCurrentProcess() ? L"" : L" other"));
        if (current == failOpen)
            return FALSE;
        *token = kToken;
        return TRUE;
    });
    CSysHook<&CSysCalls::AdjustTokenPrivileges> adjust(
        [&](HANDLE token, BOOL all, PTOKEN_PRIVILEGES tp, DWORD length, PTOKEN_PRIVILEGES previous,
            PDWORD returned) {
            bool plain = token == kToken && !all && length == 0 && !previous && !returned &&
                         tp->PrivilegeCount == 1 &&
                         tp->Privileges[0].Attributes == SE_PRIVILEGE_ENABLED;
            events.push_back(L"adjust " + std::to_wstring(tp->Privileges[0].Luid.LowPart) +
                             (plain ? L"" : L" with odd arguments"));
            return FALSE; // not examined: the token is closed anyway
        });
    CSysHook<&CSysCalls::CloseHandle> close([&](HANDLE h) -> BOOL {
        if (h != kToken)
            return CSysHook<&CSysCalls::CloseHandle>::Next()(h);
        events.push_back(L"close");
        return TRUE;
    });
    EnablePrivilege(L"SeShutdownPrivilege");
    EnablePrivilege(L"SeDebugPrivilege");
    failLookup = L"SeShutdownPrivilege";
    EnablePrivilege(L"SeShutdownPrivilege");
    failOpen = L"SeDebugPrivilege";
    EnablePrivilege(L"SeDebugPrivilege");
    EXPECT_EQ(events, (std::vector<std::wstring>{
                          L"lookup SeShutdownPrivilege", L"open 32", L"adjust 19", L"close",
                          L"lookup SeDebugPrivilege", L"open 32", L"adjust 20", L"close",
                          L"lookup SeShutdownPrivilege", L"lookup SeDebugPrivilege", L"open 32"}));
    EXPECT_TRUE(Messages().empty());
}
