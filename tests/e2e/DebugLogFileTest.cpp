// Reading the debug file in the end-to-end tests: the form of every line is checked.
#include "tests/e2e/DebugLogFile.h"
#include <gtest/gtest.h>

namespace {

const std::string kBom = "\xEF\xBB\xBF";
const std::string kLine1 = "[PID:00001234][TID:00005678][2011-04-02-14:05:33][~][SANARIX]";
const std::string kLine2 =
    "[PID:00001234][TID:00005678][2011-04-02-14:05:34][~][SANARIX][ALL]:    DoSanarix - ok";

TEST(DebugLogFileTest, ReadsFieldsAndMessages)
{
    CDebugLogFile log = ParseDebugLog(kBom + kLine1 + "\r\n" + kLine2 + "\r\n");
    EXPECT_TRUE(log.m_Problems.empty());
    ASSERT_EQ(2u, log.m_Lines.size());
    EXPECT_EQ(1234u, log.m_Lines[1].m_ulPid);
    EXPECT_EQ(5678u, log.m_Lines[1].m_ulTid);
    EXPECT_EQ("2011-04-02-14:05:34", log.m_Lines[1].m_sTime);
    EXPECT_EQ((std::vector<std::string>{"", "[ALL]:    DoSanarix - ok"}), log.Messages());
}

TEST(DebugLogFileTest, ReportsEveryFaultOfForm)
{
    EXPECT_EQ(1u, ParseDebugLog(kLine1 + "\r\n").m_Problems.size()) << "no byte-order mark";
    EXPECT_EQ(1u, ParseDebugLog(kBom + kLine1 + "\n").m_Problems.size()) << "bare LF";
    EXPECT_FALSE(ParseDebugLog(kBom + kLine1).m_Problems.empty()) << "no line end";
    EXPECT_EQ(1u, ParseDebugLog(kBom + "[PID:1234][TID:00005678][2011-04-02-14:05:33][~][SANARIX]x\r\n")
                      .m_Problems.size())
        << "process id of four digits";
    EXPECT_EQ(1u, ParseDebugLog(kBom + "[PID:00001234][TID:00005678][2011-04-02 14:05:33][~][SANARIX]\r\n")
                      .m_Problems.size())
        << "blank in the time";
    EXPECT_EQ(1u, ParseDebugLog(kBom + "[PID:00001234][TID:00005678][2011-04-02-14:05:33][SANARIX]\r\n")
                      .m_Problems.size())
        << "no thread field";
}

TEST(DebugLogFileTest, FieldCheckFindsOtherProcessThreadAndTime)
{
    CDebugLogFile log = ParseDebugLog(kBom + kLine1 + "\r\n" + kLine2 + "\r\n");
    EXPECT_TRUE(CheckLogFields(log, 1234, "2011-04-02-14:05:33", "2011-04-02-14:05:34").empty());
    EXPECT_EQ(2u, CheckLogFields(log, 1235, "2011-04-02-14:05:33", "2011-04-02-14:05:34").size());
    EXPECT_EQ(1u, CheckLogFields(log, 1234, "2011-04-02-14:05:34", "2011-04-02-14:06:00").size());
    log.m_Lines[1].m_ulTid = 9;
    EXPECT_EQ(1u, CheckLogFields(log, 1234, "2011-04-02-14:05:33", "2011-04-02-14:05:34").size());
}

} // namespace
