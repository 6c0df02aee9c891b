// Stopping and starting a service through the (fake) service control manager, on the
// virtual clock: the polls, the time-outs and the kill fallback. The lines of a manager
// that cannot be opened are the sequence test's; the access asked for shows in the
// end-to-end runs against Wine's own manager.
#include "tests/app/AppTestSupport.h"
#include <functional>

namespace {

using ServiceControlTest = AppTest;

const std::wstring kStop = L"MyStopService", kStart = L"MyStartService";
const DWORD R = SERVICE_RUNNING, S = SERVICE_STOPPED, SP = SERVICE_STOP_PENDING;
const std::wstring kLong = L"C:\\" + std::wstring(1020, L'a'); // 1,023 characters

// The three lines of the kill fallback.
std::vector<std::wstring> Kill(const std::wstring& exe, bool killed)
{
    return {Info(kStop, L"KillProcess " + exe), All(L"KillProcess", L"szProcess=" + exe),
            Info(kStop, L"KillProcess " + exe + (killed ? L" result=ok" : L" result=fail"))};
}

struct Case
{
    bool stop; // MyStopService, else MyStartService
    std::vector<DWORD> states;
    std::function<void(CFakeService&)> arrange;
    std::optional<std::wstring> binaryPath;
    bool result;
    std::vector<std::wstring> lines; // after "szName=CVMSG"
    size_t sleeps;                   // of a second each: 60 for the whole time-out
};

const Case kCases[] = {
    {true, {S}, nullptr, {}, true, {}, 0},
    {true, {R}, [](CFakeService& s) { s.m_dwStateAfterControl = S; }, {}, true, {}, 0},
    // A refusal's block says whether the service is stopped already (one stopping on its
    // own): then no poll; otherwise polling finds it stopped later.
    {true, {R},
     [](CFakeService& s) {
         s.m_bRefuseControl = true;
         s.m_dwStateAfterControl = S;
     },
     {}, true, {Error(kStop, L"ControlService() failed")}, 0},
    {true, {R, SP, SP, S}, [](CFakeService& s) { s.m_bRefuseControl = true; }, {}, true,
     {Error(kStop, L"ControlService() failed")}, 3},
    {true, {R, SP}, nullptr, L"\"C:\\CV\\cvprobe.exe\" -k", false, Kill(L"cvprobe.exe", true), 60},
    {true, {SP}, nullptr, L"C:\\CV\\cvprobe.exe -k", false, Kill(L"cvprobe.exe -k", false), 60},
    {true, {SP}, nullptr, L"\"C:\\CV\\cvhost.exe", false, Kill(L"cvhost.exe", true), 60},
    {true, {SP}, nullptr, kLong, false, Kill(kLong.substr(3), false), 60},
    {true, {SP}, nullptr, kLong + L"a", false,
     {Error(kStop, L"Binary path name too long: " + kLong + L"a")}, 60},
    {true, {SP}, nullptr, L"", false, {Error(kStop, L"No binary path name founded\n")}, 60},
    {true, {R}, [](CFakeService& s) { s.m_nFailStatusAt = 3; }, {}, false,
     {Error(kStop, L"QueryServiceStatus() failed")}, 2},
    {true, {R}, [](CFakeService& s) { s.m_sName = L"OTHER"; }, {}, false,
     {Error(kStop, L"OpenService() failed, name=CVMSG")}, 0},

    {false, {R}, nullptr, {}, true, {}, 0},
    // A first poll made before any sleep would show as one sleep fewer.
    {false, {S, SERVICE_START_PENDING, R}, nullptr, {}, true, {}, 2},
    {false, {S, SERVICE_START_PENDING}, nullptr, {}, true, {}, 60}, // counts as started
    {false, {S}, [](CFakeService& s) { s.m_nFailStatusAt = 4; }, {}, false,
     {Error(kStart, L"- QueryServiceStatus() failed")}, 3},
    {false, {S}, [](CFakeService& s) { s.m_bRefuseStart = true; }, {}, false,
     {Error(kStart, L"StartService() failed")}, 0},
};

} // namespace

TEST_F(ServiceControlTest, StopsAndStarts)
{
    for (const Case& c : kCases) {
        SCOPED_TRACE(&c - kCases);
        CFakeService service;
        service.m_States = c.states;
        service.m_BinaryPath = c.binaryPath;
        if (c.arrange)
            c.arrange(service);
        CFakeProcesses processes({{L"cvprobe.exe", 30}, {L"cvhost.exe", 31}});
        CVirtualClock clock;
        m_Debugger.Clear();
        EXPECT_EQ(c.stop ? MyStopService(L"CVMSG", 60000) : MyStartService(L"CVMSG", 60000),
                  c.result);
        std::vector<std::wstring> expected = c.lines;
        expected.insert(expected.begin(), All(c.stop ? kStop : kStart, L"szName=CVMSG"));
        EXPECT_EQ(Messages(), expected);
        EXPECT_EQ(clock.Sleeps(), std::vector<DWORD>(c.sleeps, 1000));
        bool killed = c.lines.size() == 3 && c.lines[2].find(L"result=ok") != std::wstring::npos;
        EXPECT_EQ(processes.m_Terminated.size(), killed ? 1u : 0u);
    }
}
