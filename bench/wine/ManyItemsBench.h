// The many-items figure: a quarantine of small single-location items restored by one
// RestoreQuarantine call, in items per second, at two sizes to show whether the cost per
// item stays the same, and once more as the program runs it (debug log in its file,
// debugger output really sent) to show what that adds.
//
// The items are made in a step of their own, in folders of 100: under Wine every name
// that does not exist yet is looked up by reading its whole folder, so making 40,000 files
// in one folder costs minutes that have nothing to do with the restore. The caller
// (scripts/wine-bench.sh) then moves them into each set's quarantine folder on the host
// side before the measuring run.
#pragma once
#include "bench/wine/BenchOptions.h"
#include "bench/wine/BenchTable.h"

// Builds every set's items into "<work>\<set>\stage\gNNNNN" and makes the destination
// folders. False when something could not be written.
bool StageManyItems(const CBenchOptions& options);

// Times the driver over each set's quarantine folder, which must hold the staged items.
void MeasureManyItems(const CBenchOptions& options, CBenchTable& table);
