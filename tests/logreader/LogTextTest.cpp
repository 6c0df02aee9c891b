// Recognising what a file's bytes are before reading lines: UTF-8 with or without a BOM,
// UTF-16, broken UTF-8, binary data, zero bytes; and splitting the text into lines.
#include "tools/logreader/LogText.h"
#include <gtest/gtest.h>
#include <string>

namespace {

using namespace std::string_literals;

std::string Utf16Le(const std::string& ascii)
{
    std::string bytes;
    for (char c : ascii) {
        bytes += c;
        bytes += '\0';
    }
    return bytes;
}

const std::string kLine = "[PID:00001234][TID:00005678][2011-04-02-14:05:33][~][SANARIX]";

TEST(LogText, Utf8WithAndWithoutBom)
{
    CTextCheck withBom = CheckLogText("\xEF\xBB\xBF" + kLine + "\r\n", false);
    EXPECT_EQ(withBom.m_problem, ETextProblem::None);
    EXPECT_TRUE(withBom.m_bBom);
    CTextCheck without = CheckLogText(kLine + "\r\n", false);
    EXPECT_EQ(without.m_problem, ETextProblem::None);
    EXPECT_FALSE(without.m_bBom);
    // Paths in other scripts are ordinary UTF-8.
    EXPECT_EQ(CheckLogText("C:\\Users\\J\xC3\xBCrgen\\\xE6\x97\xA5\xE6\x9C\xAC\xF0\x9F\x98\x80", false).m_problem,
              ETextProblem::None);
}

TEST(LogText, Utf16IsRecognisedWithAndWithoutBom)
{
    EXPECT_EQ(CheckLogText("\xFF\xFE"s + Utf16Le(kLine), false).m_problem, ETextProblem::Utf16);
    EXPECT_EQ(CheckLogText(Utf16Le(kLine + "\r\n" + kLine), false).m_problem, ETextProblem::Utf16);
    // The tail of a long UTF-16 file, cut at an odd byte.
    EXPECT_EQ(CheckLogText(Utf16Le(kLine + "\r\n" + kLine).substr(1), true).m_problem,
              ETextProblem::Utf16);
}

TEST(LogText, InvalidUtf8IsFoundAtItsOffset)
{
    std::string latin1 = kLine + "C:\\Users\\J\xFCrgen\r\n";
    CTextCheck check = CheckLogText(latin1, false);
    EXPECT_EQ(check.m_problem, ETextProblem::InvalidUtf8);
    EXPECT_EQ(check.m_offset, kLine.size() + 10);
    EXPECT_FALSE(check.m_bBinary);
    // Overlong forms, a truncated sequence at the end, and code points past U+10FFFF.
    for (const std::string& bad : {"a\xC0\xAF"s, "a\xE0\x80\xAF"s, "ab\xE6\x97"s, "a\xF4\x90\x80\x80"s})
        EXPECT_EQ(CheckLogText(bad, false).m_problem, ETextProblem::InvalidUtf8) << bad;
    // A lone surrogate as the C runtime encodes it still belongs to a log.
    EXPECT_EQ(CheckLogText("a\xED\xA0\x80", false).m_problem, ETextProblem::None);
}

TEST(LogText, BinaryDataAndEmptyFiles)
{
    std::string binary = "MZ\x90\0\x03\0\0\0\x04\0\0\0\xFF\xFF\0\0\xB8\0\0\0\0\0\0\0@\0"s;
    CTextCheck check = CheckLogText(binary, false);
    EXPECT_EQ(check.m_problem, ETextProblem::InvalidUtf8);
    EXPECT_TRUE(check.m_bBinary);
    EXPECT_EQ(CheckLogText("", false).m_problem, ETextProblem::Empty);
}

TEST(LogText, HeadCutSkipsThePartialFirstLine)
{
    // The cut fell inside a two-byte character: the broken half is not held against the file.
    std::string tail = "\xBC" "rgen\r\n" + kLine + "\r\n";
    EXPECT_EQ(CheckLogText(tail, true).m_problem, ETextProblem::None);
    std::vector<CNulRegion> regions;
    std::vector<CTextLine> lines = SplitLogLines(tail, true, regions);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].m_text, kLine);
    EXPECT_EQ(lines[0].m_offset, 7u);
}

TEST(LogText, LinesSplitAtLineEndsBomsAndZeroBytes)
{
    std::string text = "\xEF\xBB\xBF" "one\r\ntwo\n\r\n\xEF\xBB\xBF" "three\r\nfo"s + std::string(5, '\0') +
                       "ur\r\nlast";
    std::vector<CNulRegion> regions;
    std::vector<CTextLine> lines = SplitLogLines(text, false, regions);
    std::vector<std::string> texts;
    for (const CTextLine& line : lines)
        texts.emplace_back(line.m_text);
    EXPECT_EQ(texts, (std::vector<std::string>{"one", "two", "", "three", "fo", "ur", "last"}));
    EXPECT_EQ(lines[0].m_offset, 3u);
    EXPECT_EQ(text.substr(lines[3].m_offset, 5), "three");
    ASSERT_EQ(regions.size(), 1u);
    EXPECT_EQ(regions[0].m_length, 5u);
    EXPECT_EQ(text.substr(regions[0].m_offset - 2, 2), "fo");
}

} // namespace
