// The logs named on the command line: files taken as given, folders searched for "*.dbg" at
// any depth; each file read from its end, at most 6 MiB, since the log itself never grows
// much past 5 MiB and a foreign file may be huge.
#pragma once
#include "tools/logreader/LogVerdict.h"
#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

extern const size_t kMaxReadBytes; // 6 MiB

struct CLogSource
{
    std::filesystem::path m_path;
    std::string m_sProblem; // set when the path cannot be read as a file ("not found", ...)
};

// Files in argument order; the files of one folder sorted by path. Folders without any log
// and folders that cannot be searched add a line to warnings.
std::vector<CLogSource> CollectLogs(const std::vector<std::filesystem::path>& arguments,
                                    std::vector<std::string>& warnings);

// Reads at most maxBytes from the end of the file. headCut tells that the file was longer.
// On failure returns false with problem set.
bool ReadFileTail(const std::filesystem::path& path, size_t maxBytes, std::string& bytes,
                  bool& headCut, std::string& problem);

// The whole judgement of one log file, with its path and machine filled in.
CLogReport ReadLog(const CLogSource& source);

// The machine a collected log's path names: for a file "sanarix.dbg", the nearest folder
// above it that is not part of the log's own location (DTrace, Corvanta, ProgramData, a
// drive), or the host of a share path. Empty when there is none.
std::string MachineOfLog(const std::filesystem::path& path);

// The path as UTF-8 text, with the platform's separators.
std::string PathText(const std::filesystem::path& path);
