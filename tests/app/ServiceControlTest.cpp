// Stopping and starting a service (fake manager, virtual clock): polls, time-outs, kill fallback.
#include "tests/app/AppTestSupport.h"

namespace {

using ServiceControlTest = AppTest;

const std::wstring kStop = L"MyStopService", kStart = L"MyStartService";
const DWORD R = SERVICE_RUNNING, S = SERVICE_STOPPED, SP = SERVICE_STOP_PENDING;
const std::wstring kLong = L"C:\\" + std::wstring(1020, L'a'); // 1,023 characters
const int kRefuse = 1, kStoppedBlock = 2, kOtherName = 4; // the fake's answers

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
    int answers, failStatusAt;
    std::optional<std::wstring> binaryPath;
    bool result;
    std::vector<std::wstring> lines; // after "szName=CVMSG"
    size_t sleeps;                   // of a second each: 60 for the whole time-out
};

const Case kCases[] = {
    {true, {S}, 0, 0, {}, true, {}, 0},
    {true, {R}, kStoppedBlock, 0, {}, true, {}, 0},
    // A refusal's block says whether the service is stopped already (one stopping on its
    // own): then no poll; otherwise polling finds it stopped later.
    {true, {R}, kRefuse | kStoppedBlock, 0, {}, true, {Error(kStop, L"ControlService() failed")}, 0},
    {true, {R, SP, SP, S}, kRefuse, 0, {}, true, {Error(kStop, L"ControlService() failed")}, 3},
    {true, {R, SP}, 0, 0, L"\"C:\\CV\\cvprobe.exe\" -k", false, Kill(L"cvprobe.exe", true), 60},
    {true, {SP}, 0, 0, L"C:\\CV\\cvprobe.exe -k", false, Kill(L"cvprobe.exe -k", false), 60},
    {true, {SP}, 0, 0, kLong, false, Kill(kLong.substr(3), false), 60},
    {true, {SP}, 0, 0, kLong + L"a", false,
     {Error(kStop, L"Binary path name too long: " + kLong + L"a")}, 60},
    {true, {SP}, 0, 0, L"", false, {Error(kStop, L"No binary path name founded\n")}, 60},
    {true, {R}, 0, 3, {}, false, {Error(kStop, L"QueryServiceStatus() failed")}, 2},
    {true, {R}, kOtherName, 0, {}, false, {Error(kStop, L"OpenService() failed, name=CVMSG")}, 0},

    {false, {R}, 0, 0, {}, true, {}, 0},
    // A first poll made before any sleep would show as one sleep fewer.
    {false, {S, SERVICE_START_PENDING, R}, 0, 0, {}, true, {}, 2},
    {false, {S, SERVICE_START_PENDING}, 0, 0, {}, true, {}, 60}, // counts as started
    {false, {S}, 0, 4, {}, false, {Error(kStart, L"- QueryServiceStatus() failed")}, 3},
    {false, {S}, kRefuse, 0, {}, false, {Error(kStart, L"StartService() failed")}, 0},
};

} // namespace

TEST_F(ServiceControlTest, StopsAndStarts)
{
    for (const Case& c : kCases) {
        SCOPED_TRACE(&c - kCases);
        CFakeService service;
        service.m_States = c.states;
        service.m_BinaryPath = c.binaryPath;
        service.m_bRefuseControl = service.m_bRefuseStart = c.answers & kRefuse;
        service.m_dwStateAfterControl = c.answers & kStoppedBlock ? S : SP;
        service.m_sName = c.answers & kOtherName ? L"OTHER" : L"CVMSG";
        service.m_nFailStatusAt = c.failStatusAt;
        CFakeProcesses processes({{L"cvprobe.exe", 30}});
        CVirtualClock clock;
        m_Debugger.Clear();
        EXPECT_EQ(c.stop ? MyStopService(L"CVMSG", 60000) : MyStartService(L"CVMSG", 60000), c.result);
        std::vector<std::wstring> expected = c.lines;
        expected.insert(expected.begin(), All(c.stop ? kStop : kStart, L"szName=CVMSG"));
        EXPECT_EQ(Messages(), expected);
        EXPECT_EQ(clock.Sleeps(), std::vector<DWORD>(c.sleeps, 1000));
        bool killed = c.lines.size() == 3 && c.lines[2].find(L"result=ok") != std::wstring::npos;
        EXPECT_EQ(processes.m_Terminated.size(), killed ? 1u : 0u);
    }
}
