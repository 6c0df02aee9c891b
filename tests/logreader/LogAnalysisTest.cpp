// Finding the runs of a log and reading each run's steps: the real log of a run with nothing
// installed, the repaired run, and copies of them as the field leaves logs: several runs,
// runs at the same time, cut off, trimmed, zero-filled.
#include "tests/logreader/LogFixtures.h"
#include "tools/logreader/LogAnalysis.h"
#include <gtest/gtest.h>

namespace {

const char kRestoreAnnounce[] = "DoSanarix - RestoreQuarantine(trojan.fakealert.5) ...";

CLogAnalysis Analyse(const std::string& bytes)
{
    return AnalyseLog(bytes, false);
}

TEST(LogAnalysis, RealRunWithNothingInstalled)
{
    CLogAnalysis analysis = Analyse(ReadFixture(kNothingInstalled));
    ASSERT_TRUE(analysis.IsOurLog());
    EXPECT_TRUE(analysis.m_text.m_bBom);
    EXPECT_FALSE(analysis.m_bTrimmed);
    EXPECT_EQ(analysis.m_nForeignLines, 0u);
    ASSERT_EQ(analysis.m_runs.size(), 1u);
    const CRunSummary& run = analysis.m_runs[0];
    EXPECT_TRUE(run.IsComplete());
    EXPECT_TRUE(run.AllStepsLogged());
    EXPECT_EQ(run.m_steps[STEP_INIT], EStepState::Ok);
    for (EStep step : {STEP_STOP_CVHOST, STEP_STOP_CVCONSOLE, STEP_STOP_CVMSG, STEP_PENDING_RENAMES,
                       STEP_START_CVUPDATE, STEP_START_CVTRAY})
        EXPECT_EQ(run.m_steps[step], EStepState::Fail) << StepInfo(step).m_szColumn;
    EXPECT_EQ(run.m_nFilesFound, 0);
    EXPECT_TRUE(run.PendingNothingToDo());
    EXPECT_EQ(run.m_nPendingError, 2u);
    // The two fixed pauses of 10 s.
    EXPECT_GE(run.DurationSeconds(), 20);
    EXPECT_LE(run.DurationSeconds(), 25);
}

TEST(LogAnalysis, RepairedRunCountsItemsFilesAndRegistry)
{
    CLogAnalysis analysis = Analyse(ReadFixture(kRepaired));
    ASSERT_EQ(analysis.m_runs.size(), 1u);
    const CRunSummary& run = analysis.m_runs[0];
    EXPECT_EQ(run.m_pid, 4512u);
    EXPECT_EQ(run.m_nRestored, 3);
    EXPECT_EQ(run.m_nRestoreFailed, 0);
    EXPECT_EQ(run.m_nRestoreAttempts, 3);
    EXPECT_EQ(run.m_nSkipped, 1);
    EXPECT_EQ(run.m_nFilesFound, 2);
    EXPECT_EQ(run.m_nFilesDeleted, 2);
    EXPECT_TRUE(run.m_bPendingDeleted);
    EXPECT_EQ(run.m_steps[STEP_STOP_CVPROBE], EStepState::Fail);
    EXPECT_EQ(run.m_steps[STEP_RESTORE], EStepState::Ok);
    EXPECT_FALSE(run.m_bVaultkitFailed);
    EXPECT_EQ(run.m_first.FormatDateTime(), "2026-03-17 09:14:02");
    EXPECT_EQ(run.m_last.FormatDateTime(), "2026-03-17 09:15:31");
}

TEST(LogAnalysis, SeveralRunsInOneFileAreKeptApart)
{
    std::string log = ReadFixture(kNothingInstalled) + WithoutBom(ReadFixture(kRepaired)) +
                      WithoutBom(WithPid(ReadFixture(kNothingInstalled), "00000880", "00000300"));
    CLogAnalysis analysis = Analyse(log);
    ASSERT_EQ(analysis.m_runs.size(), 3u);
    for (const CRunSummary& run : analysis.m_runs)
        EXPECT_TRUE(run.IsComplete());
    EXPECT_EQ(analysis.m_runs[1].m_nRestored, 3);
    EXPECT_EQ(analysis.m_runs[2].m_pid, 300u);
    EXPECT_EQ(analysis.m_runs[2].m_nRestored, 0);
}

TEST(LogAnalysis, ProcessIdReusedAfterARunThatDied)
{
    // The first run died without its stop marker; a later one got the same process id.
    std::string died = ReadFixture(kNothingInstalled);
    died = died.substr(0, OffsetAfterLine(died, "DoSanarix - RemoveFileRec(cvheur.xr0) ..."));
    CLogAnalysis analysis = Analyse(died + WithoutBom(ReadFixture(kNothingInstalled)));
    ASSERT_EQ(analysis.m_runs.size(), 2u);
    EXPECT_FALSE(analysis.m_runs[0].m_bHasStop);
    EXPECT_EQ(analysis.m_runs[0].CutStep(), STEP_REMOVE_FILES);
    EXPECT_TRUE(analysis.m_runs[1].IsComplete());
    EXPECT_TRUE(analysis.m_runs[1].AllStepsLogged());
}

TEST(LogAnalysis, RunsOfTwoProcessesAtOnceComeApart)
{
    // Two starts at the same moment write their lines in turns.
    std::string first = WithoutBom(ReadFixture(kRepaired));
    std::string second = WithoutBom(WithPid(ReadFixture(kRepaired), "00004512", "00007000"));
    second = ReplaceLine(second, "[ALL]:    RestoreQuarantine - Restoring: [C:\\ProgramData\\Corvanta\\Quarantine\\C3.xml] ok",
                         "[ERROR]:  RestoreQuarantine - Restoring: [C:\\ProgramData\\Corvanta\\Quarantine\\C3.xml] failed");
    std::string mixed;
    size_t a = 0, b = 0;
    while (a < first.size() || b < second.size()) {
        for (std::string* text : {&first, &second}) {
            size_t& pos = text == &first ? a : b;
            if (pos >= text->size())
                continue;
            size_t end = text->find('\n', pos) + 1;
            mixed += text->substr(pos, end - pos);
            pos = end;
        }
    }
    CLogAnalysis analysis = Analyse(mixed);
    ASSERT_EQ(analysis.m_runs.size(), 2u);
    EXPECT_TRUE(analysis.m_runs[0].IsComplete() && analysis.m_runs[1].IsComplete());
    EXPECT_EQ(analysis.m_runs[0].m_nRestored, 3);
    EXPECT_EQ(analysis.m_runs[1].m_nRestored, 2);
    EXPECT_EQ(analysis.m_runs[1].m_nRestoreFailed, 1);
}

TEST(LogAnalysis, RunCutOffMidLineEndsInItsStep)
{
    std::string log = ReadFixture(kRepaired);
    size_t cut = OffsetAfterLine(log, kRestoreAnnounce) + 40;
    CLogAnalysis analysis = Analyse(ReadFixture(kNothingInstalled) + WithoutBom(log.substr(0, cut)));
    ASSERT_EQ(analysis.m_runs.size(), 2u);
    const CRunSummary& last = analysis.m_runs[1];
    EXPECT_FALSE(last.m_bHasStop);
    EXPECT_EQ(last.CutStep(), STEP_RESTORE);
    EXPECT_EQ(last.m_steps[STEP_START_CVMSG], EStepState::NotReached);
    // The half line is foreign text after the run, not damage inside it.
    EXPECT_EQ(analysis.m_nForeignLines, 1u);
    EXPECT_FALSE(last.m_bDamaged);
}

TEST(LogAnalysis, TrimmedHeadLeavesARunWithoutStart)
{
    // The log's trim keeps whole lines from somewhere inside an older run.
    std::string older = WithoutBom(ReadFixture(kRepaired));
    std::string trimmed = "\xEF\xBB\xBF" + older.substr(OffsetAfterLine(older, kRestoreAnnounce)) +
                          WithoutBom(ReadFixture(kNothingInstalled));
    CLogAnalysis analysis = Analyse(trimmed);
    EXPECT_TRUE(analysis.m_bTrimmed);
    ASSERT_EQ(analysis.m_runs.size(), 2u);
    EXPECT_FALSE(analysis.m_runs[0].m_bHasStart);
    EXPECT_TRUE(analysis.m_runs[0].m_bHasStop);
    EXPECT_EQ(analysis.m_runs[0].m_nRestored, 3);
    EXPECT_TRUE(analysis.m_runs[1].IsComplete());

    // A single run that outgrew the trim keeps its end but not its start.
    std::string alone = "\xEF\xBB\xBF" + older.substr(OffsetAfterLine(older, kRestoreAnnounce));
    CLogAnalysis lost = Analyse(alone);
    ASSERT_EQ(lost.m_runs.size(), 1u);
    EXPECT_FALSE(lost.m_runs[0].IsComplete());
}

TEST(LogAnalysis, ZeroBytesDamageOnlyTheRunTheyFallIn)
{
    std::string older = ReadFixture(kRepaired);
    size_t hole = OffsetAfterLine(older, kRestoreAnnounce);
    std::string damaged = older.substr(0, hole) + std::string(4096, '\0') + older.substr(hole);
    CLogAnalysis analysis = Analyse(damaged + WithoutBom(ReadFixture(kNothingInstalled)));
    ASSERT_EQ(analysis.m_nulRegions.size(), 1u);
    EXPECT_EQ(analysis.m_nulRegions[0].m_offset, hole);
    ASSERT_EQ(analysis.m_runs.size(), 2u);
    EXPECT_TRUE(analysis.m_runs[0].m_bDamaged);
    EXPECT_TRUE(analysis.m_runs[1].IsComplete());

    // Power lost while the last run wrote: its end is zeros.
    CLogAnalysis tail = Analyse(older.substr(0, hole) + std::string(512, '\0'));
    ASSERT_EQ(tail.m_runs.size(), 1u);
    EXPECT_FALSE(tail.m_runs[0].m_bHasStop);
    EXPECT_EQ(tail.m_nulRegions.size(), 1u);
}

} // namespace
