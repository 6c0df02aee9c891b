// The kill test: sanarix.exe restoring a large quarantine is killed at random moments, then run to
// its end. Every location holds its original, every kept item is as it was, no staging file is left.
#include "platform/Utf8.h"
#include "tests/e2e/E2e.h"
#include "tools/common/FileTools.h"
#include "tools/logreader/LogAnalysis.h"
#include <gtest/gtest.h>
#include <cstdlib>
#include <random>

namespace {

const unsigned long kKillTimeoutMs = 120000;
const unsigned long kFinalRunTimeoutMs = 240000;
const int kKills = 4;
const unsigned long kMaxDelayMs = 40; // about the time an 8 MiB location takes
const char* const kPhases[] = {"not started", "before the restore", "inside a location",
                               "between locations", "after the restore", "ended by itself"};
enum EPhase { NotStarted, BeforeRestore, InsideLocation, BetweenLocations, AfterRestore, EndedByItself };

struct CProgress
{
    EPhase m_ePhase = BeforeRestore;
    int m_nBegun = 0; // locations whose restore began
    int m_nEnded = 0; // of those, the ones with their outcome logged
};

CProgress ReadProgress(const CProductLayout& layout)
{
    CProgress progress;
    std::string log;
    ReadWholeFile(layout.DebugLog(), log);
    CLogAnalysis analysis = AnalyseLog(log, false);
    if (analysis.m_runs.empty())
        return progress;
    const CRunSummary& run = analysis.m_runs.back();
    progress.m_nBegun = run.m_nRestoreAttempts;
    progress.m_nEnded = run.m_nRestored + run.m_nRestoreFailed + run.m_nKept;
    EStepState restore = run.m_steps[STEP_RESTORE];
    if (restore == EStepState::Ok || restore == EStepState::Fail)
        progress.m_ePhase = AfterRestore;
    else if (run.m_bRestoreBegun)
        progress.m_ePhase = progress.m_nBegun > progress.m_nEnded ? InsideLocation : BetweenLocations;
    return progress;
}

// Starts sanarix.exe and kills it delayMs after location number `location` (from 1) began.
CProgress KillDuringLocation(const CProductLayout& layout, int location, unsigned long delayMs)
{
    RemoveOneFile(layout.DebugLog());
    CProcessInfo process;
    std::wstring exe = SanarixExe();
    if (!StartProgram(exe, L"\"" + exe + L"\"", process))
        return CProgress{NotStarted};
    HANDLE h = process.m_hProcess.get();
    ULONGLONG deadline = GetTickCount64() + kKillTimeoutMs;
    bool ended = false;
    for (CProgress now = ReadProgress(layout); !ended && now.m_ePhase != AfterRestore && now.m_nBegun < location &&
                                               GetTickCount64() <= deadline; now = ReadProgress(layout))
        ended = WaitForSingleObject(h, 2) == WAIT_OBJECT_0;
    ended = ended || WaitForSingleObject(h, delayMs) == WAIT_OBJECT_0;
    if (!ended) {
        TerminateProcess(h, 9);
        WaitForSingleObject(h, INFINITE);
    }
    CProgress progress = ReadProgress(layout);
    progress.m_ePhase = ended ? EndedByItself : progress.m_ePhase;
    return progress;
}

// What a kill may leave that holds nothing of value: an index copy being saved after the last
// location, and the payload of an item whose index was just deleted.
void RemoveQuarantineLitter(const CProductLayout& layout, const CProductPlan& plan)
{
    for (const CPlannedItem& item : plan.m_Items) {
        std::wstring base = layout.m_sQuarantine + item.m_sBaseName;
        std::vector<std::wstring> litter = {base + L".xml.tmp"};
        if (!item.Remains() && !PathExists(base + L".xml"))
            litter.push_back(base + L".cvq");
        for (const std::wstring& path : litter)
            if (PathExists(path) && RemoveOneFile(path))
                printf("removed litter %s\n", WideToUtf8(path).c_str());
    }
}

// The product goes whatever the outcome: its programs would keep the runner's output open.
class KillRun : public ::testing::Test
{
protected:
    void TearDown() override
    {
        CSetupReport report;
        UninstallProduct(GetProductLayout(), report);
    }
};

} // namespace

TEST_F(KillRun, KilledAtRandomMomentsThenRunToTheEndLosesNothing)
{
    const char* seedText = std::getenv("SANARIX_KILL_SEED");
    const unsigned long seed = seedText && *seedText ? std::strtoul(seedText, nullptr, 10) : GetTickCount();
    printf("kill test: seed %lu (SANARIX_KILL_SEED repeats it)\n", seed);
    std::mt19937 random(seed);

    // Most of the time goes into large files, where a kill leaves the most behind.
    CProductLayout layout = GetProductLayout();
    CProductPlan plan = GetProductPlan(layout);
    AddLargeItems(layout, plan, L"K", 8, 8u << 20, 3);
    AddLargeItems(layout, plan, L"S", 12, 65536, 1);
    int remaining = 0;
    for (const CPlannedItem& item : plan.m_Items)
        remaining += item.Matches() && !item.m_bCorruptIndex ? int(item.m_Locations.size()) : 0;
    CFaults setUp = FreshProduct(layout, plan, InstallFromBuildTree());
    ASSERT_TRUE(setUp.empty()) << JoinFaults(setUp);
    CSnapshot before;
    SnapshotTree(layout.m_sQuarantine, before);

    // Each kill aims at a location the previous runs left, to spread over the whole restore.
    for (int kill = 1; kill <= kKills; ++kill) {
        int at = std::uniform_int_distribution<int>(1, std::max(remaining, 1))(random);
        unsigned long delay = std::uniform_int_distribution<unsigned long>(0, kMaxDelayMs)(random);
        CProgress run = KillDuringLocation(layout, at, delay);
        ASSERT_NE(run.m_ePhase, NotStarted) << "sanarix.exe did not start";
        remaining -= run.m_nEnded;
        printf("kill %d: location %d + %lu ms: %s, %d begun, %d ended, %zu staging file(s)\n", kill,
               at, delay, kPhases[run.m_ePhase], run.m_nBegun, run.m_nEnded,
               StagingFiles(layout.m_sVictims).size());
        if (run.m_ePhase == AfterRestore)
            break; // nothing left to interrupt
    }

    CRepairRun last = RunRepair(layout, kFinalRunTimeoutMs);
    ASSERT_TRUE(last.m_Result.m_bEnded) << "the final run did not end in time";
    EXPECT_EQ(last.m_Result.m_dwExitCode, 0u);
    RemoveQuarantineLitter(layout, plan);
    CFaults faults = CheckOutcome(layout, plan);
    CSnapshot now;
    SnapshotTree(layout.m_sQuarantine, now);
    for (const std::string& changed : CompareSnapshots(before, now, /*onlyKept=*/true))
        faults.push_back(changed);
    for (const std::wstring& path : StagingFiles(layout.m_sVictims))
        faults.push_back("unfinished file left: " + WideToUtf8(path));
    EXPECT_EQ("", JoinFaults(faults));
}
