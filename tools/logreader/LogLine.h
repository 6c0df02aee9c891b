// One line of a sanarix debug log taken apart into its fields: process id, thread id, local
// time, line tag, level label, function tag and message. Platform-free, so the reader builds
// with the host compiler as well as for Windows.
#pragma once
#include <string>
#include <string_view>

// Local time of a line, one-second resolution, as the log writes it: [%Y-%m-%d-%H:%M:%S].
struct CLogTime
{
    int m_year = 0;
    int m_month = 0;
    int m_day = 0;
    int m_hour = 0;
    int m_minute = 0;
    int m_second = 0;

    bool IsSet() const { return m_year != 0; }
    // Seconds since 1970-01-01 00:00:00 of the same (local) clock; only differences matter.
    long long ToSeconds() const;
    std::string FormatDateTime() const; // "2011-04-02 14:05:33"
    std::string FormatTime() const;     // "14:05:33"
    bool SameDay(const CLogTime& other) const;
};

// How one line of text relates to our log.
enum class ELineKind
{
    Foreign,      // not in the debug log's line format at all
    OtherProgram, // the debug log's format, but another program's line tag
    Fields,       // only the fields, no text (the two lines before a start marker)
    Started,      // "=====started====="
    Stopped,      // "=====stopped====="
    Message,      // level label, function tag, message
};

// Levels as the log labels them; 0 when the label is not one of the log's own.
enum ELogLevel : int
{
    LEVEL_UNKNOWN = 0,
    LEVEL_ERROR = 1,
    LEVEL_WARNING = 2,
    LEVEL_INFO = 3,
    LEVEL_ALL = 4,
};

// The views point into the text the line was parsed from.
struct CLogLine
{
    ELineKind m_kind = ELineKind::Foreign;
    unsigned long m_pid = 0;
    unsigned long m_tid = 0;
    CLogTime m_time;
    std::string_view m_lineTag;  // "[SANARIX]" for our lines
    int m_level = LEVEL_UNKNOWN;
    std::string_view m_function; // "DoSanarix", "RestoreQuarantine", ...; empty when none
    std::string_view m_text;     // the message after the function tag
};

// The line tag of every line the repair run writes.
extern const std::string_view kSanarixLineTag;

// Takes one line apart (without its line end). Lines of another program's tag are reported as
// OtherProgram with only their fields filled; text outside the format is Foreign.
CLogLine ParseLogLine(std::string_view line);
