// Below the verdicts: one line taken apart into its fields, the bytes of a file recognised as
// text or not, and differences of the log's local times.
#include "tools/logreader/LogLine.h"
#include "tools/logreader/LogText.h"
#include <gtest/gtest.h>

namespace {

using namespace std::string_literals;

const std::string kFields = "[PID:00001234][TID:00005678][2011-04-02-14:05:33][~]";

struct CLineCase
{
    std::string m_line;
    ELineKind m_kind;
    int m_level = LEVEL_UNKNOWN;
    const char* m_function = "";
    const char* m_text = "";
};

const CLineCase kLines[] = {
    {kFields + "[SANARIX][ALL]:    DoSanarix - InitGlobals() ...", ELineKind::Message, LEVEL_ALL,
     "DoSanarix", "InitGlobals() ..."},
    {kFields + "[SANARIX][ALL]:    DoSanarix - ", ELineKind::Message, LEVEL_ALL, "DoSanarix", ""},
    {kFields + "[SANARIX][ERROR]:  MyStartService - - QueryServiceStatus() failed", ELineKind::Message,
     LEVEL_ERROR, "MyStartService", "- QueryServiceStatus() failed"},
    {kFields + "[SANARIX][INFO]:   StopCVApp - ok", ELineKind::Message, LEVEL_INFO, "StopCVApp", "ok"},
    // No function tag: the text is taken whole, even with " - " later in it.
    {kFields + "[SANARIX][WARNING]:C:\\a - b", ELineKind::Message, LEVEL_WARNING, "", "C:\\a - b"},
    {kFields + "[SANARIX]free text", ELineKind::Message, LEVEL_UNKNOWN, "", "free text"},
    {kFields + "[SANARIX]", ELineKind::Fields, LEVEL_UNKNOWN, "", ""},
    {kFields + "[SANARIX]=====started=====", ELineKind::Started, LEVEL_UNKNOWN, "", ""},
    {kFields + "[SANARIX]=====stopped=====", ELineKind::Stopped, LEVEL_UNKNOWN, "", ""},
    {kFields + "[SANARIX]=====stopped===== ", ELineKind::Message, LEVEL_UNKNOWN, "", "=====stopped===== "},
    {kFields + "[CVHOST][ALL]:    Main - started", ELineKind::OtherProgram, LEVEL_UNKNOWN, "", ""},
    {kFields + "no tag at all", ELineKind::OtherProgram, LEVEL_UNKNOWN, "", ""},
    {"", ELineKind::Foreign},
    {"[PID:][TID:00005678][2011-04-02-14:05:33][~][SANARIX]", ELineKind::Foreign},
    {"[PID:0000123x][TID:00005678][2011-04-02-14:05:33][~][SANARIX]", ELineKind::Foreign},
    {"[PID:00001234][TID:00005678][2011-13-02-14:05:33][~][SANARIX]", ELineKind::Foreign},
    {"[PID:00001234][TID:00005678][2011-04-02 14:05:33][~][SANARIX]", ELineKind::Foreign},
    {"[PID:00001234][TID:00005678][2011-04-02-24:05:33][~][SANARIX]", ELineKind::Foreign},
    {"[PID:00001234][TID:00005678][2011-04-02-14:05:3][~][SANARIX]", ELineKind::Foreign},
    {"[PID:00001234][TID:00005678][2011-04-02-14:05:33][SANARIX]", ELineKind::Foreign},
    {"[PID:00001234][TID:00005678][2011-04-02-14:05", ELineKind::Foreign},
};

TEST(LogLine, EveryKindOfLineGivesItsFields)
{
    for (const CLineCase& c : kLines) {
        CLogLine line = ParseLogLine(c.m_line);
        EXPECT_EQ(line.m_kind, c.m_kind) << c.m_line;
        if (c.m_kind != ELineKind::Message)
            continue;
        EXPECT_EQ(line.m_level, c.m_level) << c.m_line;
        EXPECT_EQ(line.m_function, c.m_function) << c.m_line;
        EXPECT_EQ(line.m_text, c.m_text) << c.m_line;
        EXPECT_EQ(std::to_string(line.m_pid) + " " + std::to_string(line.m_tid) + " " +
                      line.m_time.FormatDateTime(), "1234 5678 2011-04-02 14:05:33");
    }
    // Ids are padded to eight digits, but a longer one is read whole.
    EXPECT_EQ(ParseLogLine("[PID:4294967295][TID:00000004][2011-04-02-14:05:33][~][SANARIX]").m_pid,
              4294967295ul);
}

TEST(LogText, WhatTheBytesAre)
{
    // Bytes, whether they are the tail of a longer file, what they are, where the first fault is.
    const std::tuple<std::string, bool, ETextProblem, size_t> cases[] = {
        {"\xEF\xBB\xBF" "a\r\n", false, ETextProblem::None, 0},
        {"C:\\J\xC3\xBCrgen\\\xE6\x97\xA5\xF0\x9F\x98\x80", false, ETextProblem::None, 0},
        {"a\xED\xA0\x80", false, ETextProblem::None, 0}, // a lone surrogate as the C runtime writes it
        {"\xBC" "rgen\r\nabc", true, ETextProblem::None, 0}, // the cut fell inside a character
        {"", false, ETextProblem::Empty, 0},
        {"[\0P\0I\0D\0"s, false, ETextProblem::Utf16, 0},           // UTF-16 without byte-order mark
        {"[\0P\0I\0D\0"s.substr(1), true, ETextProblem::Utf16, 0}, // its tail cut at an odd byte
        {"C:\\J\xFCrgen\r\n", false, ETextProblem::InvalidUtf8, 4},
        {"a\xC0\xAF", false, ETextProblem::InvalidUtf8, 1},        // overlong
        {"ab\xE0\x80\xAF", false, ETextProblem::InvalidUtf8, 2},   // overlong
        {"abc\xE6\x97", false, ETextProblem::InvalidUtf8, 3},      // truncated at the end
        {"a\xF4\x90\x80\x80", false, ETextProblem::InvalidUtf8, 1}, // past U+10FFFF
    };
    for (const auto& [bytes, headCut, problem, offset] : cases) {
        CTextCheck check = CheckLogText(bytes, headCut);
        EXPECT_EQ(check.m_problem, problem) << bytes;
        EXPECT_EQ(check.m_offset, offset) << bytes;
        EXPECT_EQ(check.m_bBom, bytes.rfind("\xEF\xBB\xBF", 0) == 0) << bytes;
    }
}

TEST(LogTime, DifferencesAcrossDaysMonthsYearsAndLeapDays)
{
    auto seconds = [](CLogTime time) { return time.ToSeconds(); };
    EXPECT_EQ(seconds({2024, 3, 1, 0, 0, 10}) - seconds({2024, 2, 28, 23, 59, 50}), 86400 + 20);
    EXPECT_EQ(seconds({2024, 1, 1, 0, 0, 0}) - seconds({2023, 12, 31, 23, 59, 59}), 1);
    EXPECT_EQ(seconds({1970, 1, 1, 0, 0, 0}), 0);
}

} // namespace
