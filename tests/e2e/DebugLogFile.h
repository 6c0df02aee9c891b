// Reads the repair run's debug file as the tests see it: UTF-8 with a byte-order mark, CR LF
// line ends, each line "[PID:%08d][TID:%08d][YYYY-MM-DD-HH:MM:SS][~][SANARIX]<message>".
// The fields are checked here; the messages are what the scenarios compare.
#pragma once
#include <string>
#include <vector>

struct CLogLine
{
    unsigned long m_ulPid = 0;
    unsigned long m_ulTid = 0;
    std::string m_sTime; // "YYYY-MM-DD-HH:MM:SS"
    std::string m_sMessage;
};

struct CDebugLogFile
{
    std::vector<CLogLine> m_Lines;
    std::vector<std::string> m_Problems; // format faults, one line each

    std::vector<std::string> Messages() const;
};

// Parses the file's bytes. Every line must end in CR LF and carry all fields; a line that
// does not is reported in m_Problems (and kept with what could be read).
CDebugLogFile ParseDebugLog(const std::string& bytes);

// Checks that every line belongs to pid, all come from one thread, and each time lies
// within [from, to] (texts in the log's own form, which sort like the times they name).
// Returns the faults found.
std::vector<std::string> CheckLogFields(const CDebugLogFile& log, unsigned long pid,
                                        const std::string& from, const std::string& to);
