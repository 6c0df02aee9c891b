// The report: one row per machine, as an aligned text table for reading at a glance (with a
// count of each verdict below it, and on request each machine's evidence) or as CSV
// (RFC 4180) for a spreadsheet or a script. Rows are handed over one at a time: CSV goes out
// at once, the table keeps each row as one short string until its widths are known, so a
// report on 100,000 machines stays small.
#pragma once
#include "tools/logreader/LogVerdict.h"
#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

struct CReportOptions
{
    bool m_bCsv = false;
    bool m_bCsvBom = false;   // a UTF-8 byte-order mark first, for spreadsheets
    char m_cSeparator = ',';  // ',' or ';' (the list separator of many locales) or '\t'
    bool m_bDetails = false;  // the table is followed by each machine's notes and evidence
};

class CReportWriter
{
public:
    CReportWriter(std::ostream& out, const CReportOptions& options);
    void Add(const CLogReport& report);
    // Writes what is held back: the table, its counts, the details.
    void Finish();

private:
    void KeepRow(const std::vector<std::string>& cells);

    std::ostream& m_out;
    CReportOptions m_options;
    std::vector<std::string> m_rows; // table cells joined by '\x1f'
    std::vector<size_t> m_widths;
    std::vector<std::string> m_details; // in pieces of about 1 MB: no copy of it all as it grows
    size_t m_counts[kVerdictCount] = {};
    size_t m_nReports = 0;
};

// Both writers in one call, for a list of reports at hand.
void WriteTable(std::ostream& out, const std::vector<CLogReport>& reports);
void WriteCsv(std::ostream& out, const std::vector<CLogReport>& reports);

// Rows of cells as an aligned text table: columns two blanks apart, widths counted in
// characters of UTF-8, no blanks at the end of a line.
void WriteAlignedRows(std::ostream& out, const std::vector<std::vector<std::string>>& rows);
// Rows as CSV records, each ending in CR LF.
void WriteCsvRows(std::ostream& out, const std::vector<std::vector<std::string>>& rows,
                  char separator);

// One CSV field, quoted when it holds the separator, a double quote, CR or LF.
std::string CsvField(const std::string& text, char separator = ',');

// "20s", "3m05s", "1h02m00s"; "-" for a negative span (the clock was set back).
std::string FormatDuration(long long seconds);
