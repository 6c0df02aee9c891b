// Selecting a location into the flat part and removing locations.
#include "quarantine/QuarItem.h"
#include "tests/quarantine/IndexSamples.h"
#include <gtest/gtest.h>
#include <cwchar>

namespace {

std::wstring MailFields(const QuarItemInfo& flat)
{
    return std::wstring(flat.name) + L"|" + flat.path + L"|" + flat.sender + L"|" +
           flat.receiver + L"|" + flat.subject + L"|" + flat.mailfname;
}

} // namespace

TEST(QuarItemSelect, CopiesOnceAndClearsWhatTheNextLocationLacks)
{
    QuarItem item;
    item.size = 99;
    QuarFileEntry first = MakeLocation(L"one.eml", L"C:\\mail");
    first.sender = L"alice";
    first.receiver = L"bob";
    first.subject = std::wstring(2000, L's'); // longer than the flat field
    first.mailfname = L"m1";
    first.attr = 0x20;
    first.crt = 11;
    first.dtime = 14;
    first.sec_str = std::vector<uint8_t>{'Q', 'U', 0};
    first.sec_str_len = 3;
    item.m_Files.push_back(first);
    item.m_Files.push_back(MakeLocation(L"two.txt", L"C:\\docs")); // no strings at all

    QuarItemInfo& flat = item.SelectFile(0);
    EXPECT_EQ(&flat, static_cast<QuarItemInfo*>(&item));
    EXPECT_EQ(item.m_nSelected, 0);
    EXPECT_EQ(MailFields(flat), L"one.eml|C:\\mail|alice|bob|" + std::wstring(1023, L's') + L"|m1");
    EXPECT_EQ(flat.attr + flat.crt + flat.dtime, 0x20 + 11 + 14);
    EXPECT_EQ(flat.sec_str, first.sec_str);
    EXPECT_EQ(flat.sec_str_len, 3);
    EXPECT_EQ(flat.size, 99); // item-wide fields untouched
    EXPECT_EQ(item.m_Files[0].subject->size(), 2000u);

    // Re-selecting keeps what the caller changed; another location is copied afresh.
    wcscpy(item.name, L"changed");
    EXPECT_STREQ(item.SelectFile(0).name, L"changed");
    QuarItemInfo& second = item.SelectFile(1);
    EXPECT_EQ(MailFields(second), L"two.txt|C:\\docs||||");
    EXPECT_FALSE(second.sec_str.has_value());
    EXPECT_EQ(second.sec_str_len + second.dtime + second.crt, 0);
    EXPECT_STREQ(item.SelectFile(0).name, L"one.eml");
}

TEST(QuarItemRemove, FirstExactMatchOnlyAndTheRestKeepTheirStrings)
{
    QuarItem item;
    QuarFileEntry twin = MakeLocation(L"a.txt", L"C:\\d");
    twin.subject = L"first";
    item.m_Files.push_back(twin);
    twin.subject = L"second";
    twin.sender = L"";
    item.m_Files.push_back(twin);
    item.m_Files.push_back(MakeLocation(L"b.txt", L"C:\\d"));
    item.SelectFile(0);

    QuarItemInfo which = item; // the copy a restore keeps of its selected location
    wcscpy(which.path, L"c:\\d"); // differs only in letter case
    EXPECT_FALSE(item.RemoveFile(which));
    wcscpy(which.name, L"A.TXT");
    wcscpy(which.path, L"C:\\d");
    EXPECT_FALSE(item.RemoveFile(which));
    EXPECT_EQ(item.GetFileCount(), 3u);

    wcscpy(which.name, L"a.txt");
    EXPECT_TRUE(item.RemoveFile(which));
    ASSERT_EQ(item.GetFileCount(), 2u);
    EXPECT_EQ(item.m_Files[0].subject, std::wstring(L"second"));
    EXPECT_EQ(item.m_Files[0].sender, std::wstring(L""));
    EXPECT_FALSE(item.m_Files[1].subject.has_value());
    EXPECT_STREQ(item.m_Files[1].name, L"b.txt");
    EXPECT_EQ(item.m_nSelected, 0); // removing leaves the selection to the caller
    EXPECT_STREQ(item.name, L"a.txt");
}
