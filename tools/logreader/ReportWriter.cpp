// Writing the report. The table groups the repeated steps into one cell each ("ok ok fail")
// so that a row fits a wide terminal; the CSV keeps one column per step.
#include "tools/logreader/ReportWriter.h"
#include <algorithm>
#include <cstdio>
#include <initializer_list>

namespace {

const EStep kStopApps[] = {STEP_STOP_CVHOST, STEP_STOP_CVTRAY, STEP_STOP_CVCONSOLE};
const EStep kStopServices[] = {STEP_STOP_CVUPDATE, STEP_STOP_CVPROBE, STEP_STOP_CVMSG};
const EStep kStartServices[] = {STEP_START_CVMSG, STEP_START_CVUPDATE};
const EStep kStartApps[] = {STEP_START_CVHOST, STEP_START_CVTRAY};

typedef std::vector<std::string> CRow;

const char* StateWord(EStepState state, const char* notReached)
{
    switch (state) {
    case EStepState::Ok: return "ok";
    case EStepState::Fail: return "fail";
    case EStepState::Cut: return "cut";
    case EStepState::NotReached: break;
    }
    return notReached;
}

template <size_t N>
std::string StepCells(const CRunSummary& run, const EStep (&steps)[N])
{
    std::string cell;
    for (EStep step : steps)
        cell += (cell.empty() ? "" : " ") + std::string(StateWord(run.m_steps[step], "-"));
    return cell;
}

// "none" is the usual outcome: no renames were pending, so the value was not there.
std::string PendingCell(const CRunSummary& run, const char* notReached)
{
    if (run.m_steps[STEP_PENDING_RENAMES] == EStepState::Fail && run.PendingNothingToDo())
        return "none";
    return StateWord(run.m_steps[STEP_PENDING_RENAMES], notReached);
}

std::string FilesCell(const CRunSummary& run)
{
    if (run.m_nFilesFound < 0)
        return StateWord(run.m_steps[STEP_REMOVE_FILES], "-");
    std::string cell = std::to_string(run.m_nFilesFound);
    if (run.m_nFilesNotDeleted > 0)
        cell += " (" + std::to_string(run.m_nFilesNotDeleted) + " left)";
    return cell;
}

const char kCellSeparator = '\x1f';

std::string JoinNotes(const std::vector<std::string>& notes)
{
    std::string text;
    for (const std::string& note : notes)
        text += (text.empty() ? "" : "; ") + note;
    return text;
}

std::string EndCell(const CRunSummary& run)
{
    return run.m_last.SameDay(run.m_first) ? run.m_last.FormatTime()
                                           : run.m_last.FormatDateTime();
}

CRow TableRow(const CLogReport& report)
{
    std::string machine = report.m_sMachine.empty() ? report.m_sFile : report.m_sMachine;
    const std::string verdict = VerdictText(report.m_verdict);
    const std::string notes = JoinNotes(report.m_notes);
    if (!report.m_bHasRun)
        return {machine, "-", "-", "-", "-", "-", "-", "-", "-", "-", "-", "-", "-", "-",
                verdict, notes};
    const CRunSummary& run = report.m_run;
    return {machine,
            run.m_first.FormatDateTime(),
            EndCell(run),
            FormatDuration(run.DurationSeconds()),
            run.m_bHasStop ? "yes" : "no",
            StepCells(run, kStopApps),
            StepCells(run, kStopServices),
            FilesCell(run),
            PendingCell(run, "-"),
            StateWord(run.m_steps[STEP_RESTORE], "-"),
            StepCells(run, kStartServices),
            StepCells(run, kStartApps),
            std::to_string(run.m_nRestored),
            std::to_string(run.m_nRestoreFailed),
            verdict,
            notes};
}

// Width on screen: UTF-8 continuation bytes take no column.
size_t DisplayWidth(const std::string& text)
{
    size_t width = 0;
    for (char c : text) {
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80)
            ++width;
    }
    return width;
}

CRow CsvHeader()
{
    CRow header = {"machine", "file", "verdict", "finished", "start", "end", "duration_s"};
    for (size_t i = STEP_STOP_CVHOST; i < STEP_COUNT; ++i) {
        header.push_back(StepInfo(static_cast<EStep>(i)).m_szColumn);
        if (i == STEP_REMOVE_FILES)
            header.push_back("files_not_deleted");
    }
    for (const char* name : {"restored", "restore_failed", "kept", "skipped", "runs", "pid",
                             "note", "evidence"})
        header.push_back(name);
    return header;
}

CRow CsvRow(const CLogReport& report)
{
    CRow row = {report.m_sMachine, report.m_sFile, VerdictText(report.m_verdict)};
    if (!report.m_bHasRun) {
        row.resize(CsvHeader().size() - 2);
        row.push_back(JoinNotes(report.m_notes));
        row.push_back(JoinNotes(report.m_evidence));
        return row;
    }
    const CRunSummary& run = report.m_run;
    row.push_back(run.m_bHasStop ? "yes" : "no");
    row.push_back(run.m_first.FormatDateTime());
    row.push_back(run.m_last.FormatDateTime());
    row.push_back(std::to_string(run.DurationSeconds()));
    for (size_t i = STEP_STOP_CVHOST; i < STEP_COUNT; ++i) {
        EStep step = static_cast<EStep>(i);
        if (step == STEP_REMOVE_FILES) {
            row.push_back(run.m_nFilesFound < 0 ? StateWord(run.m_steps[step], "")
                                                : std::to_string(run.m_nFilesFound));
            row.push_back(std::to_string(run.m_nFilesNotDeleted));
        } else if (step == STEP_PENDING_RENAMES) {
            row.push_back(PendingCell(run, ""));
        } else {
            row.push_back(StateWord(run.m_steps[step], ""));
        }
    }
    for (int count : {run.m_nRestored, run.m_nRestoreFailed, run.m_nKept, run.m_nSkipped})
        row.push_back(std::to_string(count));
    row.push_back(std::to_string(report.m_nRuns));
    row.push_back(std::to_string(run.m_pid));
    row.push_back(JoinNotes(report.m_notes));
    row.push_back(JoinNotes(report.m_evidence));
    return row;
}

void WriteCsvRow(std::ostream& out, const CRow& row, char separator)
{
    std::string line;
    for (size_t i = 0; i < row.size(); ++i) {
        if (i)
            line += separator;
        line += CsvField(row[i], separator);
    }
    out << line << "\r\n";
}

const CRow kTableHeader = {"machine", "start", "end", "took", "done", "stop apps",
                           "stop services", "files", "pending", "restore", "start svcs",
                           "start apps", "restored", "failed", "verdict", "note"};

std::vector<std::string> SplitCells(const std::string& row)
{
    std::vector<std::string> cells(1);
    for (char c : row) {
        if (c == kCellSeparator)
            cells.emplace_back();
        else
            cells.back() += c;
    }
    return cells;
}

std::string AlignedLine(const std::vector<std::string>& cells, const std::vector<size_t>& widths)
{
    std::string line;
    for (size_t i = 0; i < cells.size(); ++i) {
        line += cells[i];
        if (i + 1 < cells.size())
            line += std::string(widths[i] - DisplayWidth(cells[i]) + 2, ' ');
    }
    line.erase(line.find_last_not_of(' ') + 1);
    return line;
}

std::string DetailsOf(const CLogReport& report)
{
    std::string name = report.m_sMachine.empty() ? report.m_sFile : report.m_sMachine;
    std::string text = name + ": " + VerdictText(report.m_verdict) + "\n";
    if (!report.m_sMachine.empty() && !report.m_sFile.empty())
        text += "  file " + report.m_sFile + "\n";
    for (const std::string& note : report.m_notes)
        text += "  " + note + "\n";
    for (const std::string& line : report.m_evidence)
        text += "  " + line + "\n";
    return text;
}

} // namespace

std::string CsvField(const std::string& text, char separator)
{
    const char special[] = {separator, '"', '\r', '\n', '\0'};
    if (text.find_first_of(special) == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (char c : text)
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

std::string FormatDuration(long long seconds)
{
    if (seconds < 0)
        return "-";
    char text[32];
    long long h = seconds / 3600;
    long long m = seconds / 60 % 60;
    long long s = seconds % 60;
    if (h > 0)
        std::snprintf(text, sizeof text, "%lldh%02lldm%02llds", h, m, s);
    else if (m > 0)
        std::snprintf(text, sizeof text, "%lldm%02llds", m, s);
    else
        std::snprintf(text, sizeof text, "%llds", s);
    return text;
}

CReportWriter::CReportWriter(std::ostream& out, const CReportOptions& options)
    : m_out(out), m_options(options)
{
    if (m_options.m_bCsv) {
        if (m_options.m_bCsvBom)
            m_out << "\xEF\xBB\xBF";
        WriteCsvRow(m_out, CsvHeader(), m_options.m_cSeparator);
    } else {
        KeepRow(kTableHeader);
    }
}

void CReportWriter::KeepRow(const std::vector<std::string>& cells)
{
    std::string row;
    m_widths.resize(cells.size(), 0);
    for (size_t i = 0; i < cells.size(); ++i) {
        m_widths[i] = std::max(m_widths[i], DisplayWidth(cells[i]));
        row += (i ? std::string(1, kCellSeparator) : "") + cells[i];
    }
    m_rows.push_back(std::move(row));
}

void CReportWriter::Add(const CLogReport& report)
{
    ++m_counts[static_cast<size_t>(report.m_verdict)];
    ++m_nReports;
    if (m_options.m_bCsv) {
        WriteCsvRow(m_out, CsvRow(report), m_options.m_cSeparator);
        return;
    }
    KeepRow(TableRow(report));
    if (!m_options.m_bDetails)
        return;
    if (m_details.empty() || m_details.back().size() > (1u << 20))
        m_details.emplace_back();
    m_details.back() += "\n" + DetailsOf(report);
}

void CReportWriter::Finish()
{
    if (m_options.m_bCsv)
        return;
    for (const std::string& row : m_rows)
        m_out << AlignedLine(SplitCells(row), m_widths) << '\n';
    std::string counts;
    for (EVerdict verdict : kAllVerdicts) {
        size_t count = m_counts[static_cast<size_t>(verdict)];
        if (count > 0)
            counts += (counts.empty() ? "" : ", ") + std::to_string(count) + " " + VerdictText(verdict);
    }
    m_out << '\n' << m_nReports << (m_nReports == 1 ? " machine: " : " machines: ") << counts << '\n';
    for (const std::string& piece : m_details)
        m_out << piece;
}

void WriteAlignedRows(std::ostream& out, const std::vector<std::vector<std::string>>& rows)
{
    std::vector<size_t> widths;
    for (const CRow& row : rows) {
        widths.resize(std::max(widths.size(), row.size()), 0);
        for (size_t i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], DisplayWidth(row[i]));
    }
    for (const CRow& row : rows)
        out << AlignedLine(row, widths) << '\n';
}

void WriteCsvRows(std::ostream& out, const std::vector<std::vector<std::string>>& rows,
                  char separator)
{
    for (const CRow& row : rows)
        WriteCsvRow(out, row, separator);
}

void WriteTable(std::ostream& out, const std::vector<CLogReport>& reports)
{
    CReportWriter writer(out, CReportOptions());
    for (const CLogReport& report : reports)
        writer.Add(report);
    writer.Finish();
}

void WriteCsv(std::ostream& out, const std::vector<CLogReport>& reports)
{
    CReportOptions options;
    options.m_bCsv = true;
    CReportWriter writer(out, options);
    for (const CLogReport& report : reports)
        writer.Add(report);
    writer.Finish();
}
