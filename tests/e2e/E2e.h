// The end-to-end harness: the real sanarix.exe against the simulated product (tools/product),
// its log read through the log reader's parser and compared with expected-runs.txt.
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

// Runs sanarix.exe (deleting the debug file first unless told not to), catching its debugger output.
CRepairRun RunRepair(const CProductLayout& layout, unsigned long timeoutMs, bool deleteLog = true);
// Keeps the run's log as <build tree>/e2e-logs/<machine>/sanarix.dbg for the fleet tests.
void KeepRunLog(const CRepairRun& run, const std::wstring& machine);

// What follows a log line's tag; text that is no line of ours is its own message.
std::string MessageOf(std::string_view text);
std::vector<std::string> MessagesOfProcess(const std::string& log, unsigned long pid);
// The debug file's form (one BOM, CR LF, our tag, one process and thread, times within the run,
// mirrored to the debugger), then the debugger output against the table's lines for the scenario.
CFaults CheckRunOutput(const CRepairRun& run, const CProductLayout& layout, char scenario);

// Every difference from the plan after a run (tools/product/Outcome.h).
CFaults CheckOutcome(const CProductLayout& layout, const CProductPlan& plan);

// Uninstalls, installs and starts the product, once more if Wine fails to start a program.
CFaults FreshProduct(const CProductLayout& layout, const CProductPlan& plan,
                     const CInstallOptions& install, const CStartOptions& start = CStartOptions());
// count restored items "<prefix><i>" of size + i * 4099 bytes, each at `locations` folders
// "<victims>\<prefix>\a\", "b\", ... with attributes and times of their own.
void AddLargeItems(const CProductLayout& layout, CProductPlan& plan, const wchar_t* prefix,
                   int count, size_t size, int locations);

using CSnapshot = std::map<std::wstring, std::string>;
// Every file (attributes, last-write time, size, digest) and folder below the folder.
void SnapshotTree(const std::wstring& folder, CSnapshot& out);
// The product's and victims' folders, the registry values, services and processes.
CSnapshot SnapshotProduct(const CProductLayout& layout);
// What differs; with onlyKept, only what is in both (an entry may go, none may change).
CFaults CompareSnapshots(const CSnapshot& before, const CSnapshot& after, bool onlyKept = false);
// Files below the folder named "~vk...": a restore's unfinished staging file.
std::vector<std::wstring> StagingFiles(const std::wstring& folder);
