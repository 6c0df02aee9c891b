// The quarantine restore driver over a real quarantine folder of index files: which items
// are restored, which skipped, and that it always answers true.
#include "tests/app/AppTestSupport.h"
#include "platform/WineStandins.h"
#include "quarantine/QuarItem.h"
#include "tests/quarantine/QuarantineKey.h"
#include "tests/support/TestFiles.h"
#include "tools/itembuilder/ItemBuilder.h"
#include <cwchar>

namespace {

const std::wstring kTag = L"RestoreQuarantine";
const std::wstring kNoKey = Error(L"GetQuarFolderPath", L"Cannot open registry path: "
                                                       L"SOFTWARE\\Corvanta\\Corvanta Quarantine\\");

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
    std::vector<std::wstring> Lines(const std::wstring& folder, std::vector<std::wstring> more) const
    {
        more.insert(more.begin(), {All(kTag, L"szVirusName=trojan.fakealert.5"),
                                   All(kTag, L"Inited vaultkit!"), All(kTag, L"quarFolderPath=" + folder),
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
    CSysHook<&CSysCalls::CreateFileW> open([&](LPCWSTR path, DWORD a, DWORD s, LPSECURITY_ATTRIBUTES sa,
                                              DWORD c, DWORD f, HANDLE t) {
        opened.push_back(path);
        return CSysHook<&CSysCalls::CreateFileW>::Next()(path, a, s, sa, c, f, t);
    });
    EXPECT_TRUE(RestoreQuarantine(L"trojan.fakealert.5"));

    const std::map<std::wstring, std::vector<std::wstring>> perItem = {
        {L"A.xml", {L"Restoring: ", L"Restoring: "}}, {L"B.xml", {L"Restoring: "}},
        {L"C.xml", {L"Skipping: ", L"Skipping: "}},   {L"D.xml", {L"Skipping: "}}};
    std::vector<std::wstring> more;
    for (const std::wstring& name : found)
        for (const std::wstring& what : perItem.count(name) ? perItem.at(name) : std::vector<std::wstring>()) {
            more.push_back(All(kTag, what + Index(name)));
            if (what == L"Restoring: ")
                more.push_back(Error(kTag, what + Index(name) + L" failed"));
        }
    EXPECT_EQ(std::set<std::wstring>(found.begin(), found.end()),
              (std::set<std::wstring>{L"A.xml", L"B.xml", L"C.xml", L"D.xml", L"E.xml", L"F.xml"}));
    EXPECT_EQ(Messages(), Lines(m_sFolder, more));
    EXPECT_EQ(std::count(opened.begin(), opened.end(), m_Quarantine.Join(L"E.xml")), 0) << "a folder";
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

TEST_F(RestoreDriverTest, LibraryThatCannotStartEndsTheDriverWithOk)
{
    m_Key.m_OpenResult = ERROR_FILE_NOT_FOUND;
    CSysRecorder<&CSysCalls::FindFirstFileW> search;
    EXPECT_TRUE(RestoreQuarantine(L"trojan.fakealert.5"));
    EXPECT_EQ(Messages(), (std::vector<std::wstring>{All(kTag, L"szVirusName=trojan.fakealert.5"), kNoKey,
                                                     Error(kTag, L"Could not init vaultkit!"),
                                                     All(kTag, L"ok")}));
    EXPECT_EQ(search.Count(), 0u);
    EXPECT_EQ(g_nVaultkitInit, 1); // the driver does not stop a library that did not start
    VaultkitUninit();
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
    EXPECT_EQ(Messages(), Lines(m_sFolder, {Error(kTag, L"Index path too long: " + m_sFolder + name)}));
    EXPECT_EQ(opens.Count(), 0u);
}
