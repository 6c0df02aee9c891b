// Path joining, splitting and name comparison of the repair run.
#include "app/PathText.h"
#include <gtest/gtest.h>
#include <string>

TEST(PathText, AppendPathJoinsWithExactlyOneBackslashInto259Characters)
{
    const std::wstring a250(250, L'a');
    struct Case
    {
        std::wstring folder, tail, joined;
        bool fits;
    };
    const Case cases[] = {
        {L"C:\\CV", L"cvhost.exe", L"C:\\CV\\cvhost.exe", true},
        {L"C:\\CV\\", L"\\cvhost.exe", L"C:\\CV\\cvhost.exe", true},
        {L"C:\\CV/", L"/sub", L"C:\\CV\\sub", true},
        {L"C:\\CV\\\\", L"x", L"C:\\CV\\\\x", true}, // one separator only, on each side
        {L"", L"tail", L"\\tail", true},
        {a250, L"12345678", a250 + L"\\12345678", true},
        {a250 + L"\\", L"\\12345678", a250 + L"\\12345678", true},
        {a250, L"123456789xyz", a250 + L"\\12345678", false},
    };
    for (const Case& c : cases) {
        std::wstring str = c.folder;
        EXPECT_EQ(&AppendPath(str, c.tail.c_str()), &str);
        EXPECT_EQ(str, c.joined);
        EXPECT_EQ(AppendPathFits(c.folder, c.tail.c_str()), c.fits) << c.folder.size();
    }
}

// The last backslash or slash, but never the first character.
TEST(PathText, FileNameAndFolderSplitAtTheLastSeparator)
{
    const std::wstring cases[][3] = { // path, file name, folder
        {L"C:\\CV\\cvhost.exe", L"cvhost.exe", L"C:\\CV"},
        {L"C:\\CV/sub\\cvhost.exe -k", L"cvhost.exe -k", L"C:\\CV/sub"},
        {L"C:\\CV\\cvhost.exe -k C:\\Logs\\cv.log", L"cv.log", L"C:\\CV\\cvhost.exe -k C:\\Logs"},
        {L"cvhost.exe", L"cvhost.exe", L""},
        {L"", L"", L""},
        {L"\\cvhost.exe", L"\\cvhost.exe", L""},
        {L"\\\\x", L"x", L"\\"},
        {L"C:\\CV\\", L"", L"C:\\CV"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FileNameOfPath(c[0]), c[1]) << c[0].size();
        EXPECT_EQ(FolderOfPath(c[0]), c[2]) << c[0].size();
    }
}

TEST(PathText, NameEqualsNoCaseFoldsOnlyAToZOverTheWholeText)
{
    struct Case
    {
        const wchar_t *a, *b;
        bool equal;
    };
    const Case cases[] = {
        {L"CVHOST.EXE", L"cvhost.exe", true},
        {L"Trojan.FakeAlert.5", L"trojan.fakealert.5", true},
        {L"", L"", true},
        {L"\x00C9t\x00C9", L"\x00E9t\x00E9", false}, // É, é
        {L"[", L"{", false}, // the neighbours of A-Z are no letters
        {L"@", L"`", false},
        {L"cvhost.exe", L"cvhost.exe.bak", false},
        {L"", L"x", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(NameEqualsNoCase(c.a, c.b), c.equal) << c.b[0];
}
