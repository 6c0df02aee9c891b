// The payload path beside an index file.
#include "restore/PayloadPath.h"
#include <gtest/gtest.h>
#include <string>

namespace {

std::wstring PayloadOf(const std::wstring& index, bool* ok = nullptr)
{
    wchar_t out[kPayloadPathChars] = {L'x'};
    bool made = MakePayloadPath(index.c_str(), out, kPayloadPathChars);
    if (ok)
        *ok = made;
    return out;
}

} // namespace

TEST(MakePayloadPath, ReplacesFromTheLastDotWhereverItStands)
{
    EXPECT_EQ(PayloadOf(L"C:\\Q\\A1.xml"), L"C:\\Q\\A1.cvq");
    EXPECT_EQ(PayloadOf(L"C:\\Q.d\\A1"), L"C:\\Q.cvq");
    EXPECT_EQ(PayloadOf(L"C:\\Q\\A1.old.xml"), L"C:\\Q\\A1.old.cvq");
    EXPECT_EQ(PayloadOf(L"C:\\Q\\A1."), L"C:\\Q\\A1.cvq");
}

TEST(MakePayloadPath, RefusesNoDotAndAnOverlongResult)
{
    bool ok = true;
    EXPECT_EQ(PayloadOf(L"C:\\Q\\A1", &ok), L"");
    EXPECT_FALSE(ok);
    EXPECT_FALSE(MakePayloadPath(nullptr, nullptr, 0));

    // 257 characters before the dot + ".cvq" = 261: fits; one more does not.
    std::wstring fits = std::wstring(257, L'a') + L".xml";
    EXPECT_EQ(PayloadOf(fits, &ok), std::wstring(257, L'a') + L".cvq");
    EXPECT_TRUE(ok);
    EXPECT_EQ(PayloadOf(L"b" + fits, &ok), L"");
    EXPECT_FALSE(ok);
}
