// The verdict on one machine: did the last run of the repair leave it repaired? The rules are
// those of docs/operations.md ("Reading many logs at once"); the notes say why, in words an
// operator can act on, and the evidence cites the lines of the log that back the verdict.
#pragma once
#include "tools/logreader/LogAnalysis.h"
#include "tools/logreader/RunSummary.h"
#include <string>
#include <vector>

// In the order of the report's counts; the worse verdicts on a complete run come later.
enum class EVerdict
{
    Repaired,
    PartlyRepaired,
    ProductLeftStopped,
    NotRepaired,
    AnotherRunInProgress,
    RunIncomplete,
    NoLog,
    NotALog,
    Unreadable,
};
const size_t kVerdictCount = 9;
extern const EVerdict kAllVerdicts[kVerdictCount];

const char* VerdictText(EVerdict verdict);
// The exit code of "logreader --check" for the verdict: 0 only for repaired.
int VerdictExitCode(EVerdict verdict);

// One row of the report: a log file and the verdict on its last run.
struct CLogReport
{
    std::string m_sFile;    // the path as given or found, UTF-8; empty when there is no log
    std::string m_sMachine; // the machine the path names, or empty
    EVerdict m_verdict = EVerdict::Unreadable;
    bool m_bNotRead = false; // the file could not be opened or read (its content is not known)
    bool m_bHasRun = false;  // m_run holds the run judged
    CRunSummary m_run;
    size_t m_nRuns = 0;
    std::vector<std::string> m_notes;
    std::vector<std::string> m_evidence; // "line 57: restore failed: C:\...\C3.xml"
};

// The verdict on one run alone, adding the reasons to notes.
EVerdict JudgeRun(const CRunSummary& run, std::vector<std::string>& notes);

// The verdict on a whole log: its text, then its last run (or, when the last run found
// another in progress and that one has finished since, the run it found). File and machine
// stay empty.
CLogReport JudgeLog(const CLogAnalysis& analysis);
