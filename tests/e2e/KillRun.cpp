// A repair run killed on purpose (see KillRun.h).
#include "tests/e2e/KillRun.h"
#include "tests/e2e/E2ePaths.h"
#include "tools/product/FileTools.h"
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

bool Started(const PROCESS_INFORMATION& pi) { return pi.hProcess != nullptr; }

PROCESS_INFORMATION StartSanarix()
{
    std::wstring exe = SanarixExe();
    std::wstring line = L"\"" + exe + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;  // the null device: our pipes stay ours
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(exe.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi))
        return PROCESS_INFORMATION{};
    return pi;
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
    PROCESS_INFORMATION pi = StartSanarix();
    if (!Started(pi))
        return run;
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    bool ended = false;
    for (;;) {
        CLogProgress progress = ReadProgress(layout);
        if (progress.m_bRestoreEnded || progress.m_nBegun >= location)
            break;
        if (WaitForSingleObject(pi.hProcess, kPollMs) == WAIT_OBJECT_0) {
            ended = true;
            break;
        }
        if (GetTickCount64() > deadline)
            break;
    }
    if (!ended && WaitForSingleObject(pi.hProcess, delayMs) == WAIT_OBJECT_0)
        ended = true;
    if (!ended) {
        TerminateProcess(pi.hProcess, 9);
        WaitForSingleObject(pi.hProcess, INFINITE);
    }
    DWORD exitCode = 0;
    GetExitCodeProcess(pi.hProcess, &exitCode);
    run.m_dwExitCode = exitCode;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);

    CLogProgress progress = ReadProgress(layout);
    run.m_ePhase = ended ? EKillPhase::EndedByItself : PhaseOf(progress);
    run.m_nLocationsBegun = progress.m_nBegun;
    run.m_nLocationsEnded = progress.m_nEnded;
    return run;
}
