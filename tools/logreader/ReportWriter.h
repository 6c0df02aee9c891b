// The report: one row per log, as an aligned text table for reading at a glance (with a
// count of each verdict below it) or as CSV (RFC 4180) for a spreadsheet or a script.
#pragma once
#include "tools/logreader/LogVerdict.h"
#include <ostream>
#include <string>
#include <vector>

void WriteTable(std::ostream& out, const std::vector<CLogReport>& reports);
void WriteCsv(std::ostream& out, const std::vector<CLogReport>& reports);

// One CSV field, quoted when it holds a comma, a double quote, CR or LF.
std::string CsvField(const std::string& text);

// "20s", "3m05s", "1h02m00s"; "-" for a negative span (the clock was set back).
std::string FormatDuration(long long seconds);
