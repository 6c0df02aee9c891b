// The quarantine restore driver over a real quarantine folder of index files: which items
// are restored, which skipped, and that it always answers true.
#include "tests/app/AppTestSupport.h"
#include "platform/WineStandins.h"
#include "quarantine/QuarItem.h"
#include "tests/quarantine/QuarantineKey.h"
#include "tests/support/TestFiles.h"
#include "tools/itembuilder/ItemBuilder.h"

namespace {

const std::wstring kTag = L"RestoreQuarantine";

class RestoreDriverTest : public AppTest
{
protected:
    void TearDown() override { EXPECT_EQ(g_nVaultkitInit, 0) << "the library was not stopped"; }

    // The driver's lines (those after its search sorted, as the search's order is the disk's).
    std::vector<std::wstring> Restore()
    {
        m_Debugger.Clear();
        EXPECT_TRUE(RestoreQuarantine(L"trojan.fakealert.5"));
        std::vector<std::wstring> lines = Messages();
        std::sort(lines.begin() + std::min<size_t>(lines.size(), 4), lines.end());
        return lines;
    }
    // The lines of a restore in the quarantine folder, these (sorted) after its search.
    std::vector<std::wstring> Lines(std::vector<std::wstring> more) const
    {
        more.push_back(All(kTag, L"ok"));
        std::sort(more.begin(), more.end());
        more.insert(more.begin(), {All(kTag, L"szVirusName=trojan.fakealert.5"),
                                   All(kTag, L"Inited vaultkit!"), All(kTag, L"quarFolderPath=" + m_sFolder),
                                   All(kTag, L"Pattern : [" + m_sFolder + L"*.xml]")});
        return more;
    }
    std::wstring Index(const std::wstring& name) const { return L"[" + m_sFolder + name + L"]"; }

    CTempDir m_Quarantine, m_Restored;
    const std::wstring m_sFolder = m_Quarantine.Path() + L"\\";
    CQuarantineKey m_Key{m_sFolder};
};

} // namespace

// Every location of a matching item (letter case aside) is handed to the restore; folders
// and files that are no index are passed over. An index with no payload fails to restore
// and stays; one restored in full goes.
TEST_F(RestoreDriverTest, MatchingItemsAreRestoredOthersSkipped)
{
    EXPECT_EQ(Restore(), Lines({}));
    for (const auto& [file, dvirus] : {std::pair(L"A.xml", L"TROJAN.FakeAlert.5"),
                                       std::pair(L"C.xml", L"trojan.fakealert.55")}) {
        QuarItem item;
        item.hash = item.qhash = L"0123456789ABCDEF0123456789ABCDEF";
        wcscpy(item.dvirus, dvirus);
        for (const wchar_t* name : {L"one", L"two"}) {
            item.m_Files.emplace_back();
            wcscpy(item.m_Files.back().name, name);
            wcscpy(item.m_Files.back().path, m_Restored.Path().c_str());
        }
        ASSERT_TRUE(item.SaveXml(m_Quarantine.Join(file).c_str()));
    }
    ASSERT_TRUE(CreateDirectoryW(m_Quarantine.Join(L"E.xml").c_str(), nullptr));
    ASSERT_TRUE(WriteFileBytes(m_Quarantine.Join(L"F.xml"), "not an index"));
    InstallWineStandins(); // the restore writes through the backup stand-in under Wine
    CItemDescription desc;
    desc.content = "restored content";
    desc.locations = {{L"back.txt", m_Restored.Path() + L"\\"}};
    ASSERT_TRUE(BuildQuarItem(desc, m_Quarantine.Join(L"B")));
    const std::wstring a = L"Restoring: " + Index(L"A.xml");
    EXPECT_EQ(Restore(), Lines({Error(kTag, a + L" failed"), Error(kTag, a + L" failed"),
                                All(kTag, a), All(kTag, a), All(kTag, L"Restoring: " + Index(L"B.xml")),
                                All(kTag, L"Restoring: " + Index(L"B.xml") + L" ok"),
                                All(kTag, L"Skipping: " + Index(L"C.xml")),
                                All(kTag, L"Skipping: " + Index(L"C.xml"))}));
    EXPECT_EQ(ReadFileBytes(m_Restored.Join(L"back.txt")), "restored content");
    EXPECT_TRUE(FileExists(m_Quarantine.Join(L"A.xml"))); // failed restores retire nothing
    EXPECT_FALSE(FileExists(m_Quarantine.Join(L"B.xml")));
}
