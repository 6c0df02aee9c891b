// Path joining, splitting and name comparison of the repair run.
#include "app/PathText.h"
#include <gtest/gtest.h>
#include <string>

namespace {

std::wstring Joined(std::wstring folder, const wchar_t* tail)
{
    return AppendPath(folder, tail);
}

} // namespace

TEST(AppendPath, JoinsWithExactlyOneBackslash)
{
    EXPECT_EQ(Joined(L"C:\\CV", L"cvhost.exe"), L"C:\\CV\\cvhost.exe");
    EXPECT_EQ(Joined(L"C:\\CV\\", L"cvhost.exe"), L"C:\\CV\\cvhost.exe");
    EXPECT_EQ(Joined(L"C:\\CV\\", L"\\cvhost.exe"), L"C:\\CV\\cvhost.exe");
    EXPECT_EQ(Joined(L"C:\\CV/", L"/sub"), L"C:\\CV\\sub");
    // only one separator is dropped on either side
    EXPECT_EQ(Joined(L"C:\\CV\\\\", L"x"), L"C:\\CV\\\\x");
    EXPECT_EQ(Joined(L"C:\\CV", L"\\\\x"), L"C:\\CV\\\\x");
}

TEST(AppendPath, TurnsSlashesIntoBackslashesAndKeepsTheTailsOwnSeparator)
{
    EXPECT_EQ(Joined(L"C:/Program Files/", L"Corvanta/Corvanta Suite/"),
              L"C:\\Program Files\\Corvanta\\Corvanta Suite\\");
    EXPECT_EQ(Joined(L"C:\\Program Files", L"Corvanta\\Corvanta Scan Kernel\\"),
              L"C:\\Program Files\\Corvanta\\Corvanta Scan Kernel\\");
}

TEST(AppendPath, EmptyStringOrTail)
{
    EXPECT_EQ(Joined(L"", L"tail"), L"\\tail");
    EXPECT_EQ(Joined(L"", L"\\tail"), L"\\tail");
    EXPECT_EQ(Joined(L"C:\\CV", L""), L"C:\\CV\\");
    EXPECT_EQ(Joined(L"\\", L"x"), L"\\x");
}

TEST(AppendPath, StoresIntoTheStringAndReturnsIt)
{
    std::wstring s = L"C:\\a";
    std::wstring& r = AppendPath(s, L"b");
    EXPECT_EQ(&r, &s);
    EXPECT_EQ(s, L"C:\\a\\b");
}

TEST(AppendPath, ResultIsCutAt259CharactersAndFitsSaysSo)
{
    std::wstring folder(250, L'a');
    EXPECT_TRUE(AppendPathFits(folder, L"12345678"));           // 250 + 1 + 8 = 259
    EXPECT_FALSE(AppendPathFits(folder, L"123456789"));         // 260
    EXPECT_TRUE(AppendPathFits(folder + L"\\", L"\\12345678")); // separators dropped first
    EXPECT_EQ(Joined(folder, L"12345678").size(), 259u);
    std::wstring cut = Joined(folder, L"123456789xyz");
    EXPECT_EQ(cut, folder + L"\\12345678");
}

TEST(FileNameOfPath, TextAfterTheLastSeparator)
{
    EXPECT_EQ(FileNameOfPath(L"C:\\CV\\cvhost.exe"), L"cvhost.exe");
    EXPECT_EQ(FileNameOfPath(L"C:/CV/cvhost.exe"), L"cvhost.exe");
    EXPECT_EQ(FileNameOfPath(L"C:\\CV/sub\\cvhost.exe -k"), L"cvhost.exe -k");
    EXPECT_EQ(FileNameOfPath(L"cvhost.exe"), L"cvhost.exe");
    EXPECT_EQ(FileNameOfPath(L""), L"");
}

TEST(FileNameOfPath, FirstCharacterIsNeverASeparatorAndATrailingOneGivesEmpty)
{
    EXPECT_EQ(FileNameOfPath(L"\\cvhost.exe"), L"\\cvhost.exe");
    EXPECT_EQ(FileNameOfPath(L"/"), L"/");
    EXPECT_EQ(FileNameOfPath(L"\\\\x"), L"x");
    EXPECT_EQ(FileNameOfPath(L"C:\\CV\\"), L"");
    EXPECT_EQ(FileNameOfPath(L"C:\\CV/"), L"");
}

TEST(FolderOfPath, TextBeforeTheSameSeparator)
{
    EXPECT_EQ(FolderOfPath(L"C:\\CV\\cvhost.exe"), L"C:\\CV");
    EXPECT_EQ(FolderOfPath(L"C:/CV/cvhost.exe"), L"C:/CV");
    EXPECT_EQ(FolderOfPath(L"C:\\CV\\"), L"C:\\CV");
    EXPECT_EQ(FolderOfPath(L"C:\\CV\\cvhost.exe -log C:\\Logs\\cv.log"),
              L"C:\\CV\\cvhost.exe -log C:\\Logs");
    EXPECT_EQ(FolderOfPath(L"cvhost.exe"), L"");
    EXPECT_EQ(FolderOfPath(L"\\cvhost.exe"), L"");
    EXPECT_EQ(FolderOfPath(L""), L"");
}

TEST(NameEqualsNoCase, FoldsOnlyAToZOverTheWholeText)
{
    EXPECT_TRUE(NameEqualsNoCase(L"CVHOST.EXE", L"cvhost.exe"));
    EXPECT_TRUE(NameEqualsNoCase(L"Trojan.FakeAlert.5", L"trojan.fakealert.5"));
    EXPECT_TRUE(NameEqualsNoCase(L"", L""));
    EXPECT_FALSE(NameEqualsNoCase(L"\x00C9t\x00C9", L"\x00E9t\x00E9")); // É, é
    EXPECT_FALSE(NameEqualsNoCase(L"[", L"{")); // neighbours of A-Z are not letters
    EXPECT_FALSE(NameEqualsNoCase(L"@", L"`"));
    EXPECT_FALSE(NameEqualsNoCase(L"cvhost.exe", L"cvhost.exe.bak"));
    EXPECT_FALSE(NameEqualsNoCase(L"cvhost.exe.bak", L"CVHOST.EXE"));
    EXPECT_FALSE(NameEqualsNoCase(L"cvhost.ex", L"cvhost.exe"));
    EXPECT_FALSE(NameEqualsNoCase(L"", L"x"));
}
