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

bool IsLogFile(const fs::path& path)
{
    return EqualsNoCase(PathText(path.extension()), ".dbg");
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

void CollectFolder(const fs::path& folder, std::vector<CLogSource>& sources,
                   std::vector<std::string>& warnings)
{
    std::vector<fs::path> found;
    std::error_code ec;
    fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        std::error_code typeEc;
        if (it->is_regular_file(typeEc) && IsLogFile(it->path()))
            found.push_back(it->path());
    }
    if (ec)
        warnings.push_back(PathText(folder) + ": cannot search the whole folder (" + ec.message() + ")");
    else if (found.empty())
        warnings.push_back(PathText(folder) + ": no *.dbg file in this folder");
    std::sort(found.begin(), found.end());
    for (const fs::path& path : found)
        sources.push_back({path, {}});
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
        fs::file_status status = fs::status(argument, ec);
        if (status.type() == fs::file_type::directory)
            CollectFolder(argument, sources, warnings);
        else if (status.type() == fs::file_type::regular)
            sources.push_back({argument, {}});
        else if (status.type() == fs::file_type::not_found)
            sources.push_back({argument, "not found"});
        else if (ec)
            sources.push_back({argument, "cannot be read: " + ec.message()});
        else
            sources.push_back({argument, "not a file"});
    }
    return sources;
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
    if (problem.empty() && ReadFileTail(source.m_path, kMaxReadBytes, bytes, headCut, problem))
        report = JudgeLog(AnalyseLog(bytes, headCut));
    else
        report.m_notes.push_back(problem);
    report.m_sFile = PathText(source.m_path);
    report.m_sMachine = MachineOfLog(source.m_path);
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
