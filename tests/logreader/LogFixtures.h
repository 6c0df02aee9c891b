// Test fixtures of the log reader: the logs in data/ (one from a real run of sanarix.exe with
// nothing installed, one repaired run written line by line in the log's format), edits that
// damage or change them the way the field does, and a private temporary folder.
#pragma once
#include <filesystem>
#include <string>

extern const char kNothingInstalled[]; // data/nothing-installed.dbg: a real run, nothing installed
extern const char kRepaired[];         // data/repaired.dbg: three items restored
extern const char kAnotherRun[];       // data/another-run.dbg: a run found the repaired run
                                       // in progress and did nothing; that one is unfinished

std::filesystem::path FixturePath(const char* name);
std::string ReadFixture(const char* name);
std::string ReadBytes(const std::filesystem::path& path);
void WriteBytes(const std::filesystem::path& path, const std::string& bytes);

// The text without its leading UTF-8 byte-order mark: what a later run appends.
std::string WithoutBom(const std::string& log);
// Replaces the one line that ends with lineEnd (fields excluded) by the same fields with
// newEnd; an empty newEnd drops the line. Fails the test when there is not exactly one.
std::string ReplaceLine(const std::string& log, const std::string& lineEnd,
                        const std::string& newEnd);
// Drops every line that contains part.
std::string DropLines(const std::string& log, const std::string& part);
// Every process id "[PID:00004512]" of the log replaced by pid.
std::string WithPid(const std::string& log, const std::string& from, const std::string& to);
// Byte offset just after the end of the line that contains part (or npos).
size_t OffsetAfterLine(const std::string& log, const std::string& part);

class CTempFolder
{
public:
    CTempFolder();
    ~CTempFolder();
    CTempFolder(const CTempFolder&) = delete;
    CTempFolder& operator=(const CTempFolder&) = delete;
    const std::filesystem::path& Path() const { return m_path; }
    // Writes bytes to a file below the folder, creating its folders.
    std::filesystem::path Put(const std::string& relative, const std::string& bytes) const;

private:
    std::filesystem::path m_path;
};
