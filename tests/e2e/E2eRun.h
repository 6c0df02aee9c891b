// One repair run as the scenarios see it: the debug file emptied, the debugger output
// captured, the real sanarix.exe run to its end, and what it wrote read back. The programs
// under test are the build tree's, given by CMake as host paths and seen from Wine through
// its drive Z:.
#pragma once
#include "tools/product/ProcessTools.h"
#include "tools/product/ProductLayout.h"
#include <string>
#include <vector>

// What a check found wrong, one line each; empty when all is as expected.
using CFaults = std::vector<std::string>;
std::string JoinFaults(const CFaults& faults);

// "/a/b" -> "Z:\a\b".
std::wstring HostPathToWine(const std::string& hostPath);
std::wstring SanarixExe();
std::wstring ProductBinFolder(); // of product_setup.exe and the product's programs, with "\"

struct CRepairRun
{
    CRunResult m_Result;
    std::string m_sFrom; // local time just before the start, "YYYY-MM-DD HH:MM:SS"
    std::string m_sTo;   // and just after the end
    unsigned long long m_ullMs = 0;
    bool m_bLogFound = false;
    std::string m_sLog;                  // the debug file's bytes
    bool m_bCaptured = false;            // the debugger output could be captured
    std::vector<std::string> m_Debugger; // sanarix's debugger messages, in order
};

// The current local time as the log reader formats a line's time.
std::string LocalTimeText();

// Deletes the debug file (unless told to leave what stands there), runs sanarix.exe (waiting
// up to timeoutMs) and collects its log and debugger output.
CRepairRun RunRepair(const CProductLayout& layout, unsigned long timeoutMs, bool deleteLog = true);

// Keeps a copy of the run's log as <build tree>/e2e-logs/<machine>/sanarix.dbg: a collected
// log of a machine of that name, for the fleet tests.
void KeepRunLog(const CRepairRun& run, const std::wstring& machine);
