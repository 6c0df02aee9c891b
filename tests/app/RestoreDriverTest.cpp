// The quarantine restore driver over a real quarantine folder of index files: which items
// are restored, which skipped, and that it always answers true.
#include "tests/app/AppTestSupport.h"
#include "platform/WineStandins.h"
#include "quarantine/QuarItem.h"
#include "tests/quarantine/QuarantineKey.h"
#include "tests/support/TestFiles.h"
#include "tools/itembuilder/ItemBuilder.h"
#include <algorithm>
#include <cwchar>
#include <map>
#include <set>

namespace {

const std::wstring kTag = L"RestoreQuarantine";
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
        wcscpy(item.dvirus, dvirus);
        for (int i = 0; i < locations; ++i) {
            item.m_Files.emplace_back();
            wcscpy(item.m_Files.back().name, (L"restored" + std::to_wstring(i)).c_str());
            wcscpy(item.m_Files.back().path, m_Restored.Path().c_str());
        }
        ASSERT_TRUE(item.SaveXml(m_Quarantine.Join(file).c_str()));
    }
    // The driver's lines with the folder as read, up to its search, then these.
    std::vector<std::wstring> Lines(const std::wstring& folder,
                                    std::vector<std::wstring> more) const
    {
        more.insert(more.begin(), {All(kTag, L"szVirusName=trojan.fakealert.5"),
                                   All(kTag, L"Inited vaultkit!"),
                                   All(kTag, L"quarFolderPath=" + folder),
                                   All(kTag, L"Pattern : [" + folder + L"*.xml]")});
        more.push_back(All(kTag, L"ok"));
        return more;
    }
    std::wstring Index(const std::wstring& name) const { return L"[" + m_sFolder + name + L"]"; }

    CTempDir m_Quarantine;
    CTempDir m_Restored;
    const std::wstring m_sFolder = m_Quarantine.Path() + L"\\";
    CQuarantineKey m_Key{m_sFolder};
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
    std::vector<std::wstring> found, opened;
    CSysHook<&CSysCalls::FindNextFileW> next([&](HANDLE h, LPWIN32_FIND_DATAW data) {
        found.push_back(data->cFileName); // the entry before this call
        return CSysHook<&CSysCalls::FindNextFileW>::Next()(h, data);
    });
    CSysHook<&CSysCalls::CreateFileW> open([&](LPCWSTR path, DWORD access, DWORD share,
                                              LPSECURITY_ATTRIBUTES sa, DWORD how, DWORD flags,
                                              HANDLE model) {
        opened.push_back(path);
        return CSysHook<&CSysCalls::CreateFileW>::Next()(path, access, share, sa, how, flags,
                                                         model);
    });
    EXPECT_TRUE(RestoreQuarantine(L"trojan.fakealert.5"));

    // Each item's lines where the search found it: for each location of a match a restore
    // (failing), for each of another item a skip.
    const std::map<std::wstring, std::pair<std::wstring, int>> items = {
        {L"A.xml", {L"Restoring: ", 2}}, {L"B.xml", {L"Restoring: ", 1}},
        {L"C.xml", {L"Skipping: ", 2}},  {L"D.xml", {L"Skipping: ", 1}}};
    std::vector<std::wstring> more;
    for (const std::wstring& name : found) {
        auto it = items.find(name);
        for (int i = 0; it != items.end() && i < it->second.second; ++i) {
            more.push_back(All(kTag, it->second.first + Index(name)));
            if (it->second.first == L"Restoring: ")
                more.push_back(Error(kTag, L"Restoring: " + Index(name) + L" failed"));
        }
    }
    EXPECT_EQ(std::set<std::wstring>(found.begin(), found.end()),
              (std::set<std::wstring>{L"A.xml", L"B.xml", L"C.xml", L"D.xml", L"E.xml", L"F.xml"}));
    EXPECT_EQ(Messages(), Lines(m_sFolder, more));
    EXPECT_EQ(std::count(opened.begin(), opened.end(), m_Quarantine.Join(L"E.xml")), 0);
    EXPECT_TRUE(FileExists(m_Quarantine.Join(L"A.xml"))); // failed restores retire nothing
}

TEST_F(RestoreDriverTest, EmptyQuarantineAndARestoredLocation)
{
    EXPECT_TRUE(RestoreQuarantine(L"trojan.fakealert.5"));
    EXPECT_EQ(Messages(), Lines(m_sFolder, {}));

    InstallWineStandins(); // the restore writes through the backup stand-in under Wine
    CItemDescription desc;
    desc.content = "restored content";
    desc.locations = {{L"back.txt", m_Restored.Path() + L"\\"}};
    ASSERT_TRUE(BuildQuarItem(desc, m_Quarantine.Join(L"A")));
    m_Debugger.Clear();
    EXPECT_TRUE(RestoreQuarantine(L"trojan.fakealert.5"));
    EXPECT_EQ(Messages(), Lines(m_sFolder, {All(kTag, L"Restoring: " + Index(L"A.xml")),
                                            All(kTag, L"Restoring: " + Index(L"A.xml") + L" ok")}));
    EXPECT_EQ(ReadFileBytes(m_Restored.Join(L"back.txt")), "restored content");
    EXPECT_FALSE(FileExists(m_Quarantine.Join(L"A.xml")));
}

// A folder and name that do not fit are not cut into another file's name.
TEST_F(RestoreDriverTest, IndexPathsAreNeverCut)
{
    const std::wstring name = std::wstring(259 - m_sFolder.size(), L'n') + L"x.xml";
    CSysHook<&CSysCalls::FindFirstFileW> first([&](LPCWSTR, LPWIN32_FIND_DATAW data) {
        *data = WIN32_FIND_DATAW{};
        wcscpy(data->cFileName, name.c_str());
        return reinterpret_cast<HANDLE>(0x6C000000);
    });
    CSysHook<&CSysCalls::FindNextFileW> next([](HANDLE, LPWIN32_FIND_DATAW) { return FALSE; });
    CSysHook<&CSysCalls::FindClose> close([](HANDLE) { return TRUE; });
    CSysRecorder<&CSysCalls::CreateFileW> opens;
    EXPECT_TRUE(RestoreQuarantine(L"trojan.fakealert.5"));
    EXPECT_EQ(Messages(),
              Lines(m_sFolder, {Error(kTag, L"Index path too long: " + m_sFolder + name)}));
    EXPECT_EQ(opens.Count(), 0u);
}
