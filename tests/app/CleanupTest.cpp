// The engine file's removal below a folder (real folders under Wine, and a fake search
// for what a real disk cannot show), the silent shell delete and the registry value.
#include "app/Cleanup.h"
#include "app/PathText.h"
#include "platform/Utf8.h"
#include "tests/app/AppTestSupport.h"
#include "tests/support/TestFiles.h"
#include <algorithm>
#include <functional>

namespace {

// SHFileOperationW recorded: its source list up to the double zero, and the rest.
class CShellRecorder
{
public:
    explicit CShellRecorder(int result = 0)
        : m_hook([this, result](LPSHFILEOPSTRUCTW op) -> int {
              std::wstring from;
              for (const wchar_t* p = op->pFrom; p[0] || p[1]; ++p)
                  from += p[0] ? p[0] : L'|'; // an inner zero would join a second file
              m_From.push_back(from);
              m_Ops.push_back(*op);
              return result;
          })
    {
    }
    std::vector<std::wstring> m_From;
    std::vector<SHFILEOPSTRUCTW> m_Ops;

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
    explicit CFakeFind(Listing listing)
        : m_Listing(std::move(listing)),
          m_first([this](LPCWSTR pattern, LPWIN32_FIND_DATAW data) -> HANDLE {
              m_Patterns.push_back(pattern);
              std::vector<WIN32_FIND_DATAW> entries = m_Listing(pattern);
              if (entries.empty()) {
                  g_Sys.SetLastError(ERROR_PATH_NOT_FOUND);
                  return INVALID_HANDLE_VALUE;
              }
              HANDLE h = reinterpret_cast<HANDLE>(m_uNext += 4);
              *data = entries[0];
              m_Open[h] = {entries, 1};
              return h;
          }),
          m_next([this](HANDLE h, LPWIN32_FIND_DATAW data) -> BOOL {
              auto it = m_Open.find(h);
              if (it == m_Open.end() || it->second.second >= it->second.first.size()) {
                  g_Sys.SetLastError(ERROR_NO_MORE_FILES);
                  return FALSE;
              }
              *data = it->second.first[it->second.second++];
              return TRUE;
          }),
          m_close([this](HANDLE h) -> BOOL {
              return m_Open.erase(h) ? TRUE : (++m_nStrayCloses, FALSE);
          })
    {
    }
    bool AllClosed() const { return m_Open.empty() && m_nStrayCloses == 0; }
    std::vector<std::wstring> m_Patterns;

private:
    Listing m_Listing;
    std::map<HANDLE, std::pair<std::vector<WIN32_FIND_DATAW>, size_t>> m_Open;
    uintptr_t m_uNext = 0x6B000000;
    int m_nStrayCloses = 0;
    CSysHook<&CSysCalls::FindFirstFileW> m_first;
    CSysHook<&CSysCalls::FindNextFileW> m_next;
    CSysHook<&CSysCalls::FindClose> m_close;
};

class CleanupTest : public AppTest
{
protected:
    std::wstring Make(const std::wstring& relative, bool folder = false)
    {
        std::wstring path = m_Dir.Join(relative);
        if (folder)
            EXPECT_TRUE(CreateDirectoryW(path.c_str(), nullptr));
        else
            EXPECT_TRUE(WriteFileBytes(path, "engine"));
        return path;
    }
    std::wstring Root() const { return m_Dir.Path() + L"\\"; }
    std::wstring FirstLine() const
    {
        return L"[ALL]:    RemoveFileRec - szFile=cvheur.xr0 szPath=" + Root();
    }

    CTempDir m_Dir;
};

} // namespace

TEST_F(CleanupTest, EngineFileIsDeletedWhereverItLiesAndOnlyWholeNamesMatch)
{
    Make(L"sub", true);
    Make(L"sub2", true);
    Make(L"sub2\\cvheur.xr0", true);
    const std::wstring top = Make(L"cvheur.xr0");
    const std::wstring nested = Make(L"sub\\CVHEUR.XR0");
    const std::wstring keep[] = {Make(L"cvheur.xr0.bak"), Make(L"xcvheur.xr0"),
                                 Make(L"sub2\\cvheur.xr0\\other.txt")};
    SetFileAttributesW(top.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);

    EXPECT_EQ(RemoveFileRec(L"cvheur.xr0", Root()), 2);
    EXPECT_FALSE(FileExists(top));
    EXPECT_FALSE(FileExists(nested));
    for (const std::wstring& k : keep)
        EXPECT_TRUE(FileExists(k)) << WideToUtf8(k);

    std::vector<std::wstring> m = Messages();
    ASSERT_EQ(m.size(), 5u);
    EXPECT_EQ(m[0], FirstLine());
    std::vector<std::wstring> found;
    for (size_t i = 1; i + 1 < m.size(); i += 2) {
        const std::wstring prefix = L"[ALL]:    RemoveFileRec - Found file ";
        ASSERT_EQ(m[i].compare(0, prefix.size(), prefix), 0) << WideToUtf8(m[i]);
        std::wstring path = m[i].substr(prefix.size());
        EXPECT_EQ(m[i + 1], L"[ALL]:    RemoveFileRec - Delete file " + path + L" ok");
        found.push_back(path);
    }
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, (std::vector<std::wstring>{top, nested}));
}

TEST_F(CleanupTest, FileThatCannotBeDeletedIsLoggedAndStillCounted)
{
    const std::wstring locked = Make(L"cvheur.xr0");
    HANDLE h = CreateFileW(locked.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(RemoveFileRec(L"cvheur.xr0", Root()), 1);
    CloseHandle(h);
    EXPECT_TRUE(FileExists(locked));

    CShellRecorder noRights(ERROR_ACCESS_DENIED); // read-only or no rights, as the shell says
    EXPECT_EQ(RemoveFileRec(L"cvheur.xr0", Root()), 1);
    const std::wstring cannot = L"[ALL]:    RemoveFileRec - Cannot delete file " + locked;
    EXPECT_EQ(Messages(),
              (std::vector<std::wstring>{
                  FirstLine(), L"[ALL]:    RemoveFileRec - Found file " + locked, cannot,
                  FirstLine(), L"[ALL]:    RemoveFileRec - Found file " + locked, cannot}));
}

TEST_F(CleanupTest, EmptyOrMissingFolderGivesZeroAndAnUnknownOneIsNotSearched)
{
    Make(L"empty", true);
    EXPECT_EQ(RemoveFileRec(L"cvheur.xr0", m_Dir.Join(L"empty")), 0);
    EXPECT_EQ(RemoveFileRec(L"cvheur.xr0", m_Dir.Join(L"missing")), 0);
    CSysRecorder<&CSysCalls::FindFirstFileW> searches;
    EXPECT_EQ(RemoveFileRec(L"cvheur.xr0", L""), -1); // not "\*": the whole drive
    EXPECT_EQ(searches.Count(), 0u);
    EXPECT_EQ(
        Messages(),
        (std::vector<std::wstring>{
            L"[ALL]:    RemoveFileRec - szFile=cvheur.xr0 szPath=" + m_Dir.Join(L"empty"),
            L"[ALL]:    RemoveFileRec - szFile=cvheur.xr0 szPath=" + m_Dir.Join(L"missing"),
            L"[ALL]:    RemoveFileRec - szFile=cvheur.xr0 szPath=",
            L"[ERROR]:  RemoveFileRec - Folder unknown, nothing searched"}));
}

TEST_F(CleanupTest, ListingIsDepthFirstInSearchOrderAndSkipsDotsAndLinks)
{
    CFakeFind find([](const std::wstring& pattern) -> std::vector<WIN32_FIND_DATAW> {
        if (pattern == L"C:\\r\\*")
            return {Entry(L".", FILE_ATTRIBUTE_DIRECTORY),
                    Entry(L"..", FILE_ATTRIBUTE_DIRECTORY),
                    Entry(L"a.txt"),
                    Entry(L"sub", FILE_ATTRIBUTE_DIRECTORY),
                    Entry(L"link", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT),
                    Entry(L"h.sys", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM),
                    Entry(L"locked", FILE_ATTRIBUTE_DIRECTORY)};
        if (pattern == L"C:\\r\\sub\\*")
            return {Entry(L".", FILE_ATTRIBUTE_DIRECTORY), Entry(L"..", FILE_ATTRIBUTE_DIRECTORY),
                    Entry(L"c.txt")};
        return {}; // "locked" cannot be read
    });
    std::vector<std::wstring> files;
    ListFilesRec(files, L"C:/r/");
    EXPECT_EQ(files,
              (std::vector<std::wstring>{L"C:\\r\\a.txt", L"C:\\r\\sub\\c.txt", L"C:\\r\\h.sys"}));
    EXPECT_EQ(find.m_Patterns,
              (std::vector<std::wstring>{L"C:\\r\\*", L"C:\\r\\sub\\*", L"C:\\r\\locked\\*"}));
    EXPECT_TRUE(find.AllClosed());
}

TEST_F(CleanupTest, ListingStopsOnAnEndlessTree)
{
    // Every folder holds a folder again, as a link back into the tree would look.
    CFakeFind find([](const std::wstring&) -> std::vector<WIN32_FIND_DATAW> {
        return {Entry(L"d", FILE_ATTRIBUTE_DIRECTORY), Entry(L"f")};
    });
    std::vector<std::wstring> files;
    ListFilesRec(files, L"C:\\r");
    EXPECT_GE(files.size(), 32u);  // deep folders are still listed
    EXPECT_LT(files.size(), 120u); // the name length alone would stop at 128 levels
    EXPECT_EQ(files.size(), find.m_Patterns.size());
    EXPECT_TRUE(find.AllClosed());
}

TEST_F(CleanupTest, NamesThatWouldNotFitArePassedOver)
{
    const std::wstring folder = L"C:\\" + std::wstring(240, L'r'); // 243 characters
    CFakeFind find([&](const std::wstring& pattern) -> std::vector<WIN32_FIND_DATAW> {
        if (pattern != folder + L"\\*")
            return {};
        return {Entry(std::wstring(15, L'f')), Entry(std::wstring(16, L'g')),
                Entry(std::wstring(15, L'd'), FILE_ATTRIBUTE_DIRECTORY)};
    });
    std::vector<std::wstring> files;
    ListFilesRec(files, folder);
    EXPECT_EQ(files, (std::vector<std::wstring>{folder + L"\\" + std::wstring(15, L'f')}));
    // the subfolder's own pattern would need 261 characters: it is not searched
    EXPECT_EQ(find.m_Patterns.size(), 1u);
    ListFilesRec(files, std::wstring(258, L'x'));
    EXPECT_EQ(find.m_Patterns.size(), 1u);

    // The longest path the listing hands over is one the deletion takes.
    const std::wstring engine = L"C:\\" + std::wstring(245, L'e'); // + "\\cvheur.xr0": 259
    CFakeFind engineFolder([&](const std::wstring& pattern) -> std::vector<WIN32_FIND_DATAW> {
        return pattern == engine + L"\\*" ? std::vector<WIN32_FIND_DATAW>{Entry(L"cvheur.xr0")}
                                          : std::vector<WIN32_FIND_DATAW>{};
    });
    CShellRecorder shell;
    m_Debugger.Clear();
    EXPECT_EQ(RemoveFileRec(L"cvheur.xr0", engine), 1);
    const std::wstring path = engine + L"\\cvheur.xr0";
    ASSERT_EQ(path.size(), 259u);
    EXPECT_EQ(shell.m_From, std::vector<std::wstring>{path});
    EXPECT_EQ(Messages().back(), L"[ALL]:    RemoveFileRec - Delete file " + path + L" ok");
}

TEST_F(CleanupTest, ShellDeleteSendsOneSilentDeleteWithADoubleZeroList)
{
    CShellRecorder shell;
    EXPECT_TRUE(ShellDeleteFile(L"C:\\a\\b.txt"));
    EXPECT_TRUE(ShellDeleteFile(L"C:/a/sub/"));
    EXPECT_TRUE(ShellDeleteFile(L"C:\\a\\sub\\"));
    EXPECT_TRUE(ShellDeleteFile(std::wstring(259, L'x')));
    EXPECT_EQ(shell.m_From, (std::vector<std::wstring>{L"C:\\a\\b.txt", L"C:\\a\\sub",
                                                       L"C:\\a\\sub", std::wstring(259, L'x')}));
    for (const SHFILEOPSTRUCTW& op : shell.m_Ops) {
        EXPECT_EQ(op.hwnd, nullptr);
        EXPECT_EQ(op.wFunc, UINT(FO_DELETE));
        EXPECT_EQ(op.pTo, nullptr);
        EXPECT_EQ(op.fFlags, 0x0414);
        EXPECT_EQ(op.lpszProgressTitle, nullptr);
    }
}

TEST_F(CleanupTest, ShellDeleteRefusesEmptyAndOverlongPathsAndReportsFailure)
{
    CShellRecorder shell(ERROR_SHARING_VIOLATION);
    EXPECT_FALSE(ShellDeleteFile(L""));
    EXPECT_FALSE(ShellDeleteFile(L"\\"));
    EXPECT_FALSE(ShellDeleteFile(L"/"));
    EXPECT_FALSE(ShellDeleteFile(std::wstring(260, L'x')));
    EXPECT_TRUE(shell.m_From.empty());
    EXPECT_FALSE(ShellDeleteFile(L"C:\\a"));
    EXPECT_EQ(shell.m_From.size(), 1u);
}

// ---------------------------------------------------------------------------------------

namespace {

const HKEY kKey = reinterpret_cast<HKEY>(0x4E700);
const wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const wchar_t kFirstLine[] = L"[ALL]:    DeleteRegistryKey - szRegPath=SYSTEM\\CurrentControlSet"
                             L"\\Control\\Session Manager szRegValue=PendingFileRenameOperations";

// The registry key of the pending renames with chosen answers.
class CFakeRegistry
{
public:
    LSTATUS m_OpenResult = ERROR_SUCCESS;
    LSTATUS m_DeleteResult = ERROR_SUCCESS;
    std::vector<std::tuple<HKEY, std::wstring, DWORD, REGSAM>> m_Opens;
    std::vector<std::wstring> m_Deleted;
    int m_nCloses = 0;

private:
    CSysHook<&CSysCalls::RegOpenKeyExW> m_open{
        [this](HKEY root, LPCWSTR path, DWORD options, REGSAM access, PHKEY key) -> LSTATUS {
            m_Opens.emplace_back(root, path, options, access);
            if (m_OpenResult == ERROR_SUCCESS)
                *key = kKey;
            return m_OpenResult;
        }};
    CSysHook<&CSysCalls::RegDeleteValueW> m_delete{[this](HKEY key, LPCWSTR value) -> LSTATUS {
        m_Deleted.push_back(key == kKey ? value : L"(wrong key)");
        return m_DeleteResult;
    }};
    CSysHook<&CSysCalls::RegCloseKey> m_close{[this](HKEY key) -> LSTATUS {
        m_nCloses += key == kKey ? 1 : 100;
        return ERROR_SUCCESS;
    }};
};

} // namespace

TEST_F(CleanupTest, RegistryValueDeletedIsLoggedAtTheErrorLevel)
{
    CFakeRegistry reg;
    EXPECT_TRUE(
        DeleteRegistryKey(HKEY_LOCAL_MACHINE, kSessionManager, L"PendingFileRenameOperations"));
    EXPECT_EQ(reg.m_Opens, (std::vector<std::tuple<HKEY, std::wstring, DWORD, REGSAM>>{
                               {HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_ALL_ACCESS}}));
    EXPECT_EQ(reg.m_Deleted, (std::vector<std::wstring>{L"PendingFileRenameOperations"}));
    EXPECT_EQ(reg.m_nCloses, 1);
    EXPECT_EQ(Messages(),
              (std::vector<std::wstring>{kFirstLine,
                                         L"[ERROR]:  DeleteRegistryKey - Delete registry key ok"}));
}

TEST_F(CleanupTest, RegistryValueThatCannotBeDeletedIsLoggedAtTheAllLevel)
{
    CFakeRegistry reg;
    reg.m_DeleteResult = ERROR_FILE_NOT_FOUND;
    EXPECT_FALSE(
        DeleteRegistryKey(HKEY_LOCAL_MACHINE, kSessionManager, L"PendingFileRenameOperations"));
    reg.m_DeleteResult = 0x3F2;
    EXPECT_FALSE(
        DeleteRegistryKey(HKEY_LOCAL_MACHINE, kSessionManager, L"PendingFileRenameOperations"));
    EXPECT_EQ(reg.m_nCloses, 2);
    EXPECT_EQ(
        Messages(),
        (std::vector<std::wstring>{
            kFirstLine, L"[ALL]:    DeleteRegistryKey - Cannot delete registry key, error=2",
            kFirstLine, L"[ALL]:    DeleteRegistryKey - Cannot delete registry key, error=3F2"}));
}

TEST_F(CleanupTest, RegistryKeyThatCannotBeOpenedIsLoggedInUpperCaseHex)
{
    CFakeRegistry reg;
    reg.m_OpenResult = ERROR_ACCESS_DENIED;
    EXPECT_FALSE(
        DeleteRegistryKey(HKEY_LOCAL_MACHINE, kSessionManager, L"PendingFileRenameOperations"));
    reg.m_OpenResult = 0x3F2;
    EXPECT_FALSE(
        DeleteRegistryKey(HKEY_LOCAL_MACHINE, kSessionManager, L"PendingFileRenameOperations"));
    EXPECT_TRUE(reg.m_Deleted.empty());
    EXPECT_EQ(reg.m_nCloses, 0);
    EXPECT_EQ(
        Messages(),
        (std::vector<std::wstring>{
            kFirstLine, L"[ERROR]:  DeleteRegistryKey - Cannot open registry key, error=5",
            kFirstLine, L"[ERROR]:  DeleteRegistryKey - Cannot open registry key, error=3F2"}));
}

TEST_F(CleanupTest, RegistryValueIsReallyDeleted)
{
    const std::wstring path = L"Software\\SanarixTest\\" + FileNameOfPath(m_Dir.Path());
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const wchar_t data[] = L"\\??\\C:\\x\0\0";
    RegSetValueExW(key, L"PendingFileRenameOperations", 0, REG_MULTI_SZ,
                   reinterpret_cast<const BYTE*>(data), sizeof(data));
    EXPECT_TRUE(DeleteRegistryKey(HKEY_CURRENT_USER, path.c_str(), L"PendingFileRenameOperations"));
    EXPECT_EQ(
        RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr, nullptr, nullptr),
        ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(
        DeleteRegistryKey(HKEY_CURRENT_USER, path.c_str(), L"PendingFileRenameOperations"));
    EXPECT_EQ(Messages().back(),
              L"[ALL]:    DeleteRegistryKey - Cannot delete registry key, error=2");
    RegCloseKey(key);
    RegDeleteKeyW(HKEY_CURRENT_USER, path.c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER,
                  L"Software\\SanarixTest"); // left while another run still has a key below
}
