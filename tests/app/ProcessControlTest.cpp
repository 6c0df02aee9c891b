// Running the product's executables with "stop"/"start" and killing its processes by name.
#include "tests/app/AppTestSupport.h"

namespace {

class ProcessControlTest : public AppTest
{
protected:
    ~ProcessControlTest() override { EXPECT_TRUE(m_Processes.AllClosed()); }

    std::vector<std::wstring> WaitLines(const wchar_t* tag) const
    {
        std::wstring h = HandleText(m_Launcher.m_hProcess);
        return {L"[INFO]:   " + std::wstring(tag) + L" - WaitForSingleObject handle=" + h + L" ...",
                L"[INFO]:   " + std::wstring(tag) + L" - WaitForSingleObject handle=" + h + L" ok"};
    }

    CFakeLauncher m_Launcher;
    CFakeProcesses m_Processes;
    CVirtualClock m_Clock;
};

} // namespace

TEST_F(ProcessControlTest, StopRunsTheExecutableHiddenWaitsAndKills)
{
    m_Processes.m_List = {{L"cvhost.exe", 10},
                          {L"CVHOST.EXE", 11},
                          {L"cvhost.exe.bak", 12},
                          {L"xcvhost.exe", 13},
                          {L"cvtray.exe", 14}};
    for (const wchar_t* folder : {L"C:\\CV", L"C:\\CV\\"}) {
        g_sCVPath = folder;
        EXPECT_TRUE(StopCVApp(L"cvhost.exe", 60000));
        ASSERT_FALSE(m_Launcher.m_Calls.empty());
        const CFakeLauncher::Call& call = m_Launcher.m_Calls.back();
        EXPECT_EQ(call.commandLine, L"C:\\CV\\cvhost.exe stop");
        EXPECT_EQ(call.application.value_or(L"(none)"), L"C:\\CV\\cvhost.exe");
        EXPECT_FALSE(call.processAttributes || call.threadAttributes || call.environment);
        EXPECT_FALSE(call.currentDirectory.has_value());
        EXPECT_EQ(call.inherit, FALSE);
        EXPECT_EQ(call.flags, DWORD(NORMAL_PRIORITY_CLASS));
        EXPECT_EQ(call.startup.cb, 104u);
        EXPECT_EQ(call.startup.dwFlags, DWORD(STARTF_USESHOWWINDOW));
        EXPECT_EQ(call.startup.wShowWindow, SW_HIDE);
        EXPECT_EQ(call.startup.lpDesktop, nullptr);
        EXPECT_TRUE(m_Launcher.ProcessClosed());
    }
    std::vector<std::wstring> expected = {
        L"[ALL]:    StopCVApp - szCVApp=cvhost.exe",
        L"[ALL]:    StopCVApp - szCommand=C:\\CV\\cvhost.exe stop"};
    for (const std::wstring& line : WaitLines(L"StopCVApp"))
        expected.push_back(line);
    expected.push_back(L"[ALL]:    KillProcess - szProcess=cvhost.exe");
    std::vector<std::wstring> messages = Messages();
    ASSERT_GE(messages.size(), 5u);
    EXPECT_EQ(std::vector<std::wstring>(messages.end() - 5, messages.end()), expected);
    EXPECT_EQ(m_Clock.Waits(), (std::vector<DWORD>{60000, 60000}));
    EXPECT_EQ(m_Clock.Now(), 120000u); // the command never ended: both waits ran out
    // Only whole names match, in any letter case.
    EXPECT_EQ(m_Processes.m_Terminated, (std::vector<DWORD>{10, 11, 10, 11}));
}

TEST_F(ProcessControlTest, StopCommandThatEndsAtOnceWithNothingLeftToKill)
{
    g_sCVPath = L"C:\\CV";
    m_Launcher.m_bExitsAtOnce = true;
    m_Processes.m_List = {{L"cvtray.exe", 10}};
    EXPECT_TRUE(StopCVApp(L"cvhost.exe", 60000));
    EXPECT_EQ(m_Clock.Waits(), (std::vector<DWORD>{60000}));
    EXPECT_EQ(m_Clock.Now(), 0u);
    EXPECT_EQ(m_Processes.m_nSnapshots, 1);
    EXPECT_TRUE(m_Processes.m_Terminated.empty());
}

TEST_F(ProcessControlTest, StartRunsTheExecutableAndKillsNothing)
{
    g_sCVPath = L"C:\\Program Files\\Corvanta\\Corvanta Suite\\";
    m_Processes.m_List = {{L"cvtray.exe", 10}};
    EXPECT_TRUE(StartCVApp(L"cvtray.exe", 60000));
    const std::wstring exe = L"C:\\Program Files\\Corvanta\\Corvanta Suite\\cvtray.exe";
    ASSERT_EQ(m_Launcher.m_Calls.size(), 1u);
    EXPECT_EQ(m_Launcher.m_Calls[0].commandLine, exe + L" start");
    EXPECT_EQ(m_Launcher.m_Calls[0].application.value_or(L"(none)"), exe);
    std::vector<std::wstring> expected = {L"[ALL]:    StartCVApp - szCVApp=cvtray.exe",
                                          L"[ALL]:    StartCVApp - szCommand=" + exe + L" start"};
    for (const std::wstring& line : WaitLines(L"StartCVApp"))
        expected.push_back(line);
    EXPECT_EQ(Messages(), expected);
    EXPECT_EQ(m_Processes.m_nSnapshots, 0);
    EXPECT_TRUE(m_Launcher.ProcessClosed());
}

TEST_F(ProcessControlTest, CommandThatCannotStartIsLoggedWithItsDecimalError)
{
    g_sCVPath = L"C:\\CV";
    m_Launcher.m_dwFailError = 123; // 0x7B
    m_Processes.m_List = {{L"cvhost.exe", 10}};
    EXPECT_FALSE(StopCVApp(L"cvhost.exe", 60000));
    EXPECT_FALSE(StartCVApp(L"cvhost.exe", 60000));
    std::vector<std::wstring> messages = Messages();
    ASSERT_EQ(messages.size(), 6u);
    EXPECT_EQ(
        messages[2],
        L"[ERROR]:  StopCVApp - CreateProcess failed, command=C:\\CV\\cvhost.exe stop error=123");
    EXPECT_EQ(
        messages[5],
        L"[ERROR]:  StartCVApp - CreateProcess failed, command=C:\\CV\\cvhost.exe start error=123");
    EXPECT_TRUE(m_Clock.Waits().empty());
    EXPECT_EQ(m_Processes.m_nSnapshots, 0);
}

TEST_F(ProcessControlTest, CommandWithoutItsFolderOrLongerThanItsBufferIsRefused)
{
    // No install folder: the command would be "\cvhost.exe" at the drive's root.
    m_Processes.m_List = {{L"cvhost.exe", 10}};
    for (const wchar_t* tag : {L"StopCVApp", L"StartCVApp"}) {
        m_Debugger.Clear();
        bool stop = std::wstring(tag) == L"StopCVApp";
        EXPECT_FALSE(stop ? StopCVApp(L"cvhost.exe", 60000) : StartCVApp(L"cvhost.exe", 60000));
        std::wstring t = tag;
        EXPECT_EQ(Messages(), (std::vector<std::wstring>{
                                  L"[ALL]:    " + t + L" - szCVApp=cvhost.exe",
                                  L"[ERROR]:  " + t + L" - Install folder unknown, nothing run"}));
    }
    EXPECT_TRUE(m_Launcher.m_Calls.empty());
    EXPECT_EQ(m_Processes.m_nSnapshots, 0);

    // folder + "\cvhost.exe stop" (16): 243 + 16 = 259 characters fit, 244 do not.
    g_sCVPath = L"C:\\" + std::wstring(240, L'a');
    EXPECT_TRUE(StopCVApp(L"cvhost.exe", 60000));
    ASSERT_EQ(m_Launcher.m_Calls.size(), 1u);
    EXPECT_EQ(m_Launcher.m_Calls[0].commandLine.size(), 259u);

    g_sCVPath += L"a";
    m_Debugger.Clear();
    EXPECT_FALSE(StopCVApp(L"cvhost.exe", 60000));
    EXPECT_EQ(m_Launcher.m_Calls.size(), 1u);
    EXPECT_EQ(Messages(), (std::vector<std::wstring>{
                              L"[ALL]:    StopCVApp - szCVApp=cvhost.exe",
                              L"[ERROR]:  StopCVApp - Command too long, szCVApp=cvhost.exe"}));
}

TEST_F(ProcessControlTest, KillOpensForTerminateAndCountsOnlySuccesses)
{
    m_Processes.m_List = {{L"cvhost.exe", 10, /*refuseOpen=*/true},
                          {L"cvhost.exe", 11},
                          {L"cvhost.exe", 12, false, /*refuseTerminate=*/true}};
    EXPECT_TRUE(KillProcess(L"CVHOST.EXE"));
    EXPECT_EQ(m_Processes.m_Terminated, (std::vector<DWORD>{11}));
    EXPECT_EQ(m_Processes.m_Opens,
              (std::vector<std::tuple<DWORD, BOOL, DWORD>>{{PROCESS_TERMINATE, FALSE, 10},
                                                           {PROCESS_TERMINATE, FALSE, 11},
                                                           {PROCESS_TERMINATE, FALSE, 12}}));
    EXPECT_EQ(m_Processes.m_ExitCodes, (std::vector<UINT>{0, 0}));
    for (DWORD size : m_Processes.m_EntrySizes)
        EXPECT_EQ(size, 568u);
    EXPECT_EQ(Messages(),
              (std::vector<std::wstring>{L"[ALL]:    KillProcess - szProcess=CVHOST.EXE"}));
}

TEST_F(ProcessControlTest, KillWithoutAnyTerminatedProcessIsFalse)
{
    m_Processes.m_List = {{L"cvhost.exe", 10, true},
                          {L"cvhost.exe", 11, false, true},
                          {L"cvhost.ex", 12},
                          {L"cvhost.exe ", 13}};
    EXPECT_FALSE(KillProcess(L"cvhost.exe"));
    EXPECT_TRUE(m_Processes.m_Terminated.empty());
    m_Processes.m_List.clear();
    EXPECT_FALSE(KillProcess(L"cvhost.exe"));
}

TEST_F(ProcessControlTest, KillWithoutSnapshotIsFalseWithoutFurtherLines)
{
    for (HANDLE failed : {INVALID_HANDLE_VALUE, HANDLE(nullptr)}) {
        CFakeProcesses processes({{L"cvhost.exe", 10}});
        processes.m_SnapshotFailure = failed;
        m_Debugger.Clear();
        EXPECT_FALSE(KillProcess(L"cvhost.exe"));
        EXPECT_TRUE(processes.m_EntrySizes.empty());
        EXPECT_EQ(Messages().size(), 1u);
    }
}
