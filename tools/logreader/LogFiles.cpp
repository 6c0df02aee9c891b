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

// Every sanarix.dbg below one machine folder. A folder of the log's own location (a copy of
// "C\ProgramData\..." made from a machine folder given as the root) names no machine: the
// path above it does.
void CollectMachine(const fs::path& folder, std::vector<CLogSource>& sources,
                    std::vector<std::string>& warnings)
{
    const std::string name = PathText(folder.filename());
    const bool homeFolder = IsLogHomeFolder(name);
    const size_t before = sources.size();
    std::error_code ec;
    fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        std::error_code typeEc;
        if (it->is_regular_file(typeEc) && IsLogName(it->path()))
            sources.push_back({it->path(), homeFolder ? MachineOfLog(it->path()) : name, {}});
    }
    if (ec)
        warnings.push_back(PathText(folder) + ": cannot search the whole folder (" + ec.message() + ")");
    if (sources.size() == before && !homeFolder)
        sources.push_back({{}, name, "no sanarix.dbg in " + PathText(folder)});
}

void CollectRoot(const fs::path& root, std::vector<CLogSource>& sources,
                 std::vector<std::string>& warnings)
{
    const size_t before = sources.size();
    std::error_code ec;
    fs::directory_iterator it(root, fs::directory_options::skip_permission_denied, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::error_code typeEc;
        if (it->is_directory(typeEc))
            CollectMachine(it->path(), sources, warnings);
        else if (it->is_regular_file(typeEc) && IsLogName(it->path()))
            sources.push_back({it->path(), MachineOfLog(it->path()), {}});
    }
    if (ec)
        warnings.push_back(PathText(root) + ": cannot search the whole folder (" + ec.message() + ")");
    else if (sources.size() == before)
        warnings.push_back(PathText(root) + ": no sanarix.dbg file in this folder");
}

std::string FoldCase(const std::string& text)
{
    std::string folded = text;
    for (char& c : folded)
        c = LowerAscii(c);
    return folded;
}

void SortByMachine(std::vector<CLogSource>& sources)
{
    // A source without a machine sorts by its path and never joins another.
    std::vector<std::pair<std::pair<std::string, std::string>, size_t>> keys;
    keys.reserve(sources.size());
    for (size_t i = 0; i < sources.size(); ++i) {
        std::string path = PathText(sources[i].m_path);
        std::string shown = sources[i].m_sMachine.empty() ? path : sources[i].m_sMachine;
        keys.push_back({{FoldCase(shown), path}, i});
    }
    std::sort(keys.begin(), keys.end());
    std::vector<CLogSource> sorted;
    sorted.reserve(sources.size());
    for (const auto& key : keys)
        sorted.push_back(std::move(sources[key.second]));
    sources.swap(sorted);
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

std::vector<CLogSource> CollectLogs(const std::vector<fs::path>& arguments,
                                    std::vector<std::string>& warnings)
{
    std::vector<CLogSource> sources;
    for (const fs::path& argument : arguments) {
        std::error_code ec;
        if (fs::is_directory(argument, ec))
            CollectRoot(argument, sources, warnings);
        else
            sources.push_back(FileSource(argument));
    }
    SortByMachine(sources);
    return sources;
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
