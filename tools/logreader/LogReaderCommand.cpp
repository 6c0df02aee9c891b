// Options and the order of work: collect the logs, judge each machine, write the report; or
// judge one log for a deployment tool. Warnings (a folder without logs) go to the error
// stream so that CSV output stays clean.
#include "tools/logreader/LogReaderCommand.h"
#include "tools/logreader/LogFiles.h"
#include "tools/logreader/MachineList.h"
#include "tools/logreader/ReportWriter.h"
#include "SanarixVersion.h"
#include <string>
#include <unordered_map>

namespace fs = std::filesystem;

namespace {

const char kUsage[] =
    "usage: logreader [--csv | --csv-bom] [--sep C] [--details] [--expect LIST] LOG-OR-FOLDER...\n"
    "       logreader --check LOG [--details]\n"
    "       logreader --detect LOG\n"
    "\n"
    "Reads sanarix debug logs (sanarix.dbg) and prints one row per machine with the last run's\n"
    "steps, the items restored and failed, and a verdict: repaired, partly repaired,\n"
    "product left stopped, not repaired, another run in progress, run incomplete, no log,\n"
    "not a debug log, unreadable.\n"
    "A FOLDER holds one folder per machine; below each, only files named sanarix.dbg are read,\n"
    "at any depth, and of several the one with the latest run counts. A LOG named on the\n"
    "command line is read whatever its name.\n"
    "\n"
    "  --csv          comma-separated values (RFC 4180) instead of the text table\n"
    "  --csv-bom      the same, beginning with a UTF-8 byte-order mark (for spreadsheets)\n"
    "  --sep C        the CSV's separator: , (default), ; or tab\n"
    "  --details      after the table, each machine's notes and the lines behind its verdict\n"
    "  --expect LIST  LIST names the machines, one per line: each gets a row, \"no log\"\n"
    "                 where none was collected\n"
    "  --check LOG    prints the verdict on LOG and exits with its code:\n"
    "                 0 repaired, 20 partly repaired, 21 product left stopped, 22 not\n"
    "                 repaired, 23 another run in progress, 24 run incomplete, 25 no log,\n"
    "                 26 not a debug log, 27 unreadable\n"
    "  --detect LOG   for detection rules: prints \"repaired\" when it is, nothing otherwise,\n"
    "                 and exits 0 either way; 1 only when LOG cannot be read\n"
    "  --version      the version\n"
    "  --help, -h, /? this text\n"
    "  --             the arguments that follow are paths, even if they begin with '-'\n"
    "\n"
    "Exit code of a report: 0 written, 1 no log found, 2 wrong command line.\n";

enum class EMode
{
    Report,
    Check,
    Detect,
    Help,
    Version,
};

struct COptions
{
    EMode m_mode = EMode::Report;
    CReportOptions m_report;
    fs::path m_expect;
    bool m_bExpect = false;
    std::vector<fs::path> m_paths;
};

bool TakeSeparator(const std::string& value, char& separator)
{
    if (value == "," || value == ";")
        separator = value[0];
    else if (value == "tab" || value == "\t")
        separator = '\t';
    else
        return false;
    return true;
}

// An option that takes the next argument as its value.
bool TakeValue(const std::string& name, const fs::path& value, COptions& options, std::ostream& err)
{
    if (name == "--sep") {
        if (TakeSeparator(PathText(value), options.m_report.m_cSeparator))
            return true;
        err << "logreader: --sep takes , or ; or tab, not " << PathText(value) << "\n";
        return false;
    }
    if (name == "--expect") {
        options.m_expect = value;
        options.m_bExpect = true;
    } else {
        options.m_mode = name == "--check" ? EMode::Check : EMode::Detect;
        options.m_paths.push_back(value);
    }
    return true;
}

bool ParseOptions(const std::vector<fs::path>& arguments, COptions& options, std::ostream& err)
{
    bool pathsOnly = false;
    bool modeSet = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        std::string text = PathText(arguments[i]);
        if (pathsOnly || text.empty() || (text[0] != '-' && text != "/?") || text == "-") {
            options.m_paths.push_back(arguments[i]);
        } else if (text == "--") {
            pathsOnly = true;
        } else if (text == "--csv" || text == "--csv-bom") {
            options.m_report.m_bCsv = true;
            options.m_report.m_bCsvBom = options.m_report.m_bCsvBom || text == "--csv-bom";
        } else if (text == "--details") {
            options.m_report.m_bDetails = true;
        } else if (text == "--help" || text == "-h" || text == "/?") {
            options.m_mode = EMode::Help;
            return true;
        } else if (text == "--version") {
            options.m_mode = EMode::Version;
            return true;
        } else if (text == "--sep" || text == "--expect" || text == "--check" || text == "--detect") {
            bool mode = text == "--check" || text == "--detect";
            if (i + 1 == arguments.size()) {
                err << "logreader: " << text << " needs a value\n";
                return false;
            }
            if (mode && modeSet) {
                err << "logreader: --check and --detect take one log, once\n";
                return false;
            }
            modeSet = modeSet || mode;
            if (!TakeValue(text, arguments[++i], options, err))
                return false;
        } else {
            err << "logreader: unknown option " << text << "\n";
            return false;
        }
    }
    return true;
}

// The options that make no sense together, with the reason.
bool CheckCombination(const COptions& options, std::ostream& err)
{
    if (options.m_mode == EMode::Help || options.m_mode == EMode::Version)
        return true;
    if (options.m_mode == EMode::Report) {
        if (options.m_paths.empty() && !options.m_bExpect) {
            err << "logreader: name at least one log or folder\n";
            return false;
        }
        return true;
    }
    if (options.m_paths.size() != 1) {
        err << "logreader: --check and --detect read exactly one log\n";
        return false;
    }
    if (options.m_report.m_bCsv || options.m_bExpect ||
        (options.m_mode == EMode::Detect && options.m_report.m_bDetails)) {
        err << "logreader: --check takes only --details, --detect no other option\n";
        return false;
    }
    return true;
}

int Check(const fs::path& log, bool details, std::ostream& out)
{
    CLogReport report = ReadLog(FileSource(log));
    out << VerdictText(report.m_verdict) << "\n";
    if (details) {
        for (const std::string& note : report.m_notes)
            out << "  " << note << "\n";
        for (const std::string& line : report.m_evidence)
            out << "  " << line << "\n";
    }
    return VerdictExitCode(report.m_verdict);
}

int Detect(const fs::path& log, std::ostream& out, std::ostream& err)
{
    CLogReport report = ReadLog(FileSource(log));
    if (report.m_bNotRead) {
        err << "logreader: " << PathText(log) << ": " << report.m_notes.front() << "\n";
        return 1;
    }
    if (report.m_verdict == EVerdict::Repaired)
        out << "repaired\n";
    return 0;
}

int Report(const COptions& options, std::ostream& out, std::ostream& err)
{
    std::vector<std::string> expected;
    std::string problem;
    if (options.m_bExpect && !ReadMachineList(options.m_expect, expected, problem)) {
        err << "logreader: " << problem << "\n";
        return 2;
    }
    std::unordered_map<std::string, bool> listed; // machine key -> a log was found
    for (const std::string& name : expected)
        listed.emplace(MachineKey(name), false);

    std::vector<std::string> warnings;
    CLogCollection collection(options.m_paths, warnings);
    auto warn = [&] {
        for (const std::string& warning : warnings)
            err << "logreader: " << warning << "\n";
        warnings.clear();
    };
    warn();
    if (collection.Empty() && expected.empty())
        return 1;
    CReportWriter writer(out, options.m_report);
    std::vector<CLogSource> logs;
    while (collection.Next(logs, warnings)) {
        warn();
        CLogReport report = ReadMachine(logs);
        const std::string key = MachineKey(report.m_sMachine);
        auto entry = listed.find(key);
        if (entry != listed.end())
            entry->second = true;
        else if (options.m_bExpect && !key.empty())
            report.m_notes.push_back("not in the machine list");
        writer.Add(report);
    }
    for (const std::string& name : expected) {
        if (listed[MachineKey(name)])
            continue;
        CLogReport missing;
        missing.m_sMachine = name;
        missing.m_verdict = EVerdict::NoLog;
        missing.m_notes.push_back("no log collected");
        writer.Add(missing);
    }
    writer.Finish();
    return 0;
}

} // namespace

int RunLogReader(const std::vector<fs::path>& arguments, std::ostream& out, std::ostream& err)
{
    COptions options;
    if (!ParseOptions(arguments, options, err) || !CheckCombination(options, err)) {
        err << kUsage;
        return 2;
    }
    switch (options.m_mode) {
    case EMode::Help:
        out << kUsage;
        return 0;
    case EMode::Version:
        out << "logreader " << SANARIX_VERSION << "\n";
        return 0;
    case EMode::Check:
        return Check(options.m_paths.front(), options.m_report.m_bDetails, out);
    case EMode::Detect:
        return Detect(options.m_paths.front(), out, err);
    case EMode::Report:
        break;
    }
    return Report(options, out, err);
}
