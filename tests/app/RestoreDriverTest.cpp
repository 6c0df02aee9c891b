// The quarantine restore driver over a real quarantine folder of index files: which items
// are restored, which skipped, and that it always answers true.
#include "tests/app/AppTestSupport.h"
#include "platform/WineStandins.h"
#include "quarantine/QuarItem.h"
#include "quarantine/Vaultkit.h"
#include "tests/support/TestFiles.h"
#include "tools/itembuilder/ItemBuilder.h"
#include <gtest/gtest.h>
#include <cstring>
#include <cwchar>

namespace {

const HKEY kQuarantineKeyHandle = reinterpret_cast<HKEY>(0x4E800);

// The registry value of the quarantine folder, served from the test.
class CQuarantineRegistry
{
public:
    explicit CQuarantineRegistry(std::wstring folder) : m_sFolder(std::move(folder)) {}
    LSTATUS m_OpenResult = ERROR_SUCCESS;
    int m_nFailOpenFrom = 0; // this open of the key (from 1) and every later one fail
    int m_nOpens = 0;
    int m_nCloses = 0;

private:
    std::wstring m_sFolder;
    CSysHook<&CSysCalls::RegOpenKeyExW> m_open{[this](HKEY root, LPCWSTR path, DWORD options,
                                                      REGSAM access, PHKEY key) -> LSTATUS {
        if (root != HKEY_LOCAL_MACHINE || std::wstring(path) != kQuarantineKey)
            return CSysHook<&CSysCalls::RegOpenKeyExW>::Next()(root, path, options, access, key);
        if (++m_nOpens >= m_nFailOpenFrom && m_nFailOpenFrom > 0)
            return ERROR_ACCESS_DENIED;
        if (m_OpenResult == ERROR_SUCCESS)
            *key = kQuarantineKeyHandle;
        return m_OpenResult;
    }};
    CSysHook<&CSysCalls::RegQueryValueExW> m_query{[this](HKEY key, LPCWSTR name, LPDWORD reserved,
                                                          LPDWORD type, LPBYTE data,
                                                          LPDWORD bytes) -> LSTATUS {
        if (key != kQuarantineKeyHandle)
            return CSysHook<&CSysCalls::RegQueryValueExW>::Next()(key, name, reserved, type, data,
                                                                  bytes);
        DWORD size = static_cast<DWORD>((m_sFolder.size() + 1) * sizeof(wchar_t));
        if (std::wstring(name) != kQuarantineValue)
            return ERROR_FILE_NOT_FOUND;
        if (!data || *bytes < size)
            return ERROR_MORE_DATA;
        std::memcpy(data, m_sFolder.c_str(), size);
        *bytes = size;
        return ERROR_SUCCESS;
    }};
    CSysHook<&CSysCalls::RegCloseKey> m_close{[this](HKEY key) -> LSTATUS {
        if (key != kQuarantineKeyHandle)
            return CSysHook<&CSysCalls::RegCloseKey>::Next()(key);
        ++m_nCloses;
        return ERROR_SUCCESS;
    }};
};

// The folder search passed on, with the names it answered in their order.
class CSearchOrder
{
public:
    std::vector<std::pair<std::wstring, DWORD>> m_Entries; // name, attributes
    std::vector<std::wstring> m_Patterns;

private:
    CSysHook<&CSysCalls::FindFirstFileW> m_first{
        [this](LPCWSTR pattern, LPWIN32_FIND_DATAW data) -> HANDLE {
            m_Patterns.push_back(pattern);
            HANDLE h = CSysHook<&CSysCalls::FindFirstFileW>::Next()(pattern, data);
            if (h != INVALID_HANDLE_VALUE)
                m_Entries.emplace_back(data->cFileName, data->dwFileAttributes);
            return h;
        }};
    CSysHook<&CSysCalls::FindNextFileW> m_next{[this](HANDLE h, LPWIN32_FIND_DATAW data) -> BOOL {
        BOOL more = CSysHook<&CSysCalls::FindNextFileW>::Next()(h, data);
        if (more)
            m_Entries.emplace_back(data->cFileName, data->dwFileAttributes);
        return more;
    }};
};

class RestoreDriverTest : public AppTest
{
protected:
    void SetUp() override { ASSERT_EQ(g_nVaultkitInit, 0) << "a test left the library started"; }

    // An index file of an item detected as dvirus, with its locations below the test folder;
    // no payload lies beside it, so every restore of it fails.
    void WriteIndex(const wchar_t* file, const wchar_t* dvirus, int locations)
    {
        QuarItem item;
        item.size = 6;
        item.hash = L"0123456789ABCDEF0123456789ABCDEF";
        item.qhash = L"0123456789ABCDEF0123456789ABCDEF";
        wcsncpy(item.qname, file, QuarItem::kNameChars - 1);
        wcsncpy(item.dvirus, dvirus, QuarItem::kVirusChars - 1);
        for (int i = 0; i < locations; ++i) {
            QuarFileEntry entry;
            std::wstring name = L"restored" + std::to_wstring(i) + L".exe";
            wcsncpy(entry.name, name.c_str(), QuarFileEntry::kNameChars - 1);
            wcsncpy(entry.path, m_Restored.Path().c_str(), QuarFileEntry::kNameChars - 1);
            item.m_Files.push_back(entry);
        }
        ASSERT_TRUE(item.SaveXml(m_Quarantine.Join(file).c_str()));
    }

    std::wstring Folder() const { return m_Quarantine.Path() + L"\\"; }
    std::vector<std::wstring> Opening() const
    {
        return {L"[ALL]:    RestoreQuarantine - szVirusName=trojan.fakealert.5",
                L"[ALL]:    RestoreQuarantine - Inited vaultkit!",
                L"[ALL]:    RestoreQuarantine - quarFolderPath=" + Folder(),
                L"[ALL]:    RestoreQuarantine - Pattern : [" + Folder() + L"*.xml]"};
    }

    CTempDir m_Quarantine;
    CTempDir m_Restored;
    CQuarantineRegistry m_Registry{Folder()};
};

const wchar_t kOk[] = L"[ALL]:    RestoreQuarantine - ok";

} // namespace

TEST_F(RestoreDriverTest, MatchingItemsAreRestoredOthersSkippedEveryLocationVisited)
{
    WriteIndex(L"A.xml", L"trojan.fakealert.5", 2);
    WriteIndex(L"B.xml", L"TROJAN.FakeAlert.5", 1);  // letter case differs: restored
    WriteIndex(L"C.xml", L"trojan.fakealert.55", 2); // longer: skipped
    WriteIndex(L"D.xml", L"trojan.fakealert.", 1);   // shorter: skipped
    ASSERT_TRUE(CreateDirectoryW(m_Quarantine.Join(L"E.xml").c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(m_Quarantine.Join(L"F.xml"), "not an index"));
    ASSERT_TRUE(WriteFileBytes(m_Quarantine.Join(L"G.txt"), "<signature/>"));
    CSearchOrder search;

    EXPECT_TRUE(RestoreQuarantine(L"trojan.fakealert.5"));

    std::vector<std::wstring> expected = Opening();
    std::map<std::wstring, std::pair<bool, int>> items = {{L"A.xml", {true, 2}},
                                                          {L"B.xml", {true, 1}},
                                                          {L"C.xml", {false, 2}},
                                                          {L"D.xml", {false, 1}}};
    std::set<std::wstring> seen;
    for (const auto& entry : search.m_Entries) {
        seen.insert(entry.first);
        auto it = items.find(entry.first);
        if (it == items.end())
            continue;
        const std::wstring index = L"[" + Folder() + entry.first + L"]";
        for (int i = 0; i < it->second.second; ++i) {
            if (!it->second.first) {
                expected.push_back(L"[ALL]:    RestoreQuarantine - Skipping: " + index);
                continue;
            }
            expected.push_back(L"[ALL]:    RestoreQuarantine - Restoring: " + index);
            expected.push_back(L"[ERROR]:  RestoreQuarantine - Restoring: " + index + L" failed");
        }
    }
    expected.push_back(kOk);
    EXPECT_EQ(seen,
              (std::set<std::wstring>{L"A.xml", L"B.xml", L"C.xml", L"D.xml", L"E.xml", L"F.xml"}));
    EXPECT_EQ(Messages(), expected);
    EXPECT_EQ(search.m_Patterns.front(), Folder() + L"*.xml");
    EXPECT_EQ(g_nVaultkitInit, 0);
    EXPECT_TRUE(FileExists(m_Quarantine.Join(L"A.xml"))); // failed restores retire nothing
}

TEST_F(RestoreDriverTest, EmptyQuarantineLogsThePatternAndOk)
{
    EXPECT_TRUE(RestoreQuarantine(L"trojan.fakealert.5"));
    std::vector<std::wstring> expected = Opening();
    expected.push_back(kOk);
    EXPECT_EQ(Messages(), expected);
    EXPECT_EQ(g_nVaultkitInit, 0);
}

TEST_F(RestoreDriverTest, LibraryThatCannotStartEndsTheDriverWithOk)
{
    m_Registry.m_OpenResult = ERROR_FILE_NOT_FOUND;
    CSearchOrder search;
    EXPECT_TRUE(RestoreQuarantine(L"trojan.fakealert.5"));
    EXPECT_EQ(Messages(), (std::vector<std::wstring>{
                              L"[ALL]:    RestoreQuarantine - szVirusName=trojan.fakealert.5",
                              L"[ERROR]:  GetQuarFolderPath - Cannot open registry path: "
                              L"SOFTWARE\\Corvanta\\Corvanta Quarantine\\",
                              L"[ERROR]:  RestoreQuarantine - Could not init vaultkit!", kOk}));
    EXPECT_TRUE(search.m_Patterns.empty());
    EXPECT_EQ(g_nVaultkitInit, 1); // the driver does not stop a library that did not start
    VaultkitUninit();
}

TEST_F(RestoreDriverTest, IndexPathThatWouldNotFitIsNotLoaded)
{
    const std::wstring name = std::wstring(259 - Folder().size(), L'n') + L"x.xml";
    int closes = 0;
    CSysHook<&CSysCalls::FindFirstFileW> first([&](LPCWSTR, LPWIN32_FIND_DATAW data) -> HANDLE {
        *data = WIN32_FIND_DATAW{};
        wcsncpy(data->cFileName, name.c_str(), MAX_PATH - 1);
        return reinterpret_cast<HANDLE>(0x6C000000);
    });
    CSysHook<&CSysCalls::FindNextFileW> next(
        [](HANDLE, LPWIN32_FIND_DATAW) -> BOOL { return FALSE; });
    CSysHook<&CSysCalls::FindClose> close(
        [&](HANDLE h) -> BOOL { return h == reinterpret_cast<HANDLE>(0x6C000000) && ++closes; });
    EXPECT_TRUE(RestoreQuarantine(L"trojan.fakealert.5"));
    std::vector<std::wstring> expected = Opening();
    expected.push_back(L"[ERROR]:  RestoreQuarantine - Index path too long: " + Folder() + name);
    expected.push_back(kOk);
    EXPECT_EQ(Messages(), expected);
    EXPECT_EQ(closes, 1);
}

TEST_F(RestoreDriverTest, RestoredLocationIsLoggedOk)
{
    InstallWineStandins(); // the restore writes through the backup stand-in under Wine
    CItemDescription desc;
    desc.content = "restored content";
    desc.locations = {{L"back.txt", m_Restored.Path() + L"\\"}};
    ASSERT_TRUE(BuildQuarItem(desc, m_Quarantine.Join(L"A")));
    EXPECT_TRUE(RestoreQuarantine(L"trojan.fakealert.5"));
    const std::wstring index = L"[" + Folder() + L"A.xml]";
    std::vector<std::wstring> expected = Opening();
    expected.push_back(L"[ALL]:    RestoreQuarantine - Restoring: " + index);
    expected.push_back(L"[ALL]:    RestoreQuarantine - Restoring: " + index + L" ok");
    expected.push_back(kOk);
    EXPECT_EQ(Messages(), expected);
    EXPECT_EQ(ReadFileBytes(m_Restored.Join(L"back.txt")), "restored content");
    EXPECT_FALSE(FileExists(m_Quarantine.Join(L"A.xml")));
}

// The folder text is used as read: empty after a failed read (the library had started),
// so the search runs in the current folder; without its backslash, in the folder above.
TEST_F(RestoreDriverTest, FolderTextIsUsedAsReadWhenMissingOrWithoutBackslash)
{
    WriteIndex(L"A.xml", L"other.threat", 1);
    wchar_t previous[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(m_Quarantine.Path().c_str()));
    {
        m_Registry.m_nFailOpenFrom = 2; // the library's read works, the driver's does not
        EXPECT_TRUE(RestoreQuarantine(L"trojan.fakealert.5"));
        m_Registry.m_nFailOpenFrom = 0;
    }
    SetCurrentDirectoryW(previous);
    EXPECT_EQ(Messages(),
              (std::vector<std::wstring>{
                  L"[ALL]:    RestoreQuarantine - szVirusName=trojan.fakealert.5",
                  L"[ALL]:    RestoreQuarantine - Inited vaultkit!",
                  L"[ERROR]:  GetQuarFolderPath - Cannot open registry path: "
                  L"SOFTWARE\\Corvanta\\Corvanta Quarantine\\",
                  L"[ALL]:    RestoreQuarantine - quarFolderPath=",
                  L"[ALL]:    RestoreQuarantine - Pattern : [*.xml]",
                  L"[ALL]:    RestoreQuarantine - Skipping: [A.xml]", kOk}));

    m_Debugger.Clear();
    CQuarantineRegistry bare(m_Quarantine.Path());
    EXPECT_TRUE(RestoreQuarantine(L"trojan.fakealert.5"));
    EXPECT_EQ(Messages(),
              (std::vector<std::wstring>{
                  L"[ALL]:    RestoreQuarantine - szVirusName=trojan.fakealert.5",
                  L"[ALL]:    RestoreQuarantine - Inited vaultkit!",
                  L"[ALL]:    RestoreQuarantine - quarFolderPath=" + m_Quarantine.Path(),
                  L"[ALL]:    RestoreQuarantine - Pattern : [" + m_Quarantine.Path() + L"*.xml]",
                  kOk}));
    EXPECT_EQ(g_nVaultkitInit, 0);
}
