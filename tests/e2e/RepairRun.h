// One repair run as the scenarios see it: the debug file emptied, the debugger output
// captured, the real sanarix.exe run to its end, and what it left behind read back.
#pragma once
#include "tests/e2e/DebugLogFile.h"
#include "tools/product/ProcessTools.h"
#include "tools/product/ProductLayout.h"
#include <string>
#include <vector>

struct CRepairRun
{
    CRunResult m_Result;
    std::string m_sFrom;        // local time just before the start, as the log writes it
    std::string m_sTo;          // and just after the end
    unsigned long long m_ullMs = 0;
    bool m_bLogFound = false;
    std::string m_sLogBytes;
    CDebugLogFile m_Log;
    bool m_bCaptured = false;   // the debugger output could be captured
    std::vector<std::string> m_Debugger; // sanarix's debugger messages, in order
};

// The current local time in the log's form, "YYYY-MM-DD-HH:MM:SS".
std::string LocalTimeText();

// Deletes the debug file, runs sanarix.exe (waiting up to timeoutMs) and collects its
// log and debugger output.
CRepairRun RunRepair(const CProductLayout& layout, unsigned long timeoutMs);

// Keeps a copy of the run's log as <build tree>/e2e-logs/<machine>/sanarix.dbg, a collected
// log of a machine of that name, for the log reader's tests of real runs.
void KeepRunLog(const CRepairRun& run, const std::wstring& machine);

// The debugger messages that are quarantine library trace lines, without a final "\n".
std::vector<std::string> TraceLines(const CRepairRun& run);
