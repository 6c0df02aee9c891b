// Path joining, splitting and name comparison of the repair run.
#include "app/PathText.h"
#include <gtest/gtest.h>
#include <string>

// One backslash between folder and tail, into 259 characters; a split at the last backslash or
// slash, never at the first character; names equal with only A-Z folded, over the whole text.
TEST(PathText, JoinSplitAndCompare)
{
    const std::wstring a250(250, L'a');
    const std::tuple<std::wstring, std::wstring, std::wstring, bool> joins[] = {
        {L"C:\\CV\\", L"\\cvhost.exe", L"C:\\CV\\cvhost.exe", true},
        {L"C:\\CV/", L"/sub", L"C:\\CV\\sub", true},
        {L"C:\\CV\\\\", L"x", L"C:\\CV\\\\x", true}, // one separator only, on each side
        {L"", L"tail", L"\\tail", true},
        {a250 + L"\\", L"\\12345678", a250 + L"\\12345678", true},
        {a250, L"123456789xyz", a250 + L"\\12345678", false},
    };
    for (const auto& [folder, tail, joined, fits] : joins) {
        std::wstring str = folder;
        EXPECT_EQ(&AppendPath(str, tail.c_str()), &str);
        EXPECT_EQ(str, joined);
        EXPECT_EQ(AppendPathFits(folder, tail.c_str()), fits) << folder.size();
    }
    const std::wstring splits[][3] = { // path, file name, folder
        {L"C:\\CV/sub\\cvhost.exe -k", L"cvhost.exe -k", L"C:\\CV/sub"},
        {L"cvhost.exe", L"cvhost.exe", L""},
        {L"\\cvhost.exe", L"\\cvhost.exe", L""},
        {L"\\\\x", L"x", L"\\"},
    };
    for (const auto& c : splits)
        EXPECT_EQ(FileNameOfPath(c[0]) + L"|" + FolderOfPath(c[0]), c[1] + L"|" + c[2]);
    const std::tuple<const wchar_t*, const wchar_t*, bool> names[] = {
        {L"Trojan.FakeAlert.5", L"trojan.fakealert.5", true},
        {L"\x00C9t\x00C9", L"\x00E9t\x00E9", false}, // É, é
        {L"[", L"{", false},                         // the neighbours of A-Z are no letters
        {L"@", L"`", false},
        {L"cvhost.exe", L"cvhost.exe.bak", false},
    };
    for (const auto& [a, b, equal] : names)
        EXPECT_EQ(NameEqualsNoCase(a, b), equal) << b[0];
}
