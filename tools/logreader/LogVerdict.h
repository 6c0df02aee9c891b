// The verdict on one machine: did the last run of the repair leave it repaired? The rules are
// those of docs/operations.md ("Reading many logs at once"); the notes say why, in words an
// operator can act on.
#pragma once
#include "tools/logreader/LogAnalysis.h"
#include "tools/logreader/RunSummary.h"
#include <string>
#include <vector>

enum class EVerdict
{
    Repaired,
    PartlyRepaired,
    NotRepaired,
    RunIncomplete,
    NotALog,
    Unreadable,
};

const char* VerdictText(EVerdict verdict);

// One row of the report: a log file and the verdict on its last run.
struct CLogReport
{
    std::string m_sFile;    // the path as given or found, UTF-8
    std::string m_sMachine; // the machine the path names, or empty
    EVerdict m_verdict = EVerdict::Unreadable;
    bool m_bHasRun = false; // m_run holds the last run of the log
    CRunSummary m_run;
    size_t m_nRuns = 0;
    std::vector<std::string> m_notes;
};

// The verdict on one run alone, adding the reasons to notes.
EVerdict JudgeRun(const CRunSummary& run, std::vector<std::string>& notes);

// The verdict on a whole log: its text, then its last run. File and machine stay empty.
CLogReport JudgeLog(const CLogAnalysis& analysis);
