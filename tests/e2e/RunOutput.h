// What a run wrote, read through the log reader's own parser (tools/logreader): the debug
// file's form, the debugger output that mirrors it, and that output against the table of
// expected runs (expected-runs.txt beside this file).
#pragma once
#include "tests/e2e/E2eRun.h"
#include <string_view>

// The message of one of our log lines: what follows its line tag. Text that is no log line
// of ours (the library's trace, a note to the debugger) is its own message.
std::string MessageOf(std::string_view text);

// The messages of one process's lines in a log's bytes, in order.
std::vector<std::string> MessagesOfProcess(const std::string& log, unsigned long pid);

// The debug file: UTF-8 with one byte-order mark, every line ended by CR LF and ours in form
// and tag, from one process and thread, each time within the run; and every line of it also
// sent to the debugger, in the same order.
CFaults CheckLogForm(const CRepairRun& run);

// The run's debugger output, its log lines and the quarantine library's trace in the order
// written, against the table's lines for the scenario (a letter of the table's first column).
CFaults CheckRunOutput(const CRepairRun& run, const CProductLayout& layout, char scenario);
