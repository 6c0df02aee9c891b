// The engine file's removal below a folder (real folders under Wine, and a fake search
// for what a real disk cannot show), the silent shell delete and the registry value.
#include "app/Cleanup.h"
#include "app/PathText.h"
#include "platform/Utf8.h"
#include "tests/app/AppTestSupport.h"
#include "tests/support/TestFiles.h"
#include <functional>

namespace {

const std::wstring kTag = L"RemoveFileRec";

// SHFileOperationW recorded: its source list up to the double zero ("|" for an inner zero),
// or "(not silent)" when it could show anything or go to the recycle bin.
class CShellRecorder
{
public:
    explicit CShellRecorder(int result = 0)
        : m_hook([this, result](LPSHFILEOPSTRUCTW op) -> int {
              std::wstring from;
              for (const wchar_t* p = op->pFrom; p[0] || p[1]; ++p)
                  from += p[0] ? p[0] : L'|';
              bool silent = !op->hwnd && op->wFunc == FO_DELETE && !op->pTo &&
                            op->fFlags == (FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI);
              m_From.push_back(silent ? from : L"(not silent)");
              return result;
          })
    {
    }
    std::vector<std::wstring> m_From;

private:
    CSysHook<&CSysCalls::SHFileOperationW> m_hook;
};

WIN32_FIND_DATAW Entry(const std::wstring& name, DWORD attributes = FILE_ATTRIBUTE_ARCHIVE)
{
    WIN32_FIND_DATAW e = {};
    e.dwFileAttributes = attributes;
    wcsncpy(e.cFileName, name.c_str(), MAX_PATH - 1);
    return e;
}

// A folder search answered from a function of the pattern; an empty answer is a folder
// that cannot be searched.
class CFakeFind
{
public:
    using Listing = std::function<std::vector<WIN32_FIND_DATAW>(const std::wstring&)>;
    explicit CFakeFind(Listing listing) : m_Listing(std::move(listing)) {}
    bool AllClosed() const { return m_Open.empty() && m_nStrayCloses == 0; }
    std::vector<std::wstring> m_Patterns;

private:
    Listing m_Listing;
    std::map<HANDLE, std::pair<std::vector<WIN32_FIND_DATAW>, size_t>> m_Open;
    uintptr_t m_uNext = 0x6B000000;
    int m_nStrayCloses = 0;
    BOOL Advance(HANDLE h, LPWIN32_FIND_DATAW data)
    {
        auto it = m_Open.find(h);
        if (it == m_Open.end() || it->second.second >= it->second.first.size()) {
            g_Sys.SetLastError(ERROR_NO_MORE_FILES);
            return FALSE;
        }
        *data = it->second.first[it->second.second++];
        return TRUE;
    }

    CSysHook<&CSysCalls::FindFirstFileW> m_first{
        [this](LPCWSTR pattern, LPWIN32_FIND_DATAW data) -> HANDLE {
            m_Patterns.push_back(pattern);
            HANDLE h = reinterpret_cast<HANDLE>(m_uNext += 4);
            m_Open[h] = {m_Listing(pattern), 0};
            if (Advance(h, data))
                return h;
            m_Open.erase(h);
            return INVALID_HANDLE_VALUE;
        }};
    CSysHook<&CSysCalls::FindNextFileW> m_next{
        [this](HANDLE h, LPWIN32_FIND_DATAW data) { return Advance(h, data); }};
    CSysHook<&CSysCalls::FindClose> m_close{[this](HANDLE h) -> BOOL {
        m_nStrayCloses += m_Open.count(h) ? 0 : 1;
        return m_Open.erase(h) > 0;
    }};
};

class CleanupTest : public AppTest
{
protected:
    std::wstring Make(const std::wstring& relative, bool folder = false)
    {
        std::wstring path = m_Dir.Join(relative);
        EXPECT_TRUE(folder ? CreateDirectoryW(path.c_str(), nullptr) : WriteFileBytes(path, "x"));
        return path;
    }
    std::wstring Root() const { return m_Dir.Path() + L"\\"; }

    CTempDir m_Dir;
};

} // namespace

TEST_F(CleanupTest, EngineFileIsDeletedWhereverItLiesAndOnlyWholeNamesMatch)
{
    Make(L"sub", true);
    Make(L"sub2", true);
    Make(L"sub2\\cvheur.xr0", true);
    const std::wstring top = Make(L"cvheur.xr0"), nested = Make(L"sub\\CVHEUR.XR0");
    const std::wstring keep[] = {Make(L"cvheur.xr0.bak"), Make(L"xcvheur.xr0"),
                                 Make(L"sub2\\cvheur.xr0\\other.txt")};
    SetFileAttributesW(top.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    EXPECT_EQ(RemoveFileRec(L"cvheur.xr0", Root()), 2);
    EXPECT_FALSE(FileExists(top) || FileExists(nested));
    for (const std::wstring& k : keep)
        EXPECT_TRUE(FileExists(k)) << WideToUtf8(k);

    // Found in search order, which the disk chooses: compared as a set of line pairs.
    std::vector<std::wstring> m = Messages();
    ASSERT_EQ(m.size(), 5u);
    EXPECT_EQ(m[0], All(kTag, L"szFile=cvheur.xr0 szPath=" + Root()));
    std::set<std::wstring> pairs = {m[1] + L"|" + m[2], m[3] + L"|" + m[4]};
    EXPECT_EQ(pairs, (std::set<std::wstring>{
                         All(kTag, L"Found file " + top) + L"|" + All(kTag, L"Delete file " + top + L" ok"),
                         All(kTag, L"Found file " + nested) + L"|" +
                             All(kTag, L"Delete file " + nested + L" ok")}));
}

// A file the shell cannot delete (held open, or no rights as the shell says) is logged and
// still counted; an empty or missing folder gives 0; an unknown one is not searched at all.
TEST_F(CleanupTest, FailuresAndFoldersWithNothingToFind)
{
    const std::wstring locked = Make(L"cvheur.xr0");
    HANDLE h = CreateFileW(locked.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(RemoveFileRec(L"cvheur.xr0", Root()), 1);
    CloseHandle(h);
    EXPECT_TRUE(FileExists(locked));
    {
        CShellRecorder noRights(ERROR_ACCESS_DENIED);
        EXPECT_EQ(RemoveFileRec(L"cvheur.xr0", Root()), 1);
    }
    Make(L"empty", true);
    EXPECT_EQ(RemoveFileRec(L"cvheur.xr0", m_Dir.Join(L"empty")), 0);
    EXPECT_EQ(RemoveFileRec(L"cvheur.xr0", m_Dir.Join(L"missing")), 0);
    CSysRecorder<&CSysCalls::FindFirstFileW> searches;
    EXPECT_EQ(RemoveFileRec(L"cvheur.xr0", L""), -1); // not "\*": the whole drive
    EXPECT_EQ(searches.Count(), 0u);
    const std::vector<std::wstring> failed = {All(kTag, L"szFile=cvheur.xr0 szPath=" + Root()),
                                              All(kTag, L"Found file " + locked),
                                              All(kTag, L"Cannot delete file " + locked)};
    std::vector<std::wstring> expected = failed;
    expected.insert(expected.end(), failed.begin(), failed.end());
    for (const wchar_t* folder : {L"\\empty", L"\\missing"})
        expected.push_back(All(kTag, L"szFile=cvheur.xr0 szPath=" + m_Dir.Path() + folder));
    expected.push_back(All(kTag, L"szFile=cvheur.xr0 szPath="));
    expected.push_back(Error(kTag, L"Folder unknown, nothing searched"));
    EXPECT_EQ(Messages(), expected);
}

// Depth first in search order, without dots and folder links; a tree without end (as a
// link back into it would look) stops; names that would not fit 259 characters are passed
// over, and the longest that fits is deleted.
TEST_F(CleanupTest, ListingOfAFakeTree)
{
    {
        CFakeFind find([](const std::wstring& pattern) -> std::vector<WIN32_FIND_DATAW> {
            const DWORD dir = FILE_ATTRIBUTE_DIRECTORY;
            if (pattern == L"C:\\r\\*")
                return {Entry(L".", dir), Entry(L"..", dir), Entry(L"a.txt"), Entry(L"sub", dir),
                        Entry(L"link", dir | FILE_ATTRIBUTE_REPARSE_POINT),
                        Entry(L"h.sys", FILE_ATTRIBUTE_HIDDEN), Entry(L"locked", dir)};
            if (pattern == L"C:\\r\\sub\\*")
                return {Entry(L".", dir), Entry(L"..", dir), Entry(L"c.txt")};
            return {}; // "locked" cannot be read
        });
        std::vector<std::wstring> files;
        ListFilesRec(files, L"C:/r/");
        EXPECT_EQ(files, (std::vector<std::wstring>{L"C:\\r\\a.txt", L"C:\\r\\sub\\c.txt",
                                                    L"C:\\r\\h.sys"}));
        EXPECT_EQ(find.m_Patterns, (std::vector<std::wstring>{L"C:\\r\\*", L"C:\\r\\sub\\*",
                                                              L"C:\\r\\locked\\*"}));
        EXPECT_TRUE(find.AllClosed());
    }
    {
        CFakeFind endless([](const std::wstring&) -> std::vector<WIN32_FIND_DATAW> {
            return {Entry(L"d", FILE_ATTRIBUTE_DIRECTORY), Entry(L"f")};
        });
        std::vector<std::wstring> files;
        ListFilesRec(files, L"C:\\r");
        EXPECT_GE(files.size(), 32u);  // deep folders are still listed
        EXPECT_LT(files.size(), 120u); // the name length alone would stop at 128 levels
        EXPECT_TRUE(endless.AllClosed());
    }
    // A name cut to fit would be another file's: "cvheur.xr01" would become "cvheur.xr0".
    const std::wstring folder = L"C:\\" + std::wstring(245, L'r'); // + "\cvheur.xr0": 259
    CFakeFind find([&](const std::wstring& pattern) -> std::vector<WIN32_FIND_DATAW> {
        if (pattern != folder + L"\\*")
            return {};
        return {Entry(L"cvheur.xr0"), Entry(L"cvheur.xr01"),
                Entry(std::wstring(9, L'd'), FILE_ATTRIBUTE_DIRECTORY)};
    });
    CShellRecorder shell;
    EXPECT_EQ(RemoveFileRec(L"cvheur.xr0", folder), 1);
    EXPECT_EQ(shell.m_From, std::vector<std::wstring>{folder + L"\\cvheur.xr0"});
    EXPECT_EQ(find.m_Patterns.size(), 1u) << "the subfolder's pattern would need 260 characters";
    EXPECT_EQ(Messages().back(), All(kTag, L"Delete file " + folder + L"\\cvheur.xr0 ok"));
}

TEST_F(CleanupTest, ShellDeleteSendsOneSilentDeleteWithADoubleZeroList)
{
    CShellRecorder shell(ERROR_SHARING_VIOLATION);
    for (const std::wstring& refused : {std::wstring(L""), std::wstring(L"\\"), std::wstring(L"/"),
                                        std::wstring(260, L'x')})
        EXPECT_FALSE(ShellDeleteFile(refused));
    EXPECT_TRUE(shell.m_From.empty());
    EXPECT_FALSE(ShellDeleteFile(L"C:\\a"));
    CShellRecorder works;
    for (const std::wstring& path : {std::wstring(L"C:/a/sub/"), std::wstring(L"C:\\a\\sub\\"),
                                     std::wstring(259, L'x')})
        EXPECT_TRUE(ShellDeleteFile(path));
    EXPECT_EQ(shell.m_From, std::vector<std::wstring>{L"C:\\a"});
    EXPECT_EQ(works.m_From,
              (std::vector<std::wstring>{L"C:\\a\\sub", L"C:\\a\\sub", std::wstring(259, L'x')}));
}

// The pending renames: the value goes through a key opened with all access, and each
// outcome has its line, in upper-case hex; a deleted value has always been logged at the
// error level.
TEST_F(CleanupTest, RegistryValueOfPendingRenames)
{
    const std::wstring path = L"Software\\SanarixTest\\" + FileNameOfPath(m_Dir.Path());
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const wchar_t data[] = L"\\??\\C:\\x\0\0";
    RegSetValueExW(key, L"PendingFileRenameOperations", 0, REG_MULTI_SZ,
                   reinterpret_cast<const BYTE*>(data), sizeof(data));
    CSysRecorder<&CSysCalls::RegOpenKeyExW> opens;
    CSysRecorder<&CSysCalls::RegCloseKey> closes;
    auto remove = [&] {
        return DeleteRegistryKey(HKEY_CURRENT_USER, path.c_str(), L"PendingFileRenameOperations");
    };
    EXPECT_TRUE(remove());
    EXPECT_EQ(RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr, nullptr,
                               nullptr),
              ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(remove());
    {
        CSysFailNth<&CSysCalls::RegDeleteValueW> fails(1, 0, LSTATUS(0x3F2));
        EXPECT_FALSE(remove());
    }
    for (LSTATUS error : {ERROR_ACCESS_DENIED, 0x3F2L}) {
        CSysFailNth<&CSysCalls::RegOpenKeyExW> fails(1, 0, error);
        EXPECT_FALSE(remove());
    }
    EXPECT_EQ(std::get<3>(opens.Calls()[0]), REGSAM(KEY_ALL_ACCESS));
    EXPECT_EQ(closes.Count(), 3u); // a key that was not opened is not closed
    const std::wstring first = All(L"DeleteRegistryKey", L"szRegPath=" + path +
                                                            L" szRegValue=PendingFileRenameOperations");
    EXPECT_EQ(Messages(), (std::vector<std::wstring>{
                              first, Error(L"DeleteRegistryKey", L"Delete registry key ok"),
                              first, All(L"DeleteRegistryKey", L"Cannot delete registry key, error=2"),
                              first, All(L"DeleteRegistryKey", L"Cannot delete registry key, error=3F2"),
                              first, Error(L"DeleteRegistryKey", L"Cannot open registry key, error=5"),
                              first, Error(L"DeleteRegistryKey", L"Cannot open registry key, error=3F2")}));
    RegCloseKey(key);
    RegDeleteKeyW(HKEY_CURRENT_USER, path.c_str());
    // Stays while another run of this test still has a key below it.
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\SanarixTest");
}
