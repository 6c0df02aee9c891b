// Parsing of one debug log line. The format is rigid (bracketed fields with nothing between
// them), so the parser is strict about the fields and lenient about the message: a message
// is whatever follows the line tag.
#include "tools/logreader/LogLine.h"
#include <cstdio>

const std::string_view kSanarixLineTag = "[SANARIX]";

namespace {

const std::string_view kStartMarker = "=====started=====";
const std::string_view kStopMarker = "=====stopped=====";
const std::string_view kFunctionSeparator = " - ";

struct CLabel
{
    std::string_view m_text;
    int m_level;
};

// The labels the log defines; the first four are padded to ten characters.
const CLabel kLabels[] = {
    {"[ERROR]:  ", LEVEL_ERROR}, {"[WARNING]:", LEVEL_WARNING}, {"[INFO]:   ", LEVEL_INFO},
    {"[ALL]:    ", LEVEL_ALL},   {"[LOG1]:", 51},              {"[LOG2]:", 52},
    {"[LOG3]:", 53},             {"[ACT1]:", 61},              {"[ACT2]:", 62},
    {"[ACT3]:", 63},             {"[VIRUS_INFO]:", 71},
};

bool StartsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// "[PID:00001234]": at least one digit; the log pads to eight, a long id has more.
bool TakeId(std::string_view& rest, std::string_view name, unsigned long& id)
{
    if (!StartsWith(rest, name))
        return false;
    size_t i = name.size();
    size_t digits = 0;
    unsigned long value = 0;
    while (i < rest.size() && IsDigit(rest[i]) && digits < 10) {
        value = value * 10 + static_cast<unsigned long>(rest[i] - '0');
        ++i;
        ++digits;
    }
    if (digits == 0 || i >= rest.size() || rest[i] != ']')
        return false;
    id = value;
    rest.remove_prefix(i + 1);
    return true;
}

int TakeNumber(std::string_view text, size_t pos, size_t count)
{
    int value = 0;
    for (size_t i = pos; i < pos + count; ++i) {
        if (!IsDigit(text[i]))
            return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// "[2011-04-02-14:05:33]"
bool TakeTime(std::string_view& rest, CLogTime& time)
{
    const std::string_view shape = "[0000-00-00-00:00:00]";
    if (rest.size() < shape.size())
        return false;
    for (size_t i = 0; i < shape.size(); ++i) {
        if (shape[i] != '0' && rest[i] != shape[i])
            return false;
    }
    time.m_year = TakeNumber(rest, 1, 4);
    time.m_month = TakeNumber(rest, 6, 2);
    time.m_day = TakeNumber(rest, 9, 2);
    time.m_hour = TakeNumber(rest, 12, 2);
    time.m_minute = TakeNumber(rest, 15, 2);
    time.m_second = TakeNumber(rest, 18, 2);
    bool valid = time.m_year >= 1601 && time.m_month >= 1 && time.m_month <= 12 &&
                 time.m_day >= 1 && time.m_day <= 31 && time.m_hour >= 0 && time.m_hour <= 23 &&
                 time.m_minute >= 0 && time.m_minute <= 59 && time.m_second >= 0 &&
                 time.m_second <= 60;
    if (!valid)
        return false;
    rest.remove_prefix(shape.size());
    return true;
}

// The line tag is any bracketed word; an empty tag (a log started without one) leaves none.
std::string_view TakeLineTag(std::string_view& rest)
{
    if (rest.empty() || rest[0] != '[')
        return {};
    size_t close = rest.find(']');
    if (close == std::string_view::npos)
        return {};
    std::string_view tag = rest.substr(0, close + 1);
    rest.remove_prefix(close + 1);
    return tag;
}

bool IsFunctionName(std::string_view name)
{
    if (name.empty())
        return false;
    for (char c : name) {
        bool word = IsDigit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
        if (!word)
            return false;
    }
    return true;
}

void SplitMessage(std::string_view text, CLogLine& line)
{
    for (const CLabel& label : kLabels) {
        if (StartsWith(text, label.m_text)) {
            line.m_level = label.m_level;
            text.remove_prefix(label.m_text.size());
            break;
        }
    }
    size_t separator = text.find(kFunctionSeparator);
    if (separator != std::string_view::npos && IsFunctionName(text.substr(0, separator))) {
        line.m_function = text.substr(0, separator);
        text.remove_prefix(separator + kFunctionSeparator.size());
    }
    line.m_text = text;
}

} // namespace

long long CLogTime::ToSeconds() const
{
    // Days from the civil date (proleptic Gregorian), after H. Hinnant's algorithm.
    int y = m_year - (m_month <= 2 ? 1 : 0);
    int era = (y >= 0 ? y : y - 399) / 400;
    int yoe = y - era * 400;
    int mp = (m_month + 9) % 12;
    int doy = (153 * mp + 2) / 5 + m_day - 1;
    int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    long long days = static_cast<long long>(era) * 146097 + doe - 719468;
    return days * 86400 + m_hour * 3600 + m_minute * 60 + m_second;
}

std::string CLogTime::FormatDateTime() const
{
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", m_year, m_month, m_day,
                  m_hour, m_minute, m_second);
    return text;
}

std::string CLogTime::FormatTime() const
{
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", m_hour, m_minute, m_second);
    return text;
}

bool CLogTime::SameDay(const CLogTime& other) const
{
    return m_year == other.m_year && m_month == other.m_month && m_day == other.m_day;
}

CLogLine ParseLogLine(std::string_view text)
{
    CLogLine line;
    std::string_view rest = text;
    if (!TakeId(rest, "[PID:", line.m_pid) || !TakeId(rest, "[TID:", line.m_tid) ||
        !TakeTime(rest, line.m_time) || !StartsWith(rest, "[~]"))
        return CLogLine{};
    rest.remove_prefix(3);
    line.m_lineTag = TakeLineTag(rest);
    if (line.m_lineTag != kSanarixLineTag) {
        line.m_kind = ELineKind::OtherProgram;
        return line;
    }
    if (rest.empty())
        line.m_kind = ELineKind::Fields;
    else if (rest == kStartMarker)
        line.m_kind = ELineKind::Started;
    else if (rest == kStopMarker)
        line.m_kind = ELineKind::Stopped;
    else {
        line.m_kind = ELineKind::Message;
        SplitMessage(rest, line);
    }
    return line;
}
