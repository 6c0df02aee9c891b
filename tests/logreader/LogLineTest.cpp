// Taking debug log lines apart: every field, the markers, messages with and without a
// function tag, and lines that only look like ours.
#include "tools/logreader/LogLine.h"
#include <gtest/gtest.h>
#include <list>

namespace {

// The parsed views point into the text, so the texts are kept for the whole test program.
CLogLine Parse(const std::string& text)
{
    static std::list<std::string> s_texts;
    return ParseLogLine(s_texts.emplace_back(text));
}

const std::string kFields = "[PID:00001234][TID:00005678][2011-04-02-14:05:33][~]";

TEST(LogLine, MessageLineGivesEveryField)
{
    CLogLine line = Parse(kFields + "[SANARIX][ALL]:    DoSanarix - InitGlobals() ...");
    EXPECT_EQ(line.m_kind, ELineKind::Message);
    EXPECT_EQ(line.m_pid, 1234u);
    EXPECT_EQ(line.m_tid, 5678u);
    EXPECT_EQ(line.m_time.FormatDateTime(), "2011-04-02 14:05:33");
    EXPECT_EQ(line.m_lineTag, "[SANARIX]");
    EXPECT_EQ(line.m_level, LEVEL_ALL);
    EXPECT_EQ(line.m_function, "DoSanarix");
    EXPECT_EQ(line.m_text, "InitGlobals() ...");
}

TEST(LogLine, MarkersAndFieldOnlyLines)
{
    EXPECT_EQ(Parse(kFields + "[SANARIX]").m_kind, ELineKind::Fields);
    EXPECT_EQ(Parse(kFields + "[SANARIX]=====started=====").m_kind, ELineKind::Started);
    EXPECT_EQ(Parse(kFields + "[SANARIX]=====stopped=====").m_kind, ELineKind::Stopped);
    // Not a marker when anything follows it.
    EXPECT_EQ(Parse(kFields + "[SANARIX]=====stopped===== ").m_kind, ELineKind::Message);
    // Ids are padded to eight digits, but a longer one is read whole.
    CLogLine longId = Parse("[PID:4294967295][TID:00000004][2011-04-02-14:05:33][~][SANARIX]");
    EXPECT_EQ(longId.m_kind, ELineKind::Fields);
    EXPECT_EQ(longId.m_pid, 4294967295ul);
}

TEST(LogLine, LevelsFunctionTagsAndTheirAbsence)
{
    // An empty format leaves the separator and nothing after it.
    CLogLine empty = Parse(kFields + "[SANARIX][ALL]:    DoSanarix - ");
    EXPECT_EQ(empty.m_function, "DoSanarix");
    EXPECT_EQ(empty.m_text, "");

    CLogLine error = Parse(kFields + "[SANARIX][ERROR]:  MyStartService - - QueryServiceStatus() failed");
    EXPECT_EQ(error.m_level, LEVEL_ERROR);
    EXPECT_EQ(error.m_function, "MyStartService");
    EXPECT_EQ(error.m_text, "- QueryServiceStatus() failed");

    CLogLine info = Parse(kFields + "[SANARIX][INFO]:   StopCVApp - WaitForSingleObject handle=0x000000F4 ok");
    EXPECT_EQ(info.m_level, LEVEL_INFO);

    // No function tag: the text is taken whole, even with " - " later in it.
    CLogLine bare = Parse(kFields + "[SANARIX][ERROR]:  C:\\a b - c.txt gone");
    EXPECT_EQ(bare.m_function, "");
    EXPECT_EQ(bare.m_text, "C:\\a b - c.txt gone");

    CLogLine unlabelled = Parse(kFields + "[SANARIX]free text");
    EXPECT_EQ(unlabelled.m_kind, ELineKind::Message);
    EXPECT_EQ(unlabelled.m_level, LEVEL_UNKNOWN);
}

TEST(LogLine, AnotherProgramsTagIsNotOurs)
{
    CLogLine line = Parse(kFields + "[CVHOST][ALL]:    Main - started");
    EXPECT_EQ(line.m_kind, ELineKind::OtherProgram);
    EXPECT_EQ(line.m_lineTag, "[CVHOST]");
    EXPECT_EQ(Parse(kFields + "no tag at all").m_kind, ELineKind::OtherProgram);
}

TEST(LogLine, BrokenFieldsAreForeign)
{
    const char* broken[] = {
        "",
        "[PID:][TID:00005678][2011-04-02-14:05:33][~][SANARIX]",
        "[PID:00001234][TID:00005678][2011-13-02-14:05:33][~][SANARIX]",
        "[PID:00001234][TID:00005678][2011-04-02 14:05:33][~][SANARIX]",
        "[PID:00001234][TID:00005678][2011-04-02-14:05:3][~][SANARIX]",
        "[PID:00001234][TID:00005678][2011-04-02-14:05:33][SANARIX]",
        "[PID:00001234][TID:00005678][2011-04-02-24:05:33][~][SANARIX]",
        "[PID:0000123x][TID:00005678][2011-04-02-14:05:33][~][SANARIX]",
        "[PID:00001234][TID:00005678][2011-04-02-14:05",
        "PID:00001234 something else",
    };
    for (const char* text : broken)
        EXPECT_EQ(Parse(text).m_kind, ELineKind::Foreign) << text;
}

TEST(LogTime, DifferencesAcrossDaysMonthsAndLeapDays)
{
    CLogTime a{2024, 2, 28, 23, 59, 50};
    CLogTime b{2024, 3, 1, 0, 0, 10};
    EXPECT_EQ(b.ToSeconds() - a.ToSeconds(), 86400 + 20);
    CLogTime c{2023, 12, 31, 23, 59, 59};
    CLogTime d{2024, 1, 1, 0, 0, 0};
    EXPECT_EQ(d.ToSeconds() - c.ToSeconds(), 1);
    EXPECT_EQ(CLogTime({1970, 1, 1, 0, 0, 0}).ToSeconds(), 0);
    EXPECT_TRUE(a.SameDay(CLogTime{2024, 2, 28, 0, 0, 0}));
    EXPECT_FALSE(a.SameDay(b));
    EXPECT_EQ(b.FormatTime(), "00:00:10");
}

} // namespace
