// In a prefix of its own: two sanarix.exe started at once restore every item once; a debug log
// that links elsewhere leaves its target untouched, small or over the trim size.
#include "platform/Utf8.h"
#include "tests/e2e/E2e.h"
#include "tests/support/UnixLinks.h"
#include "tools/common/FileTools.h"
#include <gtest/gtest.h>
#include <algorithm>

namespace {

const unsigned long kRunTimeoutMs = 240000;
const int kRounds = 3;
const char kBusy[] = "[ERROR]:  DoSanarix - Another run is in progress, nothing done";
const char kDone[] = "[ALL]:    DoSanarix - ok";

class RunGuard : public ::testing::Test
{
protected:
    void SetUp() override { m_Layout = GetProductLayout(); }
    void TearDown() override
    {
        // A delete through a Unix link takes the target with it: the link goes first.
        RemoveUnixLink(m_Layout.DebugLog());
        CSetupReport report;
        UninstallProduct(m_Layout, report);
    }

    CProductLayout m_Layout;
};

} // namespace

TEST_F(RunGuard, TwoRunsStartedTogetherRestoreEveryItemOnce)
{
    // Only these items in the quarantine: afterwards it must be empty.
    CProductPlan plan = GetProductPlan(m_Layout);
    size_t own = plan.m_Items.size();
    AddLargeItems(m_Layout, plan, L"G", 4, 3u << 20, 3);
    plan.m_Items.erase(plan.m_Items.begin(), plan.m_Items.begin() + own);
    plan.m_QuarantineExtras.clear();
    CInstallOptions install = InstallFromBuildTree();
    const std::wstring exe = SanarixExe();
    for (int round = 1; round <= kRounds; ++round) {
        CFaults setUp = FreshProduct(m_Layout, plan, install);
        ASSERT_TRUE(setUp.empty()) << JoinFaults(setUp);
        RemoveOneFile(m_Layout.DebugLog());

        // Both created suspended, then let go together.
        CProcessInfo runs[2];
        for (CProcessInfo& run : runs)
            ASSERT_TRUE(StartProgram(exe, L"\"" + exe + L"\"", run, CREATE_SUSPENDED));
        for (CProcessInfo& run : runs)
            ResumeThread(run.m_hThread.get());
        for (CProcessInfo& run : runs) {
            ASSERT_EQ(WaitForSingleObject(run.m_hProcess.get(), kRunTimeoutMs), WAIT_OBJECT_0);
            DWORD code = 1;
            GetExitCodeProcess(run.m_hProcess.get(), &code);
            EXPECT_EQ(code, 0u);
        }

        // One run did the work, the other wrote its markers and one line.
        std::string log;
        ASSERT_TRUE(ReadWholeFile(m_Layout.DebugLog(), log));
        int busy = 0, done = 0;
        for (CProcessInfo& run : runs) {
            std::vector<std::string> m = MessagesOfProcess(log, run.m_dwProcessId);
            busy += m == std::vector<std::string>{"", "", "=====started=====", kBusy, "=====stopped====="};
            done += m.size() > 10 && m[m.size() - 2] == kDone && m.back() == "=====stopped=====";
        }
        EXPECT_EQ(busy, 1) << "round " << round;
        EXPECT_EQ(done, 1) << "round " << round;
        CFaults faults = CheckOutcome(m_Layout, plan);
        for (const std::wstring& path : StagingFiles(m_Layout.m_sVictims))
            faults.push_back("staging file left: " + WideToUtf8(path));
        for (const std::wstring& name : ListFolder(m_Layout.m_sQuarantine))
            faults.push_back("left in the quarantine: " + WideToUtf8(name));
        EXPECT_EQ("", JoinFaults(faults)) << "round " << round;
    }

    // An ordinary run afterwards finds the lock free and nothing left to do.
    CSnapshot settled = SnapshotProduct(m_Layout);
    CRepairRun last = RunRepair(m_Layout, kRunTimeoutMs);
    ASSERT_TRUE(last.m_Result.m_bEnded);
    std::vector<std::string> messages = MessagesOfProcess(last.m_sLog, last.m_Result.m_dwProcessId);
    EXPECT_EQ(std::count(messages.begin(), messages.end(), kBusy), 0);
    EXPECT_EQ(std::count(messages.begin(), messages.end(), kDone), 1);
    EXPECT_EQ("", JoinFaults(CompareSnapshots(settled, SnapshotProduct(m_Layout))));
}

// The debug log a Unix link to a file in system32, small or large enough to trim: the file stays
// as it was, the run's lines still reach the debugger.
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
    for (const std::string& content : {std::string("a small protected file\r\n"), big}) {
        ASSERT_TRUE(WriteWholeFile(target, content));
        ASSERT_FALSE(PathExists(m_Layout.DebugLog()));
        ASSERT_TRUE(MakeUnixSymlink(m_Layout.DebugLog(), target));
        std::string through;
        ASSERT_TRUE(ReadWholeFile(m_Layout.DebugLog(), through) && through == content)
            << "the log's name does not lead to the target";
        CRepairRun run = RunRepair(m_Layout, kRunTimeoutMs, /*deleteLog=*/false);
        ASSERT_TRUE(RemoveUnixLink(m_Layout.DebugLog()));
        ASSERT_TRUE(run.m_Result.m_bEnded);
        EXPECT_EQ(run.m_Result.m_dwExitCode, 0u);
        std::string after;
        ASSERT_TRUE(ReadWholeFile(target, after)) << "removing the link took its target";
        EXPECT_TRUE(after == content) << "the link's target was written, size " << after.size();
        ASSERT_TRUE(run.m_bCaptured);
        int refused = 0, done = 0;
        for (const std::string& m : run.m_Debugger) {
            refused += m.find("Debug file is a link or lies elsewhere, not written:") == 0;
            done += MessageOf(m) == std::string(kDone) + "\n";
        }
        EXPECT_GT(refused, 40) << "every line refuses the link";
        EXPECT_EQ(done, 1) << "the run's lines reach the debugger";
    }
    RemoveOneFile(target);
}
