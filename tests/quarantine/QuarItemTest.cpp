// Selecting a location into the flat part and removing locations.
#include "quarantine/QuarItem.h"
#include "tests/quarantine/IndexSamples.h"
#include <gtest/gtest.h>

namespace {

QuarItem ItemWithMail()
{
    QuarItem item;
    QuarFileEntry first = MakeLocation(L"one.eml", L"C:\\mail");
    first.sender = L"alice";
    first.receiver = L"bob";
    first.subject = L"hello";
    first.mailfname = L"m1";
    first.attr = 0x20;
    first.crt = 11;
    first.lat = 12;
    first.lwt = 13;
    first.dtime = 14;
    first.sec_str = std::vector<uint8_t>{'Q', 'U', 0};
    first.sec_str_len = 3;
    item.m_Files.push_back(first);
    item.m_Files.push_back(MakeLocation(L"two.txt", L"C:\\docs")); // no strings at all
    item.size = 99;
    item.hash = L"H";
    item.dflags = 8;
    return item;
}

} // namespace

TEST(QuarItemSelect, CopiesOnceAndClearsWhatTheNextLocationLacks)
{
    QuarItem item = ItemWithMail();
    QuarItemInfo& flat = item.SelectFile(0);
    EXPECT_EQ(&flat, static_cast<QuarItemInfo*>(&item));
    EXPECT_EQ(item.m_nSelected, 0);
    EXPECT_EQ(std::wstring(flat.name) + L"|" + flat.path + L"|" + flat.sender + L"|" + flat.receiver +
                  L"|" + flat.subject + L"|" + flat.mailfname,
              L"one.eml|C:\\mail|alice|bob|hello|m1");
    EXPECT_EQ(flat.attr, 0x20u);
    EXPECT_EQ(flat.crt + flat.lat + flat.lwt + flat.dtime, 11 + 12 + 13 + 14);
    EXPECT_EQ(flat.sec_str, (std::vector<uint8_t>{'Q', 'U', 0}));
    EXPECT_EQ(flat.sec_str_len, 3);
    EXPECT_EQ(flat.size + flat.dflags, 99 + 8); // item-wide fields untouched

    wcscpy(item.name, L"changed");
    EXPECT_STREQ(item.SelectFile(0).name, L"changed");

    QuarItemInfo& second = item.SelectFile(1);
    EXPECT_EQ(std::wstring(second.name) + second.sender + second.receiver + second.subject +
                  second.mailfname,
              L"two.txt");
    EXPECT_FALSE(second.sec_str.has_value());
    EXPECT_EQ(second.sec_str_len + second.dtime, 0);
    EXPECT_STREQ(item.SelectFile(0).name, L"one.eml"); // copied afresh
}

TEST(QuarItemSelect, LongTextsAreCutToTheFlatFieldsOnly)
{
    QuarItem item;
    QuarFileEntry entry = MakeLocation(L"n", L"p");
    entry.subject = std::wstring(2000, L's');
    entry.sender = std::wstring(600, L'f');
    entry.mailfname = std::wstring(200, L'm');
    item.m_Files.push_back(entry);
    QuarItemInfo& flat = item.SelectFile(0);
    EXPECT_EQ(std::wstring(flat.subject), std::wstring(1023, L's'));
    EXPECT_EQ(std::wstring(flat.sender), std::wstring(511, L'f'));
    EXPECT_EQ(std::wstring(flat.mailfname), std::wstring(127, L'm'));
    EXPECT_EQ(item.m_Files[0].subject->size(), 2000u);
}

TEST(QuarItemRemove, FirstExactMatchOnly)
{
    QuarItem item;
    QuarFileEntry twin = MakeLocation(L"a.txt", L"C:\\d");
    twin.subject = L"first";
    item.m_Files.push_back(twin);
    twin.subject = L"second";
    item.m_Files.push_back(twin);
    item.m_Files.push_back(MakeLocation(L"b.txt", L"C:\\d"));

    QuarItemInfo which;
    wcscpy(which.name, L"a.txt");
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
    EXPECT_STREQ(item.m_Files[1].name, L"b.txt");
}

TEST(QuarItemRemove, LaterLocationsKeepTheirOwnStringsAndTheSelection)
{
    QuarItem item;
    item.m_Files.push_back(MakeLocation(L"1", L"p"));
    QuarFileEntry second = MakeLocation(L"2", L"p");
    second.sender = L"";
    item.m_Files.push_back(second);
    QuarFileEntry third = MakeLocation(L"3", L"p");
    third.subject = L"s3";
    item.m_Files.push_back(third);
    item.SelectFile(0);

    QuarItemInfo which = item; // the copy a restore keeps of its selected location
    EXPECT_TRUE(item.RemoveFile(which));
    ASSERT_EQ(item.GetFileCount(), 2u);
    EXPECT_EQ(item.m_Files[0].sender, std::wstring(L""));
    EXPECT_FALSE(item.m_Files[0].subject.has_value());
    EXPECT_FALSE(item.m_Files[1].sender.has_value());
    EXPECT_EQ(item.m_Files[1].subject, std::wstring(L"s3"));
    EXPECT_EQ(item.m_nSelected, 0);
    EXPECT_STREQ(item.name, L"1");
}
