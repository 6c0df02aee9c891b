// Selecting a location into the flat part and removing locations.
#include "quarantine/QuarItem.h"
#include "tests/quarantine/IndexSamples.h"
#include <gtest/gtest.h>
#include <cwchar>

// A selection copies a location once (cut to the flat fields, clearing what the next lacks); a
// removal takes the first exact match of name and path, letter case included.
TEST(QuarItem, SelectCopiesOnceAndRemoveTakesTheFirstExactMatch)
{
    QuarItem item;
    item.m_Files = {MakeLocation(L"a.txt", L"C:\\d"), MakeLocation(L"a.txt", L"C:\\e"),
                    MakeLocation(L"a.txt", L"C:\\d")};
    item.m_Files[0].sender = L"alice";
    item.m_Files[0].subject = std::wstring(2000, L's');
    item.m_Files[2].subject = L"third";
    auto fields = [](const QuarItemInfo& flat) {
        return std::wstring(flat.name) + L"|" + flat.path + L"|" + flat.sender + L"|" + flat.subject;
    };
    EXPECT_EQ(fields(item.SelectFile(0)), L"a.txt|C:\\d|alice|" + std::wstring(1023, L's'));
    wcscpy(item.name, L"changed");
    EXPECT_EQ(fields(item.SelectFile(0)).substr(0, 8), L"changed|");
    QuarItemInfo which = item.SelectFile(1); // the copy a restore keeps of its location
    EXPECT_EQ(fields(which), L"a.txt|C:\\e||");
    for (const wchar_t* path : {L"c:\\d", L"C:\\d"}) {
        wcscpy(which.path, path);
        EXPECT_EQ(item.RemoveFile(which), path[0] == L'C');
    }
    ASSERT_EQ(item.GetFileCount(), 2u);
    EXPECT_STREQ(item.m_Files[0].name, L"a.txt");
    EXPECT_EQ(std::wstring(item.m_Files[0].path) + *item.m_Files[1].subject, L"C:\\ethird");
}
