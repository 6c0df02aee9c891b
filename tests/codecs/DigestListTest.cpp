// The sorted list of digest texts and the comparison of its joined form with the index's
// text: unsigned byte order, equal texts kept apart, own copies, no case folding.
#include "restore/codecs/DigestList.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

std::string Joined(const DigestList& list)
{
    std::vector<uint8_t> bytes;
    list.Concatenate(bytes);
    return std::string(bytes.begin(), bytes.end());
}

} // namespace

TEST(DigestList, KeepsItsOwnCopiesInUnsignedOrder)
{
    // Many inserts force several growths; std::string orders chars as unsigned, which is
    // the order the list must use (0x80 and 0xFF after 'z').
    std::mt19937 rng(3);
    DigestList list;
    std::vector<std::string> expected = {"", ""};
    list.InsertSorted(nullptr);  // counts as ""
    char text[] = "";
    list.InsertSorted(text);
    for (int i = 0; i < 200; ++i) {
        std::string s(1 + rng() % 4, 'A');
        for (char& c : s)
            c = "ABz\x7F\x80\xFF"[rng() % 6];
        list.InsertSorted(s.c_str());
        expected.push_back(s);
        s[0] = 'Q';  // the list holds its own copy
    }
    std::sort(expected.begin(), expected.end());
    std::string all;
    for (size_t i = 0; i < expected.size(); ++i) {
        ASSERT_STREQ(list.GetItem(int32_t(i)), expected[i].c_str()) << i;
        all += expected[i];
    }
    EXPECT_EQ(list.GetItem(int32_t(expected.size())), nullptr);
    EXPECT_EQ(Joined(list), all);
    list.Clear();
    EXPECT_EQ(list.GetCount(), 0);
    list.InsertSorted("Q");  // usable again after Clear
    EXPECT_EQ(Joined(list), "Q");
}

TEST(DigestTextMatches, TheWholeTextCharacterByCharacter)
{
    const std::string joined = "0A1B\xE9";
    const auto* bytes = reinterpret_cast<const uint8_t*>(joined.data());
    const std::pair<const wchar_t*, bool> cases[] = {
        {L"0A1B\xE9", true}, {L"0a1b\xE9", false},  {L"0A1B", false},   {L"0A1B\xE9" L"C", false},
        {L"0A1\x142\xE9", false},  // the low byte is 'B'
        {nullptr, false},    {L"", false},
    };
    for (const auto& [expected, matches] : cases)
        EXPECT_EQ(DigestTextMatches(bytes, joined.size(), expected), matches)
            << (expected ? expected : L"(null)");
    // An empty list matches only an empty text; null counts as empty.
    EXPECT_TRUE(DigestTextMatches(nullptr, 0, L""));
    EXPECT_TRUE(DigestTextMatches(nullptr, 0, nullptr));
    EXPECT_FALSE(DigestTextMatches(nullptr, 0, L"0"));
}
