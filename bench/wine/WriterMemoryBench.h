// The writer's memory: the peak working set of a child process that does nothing but
// restore one item, for the big payload against a 1 MiB one. The items are built here, in
// the parent, so that the child never holds a payload itself.
#pragma once
#include "bench/wine/BenchOptions.h"
#include "bench/wine/BenchTable.h"
#include "bench/wine/LargeItemBench.h"

void MeasureWriterMemory(const CBenchOptions& options, const CBigItem& big, CBenchTable& table);

// The child's side ("--restore-one <index> <name> <folder>"): restores that location and
// prints "result=<code> peak=<bytes>" on stdout. Exit code 0 only for a restore that
// succeeded.
int RestoreOneForMemory(const wchar_t* indexPath, const wchar_t* name, const wchar_t* folder);
