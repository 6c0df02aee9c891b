// The restore code started as sanarix.exe starts it on Wine, for measuring: our stand-ins
// in the table of calls, the registry rows answering the quarantine folder of the
// benchmark (the bench prefix holds no product), and the debugger output counted instead
// of sent, so that what is timed is the restore and not Wine's debugger-string path.
#pragma once
#include <string>

// Installs the stand-ins, the two registry rows and the debugger-output counter. Once per
// process; the rows stay until the process ends.
void InstallBenchRows();

// The folder the registry rows answer for the quarantine folder value (as the driver
// wants it: ending in a backslash).
void SetBenchQuarantineFolder(const std::wstring& folder);

// With pass-through on, every debugger string is still counted and then sent to the real
// OutputDebugStringW, as in the program's own runs.
void SetDebuggerPassThrough(bool passThrough);

// What the debugger output held since the last call.
struct CDebuggerCounts
{
    long lines = 0;
    long successes = 0; // the restore operation's trace of a successful restore
    long errors = 0;    // debug log lines at the error level
    double sentSeconds = 0; // spent in the real OutputDebugStringW (pass-through only)
};
CDebuggerCounts TakeDebuggerCounts();
