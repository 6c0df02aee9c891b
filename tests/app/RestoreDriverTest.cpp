// The quarantine restore driver over a real quarantine folder of index files: which items
// are restored, which skipped, and that it always answers true.
#include "tests/app/AppTestSupport.h"
#include "platform/WineStandins.h"
#include "quarantine/QuarItem.h"
#include "quarantine/Vaultkit.h"
#include "tests/support/TestFiles.h"
#include "tools/itembuilder/ItemBuilder.h"
#include <cstring>
#include <cwchar>

namespace {

const HKEY kQuarantineKeyHandle = reinterpret_cast<HKEY>(0x4E800);
const std::wstring kTag = L"RestoreQuarantine";
const std::wstring kOk = All(kTag, L"ok");

// The registry value of the quarantine folder, served from the test: the prefix is shared
// by test programs that run at the same time.
class CQuarantineRegistry
{
public:
    explicit CQuarantineRegistry(std::wstring folder) : m_sFolder(std::move(folder)) {}
    LSTATUS m_OpenResult = ERROR_SUCCESS;

private:
    std::wstring m_sFolder;
    CSysHook<&CSysCalls::RegOpenKeyExW> m_open{[this](HKEY root, LPCWSTR path, DWORD options,
                                                      REGSAM access, PHKEY key) -> LSTATUS {
        if (root != HKEY_LOCAL_MACHINE || std::wstring(path) != kQuarantineKey)
            return CSysHook<&CSysCalls::RegOpenKeyExW>::Next()(root, path, options, access, key);
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
        if (std::wstring(name) != kQuarantineValue || !data || *bytes < size)
            return ERROR_MORE_DATA;
        std::memcpy(data, m_sFolder.c_str(), size);
        *bytes = size;
        return ERROR_SUCCESS;
    }};
    CSysHook<&CSysCalls::RegCloseKey> m_close{[](HKEY key) -> LSTATUS {
        return key == kQuarantineKeyHandle ? ERROR_SUCCESS
                                           : CSysHook<&CSysCalls::RegCloseKey>::Next()(key);
    }};
};

class RestoreDriverTest : public AppTest
{
protected:
    void SetUp() override { ASSERT_EQ(g_nVaultkitInit, 0) << "a test left the library started"; }
    void TearDown() override { EXPECT_EQ(g_nVaultkitInit, 0) << "the library was not stopped"; }

    // An index file of an item detected as dvirus, with its locations below the test folder;
    // no payload lies beside it, so every restore of it fails.
    void WriteIndex(const wchar_t* file, const wchar_t* dvirus, int locations)
    {
        QuarItem item;
        item.hash = item.qhash = L"0123456789ABCDEF0123456789ABCDEF";
        wcsncpy(item.dvirus, dvirus, QuarItem::kVirusChars - 1);
        for (int i = 0; i < locations; ++i) {
            QuarFileEntry entry;
            wcsncpy(entry.name, (L"restored" + std::to_wstring(i)).c_str(), 100);
            wcsncpy(entry.path, m_Restored.Path().c_str(), QuarFileEntry::kNameChars - 1);
            item.m_Files.push_back(entry);
        }
        ASSERT_TRUE(item.SaveXml(m_Quarantine.Join(file).c_str()));
    }
    std::wstring Folder() const { return m_Quarantine.Path() + L"\\"; }
    // The driver's lines up to its search, then these.
    std::vector<std::wstring> Lines(const std::vector<std::wstring>& more) const
    {
        std::vector<std::wstring> lines = {All(kTag, L"szVirusName=trojan.fakealert.5"),
                                           All(kTag, L"Inited vaultkit!"),
                                           All(kTag, L"quarFolderPath=" + Folder()),
                                           All(kTag, L"Pattern : [" + Folder() + L"*.xml]")};
        lines.insert(lines.end(), more.begin(), more.end());
        lines.push_back(kOk);
        return lines;
    }
    std::wstring Index(const wchar_t* name) const { return L"[" + Folder() + name + L"]"; }

    CTempDir m_Quarantine;
    CTempDir m_Restored;
    CQuarantineRegistry m_Registry{Folder()};
};

} // namespace

// Every location of a matching item (letter case aside) is handed to the restore; folders
// and files that are no index are passed over. The search's own order decides the lines'.
TEST_F(RestoreDriverTest, MatchingItemsAreRestoredOthersSkippedEveryLocationVisited)
{
    WriteIndex(L"A.xml", L"trojan.fakealert.5", 2);
    WriteIndex(L"B.xml", L"TROJAN.FakeAlert.5", 1);
    WriteIndex(L"C.xml", L"trojan.fakealert.55", 2);
    WriteIndex(L"D.xml", L"trojan.fakealert.", 1);
    ASSERT_TRUE(CreateDirectoryW(m_Quarantine.Join(L"E.xml").c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(m_Quarantine.Join(L"F.xml"), "not an index"));
    ASSERT_TRUE(WriteFileBytes(m_Quarantine.Join(L"G.txt"), "<signature/>"));
    std::vector<std::wstring> found;
    CSysRecorder<&CSysCalls::CreateFileW> opens;
    CSysHook<&CSysCalls::FindNextFileW> next([&](HANDLE h, LPWIN32_FIND_DATAW data) -> BOOL {
        found.push_back(data->cFileName); // the entry before this call
        return CSysHook<&CSysCalls::FindNextFileW>::Next()(h, data);
    });
    EXPECT_TRUE(RestoreQuarantine(L"trojan.fakealert.5"));

    std::vector<std::wstring> more;
    for (const std::wstring& name : found) {
        const std::wstring index = Index(name.c_str());
        if (name == L"A.xml" || name == L"B.xml") {
            for (int i = name == L"A.xml" ? 2 : 1; i > 0; --i) {
                more.push_back(All(kTag, L"Restoring: " + index));
                more.push_back(Error(kTag, L"Restoring: " + index + L" failed"));
            }
        } else if (name == L"C.xml" || name == L"D.xml") {
            more.insert(more.end(), name == L"C.xml" ? 2 : 1, All(kTag, L"Skipping: " + index));
        }
    }
    EXPECT_EQ(std::set<std::wstring>(found.begin(), found.end()),
              (std::set<std::wstring>{L"A.xml", L"B.xml", L"C.xml", L"D.xml", L"E.xml", L"F.xml"}));
    EXPECT_EQ(Messages(), Lines(more));
    EXPECT_TRUE(FileExists(m_Quarantine.Join(L"A.xml"))); // failed restores retire nothing
    for (const auto& open : opens.Calls())
        EXPECT_NE(std::wstring(std::get<0>(open)), m_Quarantine.Join(L"E.xml")) << "a folder";
}

TEST_F(RestoreDriverTest, RestoredLocationAndEmptyQuarantine)
{
    EXPECT_TRUE(RestoreQuarantine(L"trojan.fakealert.5"));
    EXPECT_EQ(Messages(), Lines({}));

    InstallWineStandins(); // the restore writes through the backup stand-in under Wine
    CItemDescription desc;
    desc.content = "restored content";
    desc.locations = {{L"back.txt", m_Restored.Path() + L"\\"}};
    ASSERT_TRUE(BuildQuarItem(desc, m_Quarantine.Join(L"A")));
    m_Debugger.Clear();
    EXPECT_TRUE(RestoreQuarantine(L"trojan.fakealert.5"));
    EXPECT_EQ(Messages(), Lines({All(kTag, L"Restoring: " + Index(L"A.xml")),
                                 All(kTag, L"Restoring: " + Index(L"A.xml") + L" ok")}));
    EXPECT_EQ(ReadFileBytes(m_Restored.Join(L"back.txt")), "restored content");
    EXPECT_FALSE(FileExists(m_Quarantine.Join(L"A.xml")));
}

TEST_F(RestoreDriverTest, LibraryThatCannotStartEndsTheDriverWithOk)
{
    m_Registry.m_OpenResult = ERROR_FILE_NOT_FOUND;
    CSysRecorder<&CSysCalls::FindFirstFileW> search;
    EXPECT_TRUE(RestoreQuarantine(L"trojan.fakealert.5"));
    EXPECT_EQ(Messages(), (std::vector<std::wstring>{
                              All(kTag, L"szVirusName=trojan.fakealert.5"),
                              Error(L"GetQuarFolderPath", L"Cannot open registry path: "
                                                          L"SOFTWARE\\Corvanta\\Corvanta Quarantine\\"),
                              Error(kTag, L"Could not init vaultkit!"), kOk}));
    EXPECT_EQ(search.Count(), 0u);
    EXPECT_EQ(g_nVaultkitInit, 1); // the driver does not stop a library that did not start
    VaultkitUninit();
}

// A folder and name that do not fit are not cut into another file's name. The folder text
// is used as read: without its backslash the search runs in the folder above; empty after
// a failed read (the library had started), in the current folder.
TEST_F(RestoreDriverTest, IndexPathsAreNeverCutAndTheFolderIsUsedAsRead)
{
    const std::wstring name = std::wstring(259 - Folder().size(), L'n') + L"x.xml";
    {
        CSysHook<&CSysCalls::FindFirstFileW> first([&](LPCWSTR, LPWIN32_FIND_DATAW data) {
            *data = WIN32_FIND_DATAW{};
            wcsncpy(data->cFileName, name.c_str(), MAX_PATH - 1);
            return reinterpret_cast<HANDLE>(0x6C000000);
        });
        CSysHook<&CSysCalls::FindNextFileW> next([](HANDLE, LPWIN32_FIND_DATAW) { return FALSE; });
        CSysRecorder<&CSysCalls::CreateFileW> opens;
        int closes = 0;
        CSysHook<&CSysCalls::FindClose> close([&](HANDLE h) {
            closes += h == reinterpret_cast<HANDLE>(0x6C000000);
            return TRUE;
        });
        EXPECT_TRUE(RestoreQuarantine(L"trojan.fakealert.5"));
        EXPECT_EQ(Messages(), Lines({Error(kTag, L"Index path too long: " + Folder() + name)}));
        EXPECT_EQ(opens.Count(), 0u);
        EXPECT_EQ(closes, 1);
    }
    WriteIndex(L"A.xml", L"other.threat", 1);
    CQuarantineRegistry bare(m_Quarantine.Path());
    m_Debugger.Clear();
    EXPECT_TRUE(RestoreQuarantine(L"trojan.fakealert.5"));
    EXPECT_EQ(Messages(), (std::vector<std::wstring>{
                              All(kTag, L"szVirusName=trojan.fakealert.5"),
                              All(kTag, L"Inited vaultkit!"),
                              All(kTag, L"quarFolderPath=" + m_Quarantine.Path()),
                              All(kTag, L"Pattern : [" + m_Quarantine.Path() + L"*.xml]"), kOk}));

    wchar_t previous[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(m_Quarantine.Path().c_str()));
    {
        CSysFailNth<&CSysCalls::RegOpenKeyExW> second(2, 0, ERROR_ACCESS_DENIED); // the driver's
        m_Debugger.Clear();
        EXPECT_TRUE(RestoreQuarantine(L"trojan.fakealert.5"));
    }
    SetCurrentDirectoryW(previous);
    EXPECT_EQ(Messages(), (std::vector<std::wstring>{
                              All(kTag, L"szVirusName=trojan.fakealert.5"),
                              All(kTag, L"Inited vaultkit!"),
                              Error(L"GetQuarFolderPath", L"Cannot open registry path: "
                                                          L"SOFTWARE\\Corvanta\\Corvanta Quarantine\\"),
                              All(kTag, L"quarFolderPath="), All(kTag, L"Pattern : [*.xml]"),
                              All(kTag, L"Skipping: [A.xml]"), kOk}));
}
