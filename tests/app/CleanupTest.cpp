// The engine file's removal below a folder (real, and a fake search) and the pending renames value.
#include "app/Cleanup.h"
#include "app/PathText.h"
#include "tests/app/AppTestSupport.h"
#include "tests/support/TestFiles.h"
#include <map>

namespace {

using CleanupTest = AppTest;

const std::wstring kTag = L"RemoveFileRec";

// A search answered from patterns' name lists; "\" ends a folder, "@" a folder link.
struct CFakeFind
{
    BOOL Next(HANDLE h, LPWIN32_FIND_DATAW data)
    {
        auto& [pattern, next] = m_Open.at(h);
        if (next >= m_Tree[pattern].size())
            return FALSE;
        std::wstring name = m_Tree[pattern][next++];
        *data = WIN32_FIND_DATAW{};
        if (name.back() == L'\\' || name.back() == L'@') {
            data->dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
            data->dwFileAttributes |= name.back() == L'@' ? FILE_ATTRIBUTE_REPARSE_POINT : 0;
            name.pop_back();
        }
        name.copy(data->cFileName, name.size());
        return TRUE;
    }

    std::map<std::wstring, std::vector<std::wstring>> m_Tree;
    std::vector<std::wstring> m_Patterns;
    std::map<HANDLE, std::pair<std::wstring, size_t>> m_Open; // pattern, next name
    CSysHook<&CSysCalls::FindFirstFileW> m_first{[this](LPCWSTR pattern, LPWIN32_FIND_DATAW data) {
        m_Patterns.push_back(pattern);
        HANDLE h = reinterpret_cast<HANDLE>(0x6B000000 + 4 * m_Patterns.size());
        m_Open[h] = {pattern, 0};
        if (m_Tree.count(pattern) && Next(h, data))
            return h;
        m_Open.erase(h);
        return INVALID_HANDLE_VALUE;
    }};
    CSysHook<&CSysCalls::FindNextFileW> m_next{
        [this](HANDLE h, LPWIN32_FIND_DATAW data) { return Next(h, data); }};
    CSysHook<&CSysCalls::FindClose> m_close{[this](HANDLE h) { return m_Open.erase(h) == 1; }};
};

} // namespace

// Whole names in any case, hidden too; one held open is logged and counted. No folder: no search.
TEST_F(CleanupTest, EngineFileIsDeletedWhereverItLiesAndOnlyWholeNamesMatch)
{
    CTempDir dir;
    ASSERT_TRUE(CreateDirectoryW(dir.Join(L"sub").c_str(), nullptr));
    std::vector<std::wstring> files;
    for (const wchar_t* name : {L"sub\\CVHEUR.XR0", L"cvheur.xr0", L"cvheur.xr0.bak", L"xcvheur.xr0"}) {
        files.push_back(dir.Join(name));
        ASSERT_TRUE(WriteWholeFile(files.back(), "x"));
    }
    SetFileAttributesW(files[0].c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    HANDLE held = CreateFileW(files[1].c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(RemoveFileRec(L"cvheur.xr0", dir.Path()), 2);
    CloseHandle(held);
    EXPECT_EQ(FilesIn(dir.Path()), (std::vector<std::wstring>{L"cvheur.xr0", L"cvheur.xr0.bak",
                                                              L"sub", L"xcvheur.xr0"}));
    std::vector<std::wstring> m = Messages();
    ASSERT_EQ(m.size(), 5u);
    std::sort(m.begin() + 1, m.end()); // the search order is the disk's
    EXPECT_EQ(m, (std::vector<std::wstring>{
                     All(kTag, L"szFile=cvheur.xr0 szPath=" + dir.Path()),
                     All(kTag, L"Cannot delete file " + files[1]),
                     All(kTag, L"Delete file " + files[0] + L" ok"),
                     All(kTag, L"Found file " + files[1]), All(kTag, L"Found file " + files[0])}));
    m_Debugger.Clear();
    EXPECT_EQ(RemoveFileRec(L"cvheur.xr0", L""), -1); // not "\*": the whole drive
    EXPECT_EQ(Messages().back(), Error(kTag, L"Folder unknown, nothing searched"));
}

// Depth first, without dots and folder links; a name past 259 characters is passed over (cut it
// would be another's).
TEST_F(CleanupTest, ListingOfAFakeTree)
{
    CFakeFind find;
    find.m_Tree = {{L"C:\\r\\*", {L".\\", L"..\\", L"a", L"sub\\", L"link@", L"b", L"locked\\"}},
                   {L"C:\\r\\sub\\*", {L".\\", L"..\\", L"c"}}};
    std::vector<std::wstring> files;
    ListFilesRec(files, L"C:/r/");
    EXPECT_EQ(files, (std::vector<std::wstring>{L"C:\\r\\a", L"C:\\r\\sub\\c", L"C:\\r\\b"}));
    EXPECT_EQ(find.m_Patterns,
              (std::vector<std::wstring>{L"C:\\r\\*", L"C:\\r\\sub\\*", L"C:\\r\\locked\\*"}));
    EXPECT_TRUE(find.m_Open.empty());
    const std::wstring folder = L"C:\\" + std::wstring(245, L'r'); // + "\cvheur.xr0": 259
    find.m_Tree = {{folder + L"\\*", {L"cvheur.xr0", L"cvheur.xr01", std::wstring(9, L'd') + L"\\"}}};
    find.m_Patterns.clear();
    std::wstring deleted;
    CSysHook<&CSysCalls::SHFileOperationW> shell([&](LPSHFILEOPSTRUCTW op) {
        deleted = op->pFrom;
        return 0;
    });
    EXPECT_EQ(RemoveFileRec(L"cvheur.xr0", folder), 1);
    EXPECT_EQ(deleted, folder + L"\\cvheur.xr0");  // all 259 characters reach the deletion
    EXPECT_EQ(find.m_Patterns.size(), 1u) << "the subfolder's pattern would need 260 characters";
}

// A refused deletion logs its error in upper-case hex (the lines of a value deleted or absent are
// the end-to-end runs').
TEST_F(CleanupTest, RegistryValueOfPendingRenames)
{
    CTempDir dir; // a key name of its own, as another run of the test may be at work
    const std::wstring path = L"Software\\SanarixTest\\" + FileNameOfPath(dir.Path());
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, nullptr),
              ERROR_SUCCESS);
    {
        CSysFailNth<&CSysCalls::RegDeleteValueW> fails(1, 0, LSTATUS(0x3F2));
        EXPECT_FALSE(DeleteRegistryKey(HKEY_CURRENT_USER, path.c_str(), L"PendingFileRenameOperations"));
    }
    RegCloseKey(key);
    RegDeleteKeyW(HKEY_CURRENT_USER, path.c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\SanarixTest"); // stays while another has a key
    EXPECT_EQ(Messages(), (std::vector<std::wstring>{
                              All(L"DeleteRegistryKey", L"szRegPath=" + path +
                                                            L" szRegValue=PendingFileRenameOperations"),
                              All(L"DeleteRegistryKey", L"Cannot delete registry key, error=3F2")}));
}
