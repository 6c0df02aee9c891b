// Running the product's executables with "stop"/"start" and killing its processes by name.
#include "tests/app/AppTestSupport.h"

namespace {

using ProcessControlTest = AppTest;

const std::wstring kStop = L"StopCVApp", kStart = L"StartCVApp";
const std::wstring kWait = L"(the two lines of the wait)";

// Low 32 bits of a handle as the log shows them ("0x%0.8X").
std::wstring HandleText(HANDLE h)
{
    wchar_t text[16];
    swprintf(text, 16, L"0x%08X", static_cast<unsigned>(reinterpret_cast<uintptr_t>(h)));
    return text;
}

} // namespace

TEST_F(ProcessControlTest, CommandsRunHiddenAreWaitedForAndAStopKills)
{
    const std::wstring cv = L"C:\\CV\\cvhost.exe", longFolder = L"C:\\" + std::wstring(240, L'a');
    struct Case
    {
        const char* what;
        std::wstring folder;
        bool stop; // StopCVApp, else StartCVApp
        DWORD failError;
        bool exitsAtOnce;
        bool result;
        std::vector<std::wstring> lines; // after "szCVApp=cvhost.exe"
        ULONGLONG waited;                 // on the virtual clock
    };
    const Case cases[] = {
        {"stop", L"C:\\CV", true, 0, false, true, {All(kStop, L"szCommand=" + cv + L" stop"), kWait},
         60000},
        {"stop that ends at once", L"C:\\CV\\", true, 0, true, true,
         {All(kStop, L"szCommand=" + cv + L" stop"), kWait}, 0},
        {"start", L"C:\\CV", false, 0, false, true, {All(kStart, L"szCommand=" + cv + L" start"), kWait},
         60000},
        {"cannot run", L"C:\\CV", true, 123, false, false,
         {All(kStop, L"szCommand=" + cv + L" stop"),
          Error(kStop, L"CreateProcess failed, command=" + cv + L" stop error=123")}, 0},
        {"cannot run a start", L"C:\\CV", false, 123, false, false,
         {All(kStart, L"szCommand=" + cv + L" start"),
          Error(kStart, L"CreateProcess failed, command=" + cv + L" start error=123")}, 0},
        // Without its folder the command would be "\cvhost.exe" at the drive's root.
        {"no folder", L"", true, 0, false, false, {Error(kStop, L"Install folder unknown, nothing run")},
         0},
        {"no folder for a start", L"", false, 0, false, false,
         {Error(kStart, L"Install folder unknown, nothing run")}, 0},
        // folder + "\cvhost.exe stop": 243 + 16 = 259 characters fit, 244 do not.
        {"259 characters", longFolder, true, 0, true, true,
         {All(kStop, L"szCommand=" + longFolder + L"\\cvhost.exe stop"), kWait}, 0},
        {"260 characters", longFolder + L"a", true, 0, true, false,
         {Error(kStop, L"Command too long, szCVApp=cvhost.exe")}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CFakeLauncher launcher;
        launcher.m_dwFailError = c.failError;
        launcher.m_bExitsAtOnce = c.exitsAtOnce;
        CFakeProcesses processes({{L"cvhost.exe", 10}, {L"CVHOST.EXE", 11}, {L"cvhost.exe.bak", 12},
                                  {L"xcvhost.exe", 13}, {L"cvtray.exe", 14}});
        CVirtualClock clock;
        g_sCVPath = c.folder;
        m_Debugger.Clear();
        EXPECT_EQ(c.stop ? StopCVApp(L"cvhost.exe", 60000) : StartCVApp(L"cvhost.exe", 60000),
                  c.result);

        const std::wstring tag = c.stop ? kStop : kStart, h = HandleText(launcher.m_hProcess);
        std::vector<std::wstring> expected = {All(tag, L"szCVApp=cvhost.exe")};
        for (const std::wstring& line : c.lines) {
            if (line != kWait) {
                expected.push_back(line);
                continue;
            }
            expected.push_back(Info(tag, L"WaitForSingleObject handle=" + h + L" ..."));
            expected.push_back(Info(tag, L"WaitForSingleObject handle=" + h + L" ok"));
            if (c.stop)
                expected.push_back(All(L"KillProcess", L"szProcess=cvhost.exe"));
        }
        EXPECT_EQ(Messages(), expected);
        EXPECT_EQ(clock.Now(), c.waited);
        bool ran = c.lines.back() == kWait;
        EXPECT_EQ(clock.Waits(), ran ? std::vector<DWORD>{60000} : std::vector<DWORD>{});
        // Only whole names are killed, in any letter case, and only after a stop that ran.
        const std::vector<DWORD> killed = {10, 11};
        EXPECT_EQ(processes.m_Terminated, ran && c.stop ? killed : std::vector<DWORD>());
        EXPECT_TRUE(processes.AllClosed());
        if (launcher.m_Calls.empty())
            continue;
        // The full path goes in as the application name too: Windows would otherwise try
        // every blank of an unquoted path as the end of the program's name.
        const std::wstring command = c.lines[0].substr(c.lines[0].find(L"szCommand=") + 10);
        EXPECT_EQ(launcher.m_Calls[0].application, command.substr(0, command.rfind(L' ')));
        EXPECT_EQ(launcher.m_Calls[0].commandLine, command);
        EXPECT_TRUE(launcher.m_Calls[0].plain);
        EXPECT_TRUE(launcher.ProcessClosed() || c.failError);
    }
}

// True when at least one process of the name was terminated; processes that cannot be
// opened or terminated are passed over.
TEST_F(ProcessControlTest, KillCountsOnlyTerminatedProcesses)
{
    const std::vector<CFakeProcess> stubborn = {{L"cvhost.exe", 10, /*refuseOpen=*/true},
                                                {L"cvhost.exe", 12, false, /*refuseTerminate=*/true},
                                                {L"cvhost.ex", 13},
                                                {L"cvhost.exe ", 14}};
    std::vector<CFakeProcess> some = stubborn;
    some.push_back({L"cvhost.exe", 11});
    const std::pair<std::vector<CFakeProcess>, bool> cases[] = {{some, true}, {stubborn, false}, {{}, false}};
    for (const auto& c : cases) {
        CFakeProcesses processes(c.first);
        m_Debugger.Clear();
        EXPECT_EQ(KillProcess(L"CVHOST.EXE"), c.second);
        EXPECT_EQ(processes.m_Terminated, std::vector<DWORD>(c.second ? 1 : 0, 11));
        EXPECT_EQ(Messages(), std::vector<std::wstring>{All(L"KillProcess", L"szProcess=CVHOST.EXE")});
        EXPECT_TRUE(processes.AllClosed());
    }
    for (HANDLE failed : {INVALID_HANDLE_VALUE, HANDLE(nullptr)}) {
        CFakeProcesses processes(some);
        processes.m_SnapshotFailure = failed;
        EXPECT_FALSE(KillProcess(L"cvhost.exe"));
        EXPECT_TRUE(processes.m_Terminated.empty());
    }
}
