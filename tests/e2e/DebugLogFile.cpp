// Debug file parsing (see DebugLogFile.h).
#include "tests/e2e/DebugLogFile.h"
#include <regex>

namespace {

const std::regex kLine(
    R"(^\[PID:(\d{8,})\]\[TID:(\d{8,})\]\[(\d{4}-\d\d-\d\d-\d\d:\d\d:\d\d)\]\[~\]\[SANARIX\](.*)$)");

} // namespace

std::vector<std::string> CDebugLogFile::Messages() const
{
    std::vector<std::string> messages;
    for (const CLogLine& line : m_Lines)
        messages.push_back(line.m_sMessage);
    return messages;
}

CDebugLogFile ParseDebugLog(const std::string& bytes)
{
    CDebugLogFile log;
    size_t at = 0;
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
        at = 3;
    else
        log.m_Problems.push_back("no byte-order mark at the start");
    while (at < bytes.size()) {
        size_t end = bytes.find('\n', at);
        if (end == std::string::npos) {
            log.m_Problems.push_back("last line without line end: " + bytes.substr(at));
            end = bytes.size();
        }
        std::string text = bytes.substr(at, end - at);
        at = end + 1;
        if (text.empty() || text.back() != '\r')
            log.m_Problems.push_back("line not ended by CR LF: " + text);
        else
            text.pop_back();
        CLogLine line;
        std::smatch match;
        if (!std::regex_match(text, match, kLine)) {
            log.m_Problems.push_back("line without its fields: " + text);
            line.m_sMessage = text;
        } else {
            line.m_ulPid = std::stoul(match[1]);
            line.m_ulTid = std::stoul(match[2]);
            line.m_sTime = match[3];
            line.m_sMessage = match[4];
        }
        log.m_Lines.push_back(line);
    }
    return log;
}

std::vector<std::string> CheckLogFields(const CDebugLogFile& log, unsigned long pid,
                                        const std::string& from, const std::string& to)
{
    std::vector<std::string> faults;
    for (const CLogLine& line : log.m_Lines) {
        if (line.m_ulPid != pid)
            faults.push_back("process id " + std::to_string(line.m_ulPid) + " in: " + line.m_sMessage);
        if (line.m_ulTid != log.m_Lines.front().m_ulTid)
            faults.push_back("thread id " + std::to_string(line.m_ulTid) + " in: " + line.m_sMessage);
        if (line.m_sTime < from || line.m_sTime > to)
            faults.push_back("time " + line.m_sTime + " outside " + from + " .. " + to + " in: " +
                             line.m_sMessage);
    }
    return faults;
}
