// The end-to-end harness: the real sanarix.exe run against the simulated product
// (tools/product), what it wrote read through the log reader's own parser (tools/logreader)
// and compared with the table of expected runs (expected-runs.txt beside this file), and
// the product's state before and after. The programs under test are the build tree's, given
// by CMake as host paths and seen from Wine through its drive Z:.
#pragma once
#include "tools/product/ProcessTools.h"
#include "tools/product/ProductSetup.h"
#include <map>
#include <string>
#include <string_view>
#include <vector>

// What a check found wrong, one line each; empty when all is as expected.
using CFaults = std::vector<std::string>;
std::string JoinFaults(const CFaults& faults);

std::wstring SanarixExe();
CInstallOptions InstallFromBuildTree(); // the product's programs from the build tree

struct CRepairRun
{
    CRunResult m_Result;
    std::string m_sFrom, m_sTo; // local times just before the start and just after the end
    bool m_bLogFound = false;
    std::string m_sLog;                  // the debug file's bytes
    bool m_bCaptured = false;            // the debugger output could be captured
    std::vector<std::string> m_Debugger; // sanarix's debugger messages, in order
};

// Deletes the debug file (unless told to leave what stands there), runs sanarix.exe (waiting
// up to timeoutMs) while catching its debugger output, and reads its log back.
CRepairRun RunRepair(const CProductLayout& layout, unsigned long timeoutMs, bool deleteLog = true);
// Keeps a copy of the run's log as <build tree>/e2e-logs/<machine>/sanarix.dbg: a collected
// log of a machine of that name, for the fleet tests.
void KeepRunLog(const CRepairRun& run, const std::wstring& machine);

// The message of one of our log lines: what follows its line tag. Text that is no log line
// of ours (the library's trace, a note to the debugger) is its own message.
std::string MessageOf(std::string_view text);
// The messages of one process's lines in a log's bytes, in order.
std::vector<std::string> MessagesOfProcess(const std::string& log, unsigned long pid);
// The debug file: UTF-8 with one byte-order mark, every line ended by CR LF and ours in form
// and tag, from one process and thread, each time within the run, every line also sent to
// the debugger in the same order. Then the debugger output (log lines and the quarantine
// library's trace in the order written) against the table's lines for the scenario (a
// letter of the table's first column).
CFaults CheckRunOutput(const CRepairRun& run, const CProductLayout& layout, char scenario);

// Every difference from the plan after a run (tools/product/Outcome.h), one line each.
CFaults CheckOutcome(const CProductLayout& layout, const CProductPlan& plan);

// Uninstalls, installs and starts the product. Under load Wine now and then fails to start
// one of its programs; that is the simulation's trouble, not the run's, so it is tried once
// more. The problems of the last attempt, or none.
CFaults FreshProduct(const CProductLayout& layout, const CProductPlan& plan,
                     const CInstallOptions& install, const CStartOptions& start = CStartOptions());
// count items "<prefix>0", "<prefix>1", ... of the target threat, of size + i * 4099 bytes,
// each at `locations` places below "<victims>\<prefix>\a\", "b\", ...: restored, with
// attributes and times of their own.
void AddLargeItems(const CProductLayout& layout, CProductPlan& plan, const wchar_t* prefix,
                   int count, size_t size, int locations);

using CSnapshot = std::map<std::wstring, std::string>;
// Every file below the folder (attributes, last-write time, size, digest) and folder.
void SnapshotTree(const std::wstring& folder, CSnapshot& out);
// Everything a run could change: the files below the product's and the victims' folders,
// the registry values, the services' states and process counts.
CSnapshot SnapshotProduct(const CProductLayout& layout);
// What differs; with onlyKept, only what is in both (an entry may go, none may change).
CFaults CompareSnapshots(const CSnapshot& before, const CSnapshot& after, bool onlyKept = false);
// Files below the folder whose name starts with "~vk": a restore's unfinished staging file.
std::vector<std::wstring> StagingFiles(const std::wstring& folder);
