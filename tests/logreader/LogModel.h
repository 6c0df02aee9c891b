// The tests' one model of the debug log: the logs in data/ (a real run with nothing installed,
// a repaired run, a run that found the repaired one in progress), a line in the log's format,
// and the edits that turn them into what machines in the field leave behind.
#pragma once
#include <gtest/gtest.h>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

inline std::string ReadBytes(const fs::path& path)
{
    std::ostringstream bytes;
    bytes << std::ifstream(path, std::ios::binary).rdbuf();
    return bytes.str();
}

inline void WriteBytes(const fs::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// "repaired.dbg" (4512), "nothing-installed.dbg" (880), "another-run.dbg" (4512 unfinished, 4620).
inline std::string Fixture(const char* name)
{
    return ReadBytes(fs::path(LOGREADER_DATA_DIR) / name);
}

// One line of process 4512: the fields, then the line tag and what follows it.
inline std::string Line(const std::string& rest)
{
    return "[PID:00004512][TID:00004516][2026-03-17-09:15:07][~][SANARIX]" + rest + "\r\n";
}

// Every occurrence of from replaced; at least one must be there.
inline std::string Replace(std::string log, const std::string& from, const std::string& to)
{
    size_t at = log.find(from);
    EXPECT_NE(at, std::string::npos) << "not in the log: " << from;
    for (; at != std::string::npos; at = log.find(from, at + to.size()))
        log.replace(at, from.size(), to);
    return log;
}

// Byte offset just after the line that holds part.
inline size_t After(const std::string& log, const std::string& part)
{
    size_t at = log.find(part);
    EXPECT_NE(at, std::string::npos) << "not in the log: " << part;
    return at == std::string::npos ? log.size() : log.find('\n', at) + 1;
}

inline std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

inline std::string DropLines(const std::string& log, const std::string& part)
{
    std::string kept;
    for (const std::string& line : Lines(log))
        kept += line.find(part) == std::string::npos ? line + "\n" : "";
    return kept;
}

// What a later run appends: the text without its byte-order mark.
inline std::string WithoutBom(const std::string& log)
{
    return log.compare(0, 3, "\xEF\xBB\xBF") == 0 ? log.substr(3) : log;
}

class CTempFolder
{
public:
    CTempFolder() { fs::create_directories(m_path); }
    ~CTempFolder() { std::error_code ec; fs::remove_all(m_path, ec); }
    const fs::path& Path() const { return m_path; }
    // Writes bytes to a file below the folder, creating its folders.
    fs::path Put(const std::string& relative, const std::string& bytes) const
    {
        fs::create_directories((m_path / fs::u8path(relative)).parent_path());
        WriteBytes(m_path / fs::u8path(relative), bytes);
        return m_path / fs::u8path(relative);
    }

private:
    fs::path m_path = fs::temp_directory_path() / ("logreader-" + std::to_string(std::random_device()()));
};
