// The staging name a restore writes under before the file is verified.
#include "restore/StagingPath.h"
#include <gtest/gtest.h>
#include <string>

namespace {

std::wstring StagingOf(const std::wstring& folder, const std::wstring& name, bool* ok = nullptr,
                       size_t capacity = kStagingPathChars)
{
    wchar_t out[kStagingPathChars] = {L'x'};
    bool made = MakeStagingPath(folder.c_str(), name.c_str(), out, capacity);
    if (ok)
        *ok = made;
    return out;
}

} // namespace

TEST(MakeStagingPath, OneFixedNamePerLocationInItsOwnFolder)
{
    std::wstring a = StagingOf(L"C:\\D\\", L"a.txt");
    ASSERT_EQ(a.size(), 5u + 15u);
    EXPECT_EQ(a.substr(0, 8), L"C:\\D\\~vk");
    EXPECT_EQ(a.substr(16), L".tmp");
    EXPECT_EQ(a.find_first_not_of(L"0123456789ABCDEF", 8), 16u);
    // The same location always stages under the same name, so a later run finds it.
    EXPECT_EQ(StagingOf(L"C:\\D\\", L"a.txt"), a);
    EXPECT_EQ(StagingOf(L"C:\\E\\", L"a.txt").substr(5), a.substr(5));
    EXPECT_NE(StagingOf(L"C:\\D\\", L"b.txt"), a);
    EXPECT_NE(StagingOf(L"C:\\D\\", L"A.txt"), a);
}

TEST(MakeStagingPath, LongFormOnlyWhereMaxPathWouldBeReached)
{
    std::wstring fits = L"C:\\" + std::wstring(240, L'f') + L"\\";  // 244 + 15 = 259
    EXPECT_EQ(StagingOf(fits, L"n").substr(0, 4), L"C:\\f");
    std::wstring longer = fits.substr(0, 3) + L"g" + fits.substr(3);
    EXPECT_EQ(StagingOf(longer, L"n").substr(0, 8), L"\\\\?\\C:\\g");
    EXPECT_EQ(StagingOf(longer, L"n").size(), 4u + longer.size() + 15u);

    std::wstring unc = L"\\\\server\\share\\" + std::wstring(240, L'u') + L"\\";
    EXPECT_EQ(StagingOf(unc, L"n").substr(0, 20), L"\\\\?\\UNC\\server\\share");
    std::wstring already = L"\\\\?\\C:\\" + std::wstring(250, L'l') + L"\\";
    EXPECT_EQ(StagingOf(already, L"n").substr(0, already.size()), already);
}

TEST(MakeStagingPath, RefusesWhatDoesNotFit)
{
    bool ok = true;
    EXPECT_EQ(StagingOf(L"C:\\D\\", L"a.txt", &ok, 20), L"");
    EXPECT_FALSE(ok);
    EXPECT_EQ(StagingOf(L"C:\\D\\", L"a.txt", &ok, 21).size(), 20u);
    EXPECT_TRUE(ok);
    wchar_t out[4] = {L'x'};
    EXPECT_FALSE(MakeStagingPath(nullptr, L"a", out, 4));
    EXPECT_EQ(out[0], L'\0');
}
