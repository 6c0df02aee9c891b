// Stopping and starting services through the (fake) service control manager, on the
// virtual clock: the polls, the time-outs, the kill fallback and every failure line.
#include "tests/app/AppTestSupport.h"
#include "platform/Utf8.h"
#include <functional>

namespace {

const std::wstring kStop = L"MyStopService", kStart = L"MyStartService";
const std::wstring kLong(1020, L'a'); // "C:\" and this: 1,023 characters

// The three lines of the kill fallback.
std::vector<std::wstring> Kill(const std::wstring& exe, bool killed)
{
    return {Info(kStop, L"KillProcess " + exe), All(L"KillProcess", L"szProcess=" + exe),
            Info(kStop, L"KillProcess " + exe + (killed ? L" result=ok" : L" result=fail"))};
}

struct Case
{
    const char* what;
    bool stop; // MyStopService, else MyStartService
    std::function<void(CFakeScm&)> arrange;
    DWORD timeout;
    bool result;
    std::vector<std::wstring> lines; // after "szName=..."
    size_t sleeps;                   // of a second each
    std::vector<DWORD> killed;       // of the processes cvprobe.exe (30) and cvhost.exe (31)
};

void Service(CFakeScm& scm, std::vector<DWORD> states, std::wstring binaryPath = L"")
{
    CFakeService& s = scm.Add(L"CVMSG", binaryPath);
    s.states = std::move(states);
}

const DWORD R = SERVICE_RUNNING, S = SERVICE_STOPPED, SP = SERVICE_STOP_PENDING,
            RP = SERVICE_START_PENDING;

const Case kCases[] = {
    {"stopped already", true, [](CFakeScm& scm) { Service(scm, {S}); }, 60000, true, {}, 0, {}},
    {"the stop's block says stopped",
     true, [](CFakeScm& scm) { scm.Add(L"CVMSG").stateAfterControl = S; }, 60000, true, {}, 0, {}},
    // The refusal's block says whether the service is stopped already (one stopping on its
    // own): then no poll; otherwise polling finds it stopped later.
    {"stop refused, block says stopped", true,
     [](CFakeScm& scm) {
         CFakeService& s = scm.Add(L"CVMSG");
         s.refuseControl = true;
         s.stateAfterControl = S;
     },
     60000, true, {Error(kStop, L"ControlService() failed")}, 0, {}},
    {"stop refused, stops later", true,
     [](CFakeScm& scm) {
         Service(scm, {R, SP, SP, S});
         scm.m_Services[L"CVMSG"].refuseControl = true;
     },
     60000, true, {Error(kStop, L"ControlService() failed")}, 3, {}},
    {"never stops: killed by the file name", true,
     [](CFakeScm& scm) { Service(scm, {R, SP}, L"\"C:\\CV\\cvprobe.exe\" -service"); }, 60000,
     false, Kill(L"cvprobe.exe", true), 60, {30}},
    {"unquoted path with arguments", true,
     [](CFakeScm& scm) { Service(scm, {SP}, L"C:\\CV\\cvprobe.exe -service"); }, 2000, false,
     Kill(L"cvprobe.exe -service", false), 2, {}},
    {"bare name", true, [](CFakeScm& scm) { Service(scm, {SP}, L"cvprobe.exe"); }, 2000, false,
     Kill(L"cvprobe.exe", true), 2, {30}},
    {"unclosed quote", true, [](CFakeScm& scm) { Service(scm, {SP}, L"\"C:\\CV\\cvhost.exe"); },
     2000, false, Kill(L"cvhost.exe", true), 2, {31}},
    {"empty quotes", true, [](CFakeScm& scm) { Service(scm, {SP}, L"\"\" -service"); }, 2000,
     false, Kill(L"", false), 2, {}},
    {"folder only", true, [](CFakeScm& scm) { Service(scm, {SP}, L"C:\\CV\\"); }, 1000, false,
     Kill(L"", false), 1, {}},
    {"1023 characters", true, [](CFakeScm& scm) { Service(scm, {SP}, L"C:\\" + kLong); }, 1000,
     false, Kill(kLong, false), 1, {}},
    {"no manager", true, [](CFakeScm& scm) { scm.m_bManagerFails = true; }, 3000, false,
     {Error(kStop, L"OpenSCManager() failed")}, 0, {}},
    {"no service", true, [](CFakeScm&) {}, 3000, false,
     {Error(kStop, L"OpenService() failed, name=CVMSG")}, 0, {}},
    {"first status fails", true, [](CFakeScm& scm) { scm.Add(L"CVMSG").failStatusAt = 1; }, 3000,
     false, {Error(kStop, L"QueryServiceStatus() failed")}, 0, {}},
    {"a poll fails", true, [](CFakeScm& scm) { scm.Add(L"CVMSG").failStatusAt = 3; }, 3000, false,
     {Error(kStop, L"QueryServiceStatus() failed")}, 2, {}},
    {"no configuration", true,
     [](CFakeScm& scm) {
         Service(scm, {SP}, L"C:\\CV\\cvprobe.exe");
         scm.m_Services[L"CVMSG"].failConfig = true;
     },
     3000, false, {Error(kStop, L"QueryServiceConfig() failed")}, 3, {}},
    {"no binary path", true, [](CFakeScm& scm) { scm.Add(L"CVMSG").states = {SP}; }, 3000, false,
     {Error(kStop, L"No binary path name founded\n")}, 3, {}},
    {"empty binary path", true, [](CFakeScm& scm) { Service(scm, {SP}); }, 3000, false,
     {Error(kStop, L"No binary path name founded\n")}, 3, {}},
    {"1024 characters", true, [](CFakeScm& scm) { Service(scm, {SP}, L"C:\\" + kLong + L"a"); },
     3000, false, {Error(kStop, L"Binary path name too long: C:\\" + kLong + L"a")}, 3, {}},

    {"running already", false, [](CFakeScm& scm) { Service(scm, {R}); }, 60000, true, {}, 0, {}},
    // A first poll made before any sleep would show as one sleep fewer.
    {"polls until running", false, [](CFakeScm& scm) { Service(scm, {S, RP, R}); }, 60000, true,
     {}, 2, {}},
    {"still starting counts as started", false, [](CFakeScm& scm) { Service(scm, {S, RP}); },
     60000, true, {}, 60, {}},
    {"no manager", false, [](CFakeScm& scm) { scm.m_bManagerFails = true; }, 60000, false,
     {Error(kStart, L"OpenSCManager() failed")}, 0, {}},
    {"no service", false, [](CFakeScm&) {}, 60000, false, {Error(kStart, L"OpenService() failed")},
     0, {}},
    {"first status fails", false, [](CFakeScm& scm) { scm.Add(L"CVMSG").failStatusAt = 1; }, 60000,
     false, {Error(kStart, L"- QueryServiceStatus() failed")}, 0, {}},
    {"a poll fails", false,
     [](CFakeScm& scm) {
         Service(scm, {S});
         scm.m_Services[L"CVMSG"].failStatusAt = 4;
     },
     60000, false, {Error(kStart, L"- QueryServiceStatus() failed")}, 3, {}},
    {"start refused", false,
     [](CFakeScm& scm) {
         Service(scm, {S});
         scm.m_Services[L"CVMSG"].refuseStart = true;
     },
     60000, false, {Error(kStart, L"StartService() failed")}, 0, {}},
};

using ServiceControlTest = AppTest;

} // namespace

TEST_F(ServiceControlTest, StopsAndStarts)
{
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.what);
        CFakeScm scm;
        c.arrange(scm);
        CFakeProcesses processes({{L"cvprobe.exe", 30}, {L"cvhost.exe", 31}});
        CVirtualClock clock;
        m_Debugger.Clear();
        EXPECT_EQ(c.stop ? MyStopService(L"CVMSG", c.timeout) : MyStartService(L"CVMSG", c.timeout),
                  c.result);
        std::vector<std::wstring> expected = {All(c.stop ? kStop : kStart, L"szName=CVMSG")};
        expected.insert(expected.end(), c.lines.begin(), c.lines.end());
        EXPECT_EQ(Messages(), expected);
        EXPECT_EQ(clock.Sleeps(), std::vector<DWORD>(c.sleeps, 1000));
        EXPECT_EQ(processes.m_Terminated, c.killed);
        EXPECT_TRUE(scm.AllClosedInOrder());
        EXPECT_TRUE(processes.AllClosed());
    }
}

// What is asked of the manager: all access to it; to a service what each operation needs.
TEST_F(ServiceControlTest, CallsAndTheirArguments)
{
    CFakeScm scm;
    Service(scm, {R, SP}, L"C:\\CV\\cvprobe.exe");
    CFakeProcesses processes;
    CVirtualClock clock;
    EXPECT_FALSE(MyStopService(L"CVMSG", 1000));
    EXPECT_TRUE(MyStartService(L"CVMSG", 1000));
    EXPECT_EQ(scm.m_Events, (std::vector<std::wstring>{
                                L"open manager 983103", L"open CVMSG 983103", L"control 1",
                                L"config 8192", L"close CVMSG", L"close manager",
                                L"open manager 983103", L"open CVMSG 983551", L"start",
                                L"close CVMSG", L"close manager"}));
}
