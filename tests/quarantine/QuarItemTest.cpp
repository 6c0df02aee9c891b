// Selecting a location into the flat part and removing locations.
#include "quarantine/QuarItem.h"
#include "tests/quarantine/IndexSamples.h"
#include <gtest/gtest.h>
#include <cwchar>

// A selection copies the location once (what the caller changed in the flat part stays
// until another is selected), cut to the flat fields, and clears what the next one lacks.
TEST(QuarItem, SelectCopiesOnceAndClearsWhatTheNextLocationLacks)
{
    QuarItem item;
    item.size = 99;
    item.m_Files = {MakeLocation(L"one.eml", L"C:\\mail"), MakeLocation(L"two.txt", L"C:\\docs")};
    QuarFileEntry& first = item.m_Files[0];
    first.sender = L"alice";
    first.subject = std::wstring(2000, L's');
    first.attr = 0x20;
    first.dtime = 14;
    first.sec_str = std::vector<uint8_t>{'Q', 'U', 0};
    first.sec_str_len = 3;
    auto fields = [](const QuarItemInfo& flat) {
        return std::wstring(flat.name) + L"|" + flat.path + L"|" + flat.sender + L"|" +
               flat.subject + L"|" + std::to_wstring(flat.attr + flat.dtime + flat.sec_str_len);
    };
    EXPECT_EQ(&item.SelectFile(0), static_cast<QuarItemInfo*>(&item));
    EXPECT_EQ(fields(item), L"one.eml|C:\\mail|alice|" + std::wstring(1023, L's') + L"|49");
    EXPECT_EQ(item.sec_str, first.sec_str);
    EXPECT_EQ(item.size, 99); // item-wide fields untouched
    wcscpy(item.name, L"changed");
    EXPECT_EQ(fields(item.SelectFile(0)).substr(0, 8), L"changed|");
    EXPECT_EQ(fields(item.SelectFile(1)), L"two.txt|C:\\docs|||0");
    EXPECT_FALSE(item.sec_str.has_value());
    EXPECT_EQ(item.m_nSelected, 1);
}

// Only the first location whose name and path equal the given ones, letter case included,
// goes; the others keep their own strings.
TEST(QuarItem, RemoveTakesTheFirstExactMatchOnly)
{
    QuarItem item;
    item.m_Files = {MakeLocation(L"a.txt", L"C:\\d"), MakeLocation(L"a.txt", L"C:\\d"),
                    MakeLocation(L"b.txt", L"C:\\d")};
    item.m_Files[0].subject = L"first";
    item.m_Files[1].subject = L"second";
    item.m_Files[1].sender = L"";
    QuarItemInfo which = item.SelectFile(0); // the copy a restore keeps of its location
    wcscpy(which.path, L"c:\\d");
    EXPECT_FALSE(item.RemoveFile(which));
    wcscpy(which.name, L"A.TXT");
    wcscpy(which.path, L"C:\\d");
    EXPECT_FALSE(item.RemoveFile(which));
    wcscpy(which.name, L"a.txt");
    EXPECT_TRUE(item.RemoveFile(which));
    ASSERT_EQ(item.GetFileCount(), 2u);
    EXPECT_EQ(item.m_Files[0].subject, std::wstring(L"second"));
    EXPECT_EQ(item.m_Files[0].sender, std::wstring(L""));
    EXPECT_FALSE(item.m_Files[1].subject.has_value());
}
