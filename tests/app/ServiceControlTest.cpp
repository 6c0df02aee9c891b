// Stopping and starting services through the (fake) service control manager, on the
// virtual clock: the polls, the time-outs, the kill fallback and every failure line.
#include "tests/app/AppTestSupport.h"
#include <functional>

namespace {

const std::vector<DWORD> kRunning = {SERVICE_RUNNING};
const std::vector<DWORD> kStopped = {SERVICE_STOPPED};

class ServiceControlTest : public AppTest
{
protected:
    ~ServiceControlTest() override
    {
        EXPECT_TRUE(m_Scm.AllClosedInOrder());
        EXPECT_TRUE(m_Processes.AllClosed());
    }

    // The lines after "szName=%s".
    std::vector<std::wstring> Lines() const
    {
        std::vector<std::wstring> m = Messages();
        return m.empty() ? m : std::vector<std::wstring>(m.begin() + 1, m.end());
    }

    CFakeScm m_Scm;
    CFakeProcesses m_Processes;
    CVirtualClock m_Clock;
};

const wchar_t kStop[] = L"MyStopService - ";
const wchar_t kStart[] = L"MyStartService - ";

std::wstring Error(const wchar_t* tag, const wchar_t* text)
{
    return L"[ERROR]:  " + std::wstring(tag) + text;
}

std::wstring Info(const wchar_t* tag, const std::wstring& text)
{
    return L"[INFO]:   " + std::wstring(tag) + text;
}

} // namespace

TEST_F(ServiceControlTest, StopOfAStoppedServiceSendsNothing)
{
    m_Scm.Add(L"CVUPDATE").states = kStopped;
    EXPECT_TRUE(MyStopService(L"CVUPDATE", 60000));
    const CFakeService& s = m_Scm.m_Services[L"CVUPDATE"];
    EXPECT_EQ(s.statusCalls, 1);
    EXPECT_TRUE(s.controls.empty());
    EXPECT_EQ(m_Clock.Now(), 0u);
    EXPECT_EQ(Messages(),
              (std::vector<std::wstring>{L"[ALL]:    MyStopService - szName=CVUPDATE"}));
    EXPECT_EQ(m_Scm.m_ManagerAccess, (std::vector<DWORD>{0xF003F}));
    EXPECT_EQ(m_Scm.m_ServiceOpens,
              (std::vector<std::pair<std::wstring, DWORD>>{{L"CVUPDATE", 0xF003F}}));
    EXPECT_EQ(m_Scm.m_Events, (std::vector<std::wstring>{L"open manager", L"open CVUPDATE",
                                                         L"close CVUPDATE", L"close manager"}));
}

TEST_F(ServiceControlTest, StopThatTheControlAnswersStoppedNeedsNoPoll)
{
    CFakeService& s = m_Scm.Add(L"CVMSG");
    s.stateAfterControl = SERVICE_STOPPED;
    EXPECT_TRUE(MyStopService(L"CVMSG", 60000));
    EXPECT_EQ(s.controls, (std::vector<DWORD>{SERVICE_CONTROL_STOP}));
    EXPECT_TRUE(m_Clock.Sleeps().empty());
}

TEST_F(ServiceControlTest, StopThatNeverEndsKillsTheExecutableAndFails)
{
    CFakeService& s = m_Scm.Add(L"CVPROBE", L"\"C:\\CV\\cvprobe.exe\" -service");
    s.states = {SERVICE_RUNNING, SERVICE_STOP_PENDING};
    m_Processes.m_List = {{L"cvprobe.exe", 30}, {L"cvhost.exe", 31}};
    EXPECT_FALSE(MyStopService(L"CVPROBE", 60000));
    EXPECT_EQ(m_Clock.Sleeps(), std::vector<DWORD>(60, 1000));
    EXPECT_EQ(s.statusCalls, 61);
    EXPECT_EQ(s.configBufferSizes, (std::vector<DWORD>{8192}));
    EXPECT_EQ(m_Processes.m_Terminated, (std::vector<DWORD>{30}));
    EXPECT_EQ(Lines(),
              (std::vector<std::wstring>{Info(kStop, L"KillProcess cvprobe.exe"),
                                         L"[ALL]:    KillProcess - szProcess=cvprobe.exe",
                                         Info(kStop, L"KillProcess cvprobe.exe result=ok")}));
}

TEST_F(ServiceControlTest, KillFallbackTakesTheFileNameOfTheBinaryPath)
{
    struct Case
    {
        std::wstring binaryPath, exe;
        bool killed;
    };
    const Case cases[] = {
        {L"\"C:\\Program Files\\CV\\cvprobe.exe\" -service", L"cvprobe.exe", true},
        {L"C:\\CV\\cvprobe.exe -service", L"cvprobe.exe -service", false},
        {L"cvprobe.exe", L"cvprobe.exe", true},
        {L"\"C:\\CV\\cvprobe.exe", L"cvprobe.exe", true},
        {L"\"\" -service", L"", false},
        {L"C:\\CV\\", L"", false},
    };
    for (const Case& c : cases) {
        CFakeScm scm;
        scm.Add(L"CVPROBE", c.binaryPath).states = {SERVICE_STOP_PENDING};
        CFakeProcesses processes({{L"cvprobe.exe", 30}});
        m_Debugger.Clear();
        EXPECT_FALSE(MyStopService(L"CVPROBE", 2000));
        std::vector<std::wstring> lines = Lines();
        ASSERT_EQ(lines.size(), 3u);
        EXPECT_EQ(lines[0], Info(kStop, L"KillProcess " + c.exe));
        EXPECT_EQ(lines[2], Info(kStop, L"KillProcess " + c.exe +
                                            (c.killed ? L" result=ok" : L" result=fail")));
        EXPECT_EQ(processes.m_Terminated.size(), c.killed ? 1u : 0u);
        EXPECT_TRUE(scm.AllClosedInOrder());
    }
}

TEST_F(ServiceControlTest, KillFallbackResultDoesNotChangeTheAnswer)
{
    m_Scm.Add(L"CVPROBE", L"C:\\CV\\cvprobe.exe").states = {SERVICE_STOP_PENDING};
    m_Processes.m_List = {{L"cvprobe.exe", 30, false, /*refuseTerminate=*/true}};
    EXPECT_FALSE(MyStopService(L"CVPROBE", 1000));
    EXPECT_EQ(Lines().back(), Info(kStop, L"KillProcess cvprobe.exe result=fail"));
}

TEST_F(ServiceControlTest, RefusedStopReadsTheStateItReportedThenPolls)
{
    // The refusal's block says whether the service is already stopped (one stopping on
    // its own): then no poll; otherwise polling finds it stopped later.
    for (DWORD reported : {DWORD(SERVICE_STOPPED), DWORD(SERVICE_STOP_PENDING)}) {
        CFakeScm scm;
        CVirtualClock clock;
        CFakeService& s = scm.Add(L"CVUPDATE");
        s.refuseControl = true;
        s.stateAfterControl = reported;
        s.states = {SERVICE_RUNNING, SERVICE_STOP_PENDING, SERVICE_STOP_PENDING, SERVICE_STOPPED};
        m_Debugger.Clear();
        EXPECT_TRUE(MyStopService(L"CVUPDATE", 60000));
        EXPECT_EQ(Lines(), (std::vector<std::wstring>{Error(kStop, L"ControlService() failed")}));
        EXPECT_EQ(clock.Sleeps(), reported == SERVICE_STOPPED ? std::vector<DWORD>{}
                                                              : std::vector<DWORD>(3, 1000));
        EXPECT_TRUE(scm.AllClosedInOrder());
    }
}

TEST_F(ServiceControlTest, StopFailures)
{
    struct Case
    {
        const wchar_t* name;
        std::function<void(CFakeScm&)> arrange;
        std::wstring line;
        size_t sleeps;
    };
    const Case cases[] = {
        {L"CVMSG", [](CFakeScm& scm) { scm.m_bManagerFails = true; }, L"OpenSCManager() failed", 0},
        {L"NOSUCH", [](CFakeScm&) {}, L"OpenService() failed, name=NOSUCH", 0},
        {L"CVMSG", [](CFakeScm& scm) { scm.Add(L"CVMSG").failStatusAt = 1; },
         L"QueryServiceStatus() failed", 0},
        {L"CVMSG", [](CFakeScm& scm) { scm.Add(L"CVMSG").failStatusAt = 3; },
         L"QueryServiceStatus() failed", 2},
        {L"CVMSG",
         [](CFakeScm& scm) {
             CFakeService& s = scm.Add(L"CVMSG", L"C:\\CV\\cvmsg.exe");
             s.states = {SERVICE_STOP_PENDING};
             s.failConfig = true;
         },
         L"QueryServiceConfig() failed", 3},
        {L"CVMSG", [](CFakeScm& scm) { scm.Add(L"CVMSG").states = {SERVICE_STOP_PENDING}; },
         L"No binary path name founded\n", 3},
        {L"CVMSG", [](CFakeScm& scm) { scm.Add(L"CVMSG", L"").states = {SERVICE_STOP_PENDING}; },
         L"No binary path name founded\n", 3},
        {L"CVMSG",
         [](CFakeScm& scm) {
             scm.Add(L"CVMSG", L"C:\\" + std::wstring(1021, L'a')).states = {SERVICE_STOP_PENDING};
         },
         L"Binary path name too long: C:\\" + std::wstring(1021, L'a'), 3},
    };
    for (const Case& c : cases) {
        CFakeScm scm;
        c.arrange(scm);
        CVirtualClock clock;
        m_Debugger.Clear();
        EXPECT_FALSE(MyStopService(c.name, 3000));
        EXPECT_EQ(Lines(), (std::vector<std::wstring>{Error(kStop, c.line.c_str())}));
        EXPECT_EQ(clock.Sleeps().size(), c.sleeps);
        EXPECT_TRUE(scm.AllClosedInOrder());
        EXPECT_EQ(m_Processes.m_nSnapshots, 0);
    }
}

TEST_F(ServiceControlTest, BinaryPathOf1023CharactersIsUsedForTheKill)
{
    const std::wstring exe(1020, L'b');
    m_Scm.Add(L"CVMSG", L"C:\\" + exe).states = {SERVICE_STOP_PENDING}; // 1023 characters
    EXPECT_FALSE(MyStopService(L"CVMSG", 1000));
    EXPECT_EQ(Lines().front(), Info(kStop, L"KillProcess " + exe));
}

TEST_F(ServiceControlTest, StartOfARunningServiceSendsNothing)
{
    m_Scm.Add(L"CVMSG").states = kRunning;
    EXPECT_TRUE(MyStartService(L"CVMSG", 60000));
    EXPECT_EQ(m_Scm.m_Services[L"CVMSG"].starts, 0);
    EXPECT_EQ(Messages(), (std::vector<std::wstring>{L"[ALL]:    MyStartService - szName=CVMSG"}));
    EXPECT_EQ(m_Scm.m_ManagerAccess, (std::vector<DWORD>{0xF003F}));
    EXPECT_EQ(m_Scm.m_ServiceOpens,
              (std::vector<std::pair<std::wstring, DWORD>>{{L"CVMSG", 0xF01FF}}));
}

TEST_F(ServiceControlTest, StartPollsAfterASleepUntilRunning)
{
    CFakeService& s = m_Scm.Add(L"CVUPDATE");
    // A first poll made before any sleep would show as one sleep fewer.
    s.states = {SERVICE_STOPPED, SERVICE_START_PENDING, SERVICE_RUNNING};
    EXPECT_TRUE(MyStartService(L"CVUPDATE", 60000));
    EXPECT_EQ(s.starts, 1);
    EXPECT_EQ(s.statusCalls, 3);
    EXPECT_EQ(m_Clock.Sleeps(), (std::vector<DWORD>{1000, 1000}));
    EXPECT_TRUE(Lines().empty());
}

TEST_F(ServiceControlTest, StartPendingForeverCountsAsStarted)
{
    m_Scm.Add(L"CVUPDATE").states = {SERVICE_STOPPED, SERVICE_START_PENDING};
    EXPECT_TRUE(MyStartService(L"CVUPDATE", 60000));
    EXPECT_EQ(m_Clock.Sleeps(), std::vector<DWORD>(60, 1000));
    EXPECT_EQ(m_Scm.m_Services[L"CVUPDATE"].statusCalls, 61);
}

TEST_F(ServiceControlTest, StartFailures)
{
    struct Case
    {
        const wchar_t* name;
        std::function<void(CFakeScm&)> arrange;
        const wchar_t* line;
        size_t sleeps;
    };
    const Case cases[] = {
        {L"CVMSG", [](CFakeScm& scm) { scm.m_bManagerFails = true; }, L"OpenSCManager() failed", 0},
        {L"NOSUCH", [](CFakeScm&) {}, L"OpenService() failed", 0},
        {L"CVMSG", [](CFakeScm& scm) { scm.Add(L"CVMSG").failStatusAt = 1; },
         L"- QueryServiceStatus() failed", 0},
        {L"CVMSG",
         [](CFakeScm& scm) {
             CFakeService& s = scm.Add(L"CVMSG");
             s.states = {SERVICE_STOPPED};
             s.failStatusAt = 4;
         },
         L"- QueryServiceStatus() failed", 3},
        {L"CVMSG",
         [](CFakeScm& scm) {
             CFakeService& s = scm.Add(L"CVMSG");
             s.states = {SERVICE_STOPPED};
             s.refuseStart = true;
         },
         L"StartService() failed", 0},
    };
    for (const Case& c : cases) {
        CFakeScm scm;
        c.arrange(scm);
        CVirtualClock clock;
        m_Debugger.Clear();
        EXPECT_FALSE(MyStartService(c.name, 60000));
        EXPECT_EQ(Lines(), (std::vector<std::wstring>{Error(kStart, c.line)}));
        EXPECT_EQ(clock.Sleeps().size(), c.sleeps);
        EXPECT_TRUE(scm.AllClosedInOrder());
    }
}
