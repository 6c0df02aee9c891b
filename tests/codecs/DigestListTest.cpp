// The sorted digest texts (unsigned order, own copies) and their match with the index's text.
#include "restore/codecs/DigestList.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

TEST(DigestList, KeepsItsOwnCopiesInUnsignedOrder)
{
    // Many inserts force growths; std::string's order is the unsigned one. Null counts as "".
    std::mt19937 rng(3);
    DigestList list;
    list.InsertSorted(nullptr);
    std::vector<std::string> expected = {""};
    for (int i = 0; i < 200; ++i) {
        std::string s(rng() % 4, 'A');
        for (char& c : s)
            c = "ABz\x7F\x80\xFF"[rng() % 6];
        list.InsertSorted(s.c_str());
        expected.push_back(s);
        s += 'Q';  // the list holds its own copy
    }
    std::sort(expected.begin(), expected.end());
    std::string all;
    for (size_t i = 0; i < expected.size(); ++i) {
        ASSERT_STREQ(list.GetItem(int32_t(i)), expected[i].c_str()) << i;
        all += expected[i];
    }
    EXPECT_EQ(list.GetItem(int32_t(expected.size())), nullptr);
    std::vector<uint8_t> joined;
    list.Concatenate(joined);
    EXPECT_EQ(std::string(joined.begin(), joined.end()), all);
    list.Clear();
    EXPECT_EQ(list.GetCount(), 0);
}

TEST(DigestTextMatches, TheWholeTextCharacterByCharacter)
{
    const auto* joined = reinterpret_cast<const uint8_t*>("0A1B\xE9");
    const std::pair<const wchar_t*, bool> cases[] = {
        {L"0A1B\xE9", true}, {L"0a1b\xE9", false}, {L"0A1B", false}, {L"0A1B\xE9" L"C", false},
        {L"0A1\x142\xE9", false},  // the low byte is 'B'
        {nullptr, false},
    };
    for (const auto& [expected, matches] : cases)
        EXPECT_EQ(DigestTextMatches(joined, 5, expected), matches) << (expected ? expected : L"(null)");
    EXPECT_TRUE(DigestTextMatches(nullptr, 0, L"") && DigestTextMatches(nullptr, 0, nullptr));
    EXPECT_FALSE(DigestTextMatches(nullptr, 0, L"0"));
}
