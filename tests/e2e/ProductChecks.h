// What the scenarios check after a repair run, each as a list of faults (empty when all is
// as expected), so that one run reports everything that went wrong at once.
#pragma once
#include "tests/e2e/ExpectedRunLog.h"
#include "tests/e2e/RepairRun.h"
#include <map>
#include <string>
#include <vector>

using CFaults = std::vector<std::string>;

std::string JoinFaults(const CFaults& faults);

// The log's form (byte-order mark, CR LF, fields, one process and thread, times within the
// run) and its messages against the expected ones.
CFaults CheckRunLog(const CRepairRun& run, const CLogExpectation& expected);

// Every line of the debug file also reached the debugger, in the same order.
CFaults CheckLogMirroredToDebugger(const CRepairRun& run);

// Services' states (a name missing from the map must not exist) and process counts.
CFaults CheckServices(const std::map<std::wstring, unsigned long>& states);
CFaults CheckProcessCounts(const std::map<std::wstring, size_t>& counts);

// After a first run: engine files deleted or kept as planned; pending renames gone.
CFaults CheckEngineAndRenames(const CProductLayout& layout, const CProductPlan& plan);

// After a first run: every location restored, kept or untouched as planned (attributes and
// times read before the content, so that reading does not move the access time).
CFaults CheckDestinations(const CProductPlan& plan);

// The quarantine folder holds exactly what remains, byte for byte as before the run.
CFaults CheckQuarantine(const CProductLayout& layout, const CProductPlan& plan,
                        const std::map<std::wstring, std::string>& before);
std::map<std::wstring, std::string> ReadQuarantine(const CProductLayout& layout);

// The trace of the quarantine library: start-up, then one restore call per matching
// location with the outcome its fate calls for.
CFaults CheckRestoreTrace(const CRepairRun& run, const CProductLayout& layout,
                          const CProductPlan& plan);

// No decoy ran.
CFaults CheckDecoyNeverRan(const CProductLayout& layout);

// A description of everything a run could change (files below the product's and the
// victims' folders with attributes, last-write time, size and digest; registry values;
// services' states; process counts), for "nothing changed" comparisons.
std::map<std::wstring, std::string> SnapshotProduct(const CProductLayout& layout);
CFaults CompareSnapshots(const std::map<std::wstring, std::string>& before,
                         const std::map<std::wstring, std::string>& after);
