// Finding and reading log files. Every file system call takes an error code: a folder that
// vanishes or denies access while it is searched is reported, never thrown.
#include "tools/logreader/LogFiles.h"
#include <algorithm>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

const size_t kMaxReadBytes = 6 * 1024 * 1024;

namespace {

const char* const kLogHomeFolders[] = {"DTrace", "Corvanta", "ProgramData", "All Users",
                                       "Application Data", "drive_c"};

char LowerAscii(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsNoCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return false;
    }
    return true;
}

bool IsLogName(const fs::path& path)
{
    return EqualsNoCase(PathText(path.filename()), "sanarix.dbg");
}

// "C", "C:" or "C$" (an administrative share): a drive, not a machine.
bool IsDriveName(const std::string& name)
{
    bool letter = !name.empty() && LowerAscii(name[0]) >= 'a' && LowerAscii(name[0]) <= 'z';
    return letter && (name.size() == 1 || (name.size() == 2 && (name[1] == ':' || name[1] == '$')));
}

bool IsLogHomeFolder(const std::string& name)
{
    for (const char* home : kLogHomeFolders) {
        if (EqualsNoCase(name, home))
            return true;
    }
    return IsDriveName(name);
}

// "\\PC1" of "\\PC1\c$\ProgramData\...", on the platform that has such root names.
std::string ShareHost(const fs::path& path)
{
    std::string root = PathText(path.root_name());
    size_t slashes = root.find_first_not_of("\\/");
    if (slashes != 2 || root.size() <= 2)
        return {};
    return root.substr(2);
}

// Every sanarix.dbg below one machine folder. A folder of the log's own location (the copy of
// C\ProgramData\... in a machine folder that was given as the root) is searched like any
// other, but without logs it is no machine and gives no row.
void CollectMachine(const fs::path& folder, const std::string& machine,
                    std::vector<CLogSource>& sources, std::vector<std::string>& warnings)
{
    const size_t before = sources.size();
    std::error_code ec;
    fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        std::error_code typeEc;
        if (it->is_regular_file(typeEc) && IsLogName(it->path()))
            sources.push_back({it->path(), machine, {}});
    }
    if (ec)
        warnings.push_back(PathText(folder) + ": cannot search the whole folder (" + ec.message() + ")");
    if (sources.size() == before && !IsLogHomeFolder(PathText(folder.filename())))
        sources.push_back({{}, machine, "no sanarix.dbg in " + PathText(folder)});
}

std::string FoldCase(const std::string& text)
{
    std::string folded = text;
    for (char& c : folded)
        c = LowerAscii(c);
    return folded;
}

long long RunStart(const CLogReport& report)
{
    return report.m_bHasRun ? report.m_run.m_first.ToSeconds() : -1;
}

} // namespace

std::string PathText(const fs::path& path)
{
    // A name that is not valid UTF-16 cannot be converted; show what the narrow form gives.
    try {
        return path.u8string();
    } catch (const std::exception&) {
        try {
            return path.string();
        } catch (const std::exception&) {
            return "?";
        }
    }
}

CLogCollection::CLogCollection(const std::vector<fs::path>& arguments,
                               std::vector<std::string>& warnings)
    : m_arguments(arguments)
{
    for (unsigned i = 0; i < m_arguments.size(); ++i) {
        std::error_code ec;
        if (fs::is_directory(m_arguments[i], ec))
            AddRoot(i, warnings);
        else
            m_entries.push_back({MachineOfLog(m_arguments[i]), {}, i, EKind::File});
    }
    // Stable: one machine's folders keep the order of the roots they were found in.
    std::stable_sort(m_entries.begin(), m_entries.end(), [this](const CEntry& a, const CEntry& b) {
        return SortKey(a) < SortKey(b);
    });
}

void CLogCollection::AddRoot(unsigned argument, std::vector<std::string>& warnings)
{
    const fs::path& root = m_arguments[argument];
    const size_t before = m_entries.size();
    std::error_code ec;
    fs::directory_iterator it(root, fs::directory_options::skip_permission_denied, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::error_code typeEc;
        std::string name = PathText(it->path().filename());
        if (it->is_directory(typeEc)) {
            // A folder of the log's own location names no machine: the path above it does.
            std::string machine = IsLogHomeFolder(name) ? MachineOfLog(it->path() / "sanarix.dbg") : name;
            m_entries.push_back({machine, name, argument, EKind::Folder});
        } else if (it->is_regular_file(typeEc) && IsLogName(it->path())) {
            m_entries.push_back({MachineOfLog(it->path()), name, argument, EKind::RootLog});
        }
    }
    if (ec)
        warnings.push_back(PathText(root) + ": cannot search the whole folder (" + ec.message() + ")");
    else if (m_entries.size() == before)
        warnings.push_back(PathText(root) + ": no sanarix.dbg file in this folder");
}

// A machine's folded name; a path that names no machine sorts by its text and joins nothing.
std::string CLogCollection::SortKey(const CEntry& entry) const
{
    if (!entry.m_sMachine.empty())
        return FoldCase(entry.m_sMachine);
    return PathText(m_arguments[entry.m_nArgument] / entry.m_sName);
}

bool CLogCollection::Next(std::vector<CLogSource>& logs, std::vector<std::string>& warnings)
{
    logs.clear();
    while (logs.empty() && m_next < m_entries.size()) {
        size_t end = m_next + 1;
        const std::string key = SortKey(m_entries[m_next]);
        while (!m_entries[m_next].m_sMachine.empty() && end < m_entries.size() &&
               SortKey(m_entries[end]) == key)
            ++end;
        for (; m_next < end; ++m_next) {
            const CEntry& entry = m_entries[m_next];
            const fs::path& argument = m_arguments[entry.m_nArgument];
            if (entry.m_kind == EKind::Folder)
                CollectMachine(argument / fs::u8path(entry.m_sName), entry.m_sMachine, logs, warnings);
            else if (entry.m_kind == EKind::RootLog)
                logs.push_back({argument / fs::u8path(entry.m_sName), entry.m_sMachine, {}});
            else
                logs.push_back(FileSource(argument));
        }
    }
    return !logs.empty();
}

CLogSource FileSource(const fs::path& path)
{
    std::error_code ec;
    fs::file_status status = fs::status(path, ec);
    CLogSource source{path, MachineOfLog(path), {}};
    if (status.type() == fs::file_type::not_found)
        source.m_sProblem = "not found";
    else if (status.type() == fs::file_type::directory)
        source.m_sProblem = "a folder, not a file";
    else if (ec)
        source.m_sProblem = "cannot be read: " + ec.message();
    else if (status.type() != fs::file_type::regular)
        source.m_sProblem = "not a file";
    return source;
}

std::string MachineKey(const std::string& machine)
{
    return FoldCase(machine);
}

bool ReadFileTail(const fs::path& path, size_t maxBytes, std::string& bytes, bool& headCut,
                  std::string& problem)
{
    bytes.clear();
    headCut = false;
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        problem = "cannot open";
        return false;
    }
    file.seekg(0, std::ios::end);
    std::streamoff size = file.tellg();
    if (size < 0) {
        problem = "cannot read";
        return false;
    }
    std::streamoff start = 0;
    if (static_cast<unsigned long long>(size) > maxBytes) {
        start = size - static_cast<std::streamoff>(maxBytes);
        headCut = true;
    }
    bytes.resize(static_cast<size_t>(size - start));
    file.seekg(start, std::ios::beg);
    file.read(&bytes[0], static_cast<std::streamsize>(bytes.size()));
    if (static_cast<size_t>(file.gcount()) != bytes.size()) {
        problem = "cannot read";
        return false;
    }
    return true;
}

CLogReport ReadLog(const CLogSource& source)
{
    CLogReport report;
    std::string bytes;
    bool headCut = false;
    std::string problem = source.m_sProblem;
    if (problem.empty() && ReadFileTail(source.m_path, kMaxReadBytes, bytes, headCut, problem)) {
        report = JudgeLog(AnalyseLog(bytes, headCut));
    } else {
        bool missing = source.m_path.empty() || problem == "not found";
        report.m_verdict = missing ? EVerdict::NoLog : EVerdict::Unreadable;
        report.m_bNotRead = !missing;
        report.m_notes.push_back(problem);
    }
    report.m_sFile = PathText(source.m_path);
    report.m_sMachine = source.m_sMachine;
    return report;
}

CLogReport ReadMachine(const std::vector<CLogSource>& sources)
{
    std::vector<CLogReport> reports;
    size_t latest = 0;
    for (const CLogSource& source : sources) {
        reports.push_back(ReadLog(source));
        if (RunStart(reports.back()) >= RunStart(reports[latest]))
            latest = reports.size() - 1;
    }
    CLogReport report = std::move(reports[latest]);
    for (size_t i = 0; i < reports.size(); ++i) {
        if (i == latest)
            continue;
        std::string when = reports[i].m_bHasRun
                               ? ", run " + reports[i].m_run.m_first.FormatDateTime() : "";
        report.m_notes.push_back("older log " + reports[i].m_sFile + ": " +
                                 VerdictText(reports[i].m_verdict) + when);
    }
    return report;
}

std::string MachineOfLog(const fs::path& path)
{
    if (!EqualsNoCase(PathText(path.filename()), "sanarix.dbg"))
        return {};
    for (fs::path folder = path.parent_path(); folder.has_relative_path();
         folder = folder.parent_path()) {
        std::string name = PathText(folder.filename());
        if (name.empty() || name == "." || name == "..")
            return {};
        if (!IsLogHomeFolder(name))
            return name;
    }
    return ShareHost(path);
}
