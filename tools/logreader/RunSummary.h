// What one run of the repair left in the debug log: the result of each step of the fixed
// sequence, the counts of restored and failed items, the few operation lines that tell
// a harmless "fail" from a real one, and where each problem stands in the file (so that a
// verdict can cite its lines). Built line by line from the run's own lines.
#pragma once
#include "tools/logreader/LogLine.h"
#include <cstddef>
#include <string>
#include <vector>

// The steps of the repair sequence, in the order the run takes them.
enum EStep : size_t
{
    STEP_INIT,
    STEP_STOP_CVHOST,
    STEP_STOP_CVTRAY,
    STEP_STOP_CVCONSOLE,
    STEP_STOP_CVUPDATE,
    STEP_STOP_CVPROBE,
    STEP_STOP_CVMSG,
    STEP_REMOVE_FILES,
    STEP_PENDING_RENAMES,
    STEP_RESTORE,
    STEP_START_CVMSG,
    STEP_START_CVUPDATE,
    STEP_START_CVHOST,
    STEP_START_CVTRAY,
    STEP_COUNT
};

enum class EStepState
{
    NotReached, // no announcement line
    Cut,        // announced ("... ...") but no result line: the run ended inside this step
    Ok,
    Fail,
};

struct CStepInfo
{
    const char* m_szOperation; // as the run names it in its lines, e.g. "StopCVApp"
    const char* m_szArgument;  // e.g. "cvhost.exe"; null where any argument is taken
    const char* m_szColumn;    // CSV column name
};

const CStepInfo& StepInfo(EStep step);
// "StopCVApp(cvhost.exe)", "RemoveFileRec": the step as the run names it.
std::string StepName(EStep step);

// The kinds of line a verdict cites.
enum class EEvidence
{
    RestoreFailed,         // "Restoring: [%s] failed": the index file
    Kept,                  // a failed restore whose file was already there (result 13)
    StepFailed,            // a step's "result=fail" that matters (start steps, restore)
    EngineFileLeft,        // "Cannot delete file %s"
    PendingNotRemoved,     // a registry error of the pending renames other than "not found"
    QuarantineUnreachable, // "Could not init vaultkit!", GetQuarFolderPath's errors
    RestoreError,          // any other error line of the restore driver
    AnotherRun,            // "Another run is in progress, nothing done"
};

struct CEvidence
{
    EEvidence m_kind;
    size_t m_line; // line number in the text read, from 1
    std::string m_text;
};

// A run with thousands of failed restores still cites only this many lines.
const size_t kMaxEvidence = 20;

struct CRunSummary
{
    unsigned long m_pid = 0;
    bool m_bHasStart = false; // the run's start marker is in the log
    bool m_bHasStop = false;  // ... and its stop marker
    bool m_bFinalOk = false;  // the sequence's last line "DoSanarix - ok"
    bool m_bDamaged = false;  // zero bytes or foreign lines fall inside the run
    CLogTime m_first;
    CLogTime m_last;
    size_t m_firstOffset = 0;
    size_t m_lastOffset = 0;
    size_t m_firstLine = 0; // line numbers of the run's first and last line
    size_t m_lastLine = 0;
    size_t m_nLines = 0;
    // The run begins the file without its start marker: the log's trim took its head.
    bool m_bHeadTrimmed = false;
    // The run found another run in progress and did nothing.
    bool m_bAnotherRun = false;

    EStepState m_steps[STEP_COUNT] = {};
    size_t m_stepLines[STEP_COUNT] = {}; // line of each step's last line seen
    bool m_bRestoreBegun = false;        // the restore's announcement is in the log

    int m_nFilesFound = -1;    // RemoveFileRec's count; -1 before its result line
    int m_nFilesDeleted = 0;   // "Delete file %s ok"
    int m_nFilesNotDeleted = 0; // "Cannot delete file %s"

    bool m_bPendingDeleted = false;    // "Delete registry key ok"
    bool m_bPendingOpenFailed = false; // "Cannot open registry key, error=%X"
    bool m_bPendingError = false;      // either "Cannot ... registry key, error=%X"
    unsigned long m_nPendingError = 0; // its code

    int m_nRestoreAttempts = 0; // "Restoring: [%s]"
    int m_nRestored = 0;        // "Restoring: [%s] ok"
    int m_nRestoreFailed = 0;   // "Restoring: [%s] failed", the kept ones not counted
    int m_nKept = 0;            // failed because the file was already there: kept (13)
    int m_nSkipped = 0;         // "Skipping: [%s]"
    bool m_bVaultkitFailed = false;    // "Could not init vaultkit!"
    bool m_bQuarFolderMissing = false; // GetQuarFolderPath's error lines
    int m_nRestoreErrors = 0;          // any other error line of the restore driver

    std::vector<CEvidence> m_evidence; // in file order, at most kMaxEvidence
    size_t m_nEvidenceDropped = 0;

    // Takes one line of this run (start and stop markers included) with its byte offset and
    // line number.
    void Add(const CLogLine& line, size_t offset, size_t lineNumber);
    void AddEvidence(EEvidence kind, size_t line, std::string_view text);

    // No value of 2 (ERROR_FILE_NOT_FOUND): nothing was pending, the usual case.
    bool PendingNothingToDo() const
    {
        return m_bPendingError && !m_bPendingOpenFailed && m_nPendingError == 2;
    }
    bool IsComplete() const { return m_bHasStart && m_bHasStop && !m_bDamaged; }
    // The first step announced but without result, or STEP_COUNT.
    EStep CutStep() const;
    // The first step with any line in the run, or STEP_COUNT.
    EStep FirstStepSeen() const;
    // Every step from the given one on has its result line, and the sequence its final "ok".
    bool AllStepsLogged(EStep from = STEP_INIT) const;
    long long DurationSeconds() const { return m_last.ToSeconds() - m_first.ToSeconds(); }
};
