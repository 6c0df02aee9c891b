// A repair run that is killed on purpose: sanarix.exe is started, watched through its debug
// file, and terminated a chosen moment after it began restoring a chosen location, the way
// a user's reboot, a crash or a task manager would end it.
#pragma once
#include "tools/product/ProductLayout.h"
#include <string>

enum class EKillPhase
{
    NotStarted,      // the program did not start
    BeforeRestore,   // killed before the restore began (or it never began in time)
    InsideLocation,  // a location's restore had begun and not yet reported its outcome
    BetweenLocations,
    AfterRestore,    // the restore had ended; the kill came in the pauses or later
    EndedByItself,   // the run was over before the kill
};

const char* KillPhaseName(EKillPhase phase);

struct CKillRun
{
    EKillPhase m_ePhase = EKillPhase::NotStarted;
    int m_nLocationsBegun = 0;  // "Restoring: [...]" lines before the kill
    int m_nLocationsEnded = 0;  // of those, with their outcome logged
    unsigned long m_dwExitCode = 0;
};

// Deletes the debug file, starts sanarix.exe, waits until its log shows the restore of
// location number `location` (from 1) begun, waits delayMs more and terminates it. A run
// that never gets that far is terminated after timeoutMs.
CKillRun KillRepairDuringLocation(const CProductLayout& layout, int location, unsigned long delayMs,
                                  unsigned long timeoutMs);
