// The repair run as a whole with every operation failing, and its start-up: the library
// search, the debug log's place, the run lock and the privileges.
#include "app/Sanarix.h"
#include "diag/DebugLog.h"
#include "quarantine/Vaultkit.h"
#include "tests/app/AppTestSupport.h"
#include "tests/support/TestFiles.h"
#include <algorithm>

namespace {

const std::wstring kRun = L"DoSanarix";
const std::wstring kInstall = L"C:\\Program Files\\Corvanta\\Corvanta Suite\\";
const std::wstring kEngine = L"C:\\Program Files\\Common Files\\Corvanta\\Corvanta Scan Kernel\\";

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

// The whole run's messages with every operation failing at its first Windows call.
std::vector<std::wstring> FailedRun(bool installKnown, bool engineKnown)
{
    std::vector<std::wstring> run = {
        L"", L"", L"=====started=====", All(kRun, L""), All(kRun, L"InitGlobals() ..."),
        All(L"GetServicePath", L"szName=CVHOST"),
        Error(L"GetServicePath", L"OpenSCManager() failed"), All(kRun, L"InitGlobals() ok"),
        All(kRun, L"g_sCVPath=" + (installKnown ? kInstall : L"")),
        All(kRun, L"g_sCVSKPath=" + (engineKnown ? kEngine : L""))};
    auto add = [&run](const std::vector<std::wstring>& lines) {
        run.insert(run.end(), lines.begin(), lines.end());
    };
    for (const wchar_t* exe : {L"cvhost.exe", L"cvtray.exe", L"cvconsole.exe"})
        add(App(L"StopCVApp", exe, L"stop", installKnown));
    for (const wchar_t* name : {L"CVUPDATE", L"CVPROBE", L"CVMSG"})
        add(Service(L"MyStopService", name));
    const std::wstring search = L"szFile=cvheur.xr0 szPath=", remove = L"RemoveFileRec(cvheur.xr0)";
    add(engineKnown ? Step(remove, {All(L"RemoveFileRec", search + kEngine)}, L"0")
                    : Step(remove,
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
              Error(L"RestoreQuarantine", L"Could not init vaultkit!"),
              All(L"RestoreQuarantine", L"ok")},
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

    // DoSanarix on unknown product folders, every operation failing at its first call,
    // the shell's folder query given by the test; the quarantine library's start that
    // found no folder is stopped afterwards.
    void Run()
    {
        CSysFailNth<&CSysCalls::OpenSCManagerW> scm{1, ERROR_ACCESS_DENIED, nullptr, true};
        CSysFailNth<&CSysCalls::CreateProcessW> create{1, ERROR_FILE_NOT_FOUND, FALSE, true};
        CSysFailNth<&CSysCalls::FindFirstFileW> find{1, ERROR_PATH_NOT_FOUND, INVALID_HANDLE_VALUE,
                                                     true};
        CSysFailNth<&CSysCalls::RegOpenKeyExW> reg{1, 0, ERROR_ACCESS_DENIED, true};
        CSysFailNth<&CSysCalls::LookupPrivilegeValueW> lookup{1, ERROR_NO_SUCH_PRIVILEGE, FALSE,
                                                              true};
        CSysHook<&CSysCalls::SHGetFolderPathW> shell(
            [this](HWND, int csidl, HANDLE, DWORD, LPWSTR out) {
                m_Folders.push_back(csidl);
                wcscpy(out, m_Shell[csidl].c_str()); // a failing query's text is not to be used
                return csidl == m_nFailingFolder ? E_FAIL : S_OK;
            });
        CSysRecorder<&CSysCalls::LookupPrivilegeValueW> privileges; // sees the calls first
        CSysRecorder<&CSysCalls::CreateProcessW> runs;
        g_sCVPath.clear();
        g_sCVSKPath.clear();
        m_Folders.clear();
        m_Privileges.clear();
        DoSanarix();
        while (g_nVaultkitInit > 0)
            VaultkitUninit();
        m_nRuns = runs.Count();
        for (const auto& call : privileges.Calls())
            m_Privileges.push_back(std::get<1>(call));
    }
    std::wstring LogFolder() const { return m_Dir.Join(L"Corvanta\\DTrace"); }
    std::wstring LogFile() const { return LogFolder() + L"\\sanarix.dbg"; }
    std::vector<std::wstring> LogMessages() const
    {
        return MessagesOfFile(ReadFileBytes(LogFile()));
    }

    CTempDir m_Dir;
    std::map<int, std::wstring> m_Shell = {
        {CSIDL_COMMON_APPDATA, m_Dir.Path()},
        {CSIDL_PROGRAM_FILES, L"C:\\Program Files"},
        {CSIDL_PROGRAM_FILES_COMMON, L"C:\\Program Files\\Common Files"}};
    int m_nFailingFolder = -1;
    std::vector<int> m_Folders; // asked for in the last run
    std::vector<std::wstring> m_Privileges;
    size_t m_nRuns = 0;
};

} // namespace

// Every operation failing, once with all folders known and once with each product folder
// unknown: every step's lines in order, and each pause right after its service start.
TEST_F(SequenceTest, EveryOperationFailingStillLogsEveryStepInOrder)
{
    for (int unknown : {-1, CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILES_COMMON}) {
        SCOPED_TRACE(unknown);
        DeleteFileW(LogFile().c_str());
        m_nFailingFolder = unknown;
        CVirtualClock clock;
        std::vector<std::wstring> beforePause; // the last line of the file at each pause
        CSysHook<&CSysCalls::Sleep> pauses([&](DWORD ms) {
            beforePause.push_back(LogMessages().back());
            CSysHook<&CSysCalls::Sleep>::Next()(ms);
        });
        Run();

        EXPECT_EQ(ReadFileBytes(LogFile()).substr(0, 3), "\xEF\xBB\xBF");
        const bool installKnown = unknown != CSIDL_PROGRAM_FILES;
        EXPECT_EQ(LogMessages(), FailedRun(installKnown, unknown != CSIDL_PROGRAM_FILES_COMMON));
        EXPECT_EQ(clock.Sleeps(), (std::vector<DWORD>{10000, 10000}));
        EXPECT_EQ(beforePause, (std::vector<std::wstring>{
                                   All(kRun, L"MyStartService(CVMSG) result=fail"),
                                   All(kRun, L"MyStartService(CVUPDATE) result=fail")}));
        EXPECT_EQ(clock.Waits(), std::vector<DWORD>{0}) << "the run lock is tried, not waited for";
        EXPECT_EQ(m_nRuns, installKnown ? 5u : 0u) << "nothing run without its folder";
        EXPECT_EQ(m_Folders, (std::vector<int>{CSIDL_COMMON_APPDATA, CSIDL_PROGRAM_FILES,
                                               CSIDL_PROGRAM_FILES_COMMON}));
        EXPECT_EQ(m_Privileges,
                  (std::vector<std::wstring>{L"SeShutdownPrivilege", L"SeDebugPrivilege"}));
    }
}

// No folder, an empty one, or one whose log path would not fit 259 characters (232 and
// "\Corvanta\DTrace\sanarix.dbg" are 260): the same run, on the debugger only.
TEST_F(SequenceTest, WithoutAUsableLogPathTheRunLogsToTheDebuggerOnly)
{
    const std::vector<std::wstring> run = FailedRun(true, true);
    m_nFailingFolder = CSIDL_COMMON_APPDATA;
    const std::wstring tooLong = L"C:\\" + std::wstring(229, L'a');
    for (const std::wstring& folder : {m_Dir.Path(), std::wstring(), tooLong}) {
        m_Shell[CSIDL_COMMON_APPDATA] = folder;
        m_Debugger.Clear();
        CVirtualClock clock;
        Run();
        m_nFailingFolder = -1;
        EXPECT_EQ(g_DebugLog.GetFile()[0], L'\0');
        EXPECT_EQ(m_Debugger.All().find(L"Debug file"), std::wstring::npos);
        EXPECT_EQ(Messages(), std::vector<std::wstring>(run.begin() + 3, run.end()));
    }
}

// Before the shell's first folder query and the first line of the log, the library search
// is cut down to the system folder; without SetDefaultDllDirectories, silently the other way.
TEST_F(SequenceTest, LibrarySearchIsRestrictedFirst)
{
    for (BOOL present : {TRUE, FALSE}) {
        std::vector<std::wstring> events;
        CVirtualClock clock;
        CSysHook<&CSysCalls::OutputDebugStringW> debugger(
            [&](LPCWSTR) { events.push_back(L"log"); });
        CSysHook<&CSysCalls::SetDefaultDllDirectories> restrict([&](DWORD flags) {
            events.push_back(L"SetDefaultDllDirectories " + std::to_wstring(flags) + L" after " +
                             std::to_wstring(m_Folders.size()) + L" shell queries");
            return present;
        });
        CSysHook<&CSysCalls::SetDllDirectoryW> fallback([&](LPCWSTR path) {
            events.push_back(L"SetDllDirectoryW(" + std::wstring(path ? path : L"null") + L")");
            return TRUE;
        });
        Run();
        std::vector<std::wstring> expected = {
            L"SetDefaultDllDirectories 2048 after 0 shell queries", L"log"};
        if (!present)
            expected.insert(expected.begin() + 1, L"SetDllDirectoryW()");
        events.resize(std::max(events.size(), expected.size()));
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
        // Another run holds the mutex: the try finds it taken (RunLockTest holds it for real).
        CSysHook<&CSysCalls::WaitForSingleObject> held(
            [](HANDLE, DWORD ms) -> DWORD { return ms == 0 ? WAIT_TIMEOUT : WAIT_FAILED; });
        Run();
        EXPECT_EQ(LogMessages(), (std::vector<std::wstring>{
                                     L"", L"", L"=====started=====",
                                     Error(kRun, L"Another run is in progress, nothing done")}));
        EXPECT_EQ(m_Folders, std::vector<int>{CSIDL_COMMON_APPDATA});
        EXPECT_TRUE(m_Privileges.empty());
    }
    DeleteFileW(LogFile().c_str());
    CVirtualClock clock;
    CSysFailNth<&CSysCalls::CreateMutexW> squatted(1, ERROR_ACCESS_DENIED, nullptr);
    Run();
    std::vector<std::wstring> expected = FailedRun(true, true);
    expected.insert(expected.begin() + 3,
                    Error(kRun, L"Cannot take a safe run lock, going on without it"));
    EXPECT_EQ(LogMessages(), expected);
}
