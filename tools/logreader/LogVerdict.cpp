// Verdict rules. A run is judged only when the log holds all of it; then the restore decides
// between "not repaired" and the rest, and any problem left over makes it "partly repaired".
// The stop steps do not enter the verdict: their failures matter only through what they
// cause (a file left locked, a restore that failed), and those are judged directly.
#include "tools/logreader/LogVerdict.h"
#include <cstdio>

namespace {

std::string StepName(EStep step)
{
    const CStepInfo& info = StepInfo(step);
    std::string name = info.m_szOperation;
    if (info.m_szArgument)
        name = name + "(" + info.m_szArgument + ")";
    return name;
}

bool JudgeCompleteness(const CRunSummary& run, std::vector<std::string>& notes)
{
    if (!run.m_bHasStart) {
        notes.push_back("start of the run is missing (log trimmed or damaged)");
        return false;
    }
    if (run.m_bDamaged) {
        notes.push_back("run damaged: lines may be lost");
        return false;
    }
    if (!run.m_bHasStop) {
        EStep cut = run.CutStep();
        notes.push_back(cut == STEP_COUNT ? "no stop marker: still running or ended abruptly"
                                          : "no stop marker: ended during " + StepName(cut));
        return false;
    }
    if (!run.AllStepsLogged()) {
        notes.push_back("step lines missing");
        return false;
    }
    return true;
}

// Anything that kept the restore from reaching the quarantine at all.
bool RestoreUnreachable(const CRunSummary& run, std::vector<std::string>& notes)
{
    bool unreachable = false;
    if (run.m_steps[STEP_RESTORE] != EStepState::Ok) {
        notes.push_back("restore step failed");
        unreachable = true;
    }
    if (run.m_bVaultkitFailed) {
        notes.push_back("quarantine library did not start");
        unreachable = true;
    }
    if (run.m_bQuarFolderMissing) {
        notes.push_back("quarantine folder not found in the registry");
        unreachable = true;
    }
    if (run.m_nRestoreErrors > 0) {
        notes.push_back(std::to_string(run.m_nRestoreErrors) + " restore error line(s)");
        unreachable = true;
    }
    return unreachable;
}

bool ProductNotStarted(const CRunSummary& run, std::vector<std::string>& notes)
{
    std::string names;
    for (EStep step : {STEP_START_CVMSG, STEP_START_CVUPDATE, STEP_START_CVHOST,
                       STEP_START_CVTRAY}) {
        if (run.m_steps[step] == EStepState::Ok)
            continue;
        names += (names.empty() ? "" : ", ") + std::string(StepInfo(step).m_szArgument);
    }
    if (!names.empty())
        notes.push_back("not started again: " + names);
    return !names.empty();
}

bool CleanupLeftovers(const CRunSummary& run, std::vector<std::string>& notes)
{
    bool left = false;
    if (run.m_nFilesNotDeleted > 0) {
        notes.push_back("engine file not deleted: " + std::to_string(run.m_nFilesNotDeleted));
        left = true;
    }
    if (run.m_steps[STEP_PENDING_RENAMES] == EStepState::Fail && !run.PendingNothingToDo()) {
        char code[16];
        std::snprintf(code, sizeof code, "%lX", run.m_nPendingError);
        notes.push_back(std::string("pending renames not removed (error ") + code + ")");
        left = true;
    }
    return left;
}

void AddTextNotes(const CLogAnalysis& analysis, std::vector<std::string>& notes)
{
    if (analysis.m_bHeadCut)
        notes.push_back("only the last 6 MiB read");
    if (analysis.m_bTrimmed)
        notes.push_back("trimmed: oldest part dropped");
    if (!analysis.m_bHeadCut && !analysis.m_text.m_bBom)
        notes.push_back("no byte-order mark");
    for (const CNulRegion& region : analysis.m_nulRegions) {
        notes.push_back(std::to_string(region.m_length) + " zero bytes at byte " +
                        std::to_string(region.m_offset));
    }
    if (analysis.m_nForeignLines > 0)
        notes.push_back(std::to_string(analysis.m_nForeignLines) + " foreign line(s)");
}

bool JudgeText(const CLogAnalysis& analysis, CLogReport& report)
{
    const CTextCheck& text = analysis.m_text;
    report.m_verdict = EVerdict::Unreadable;
    switch (text.m_problem) {
    case ETextProblem::Empty:
        report.m_verdict = EVerdict::NotALog;
        report.m_notes.push_back("empty file");
        return false;
    case ETextProblem::Utf16:
        report.m_notes.push_back("UTF-16 text, not UTF-8");
        return false;
    case ETextProblem::InvalidUtf8:
        report.m_notes.push_back((text.m_bBinary ? "binary data: invalid UTF-8 at byte "
                                                 : "invalid UTF-8 at byte ") +
                                 std::to_string(text.m_offset));
        return false;
    case ETextProblem::None:
        break;
    }
    if (analysis.IsOurLog())
        return true;
    report.m_verdict = EVerdict::NotALog;
    if (analysis.m_nOurLines == 0 && analysis.m_nOtherProgramLines > 0)
        report.m_notes.push_back("log of another program " + analysis.m_sOtherTag);
    else if (analysis.m_nOurLines == 0)
        report.m_notes.push_back("no debug log lines");
    else
        report.m_notes.push_back("mostly foreign text");
    return false;
}

// For a last run that cannot be judged, the run before it still tells how the machine was left.
void AddPreviousRun(const CLogAnalysis& analysis, std::vector<std::string>& notes)
{
    for (size_t i = analysis.m_runs.size() - 1; i-- > 0;) {
        const CRunSummary& run = analysis.m_runs[i];
        std::vector<std::string> ignored;
        if (!run.IsComplete() || !run.AllStepsLogged())
            continue;
        notes.push_back("previous run " + run.m_first.FormatDateTime() + ": " +
                        VerdictText(JudgeRun(run, ignored)));
        return;
    }
}

} // namespace

const char* VerdictText(EVerdict verdict)
{
    switch (verdict) {
    case EVerdict::Repaired: return "repaired";
    case EVerdict::PartlyRepaired: return "partly repaired";
    case EVerdict::NotRepaired: return "not repaired";
    case EVerdict::RunIncomplete: return "run incomplete";
    case EVerdict::NotALog: return "not a debug log";
    case EVerdict::Unreadable: return "unreadable";
    }
    return "unreadable";
}

EVerdict JudgeRun(const CRunSummary& run, std::vector<std::string>& notes)
{
    if (!JudgeCompleteness(run, notes))
        return EVerdict::RunIncomplete;
    bool restoreProblem = RestoreUnreachable(run, notes);
    if (run.m_nRestoreFailed > 0) {
        notes.push_back(std::to_string(run.m_nRestoreFailed) + " restore(s) failed");
        restoreProblem = true;
    }
    bool notStarted = ProductNotStarted(run, notes);
    bool leftovers = CleanupLeftovers(run, notes);
    if (run.m_nRestored == 0 && restoreProblem)
        return EVerdict::NotRepaired;
    if (restoreProblem || notStarted || leftovers)
        return EVerdict::PartlyRepaired;
    if (run.m_nRestored == 0)
        notes.push_back("nothing to restore");
    return EVerdict::Repaired;
}

CLogReport JudgeLog(const CLogAnalysis& analysis)
{
    CLogReport report;
    if (!JudgeText(analysis, report))
        return report;
    report.m_nRuns = analysis.m_runs.size();
    if (analysis.m_runs.empty()) {
        report.m_verdict = EVerdict::RunIncomplete;
        report.m_notes.push_back("no run in the log");
    } else {
        report.m_bHasRun = true;
        report.m_run = analysis.m_runs.back();
        report.m_verdict = JudgeRun(report.m_run, report.m_notes);
        if (report.m_verdict == EVerdict::RunIncomplete)
            AddPreviousRun(analysis, report.m_notes);
    }
    AddTextNotes(analysis, report.m_notes);
    return report;
}
