// Where a restore reads and writes besides the destination: payload and staging paths.
#include "restore/PayloadPath.h"
#include "restore/StagingPath.h"
#include <gtest/gtest.h>
#include <string>

// The extension is replaced from the last dot; no dot, or no room, gives nothing.
TEST(MakePayloadPath, ReplacesFromTheLastDotOrRefuses)
{
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"C:\\Q\\A1.xml", L"C:\\Q\\A1.cvq"},      {L"C:\\Q.d\\A1", L"C:\\Q.cvq"},
        {L"C:\\Q\\A1.old.xml", L"C:\\Q\\A1.old.cvq"}, {L"C:\\Q\\A1.", L"C:\\Q\\A1.cvq"},
        {L"C:\\Q\\A1", L""},
        {std::wstring(257, L'a') + L".xml", std::wstring(257, L'a') + L".cvq"},  // 261: fits
        {std::wstring(258, L'a') + L".xml", L""},
    };
    for (const auto& [index, payload] : cases) {
        wchar_t out[kPayloadPathChars] = {L'x'};
        EXPECT_EQ(MakePayloadPath(index.c_str(), out, kPayloadPathChars), !payload.empty()) << index;
        EXPECT_EQ(out, payload);
    }
    EXPECT_FALSE(MakePayloadPath(nullptr, nullptr, 0));
}

// One fixed name per location, "~vk" + 8 hex digits + ".tmp"; the long form only from MAX_PATH on.
TEST(MakeStagingPath, OneFixedNamePerLocationInItsOwnFolder)
{
    auto staging = [](const std::wstring& folder, const std::wstring& name,
                      size_t capacity = kStagingPathChars) {
        wchar_t out[kStagingPathChars] = {L'x'};
        bool made = MakeStagingPath(folder.c_str(), name.c_str(), out, capacity);
        EXPECT_EQ(made, out[0] != L'\0');
        return std::wstring(out);
    };
    std::wstring a = staging(L"C:\\D\\", L"a.txt");
    ASSERT_EQ(a.size(), 20u);
    EXPECT_EQ(a.substr(0, 8) + a.substr(16), L"C:\\D\\~vk.tmp");
    EXPECT_EQ(a.find_first_not_of(L"0123456789ABCDEF", 8), 16u);
    EXPECT_EQ(staging(L"C:\\E\\", L"a.txt").substr(5), a.substr(5));
    EXPECT_NE(staging(L"C:\\D\\", L"A.txt"), a);
    EXPECT_EQ(staging(L"C:\\D\\", L"a.txt", 21), a);
    EXPECT_EQ(staging(L"C:\\D\\", L"a.txt", 20), L"");

    std::wstring fits = L"C:\\" + std::wstring(240, L'f') + L"\\";  // 244 + 15 = 259
    EXPECT_EQ(staging(fits, L"n").substr(0, 4), L"C:\\f");
    std::wstring longer = L"C:\\g" + fits.substr(3);
    EXPECT_EQ(staging(longer, L"n"), L"\\\\?\\" + longer + staging(longer.substr(0, 3), L"n").substr(3));
    std::wstring unc = L"\\\\server\\share\\" + std::wstring(240, L'u') + L"\\";
    EXPECT_EQ(staging(unc, L"n").substr(0, 20), L"\\\\?\\UNC\\server\\share");
    std::wstring already = L"\\\\?\\C:\\" + std::wstring(250, L'l') + L"\\";
    EXPECT_EQ(staging(already, L"n").substr(0, already.size()), already);
}
