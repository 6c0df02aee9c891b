// Tests for the sorted digest list and the joined-text comparison.
#include "restore/codecs/DigestList.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Items(const DigestList& list)
{
    std::vector<std::string> out;
    for (int32_t i = 0; i < list.GetCount(); ++i)
        out.push_back(list.GetItem(i));
    return out;
}

std::string Joined(const DigestList& list)
{
    std::vector<uint8_t> bytes;
    list.Concatenate(bytes);
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace

TEST(DigestList, KeepsRandomInsertionsSorted)
{
    // Many inserts force several array growths; std::string orders chars as
    // unsigned, which is the order the list must use.
    std::mt19937 rng(3);
    DigestList list;
    std::vector<std::string> expected;
    for (int i = 0; i < 200; ++i) {
        std::string s(1 + rng() % 4, 'A');
        for (auto& c : s)
            c = "AB\x7F\x80\xFF"[rng() % 5];
        list.InsertSorted(s.c_str());
        expected.push_back(s);
    }
    std::stable_sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, Items(list));
}

TEST(DigestList, OrderingRules)
{
    DigestList list;
    const char* const inputs[] = {"ABC", "\x80", "AB", "z", "", nullptr};
    for (const char* s : inputs)
        list.InsertSorted(s);
    // Null stored as "", shorter-is-smaller at a common prefix, 0x80 > 'z'.
    EXPECT_EQ((std::vector<std::string>{"", "", "AB", "ABC", "z", "\x80"}), Items(list));
}

TEST(DigestList, EqualTextGoesAfterExistingAndIsCopied)
{
    DigestList list;
    char text[] = "AA";
    list.InsertSorted(text);
    const char* first = list.GetItem(0);
    EXPECT_NE(text, first);
    list.InsertSorted("AA");
    EXPECT_EQ(first, list.GetItem(0));
    text[0] = 'Z';  // the list must hold its own copy
    EXPECT_EQ((std::vector<std::string>{"AA", "AA"}), Items(list));
}

TEST(DigestList, ConcatenateAndClear)
{
    DigestList list;
    EXPECT_EQ("", Joined(list));
    list.InsertSorted("CC");
    list.InsertSorted("A");
    list.InsertSorted("BBB");
    EXPECT_EQ("ABBBCC", Joined(list));
    EXPECT_EQ(nullptr, list.GetItem(3));

    list.Clear();
    EXPECT_EQ(0, list.GetCount());
    EXPECT_EQ("", Joined(list));
    list.InsertSorted("Q");  // usable again after Clear
    EXPECT_EQ("Q", Joined(list));
}

TEST(DigestTextMatches, ComparesLengthAndEveryChar)
{
    const std::string joined = "0A1B";
    const auto* bytes = reinterpret_cast<const uint8_t*>(joined.data());
    EXPECT_TRUE(DigestTextMatches(bytes, 4, L"0A1B"));
    EXPECT_FALSE(DigestTextMatches(bytes, 4, L"0a1b"));   // no case folding
    EXPECT_FALSE(DigestTextMatches(bytes, 4, L"0A1"));
    EXPECT_FALSE(DigestTextMatches(bytes, 4, L"0A1BC"));
    EXPECT_FALSE(DigestTextMatches(bytes, 4, L"0A1\x142"));  // low byte 'B'
    EXPECT_FALSE(DigestTextMatches(bytes, 4, nullptr));

    // An empty list matches only empty text; null counts as empty.
    EXPECT_TRUE(DigestTextMatches(nullptr, 0, L""));
    EXPECT_TRUE(DigestTextMatches(nullptr, 0, nullptr));
    EXPECT_FALSE(DigestTextMatches(nullptr, 0, L"0"));

    const uint8_t high[1] = {0xE9};
    EXPECT_TRUE(DigestTextMatches(high, 1, L"\xE9"));
}
