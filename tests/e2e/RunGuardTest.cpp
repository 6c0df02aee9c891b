// End-to-end, in a Wine prefix of its own (so that CTest runs it beside the other
// end-to-end tests): two real sanarix.exe started at one moment, round after round, restore
// every item exactly once; and a debug log that is a link to a file elsewhere leaves that
// file untouched, small or over the trim size.
#include "platform/Utf8.h"
#include "tests/e2e/DebugOutputCapture.h"
#include "tests/e2e/E2ePaths.h"
#include "tests/e2e/ProductChecks.h"
#include "tests/e2e/RepairRun.h"
#include "tools/product/FileTools.h"
#include "tools/product/ProcessTools.h"
#include "tools/product/ProductSetup.h"
#include <gtest/gtest.h>
#include <cstdio>
#include <algorithm>
#include <map>

namespace {

const unsigned long kRunTimeoutMs = 240000;
const int kRounds = 3;
const char kBusy[] = "[ERROR]:  DoSanarix - Another run is in progress, nothing done";

// Four items of a few MiB with three locations each, and nothing else in the quarantine:
// afterwards the quarantine folder must be empty.
CProductPlan GuardPlan(const CProductLayout& layout)
{
    CProductPlan plan = GetProductPlan(layout);
    const CPlannedLocation model = plan.m_Items.front().m_Locations.front();
    plan.m_Items.clear();
    plan.m_QuarantineExtras.clear();
    for (int i = 0; i < 4; ++i) {
        CPlannedItem item;
        item.m_sBaseName = L"G" + std::to_wstring(i);
        item.m_sThreat = kTargetThreat;
        item.m_sContent = PlannedContent(200 + i, (3u << 20) + 4099 * i);
        for (int j = 0; j < 3; ++j) {
            CPlannedLocation at = model;
            at.m_sFolder = layout.m_sVictims + L"guard\\" + std::wstring(1, L'a' + j) + L"\\";
            at.m_sName = L"item" + std::to_wstring(i) + L".bin";
            at.m_eFate = ELocationFate::Restored;
            at.m_sExisting.clear();
            item.m_Locations.push_back(at);
        }
        plan.m_Items.push_back(item);
    }
    return plan;
}

// Files anywhere below folder whose name contains part.
void FindContaining(const std::wstring& folder, const std::wstring& part,
                    std::vector<std::wstring>& found)
{
    for (const std::wstring& name : ListFolder(folder)) {
        if (!name.empty() && name.back() == L'\\')
            FindContaining(folder + name, part, found);
        else if (name.find(part) != std::wstring::npos)
            found.push_back(folder + name);
    }
}

// The messages of one process in the log.
std::vector<std::string> MessagesOf(const CDebugLogFile& log, unsigned long pid)
{
    std::vector<std::string> messages;
    for (const CLogLine& line : log.m_Lines)
        if (line.m_ulPid == pid)
            messages.push_back(line.m_sMessage);
    return messages;
}

// A program of the Linux side run from inside Wine, e.g. "/bin/ln". Wine hands back no
// process to wait for, so the caller's condition is polled until it holds (10 s at most).
template <class Done>
::testing::AssertionResult RunUnix(const std::wstring& program, const std::wstring& arguments,
                                   Done done)
{
    std::wstring line = program + L" " + arguments;
    CProcessInfo process;
    if (!StartProgram(HostPathToWine(WideToUtf8(program)), line, process))
        return ::testing::AssertionFailure() << WideToUtf8(line) << ": error " << GetLastError();
    for (int waited = 0; waited < 10000; waited += 50) {
        if (done())
            return ::testing::AssertionSuccess();
        Sleep(50);
    }
    return ::testing::AssertionFailure() << WideToUtf8(line) << ": no effect after 10 s";
}

// Where Wine keeps a file of its drives on the Linux side.
std::wstring UnixPathOf(const std::wstring& path)
{
    using UnixName = char*(CDECL*)(LPCWSTR);
    auto unixName = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    char* name = unixName ? unixName(path.c_str()) : nullptr;
    std::wstring wide = name ? Utf8ToWide(name) : std::wstring();
    if (name)
        HeapFree(GetProcessHeap(), 0, name);
    return wide;
}

std::wstring Quoted(const std::wstring& s)
{
    return L"\"" + s + L"\"";
}

class RunGuard : public ::testing::Test
{
protected:
    void SetUp() override { m_Layout = GetProductLayout(); }
    void TearDown() override
    {
        // A delete through a Unix link takes the target with it: the link goes first.
        if (!m_sLinkUnix.empty())
            RemoveLink();
        CSetupReport report;
        UninstallProduct(m_Layout, report);
    }

    ::testing::AssertionResult RemoveLink()
    {
        return RunUnix(L"/bin/rm", L"-f " + Quoted(m_sLinkUnix),
                       [&] { return !PathExists(m_Layout.DebugLog()); });
    }

    CProductLayout m_Layout;
    std::wstring m_sLinkUnix;
};

} // namespace

TEST_F(RunGuard, TwoRunsStartedTogetherRestoreEveryItemOnce)
{
    const CProductPlan plan = GuardPlan(m_Layout);
    CInstallOptions install;
    install.m_sBinFolder = ProductBinFolder();
    const std::wstring exe = SanarixExe();
    for (int round = 1; round <= kRounds; ++round) {
        CSetupReport report;
        UninstallProduct(m_Layout, report);
        InstallProduct(m_Layout, plan, install, report);
        StartProduct(m_Layout, CStartOptions(), report);
        ASSERT_TRUE(report.Ok()) << WideToUtf8(report.Text());
        const std::map<std::wstring, std::string> before = ReadQuarantine(m_Layout);
        RemoveOneFile(m_Layout.DebugLog());

        // Both created suspended, then let go together.
        CProcessInfo runs[2];
        for (CProcessInfo& run : runs)
            ASSERT_TRUE(StartProgram(exe, Quoted(exe), run, CREATE_SUSPENDED));
        for (CProcessInfo& run : runs)
            ResumeThread(run.m_hThread.get());
        for (CProcessInfo& run : runs) {
            ASSERT_EQ(WaitForSingleObject(run.m_hProcess.get(), kRunTimeoutMs), WAIT_OBJECT_0);
            DWORD code = 1;
            GetExitCodeProcess(run.m_hProcess.get(), &code);
            EXPECT_EQ(code, 0u);
        }

        std::string bytes;
        ASSERT_TRUE(ReadWholeFile(m_Layout.DebugLog(), bytes));
        CDebugLogFile log = ParseDebugLog(bytes);
        EXPECT_TRUE(log.m_Problems.empty()) << "round " << round << ": " << log.m_Problems.front();
        // One run did the work, the other wrote its markers and one line.
        int busy = 0, done = 0;
        for (CProcessInfo& run : runs) {
            std::vector<std::string> m = MessagesOf(log, run.m_dwProcessId);
            if (m == std::vector<std::string>{"", "", "=====started=====", kBusy, "=====stopped====="})
                ++busy;
            else if (m.size() > 10 && m[m.size() - 2] == "[ALL]:    DoSanarix - ok" &&
                     m.back() == "=====stopped=====")
                ++done;
        }
        EXPECT_EQ(busy, 1) << "round " << round;
        EXPECT_EQ(done, 1) << "round " << round;

        CFaults faults = CheckDestinations(plan);
        CFaults quarantine = CheckQuarantine(m_Layout, plan, before);
        faults.insert(faults.end(), quarantine.begin(), quarantine.end());
        for (const std::wstring& name : ListFolder(m_Layout.m_sQuarantine))
            faults.push_back("left in the quarantine: " + WideToUtf8(name));
        std::vector<std::wstring> staging;
        FindContaining(m_Layout.m_sVictims, L"~vk", staging);
        for (const std::wstring& path : staging)
            faults.push_back("staging file left: " + WideToUtf8(path));
        EXPECT_TRUE(faults.empty()) << "round " << round << ":\n" << JoinFaults(faults);
    }

    // An ordinary run afterwards finds the lock free and nothing left to do.
    std::map<std::wstring, std::string> settled = SnapshotProduct(m_Layout);
    CRepairRun last = RunRepair(m_Layout, kRunTimeoutMs);
    ASSERT_TRUE(last.m_Result.m_bEnded);
    std::vector<std::string> messages = last.m_Log.Messages();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back(), "=====stopped=====");
    EXPECT_EQ(std::count(messages.begin(), messages.end(), std::string(kBusy)), 0);
    EXPECT_EQ(std::count(messages.begin(), messages.end(), "[ALL]:    DoSanarix - ok"), 1);
    CFaults unchanged = CompareSnapshots(settled, SnapshotProduct(m_Layout));
    EXPECT_TRUE(unchanged.empty()) << JoinFaults(unchanged);
    EXPECT_TRUE(ListFolder(m_Layout.m_sQuarantine).empty());
}

// The debug log made a Unix link (which Wine follows) to a file in the system folder: a
// whole run leaves that file byte for byte as it was, whether it is small or so large that
// appending to it would trim (rewrite) it. The run's lines still reach the debugger.
TEST_F(RunGuard, DebugLogThatLinksElsewhereLeavesItsTargetUntouched)
{
    CSetupReport report;
    UninstallProduct(m_Layout, report);
    ASSERT_TRUE(CreateFolderTree(m_Layout.m_sDTrace));
    wchar_t system[MAX_PATH] = {};
    GetSystemDirectoryW(system, MAX_PATH);
    const std::wstring target = std::wstring(system) + L"\\sanarix-guard-target.dat";
    std::string big;
    for (int n = 0; big.size() <= 0x500000; ++n)
        big += "protected line " + std::to_string(n) + "\r\n";
    const std::string contents[] = {"a small protected file\r\n", big};

    m_sLinkUnix = UnixPathOf(m_Layout.DebugLog());
    const std::wstring targetUnix = UnixPathOf(target);
    ASSERT_FALSE(m_sLinkUnix.empty() || targetUnix.empty()) << "no Unix paths from Wine";
    for (const std::string& content : contents) {
        ASSERT_TRUE(WriteWholeFile(target, content));
        // Done when the log's name leads to the target's content.
        ASSERT_TRUE(RunUnix(L"/bin/ln", L"-sfn " + Quoted(targetUnix) + L" " + Quoted(m_sLinkUnix),
                            [&] {
                                std::string through;
                                return ReadWholeFile(m_Layout.DebugLog(), through) &&
                                       through == content;
                            }));

        CDebugOutputCapture capture;
        bool captured = capture.Start();
        const std::wstring exe = SanarixExe();
        CRunResult run = RunProgram(exe, Quoted(exe), kRunTimeoutMs);
        capture.Stop();
        ASSERT_TRUE(run.m_bEnded);
        EXPECT_EQ(run.m_dwExitCode, 0u);

        std::string after;
        ASSERT_TRUE(ReadWholeFile(target, after));
        EXPECT_EQ(after.size(), content.size());
        EXPECT_TRUE(after == content) << "the link's target was written";
        if (captured) {
            std::vector<std::string> debugger = capture.MessagesOf(run.m_dwProcessId);
            int refused = 0, done = 0;
            for (const std::string& m : debugger) {
                refused += m.find("Debug file is a link or lies elsewhere, not written:") == 0;
                done += m.find("[ALL]:    DoSanarix - ok\n") != std::string::npos;
            }
            EXPECT_GT(refused, 40) << "every line refuses the link";
            EXPECT_EQ(done, 1) << "the run's lines reach the debugger";
        }
        ASSERT_TRUE(RemoveLink());
        ASSERT_TRUE(PathExists(target)) << "removing the link took its target";
    }
    m_sLinkUnix.clear();
    RemoveOneFile(target);
}
