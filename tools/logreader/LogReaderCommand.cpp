// Options and the order of work: collect the logs, judge each, write the report. Warnings
// (a folder without logs) go to the error stream so that CSV output stays clean.
#include "tools/logreader/LogReaderCommand.h"
#include "tools/logreader/LogFiles.h"
#include "tools/logreader/ReportWriter.h"
#include <string>

namespace fs = std::filesystem;

namespace {

const char kUsage[] =
    "usage: logreader [--csv] LOG-OR-FOLDER...\n"
    "\n"
    "Reads sanarix debug logs (sanarix.dbg) and prints one row per log with the last run's\n"
    "steps, the items restored and failed, and a verdict: repaired, partly repaired,\n"
    "not repaired, run incomplete, not a debug log, unreadable.\n"
    "Folders are searched for *.dbg files at any depth; files named on the command line are\n"
    "read whatever their name. A log stored as <machine>/sanarix.dbg is shown as <machine>.\n"
    "\n"
    "  --csv    comma-separated values (RFC 4180) instead of the text table\n"
    "  --help   this text\n"
    "  --       the arguments that follow are paths, even if they begin with '-'\n";

struct COptions
{
    bool m_bCsv = false;
    bool m_bHelp = false;
    std::vector<fs::path> m_paths;
};

bool ParseOptions(const std::vector<fs::path>& arguments, COptions& options, std::ostream& err)
{
    bool pathsOnly = false;
    for (const fs::path& argument : arguments) {
        std::string text = PathText(argument);
        if (pathsOnly || text.empty() || text[0] != '-' || text == "-") {
            options.m_paths.push_back(argument);
        } else if (text == "--") {
            pathsOnly = true;
        } else if (text == "--csv") {
            options.m_bCsv = true;
        } else if (text == "--help" || text == "-h") {
            options.m_bHelp = true;
        } else {
            err << "logreader: unknown option " << text << "\n";
            return false;
        }
    }
    return true;
}

} // namespace

int RunLogReader(const std::vector<fs::path>& arguments, std::ostream& out, std::ostream& err)
{
    COptions options;
    if (!ParseOptions(arguments, options, err)) {
        err << kUsage;
        return 2;
    }
    if (options.m_bHelp) {
        out << kUsage;
        return 0;
    }
    if (options.m_paths.empty()) {
        err << kUsage;
        return 2;
    }
    std::vector<std::string> warnings;
    std::vector<CLogSource> sources = CollectLogs(options.m_paths, warnings);
    for (const std::string& warning : warnings)
        err << "logreader: " << warning << "\n";
    if (sources.empty())
        return 1;
    std::vector<CLogReport> reports;
    for (const CLogSource& source : sources)
        reports.push_back(ReadLog(source));
    if (options.m_bCsv)
        WriteCsv(out, reports);
    else
        WriteTable(out, reports);
    return 0;
}
