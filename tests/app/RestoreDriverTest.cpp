// The restore driver over a real quarantine folder: which items are restored or skipped.
#include "tests/app/AppTestSupport.h"
#include "platform/WineStandins.h"
#include "tests/support/QuarantineKey.h"
#include "tests/support/TestFiles.h"
#include "tools/itembuilder/ItemBuilder.h"

const std::wstring kTag = L"RestoreQuarantine";

using RestoreDriverTest = AppTest;

// Every location of a matching item (any case) is restored; folders and non-indexes passed over;
// an index without payload fails and stays, one restored in full goes.
TEST_F(RestoreDriverTest, MatchingItemsAreRestoredOthersSkipped)
{
    CTempDir quarantine, restored;
    const std::wstring folder = quarantine.Path() + L"\\";
    CQuarantineKey key{folder};
    // The driver's lines, those after its search sorted (the search's order is the disk's).
    auto Restore = [&] {
        m_Debugger.Clear();
        EXPECT_TRUE(RestoreQuarantine(L"trojan.fakealert.5"));
        EXPECT_EQ(g_nVaultkitInit, 0) << "the library was not stopped";
        std::vector<std::wstring> lines = Messages();
        std::sort(lines.begin() + std::min<size_t>(lines.size(), 4), lines.end());
        return lines;
    };
    auto Lines = [&](std::vector<std::wstring> more) {
        more.push_back(All(kTag, L"ok"));
        std::sort(more.begin(), more.end());
        more.insert(more.begin(), {All(kTag, L"szVirusName=trojan.fakealert.5"),
                                   All(kTag, L"Inited vaultkit!"), All(kTag, L"quarFolderPath=" + folder),
                                   All(kTag, L"Pattern : [" + folder + L"*.xml]")});
        return more;
    };
    auto Index = [&](const std::wstring& name) { return L"[" + folder + name + L"]"; };
    EXPECT_EQ(Restore(), Lines({}));
    for (const auto& [base, dvirus] :
         {std::pair(L"A", L"TROJAN.FakeAlert.5"), std::pair(L"C", L"trojan.fakealert.55")}) {
        CItemDescription item; // indexes without their payloads
        item.dvirus = dvirus;
        item.locations = {{L"one", restored.Path()}, {L"two", restored.Path()}};
        item.damages = {{EItemDamage::NoPayload, {}}};
        ASSERT_TRUE(BuildQuarItem(item, quarantine.Join(base)));
    }
    ASSERT_TRUE(CreateDirectoryW(quarantine.Join(L"E.xml").c_str(), nullptr));
    ASSERT_TRUE(WriteWholeFile(quarantine.Join(L"F.xml"), "not an index"));
    InstallWineStandins(); // the restore writes through the backup stand-in under Wine
    CItemDescription desc;
    desc.content = "restored content";
    desc.locations = {{L"back.txt", restored.Path() + L"\\"}};
    ASSERT_TRUE(BuildQuarItem(desc, quarantine.Join(L"B")));
    const std::wstring a = L"Restoring: " + Index(L"A.xml");
    EXPECT_EQ(Restore(), Lines({Error(kTag, a + L" failed"), Error(kTag, a + L" failed"),
                                All(kTag, a), All(kTag, a), All(kTag, L"Restoring: " + Index(L"B.xml")),
                                All(kTag, L"Restoring: " + Index(L"B.xml") + L" ok"),
                                All(kTag, L"Skipping: " + Index(L"C.xml")),
                                All(kTag, L"Skipping: " + Index(L"C.xml"))}));
    EXPECT_EQ(ReadFileBytes(restored.Join(L"back.txt")), "restored content");
    EXPECT_TRUE(PathExists(quarantine.Join(L"A.xml"))); // failed restores retire nothing
    EXPECT_FALSE(PathExists(quarantine.Join(L"B.xml")));
}

// The folder text is used as read: empty after a failed read once the library had started (the
// search runs in the current folder), without its backslash as it stands.
TEST_F(RestoreDriverTest, FolderTextIsUsedAsReadWhenMissingOrWithoutBackslash)
{
    CTempDir quarantine;
    CItemDescription other;
    other.dvirus = L"other.threat";
    other.locations = {{L"one", L"C:\\"}};
    ASSERT_TRUE(BuildQuarItem(other, quarantine.Join(L"A")));
    CQuarantineKey key{quarantine.Path()};
    const std::vector<std::wstring> opening = {All(kTag, L"szVirusName=trojan.fakealert.5"),
                                               All(kTag, L"Inited vaultkit!")};
    wchar_t previous[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(quarantine.Path().c_str()));
    {
        CSysFailNth<&CSysCalls::RegOpenKeyExW> driversRead(2, 0, ERROR_ACCESS_DENIED);
        EXPECT_TRUE(RestoreQuarantine(L"trojan.fakealert.5"));
    }
    SetCurrentDirectoryW(previous);
    std::vector<std::wstring> failed = opening;
    failed.insert(failed.end(), {Error(L"GetQuarFolderPath", L"Cannot open registry path: " +
                                                                 std::wstring(kQuarantineKey)),
                                 All(kTag, L"quarFolderPath="), All(kTag, L"Pattern : [*.xml]"),
                                 All(kTag, L"Skipping: [A.xml]"), All(kTag, L"ok")});
    EXPECT_EQ(Messages(), failed);

    m_Debugger.Clear();
    EXPECT_TRUE(RestoreQuarantine(L"trojan.fakealert.5"));
    std::vector<std::wstring> bare = opening;
    bare.insert(bare.end(), {All(kTag, L"quarFolderPath=" + quarantine.Path()),
                             All(kTag, L"Pattern : [" + quarantine.Path() + L"*.xml]"), All(kTag, L"ok")});
    EXPECT_EQ(Messages(), bare);
    EXPECT_EQ(g_nVaultkitInit, 0);
}
