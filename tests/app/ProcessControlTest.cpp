// Running the product's executables with "stop"/"start" and killing its processes by name.
#include "tests/app/AppTestSupport.h"

namespace {

using ProcessControlTest = AppTest;

const std::wstring kStop = L"StopCVApp", kStart = L"StartCVApp";

// The lines of a command that ran: the command, and the wait for it.
std::vector<std::wstring> Ran(const std::wstring& tag, const std::wstring& command, HANDLE process)
{
    wchar_t h[16]; // the low 32 bits, as the log has always shown them
    swprintf(h, 16, L"0x%08X", static_cast<unsigned>(reinterpret_cast<uintptr_t>(process)));
    return {All(tag, L"szCVApp=cvhost.exe"), All(tag, L"szCommand=" + command),
            Info(tag, L"WaitForSingleObject handle=" + std::wstring(h) + L" ..."),
            Info(tag, L"WaitForSingleObject handle=" + std::wstring(h) + L" ok")};
}

} // namespace

// Run hidden with the full path as application name too (else each blank could end it); a stop
// waits, then kills every process of the whole name in any case: true when one was terminated.
TEST_F(ProcessControlTest, CommandsRunHiddenAreWaitedForAndAStopKills)
{
    CFakeProcesses processes({{L"cvhost.exe", 10}, {L"CVHOST.EXE", 11}, {L"cvhost.exe.bak", 12},
                              {L"xcvhost.exe", 13}, {L"cvhost.exe", 14, /*refuseTerminate=*/true}});
    CVirtualClock clock;
    g_sCVPath = L"C:\\CV\\";
    EXPECT_TRUE(StopCVApp(L"cvhost.exe", 60000));
    std::vector<std::wstring> expected = Ran(kStop, L"C:\\CV\\cvhost.exe stop", processes.m_hProcess);
    expected.push_back(All(L"KillProcess", L"szProcess=cvhost.exe"));
    EXPECT_EQ(Messages(), expected);
    EXPECT_EQ(processes.m_Terminated, (std::vector<DWORD>{10, 11}));
    EXPECT_EQ(clock.Now(), 60000u); // the command never ended: its wait ran out

    processes.m_bExitsAtOnce = true;
    g_sCVPath = L"C:\\CV";
    m_Debugger.Clear();
    EXPECT_TRUE(StartCVApp(L"cvhost.exe", 60000));
    EXPECT_EQ(Messages(), Ran(kStart, L"C:\\CV\\cvhost.exe start", processes.m_hProcess));
    EXPECT_EQ(clock.Now(), 60000u);
    EXPECT_EQ(processes.m_Launches, (std::vector<std::wstring>{
                                        L"C:\\CV\\cvhost.exe|C:\\CV\\cvhost.exe stop",
                                        L"C:\\CV\\cvhost.exe|C:\\CV\\cvhost.exe start"}));
    processes.m_List = {{L"cvhost.exe", 14, true}};
    EXPECT_FALSE(KillProcess(L"cvhost.exe"));
}

// Nothing run without the install folder or past 259 characters; a failed start logs its decimal
// error. None of them kills anything.
TEST_F(ProcessControlTest, CommandsThatAreNotRun)
{
    const std::wstring folder = L"C:\\" + std::wstring(241, L'a'); // + "\cvhost.exe stop": 260
    CFakeProcesses processes({{L"cvhost.exe", 10}});
    processes.m_dwLaunchError = 123;
    for (const std::wstring& path : {std::wstring(), folder, std::wstring(L"C:\\CV")}) {
        g_sCVPath = path;
        EXPECT_FALSE(StopCVApp(L"cvhost.exe", 60000));
    }
    const std::wstring app = All(kStop, L"szCVApp=cvhost.exe"), command = L"C:\\CV\\cvhost.exe stop";
    EXPECT_EQ(Messages(), (std::vector<std::wstring>{
                              app, Error(kStop, L"Install folder unknown, nothing run"),
                              app, Error(kStop, L"Command too long, szCVApp=cvhost.exe"),
                              app, All(kStop, L"szCommand=" + command),
                              Error(kStop, L"CreateProcess failed, command=" + command + L" error=123")}));
    EXPECT_EQ(processes.m_Launches.size(), 1u);
    EXPECT_TRUE(processes.m_Terminated.empty());
}
