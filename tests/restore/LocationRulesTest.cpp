// What a location may name: file names and folders accepted and refused; final paths lose the prefix.
#include "restore/LocationRules.h"
#include <gtest/gtest.h>

TEST(LocationRules, FileNames)
{
    const wchar_t* plain[] = {
        L"a.txt", L"invoice.doc", L"setup.exe", L"~vk.tmp", L".profile", L"a..b", L"con1.txt",
        L"CONSOLE", L"COMA", L"COM10", L"LPT", L"NULL.txt", L"CONIN", L"AUXILIARY", L"x.con",
        L"r\x00E9sum\x00E9.pdf", L"C$", L"a b.txt", L"name with . inside"};
    for (const wchar_t* name : plain)
        EXPECT_TRUE(IsPlainFileName(name)) << name;

    const wchar_t* refused[] = {
        // empty, paths, drives and streams
        L"", L"..\\..\\windows\\dotdot.dll", L"sub/evil.dll", L"sub\\evil.dll", L"C:evil.dll",
        L"a.txt:stream", L"a.txt::$DATA",
        // dots and blanks that Windows drops or reads as folders
        L".", L"..", L"...", L"a.txt.", L"a.txt ", L"CON.", L"nul ",
        // characters Windows refuses, wildcards, control characters
        L"a<b", L"a>b", L"a\"b", L"a|b", L"a?b", L"a*b", L"a\tb", L"a\x0001",
        // device names in any case, with or without an extension, blanks before the dot
        L"CON", L"con", L"Con", L"PRN", L"aux", L"NUL", L"nul.txt", L"CON.txt", L"CON .txt",
        L"con.tar.gz", L"COM1", L"com9", L"COM0", L"lpt1.txt", L"LPT9", L"LPT0.log",
        L"COM\x00B9", L"lpt\x00B2.txt", L"COM\x00B3", L"CONIN$", L"conout$", L"CONOUT$.txt",
        // letters that fold onto the ASCII ones
        L"CON\x0131N$", L"cONIN$"};
    for (const wchar_t* name : refused)
        EXPECT_FALSE(IsPlainFileName(name)) << name;
    EXPECT_FALSE(IsPlainFileName(nullptr));
}

TEST(LocationRules, Folders)
{
    const wchar_t* full[] = {
        L"C:\\", L"c:\\Users\\Public\\Downloads", L"D:\\dir\\", L"Z:\\a b\\c.d",
        L"\\\\server\\share", L"\\\\server\\share\\", L"\\\\srv.example\\C$\\dir",
        L"\\\\?\\C:\\dir", L"\\\\?\\C:\\", L"\\\\?\\UNC\\server\\share\\dir", L"\\\\?\\unc\\server\\share"};
    for (const wchar_t* path : full)
        EXPECT_TRUE(IsFullFolderPath(path)) << path;

    const wchar_t* refused[] = {
        // empty, relative, drive-relative, rooted without a drive
        L"", L"relative\\dir", L".", L"..\\..\\windows", L"C:", L"C:dir", L"\\dir", L"\\",
        // components that lead elsewhere or that Windows rewrites
        L"C:\\a\\..\\windows", L"C:\\a\\.\\b", L"C:\\a\\\\b", L"C:\\a.\\b", L"C:\\a \\b",
        L"C:\\a/b", L"C:/a", L"C:\\a:stream", L"C:\\a\\CON\\b", L"C:\\a*",
        // no share, the device namespace, other long forms
        L"\\\\server", L"\\\\server\\", L"\\\\\\share", L"\\\\.\\C:\\dir", L"\\\\.\\pipe\\x",
        L"\\\\?\\", L"\\\\?\\C:", L"\\\\?\\UNC\\server", L"\\\\?\\GLOBALROOT\\Device\\x",
        L"\\??\\C:\\dir", L"1:\\dir"};
    for (const wchar_t* path : refused)
        EXPECT_FALSE(IsFullFolderPath(path)) << path;
    EXPECT_FALSE(IsFullFolderPath(nullptr));
}

TEST(LocationRules, FinalPathsLoseTheLongPathPrefix)
{
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"\\\\?\\C:\\dir\\f", L"C:\\dir\\f"},
        {L"\\\\?\\UNC\\server\\share\\f", L"\\\\server\\share\\f"},
        {L"\\\\?\\unc\\server\\share", L"\\\\server\\share"},
        {L"C:\\dir\\f", L"C:\\dir\\f"},
        {L"\\\\server\\share", L"\\\\server\\share"},
        {L"\\\\.\\C:\\f", L"\\\\.\\C:\\f"},
    };
    for (const auto& [path, spelled] : cases)
        EXPECT_EQ(WithoutLongPrefix(path), spelled) << path;
}
