// Verdict rules. A run is judged only when the log holds all of it (or, for a run whose head
// the log's trim took, all from the restore on); then the restore decides between "not
// repaired" and the rest, a product not started again comes next, and any problem left over
// makes it "partly repaired". The stop steps do not enter the verdict: their failures matter
// only through what they cause (a file left locked, a restore that failed), and those are
// judged directly. A file that was already at its place (result 13) is no failure: it is kept.
#include "tools/logreader/LogVerdict.h"
#include <cstdio>

namespace {

std::string LineText(size_t line)
{
    return "line " + std::to_string(line);
}

bool JudgeCompleteness(const CRunSummary& run, std::vector<std::string>& notes)
{
    bool fromTail = !run.m_bHasStart && run.m_bHeadTrimmed && run.m_bHasStop;
    if (!run.m_bHasStart && !fromTail) {
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
    // What the trim left must hold the restore and everything after it.
    EStep from = run.m_bHasStart ? STEP_INIT : run.FirstStepSeen();
    if (from > STEP_RESTORE || !run.AllStepsLogged(from)) {
        notes.push_back(fromTail ? "start of the run trimmed away, restore lines lost"
                                 : "step lines missing");
        return false;
    }
    if (fromTail)
        notes.push_back("start of the run trimmed away: judged from " + LineText(run.m_firstLine) +
                        " on, " + StepName(from) + " and after");
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

std::string DescribeEvidence(const CEvidence& evidence)
{
    switch (evidence.m_kind) {
    case EEvidence::RestoreFailed: return "restore failed: " + evidence.m_text;
    case EEvidence::Kept: return "already there, kept: " + evidence.m_text;
    case EEvidence::EngineFileLeft: return "engine file not deleted: " + evidence.m_text;
    default: return evidence.m_text;
    }
}

void CiteRun(const CRunSummary& run, std::vector<std::string>& evidence)
{
    evidence.push_back("lines " + std::to_string(run.m_firstLine) + "-" +
                       std::to_string(run.m_lastLine) + ": run of process " +
                       std::to_string(run.m_pid) + " from " + run.m_first.FormatDateTime());
    for (const CEvidence& e : run.m_evidence)
        evidence.push_back(LineText(e.m_line) + ": " + DescribeEvidence(e));
    if (run.m_nEvidenceDropped > 0)
        evidence.push_back("and " + std::to_string(run.m_nEvidenceDropped) + " more line(s)");
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
void AddPreviousRun(const CLogAnalysis& analysis, size_t judged, std::vector<std::string>& notes)
{
    for (size_t i = judged; i-- > 0;) {
        const CRunSummary& run = analysis.m_runs[i];
        std::vector<std::string> ignored;
        if (!run.IsComplete() || !run.AllStepsLogged())
            continue;
        notes.push_back("previous run " + run.m_first.FormatDateTime() + ": " +
                        VerdictText(JudgeRun(run, ignored)));
        return;
    }
}

// A run that did nothing because another was in progress tells nothing about the machine
// once that other run has finished: then the other one is judged. It is the latest earlier
// run that had not stopped when this one started.
size_t RunToJudge(const CLogAnalysis& analysis, std::vector<std::string>& notes,
                  std::vector<std::string>& evidence)
{
    size_t last = analysis.m_runs.size() - 1;
    const CRunSummary& idle = analysis.m_runs[last];
    if (!idle.m_bAnotherRun)
        return last;
    for (size_t i = last; i-- > 0;) {
        const CRunSummary& other = analysis.m_runs[i];
        if (other.m_bAnotherRun)
            continue;
        if (other.m_bHasStop && other.m_lastOffset < idle.m_firstOffset)
            break;
        if (!other.m_bHasStop) {
            notes.push_back("the run in progress (process " + std::to_string(other.m_pid) +
                            ", " + other.m_first.FormatDateTime() + ") has not finished");
            break;
        }
        notes.push_back("a later run (process " + std::to_string(idle.m_pid) + ", " +
                        idle.m_first.FormatDateTime() + ") found this one in progress and did nothing");
        for (const CEvidence& e : idle.m_evidence)
            evidence.push_back(LineText(e.m_line) + ": " + e.m_text + " (process " +
                               std::to_string(idle.m_pid) + ")");
        return i;
    }
    return last;
}

} // namespace

const EVerdict kAllVerdicts[kVerdictCount] = {
    EVerdict::Repaired,      EVerdict::PartlyRepaired, EVerdict::ProductLeftStopped,
    EVerdict::NotRepaired,   EVerdict::AnotherRunInProgress, EVerdict::RunIncomplete,
    EVerdict::NoLog,         EVerdict::NotALog,       EVerdict::Unreadable,
};

const char* VerdictText(EVerdict verdict)
{
    switch (verdict) {
    case EVerdict::Repaired: return "repaired";
    case EVerdict::PartlyRepaired: return "partly repaired";
    case EVerdict::ProductLeftStopped: return "product left stopped";
    case EVerdict::NotRepaired: return "not repaired";
    case EVerdict::AnotherRunInProgress: return "another run in progress";
    case EVerdict::RunIncomplete: return "run incomplete";
    case EVerdict::NoLog: return "no log";
    case EVerdict::NotALog: return "not a debug log";
    case EVerdict::Unreadable: return "unreadable";
    }
    return "unreadable";
}

int VerdictExitCode(EVerdict verdict)
{
    switch (verdict) {
    case EVerdict::Repaired: return 0;
    case EVerdict::PartlyRepaired: return 20;
    case EVerdict::ProductLeftStopped: return 21;
    case EVerdict::NotRepaired: return 22;
    case EVerdict::AnotherRunInProgress: return 23;
    case EVerdict::RunIncomplete: return 24;
    case EVerdict::NoLog: return 25;
    case EVerdict::NotALog: return 26;
    case EVerdict::Unreadable: return 27;
    }
    return 27;
}

EVerdict JudgeRun(const CRunSummary& run, std::vector<std::string>& notes)
{
    if (run.m_bAnotherRun) {
        notes.push_back("another run was in progress: this one did nothing");
        return EVerdict::AnotherRunInProgress;
    }
    if (!JudgeCompleteness(run, notes))
        return EVerdict::RunIncomplete;
    bool restoreProblem = RestoreUnreachable(run, notes);
    if (run.m_nRestoreFailed > 0) {
        notes.push_back(std::to_string(run.m_nRestoreFailed) + " restore(s) failed");
        restoreProblem = true;
    }
    if (run.m_nKept > 0)
        notes.push_back(std::to_string(run.m_nKept) + " already there, kept");
    bool notStarted = ProductNotStarted(run, notes);
    bool leftovers = CleanupLeftovers(run, notes);
    // When the trim took the restore's first lines, what it restored there is not known.
    if (run.m_nRestored == 0 && restoreProblem && run.m_bRestoreBegun)
        return EVerdict::NotRepaired;
    if (notStarted)
        return EVerdict::ProductLeftStopped;
    if (restoreProblem || leftovers)
        return EVerdict::PartlyRepaired;
    if (run.m_nRestored == 0 && run.m_nKept == 0)
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
        std::vector<std::string> foundBy, cited;
        size_t judged = RunToJudge(analysis, foundBy, cited);
        report.m_bHasRun = true;
        report.m_run = analysis.m_runs[judged];
        report.m_verdict = JudgeRun(report.m_run, report.m_notes);
        report.m_notes.insert(report.m_notes.end(), foundBy.begin(), foundBy.end());
        CiteRun(report.m_run, report.m_evidence);
        report.m_evidence.insert(report.m_evidence.end(), cited.begin(), cited.end());
        if (report.m_verdict == EVerdict::RunIncomplete)
            AddPreviousRun(analysis, judged, report.m_notes);
    }
    AddTextNotes(analysis, report.m_notes);
    return report;
}
