// What one run of the repair left in the debug log: the result of each step of the fixed
// sequence, the counts of restored and failed items, and the few operation lines that tell
// a harmless "fail" from a real one. Built line by line from the run's own lines.
#pragma once
#include "tools/logreader/LogLine.h"
#include <cstddef>

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
    size_t m_nLines = 0;

    EStepState m_steps[STEP_COUNT] = {};

    int m_nFilesFound = -1;    // RemoveFileRec's count; -1 before its result line
    int m_nFilesDeleted = 0;   // "Delete file %s ok"
    int m_nFilesNotDeleted = 0; // "Cannot delete file %s"

    bool m_bPendingDeleted = false;    // "Delete registry key ok"
    bool m_bPendingOpenFailed = false; // "Cannot open registry key, error=%X"
    bool m_bPendingError = false;      // either "Cannot ... registry key, error=%X"
    unsigned long m_nPendingError = 0; // its code

    int m_nRestoreAttempts = 0; // "Restoring: [%s]"
    int m_nRestored = 0;        // "Restoring: [%s] ok"
    int m_nRestoreFailed = 0;   // "Restoring: [%s] failed"
    int m_nSkipped = 0;         // "Skipping: [%s]"
    bool m_bVaultkitFailed = false;    // "Could not init vaultkit!"
    bool m_bQuarFolderMissing = false; // GetQuarFolderPath's error lines
    int m_nRestoreErrors = 0;          // any other error line of the restore driver

    // Takes one line of this run (start and stop markers included).
    void Add(const CLogLine& line, size_t offset);

    // No value of 2 (ERROR_FILE_NOT_FOUND): nothing was pending, the usual case.
    bool PendingNothingToDo() const
    {
        return m_bPendingError && !m_bPendingOpenFailed && m_nPendingError == 2;
    }
    bool IsComplete() const { return m_bHasStart && m_bHasStop && !m_bDamaged; }
    // The first step announced but without result, or STEP_COUNT.
    EStep CutStep() const;
    // Every step has its result line and the sequence its final "ok".
    bool AllStepsLogged() const;
    long long DurationSeconds() const { return m_last.ToSeconds() - m_first.ToSeconds(); }
};
