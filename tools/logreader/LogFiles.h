// The logs named on the command line. A folder is the root of a collection: each folder
// directly below it is one machine, and below that only files named "sanarix.dbg" are read,
// at any depth (a collection may keep dated copies). A file named on the command line is
// read whatever its name. Each file is read from its end, at most 6 MiB, since the log itself
// never grows much past 5 MiB and a foreign file may be huge.
#pragma once
#include "tools/logreader/LogVerdict.h"
#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

extern const size_t kMaxReadBytes; // 6 MiB

struct CLogSource
{
    std::filesystem::path m_path; // empty for a machine folder that holds no log
    std::string m_sMachine;       // empty when the path names no machine
    std::string m_sProblem;       // set when the path cannot be read as a file ("not found", ...)
};

// The machines named on the command line and their logs. Only the machines are listed at
// first (a name each, not their logs), and each machine's logs are searched when its turn
// comes, so that a collection of 100,000 machines costs a few MB.
class CLogCollection
{
public:
    // Roots that cannot be listed, or that hold nothing, add a line to warnings.
    CLogCollection(const std::vector<std::filesystem::path>& arguments,
                   std::vector<std::string>& warnings);
    bool Empty() const { return m_entries.empty(); }
    // The logs of the next machine, machines in the order of their names (letter case
    // ignored). A machine folder without any log gives one source without a path. False
    // after the last machine.
    bool Next(std::vector<CLogSource>& logs, std::vector<std::string>& warnings);

private:
    enum class EKind : unsigned char
    {
        Folder,  // a machine folder below a root
        RootLog, // a sanarix.dbg directly in a root
        File,    // a file named on the command line
    };
    struct CEntry
    {
        std::string m_sMachine; // empty when the path names no machine
        std::string m_sName;    // below the argument (Folder, RootLog)
        unsigned m_nArgument;
        EKind m_kind;
    };
    std::string SortKey(const CEntry& entry) const;
    void AddRoot(unsigned argument, std::vector<std::string>& warnings);

    std::vector<std::filesystem::path> m_arguments;
    std::vector<CEntry> m_entries;
    size_t m_next = 0;
};

// One file named on the command line, checked: "not found", "a folder, not a file", ...
CLogSource FileSource(const std::filesystem::path& path);

// The form in which machine names compare: letter case of A-Z ignored, as Windows does.
std::string MachineKey(const std::string& machine);

// Reads at most maxBytes from the end of the file. headCut tells that the file was longer.
// On failure returns false with problem set.
bool ReadFileTail(const std::filesystem::path& path, size_t maxBytes, std::string& bytes,
                  bool& headCut, std::string& problem);

// The whole judgement of one log file, with its path and machine filled in.
CLogReport ReadLog(const CLogSource& source);

// The judgement of one machine from all of its logs: the one whose judged run started last
// counts; the others are named in a note.
CLogReport ReadMachine(const std::vector<CLogSource>& sources);

// The machine a collected log's path names: for a file "sanarix.dbg", the nearest folder
// above it that is not part of the log's own location (DTrace, Corvanta, ProgramData, a
// drive), or the host of a share path. Empty when there is none.
std::string MachineOfLog(const std::filesystem::path& path);

// The path as UTF-8 text, with the platform's separators.
std::string PathText(const std::filesystem::path& path);
