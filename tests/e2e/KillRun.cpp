// A repair run killed on purpose (see KillRun.h).
#include "tests/e2e/KillRun.h"
#include "tests/e2e/E2ePaths.h"
#include "tools/product/FileTools.h"
#include "tools/product/ProcessTools.h"
#include <windows.h>

namespace {

const char kRestoreBegins[] = "RestoreQuarantine(trojan.fakealert.5) ...";
const char kRestoreEnds[] = "RestoreQuarantine(trojan.fakealert.5) result=";
const char kLocationBegins[] = "Restoring: [";
const DWORD kPollMs = 2;

int Count(const std::string& text, const std::string& what)
{
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// What the log says so far: how far the restore got.
struct CLogProgress
{
    bool m_bRestoreBegun = false;
    bool m_bRestoreEnded = false;
    int m_nBegun = 0;  // locations whose restore began
    int m_nEnded = 0;  // of those, the ones whose outcome is logged
};

CLogProgress ReadProgress(const CProductLayout& layout)
{
    CLogProgress progress;
    std::string log;
    if (!ReadWholeFile(layout.DebugLog(), log))
        return progress;
    progress.m_bRestoreBegun = log.find(kRestoreBegins) != std::string::npos;
    progress.m_bRestoreEnded = log.find(kRestoreEnds) != std::string::npos;
    // Every location logs "Restoring: [index]" when it begins and the same text with
    // " ok" or " failed" after it when it ends.
    int lines = Count(log, kLocationBegins);
    progress.m_nEnded = Count(log, "] ok\r\n") + Count(log, "] failed\r\n");
    progress.m_nBegun = lines - progress.m_nEnded;
    return progress;
}

EKillPhase PhaseOf(const CLogProgress& progress)
{
    if (progress.m_bRestoreEnded)
        return EKillPhase::AfterRestore;
    if (!progress.m_bRestoreBegun)
        return EKillPhase::BeforeRestore;
    return progress.m_nBegun > progress.m_nEnded ? EKillPhase::InsideLocation
                                                 : EKillPhase::BetweenLocations;
}

// Polls the log until location number `location` has begun, the restore is over or
// timeoutMs have passed. True when the program ended by itself meanwhile.
bool WaitForLocation(const CProductLayout& layout, HANDLE hProcess, int location,
                     unsigned long timeoutMs)
{
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        CLogProgress progress = ReadProgress(layout);
        if (progress.m_bRestoreEnded || progress.m_nBegun >= location)
            return false;
        if (WaitForSingleObject(hProcess, kPollMs) == WAIT_OBJECT_0)
            return true;
        if (GetTickCount64() > deadline)
            return false;
    }
}

} // namespace

const char* KillPhaseName(EKillPhase phase)
{
    switch (phase) {
    case EKillPhase::NotStarted: return "not started";
    case EKillPhase::BeforeRestore: return "before the restore";
    case EKillPhase::InsideLocation: return "inside a location";
    case EKillPhase::BetweenLocations: return "between locations";
    case EKillPhase::AfterRestore: return "after the restore";
    case EKillPhase::EndedByItself: return "ended by itself";
    }
    return "?";
}

CKillRun KillRepairDuringLocation(const CProductLayout& layout, int location, unsigned long delayMs,
                                  unsigned long timeoutMs)
{
    CKillRun run;
    RemoveOneFile(layout.DebugLog());
    CProcessInfo process;
    std::wstring exe = SanarixExe();
    if (!StartProgram(exe, L"\"" + exe + L"\"", process))
        return run;
    HANDLE hProcess = process.m_hProcess.get();
    bool ended = WaitForLocation(layout, hProcess, location, timeoutMs) ||
                 WaitForSingleObject(hProcess, delayMs) == WAIT_OBJECT_0;
    if (!ended) {
        TerminateProcess(hProcess, 9);
        WaitForSingleObject(hProcess, INFINITE);
    }
    DWORD exitCode = 0;
    GetExitCodeProcess(hProcess, &exitCode);
    run.m_dwExitCode = exitCode;

    CLogProgress progress = ReadProgress(layout);
    run.m_ePhase = ended ? EKillPhase::EndedByItself : PhaseOf(progress);
    run.m_nLocationsBegun = progress.m_nBegun;
    run.m_nLocationsEnded = progress.m_nEnded;
    return run;
}
