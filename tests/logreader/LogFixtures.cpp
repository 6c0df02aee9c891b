// Fixture helpers of the log reader's tests.
#include "tests/logreader/LogFixtures.h"
#include <gtest/gtest.h>
#include <fstream>
#include <random>
#include <sstream>

namespace fs = std::filesystem;

const char kNothingInstalled[] = "nothing-installed.dbg";
const char kRepaired[] = "repaired.dbg";
const char kAnotherRun[] = "another-run.dbg";

fs::path FixturePath(const char* name)
{
    return fs::path(LOGREADER_DATA_DIR) / name;
}

std::string ReadBytes(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

void WriteBytes(const fs::path& path, const std::string& bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string ReadFixture(const char* name)
{
    std::string bytes = ReadBytes(FixturePath(name));
    EXPECT_FALSE(bytes.empty()) << "missing fixture " << FixturePath(name).string();
    return bytes;
}

std::string WithoutBom(const std::string& log)
{
    return log.compare(0, 3, "\xEF\xBB\xBF") == 0 ? log.substr(3) : log;
}

std::string ReplaceLine(const std::string& log, const std::string& lineEnd,
                        const std::string& newEnd)
{
    const std::string needle = lineEnd + "\r\n";
    size_t at = log.find(needle);
    EXPECT_NE(at, std::string::npos) << "no line ends with " << lineEnd;
    if (at == std::string::npos)
        return log;
    EXPECT_EQ(log.find(needle, at + 1), std::string::npos) << "several lines end with " << lineEnd;
    size_t lineStart = log.rfind('\n', at);
    lineStart = lineStart == std::string::npos ? 0 : lineStart + 1;
    if (newEnd.empty())
        return log.substr(0, lineStart) + log.substr(at + needle.size());
    return log.substr(0, at) + newEnd + "\r\n" + log.substr(at + needle.size());
}

std::string DropLines(const std::string& log, const std::string& part)
{
    std::string kept;
    size_t pos = 0;
    while (pos < log.size()) {
        size_t end = log.find('\n', pos);
        end = end == std::string::npos ? log.size() : end + 1;
        std::string line = log.substr(pos, end - pos);
        if (line.find(part) == std::string::npos)
            kept += line;
        pos = end;
    }
    return kept;
}

std::string WithPid(const std::string& log, const std::string& from, const std::string& to)
{
    std::string result = log;
    const std::string a = "[PID:" + from + "]";
    const std::string b = "[PID:" + to + "]";
    for (size_t at = result.find(a); at != std::string::npos; at = result.find(a, at + b.size()))
        result.replace(at, a.size(), b);
    return result;
}

size_t OffsetAfterLine(const std::string& log, const std::string& part)
{
    size_t at = log.find(part);
    if (at == std::string::npos)
        return std::string::npos;
    size_t end = log.find('\n', at);
    return end == std::string::npos ? log.size() : end + 1;
}

CTempFolder::CTempFolder()
{
    std::random_device random;
    std::error_code ec;
    fs::path base = fs::temp_directory_path(ec);
    EXPECT_FALSE(ec) << ec.message();
    m_path = base / ("logreader-test-" + std::to_string(random()) + std::to_string(random()));
    fs::create_directories(m_path, ec);
    EXPECT_FALSE(ec) << ec.message();
}

CTempFolder::~CTempFolder()
{
    std::error_code ec;
    fs::remove_all(m_path, ec);
}

fs::path CTempFolder::Put(const std::string& relative, const std::string& bytes) const
{
    fs::path path = m_path / fs::u8path(relative);
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    WriteBytes(path, bytes);
    return path;
}
