// The whole run with every operation failing, and its start-up: library search, log, lock, privileges.
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

// The whole run's messages with every operation failing at its first Windows call.
std::vector<std::wstring> FailedRun(bool installKnown, bool engineKnown)
{
    std::vector<std::wstring> run = {
        L"", L"", L"=====started=====", All(kRun, L""), All(kRun, L"InitGlobals() ..."),
        All(L"GetServicePath", L"szName=CVHOST"), Error(L"GetServicePath", L"OpenSCManager() failed"),
        All(kRun, L"InitGlobals() ok"), All(kRun, L"g_sCVPath=" + (installKnown ? kInstall : L"")),
        All(kRun, L"g_sCVSKPath=" + (engineKnown ? kEngine : L""))};
    // One step: its call, the operation's own lines, its result.
    auto step = [&run](const std::wstring& call, std::vector<std::wstring> lines,
                       const wchar_t* result) {
        run.push_back(All(kRun, call + L" ..."));
        run.insert(run.end(), lines.begin(), lines.end());
        run.push_back(All(kRun, call + L" result=" + result));
    };
    // A product command that fails: not found, or not run at all without its folder.
    auto app = [&](const std::wstring& tag, const std::wstring& exe, const std::wstring& word) {
        const std::wstring command = kInstall + exe + L" " + word;
        std::vector<std::wstring> lines = {All(tag, L"szCVApp=" + exe)};
        if (!installKnown)
            lines.push_back(Error(tag, L"Install folder unknown, nothing run"));
        else
            lines = {lines[0], All(tag, L"szCommand=" + command),
                     Error(tag, L"CreateProcess failed, command=" + command + L" error=2")};
        step(tag + L"(" + exe + L")", lines, L"fail");
    };
    auto service = [&](const std::wstring& tag, const std::wstring& name) {
        step(tag + L"(" + name + L")", {All(tag, L"szName=" + name), Error(tag, L"OpenSCManager() failed")},
             L"fail");
    };
    for (const wchar_t* exe : {L"cvhost.exe", L"cvtray.exe", L"cvconsole.exe"})
        app(L"StopCVApp", exe, L"stop");
    for (const wchar_t* name : {L"CVUPDATE", L"CVPROBE", L"CVMSG"})
        service(L"MyStopService", name);
    const std::wstring search = L"szFile=cvheur.xr0 szPath=", remove = L"RemoveFileRec(cvheur.xr0)";
    if (engineKnown)
        step(remove, {All(L"RemoveFileRec", search + kEngine)}, L"0");
    else
        step(remove,
             {All(L"RemoveFileRec", search), Error(L"RemoveFileRec", L"Folder unknown, nothing searched")},
             L"-1");
    step(L"RemovePendingFileROp()",
         {All(L"DeleteRegistryKey", L"szRegPath=SYSTEM\\CurrentControlSet\\Control\\Session "
                                    L"Manager szRegValue=PendingFileRenameOperations"),
          Error(L"DeleteRegistryKey", L"Cannot open registry key, error=5")},
         L"fail");
    step(L"RestoreQuarantine(trojan.fakealert.5)",
         {All(L"RestoreQuarantine", L"szVirusName=trojan.fakealert.5"),
          Error(L"GetQuarFolderPath",
                L"Cannot open registry path: SOFTWARE\\Corvanta\\Corvanta Quarantine\\"),
          Error(L"RestoreQuarantine", L"Could not init vaultkit!"), All(L"RestoreQuarantine", L"ok")},
         L"ok");
    service(L"MyStartService", L"CVMSG");
    service(L"MyStartService", L"CVUPDATE");
    app(L"StartCVApp", L"cvhost.exe", L"start");
    app(L"StartCVApp", L"cvtray.exe", L"start");
    run.push_back(All(kRun, L"ok"));
    return run;
}

class SequenceTest : public AppTest
{
protected:
    SequenceTest() { CreateDirectoryW(m_Dir.Join(L"Corvanta").c_str(), nullptr); }
    void SetUp() override { ASSERT_TRUE(CreateDirectoryW(LogFolder().c_str(), nullptr)); }

    // DoSanarix, every operation failing at its first call, the shell's folders given by the test.
    void Run()
    {
        using C = CSysCalls;
        CSysFailNth<&C::OpenSCManagerW> scm{1, ERROR_ACCESS_DENIED, nullptr, true};
        CSysFailNth<&C::CreateProcessW> create{1, ERROR_FILE_NOT_FOUND, FALSE, true};
        CSysFailNth<&C::FindFirstFileW> find{1, ERROR_PATH_NOT_FOUND, INVALID_HANDLE_VALUE, true};
        CSysFailNth<&C::RegOpenKeyExW> reg{1, 0, ERROR_ACCESS_DENIED, true};
        CSysFailNth<&C::LookupPrivilegeValueW> lookup{1, ERROR_NO_SUCH_PRIVILEGE, FALSE, true};
        CSysHook<&C::SHGetFolderPathW> shell([this](HWND, int csidl, HANDLE, DWORD, LPWSTR out) {
            m_Folders.push_back(csidl);
            wcscpy(out, m_Shell[csidl].c_str()); // a failing query's text is not to be used
            return csidl == m_nFailingFolder ? E_FAIL : S_OK;
        });
        CSysRecorder<&C::LookupPrivilegeValueW> privileges; // sees the calls first
        CSysRecorder<&C::CreateProcessW> runs;
        m_Folders.clear();
        m_Privileges.clear();
        g_sCVPath.clear();
        g_sCVSKPath.clear();
        DoSanarix();
        while (g_nVaultkitInit > 0)
            VaultkitUninit();
        m_nRuns = runs.Count();
        for (const auto& call : privileges.Calls())
            m_Privileges.push_back(std::get<1>(call));
    }
    std::wstring LogFolder() const { return m_Dir.Join(L"Corvanta\\DTrace"); }
    std::wstring LogFile() const { return LogFolder() + L"\\sanarix.dbg"; }
    std::vector<std::wstring> LogMessages() const { return MessagesOfFile(ReadFileBytes(LogFile())); }

    CTempDir m_Dir;
    std::map<int, std::wstring> m_Shell = {{CSIDL_COMMON_APPDATA, m_Dir.Path()},
                                           {CSIDL_PROGRAM_FILES, L"C:\\Program Files"},
                                           {CSIDL_PROGRAM_FILES_COMMON, L"C:\\Program Files\\Common Files"}};
    int m_nFailingFolder = -1;
    std::vector<int> m_Folders; // asked for in the last run
    std::vector<std::wstring> m_Privileges;
    size_t m_nRuns = 0;
};

} // namespace

// With all folders known and with each product folder unknown: every step's lines in order,
// and each pause right after its service start.
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
        EXPECT_EQ(m_Privileges, (std::vector<std::wstring>{L"SeShutdownPrivilege", L"SeDebugPrivilege"}));
    }
}

// The library search is restricted before the first folder query and log line (else the other way).
TEST_F(SequenceTest, LibrarySearchIsRestrictedFirst)
{
    for (BOOL present : {TRUE, FALSE}) {
        std::vector<std::wstring> events;
        CVirtualClock clock;
        CSysHook<&CSysCalls::OutputDebugStringW> debugger([&](LPCWSTR) { events.push_back(L"log"); });
        CSysHook<&CSysCalls::SetDefaultDllDirectories> restrict([&](DWORD flags) {
            events.push_back(std::to_wstring(flags) + L" after " + std::to_wstring(m_Folders.size()));
            return present;
        });
        CSysHook<&CSysCalls::SetDllDirectoryW> fallback([&](LPCWSTR path) {
            events.push_back(L"SetDllDirectoryW(" + std::wstring(path ? path : L"null") + L")");
            return TRUE;
        });
        Run();
        events.resize(3);
        EXPECT_EQ(events, (std::vector<std::wstring>{
                              L"2048 after 0", present ? L"log" : L"SetDllDirectoryW()", L"log"}));
    }
}

// Another run in progress: the start marker and one line, nothing touched; no safe lock: said, run on.
TEST_F(SequenceTest, RunLockHeldElsewhereOrUntrustworthy)
{
    {
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
