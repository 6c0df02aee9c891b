// Builder to restore: items the builder writes come back through the restore operation
// under Wine with our stand-ins in the table, and each damage is caught as the restore
// reports it.
#include "quarantine/Vaultkit.h"
#include "restore/DecryptAndRestore.h"
#include "tests/support/SysHooks.h"
#include "tests/support/LibrarySetup.h"
#include "tests/support/SecurityText.h"
#include "tests/support/TestFiles.h"
#include "tools/itembuilder/ItemBuilder.h"
#include <gtest/gtest.h>
#include <cstring>

namespace {

std::string Pattern(size_t n, unsigned seed)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = char((i * 13 + seed) & 0xFF);
    return s;
}

// The program's set-up: stand-ins installed, the library started.
class RoundTrip : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(StartQuarantineLibrary());
    }
    void TearDown() override
    {
        VaultkitUninit();
        SysRestoreAllCalls();
    }

    CItemDescription Desc(const std::string& content)
    {
        CItemDescription desc;
        desc.content = content;
        desc.locations = {{L"restored.exe", m_Dest.Path()}};
        return desc;
    }
    int32_t Restore(const CBuiltItem& built, size_t location = 0)
    {
        const QuarFileEntry& e = built.item.m_Files[location];
        return VaultkitDecryptAndRestore(built.xmlPath.c_str(), e.name, e.path);
    }
    std::wstring Destination() const { return m_Dest.Join(L"restored.exe"); }

    CTempDir m_Quarantine;
    CTempDir m_Dest;
    CDebugCapture m_Trace; // keeps the library's trace off the real debugger output
};

} // namespace

TEST_F(RoundTrip, OrdinaryItemComesBackToEveryLocation)
{
    CTempDir second;
    CItemDescription desc = Desc(Pattern(150000, 3));
    desc.security = SecurityDescriptorBytes(L"O:BAG:BAD:(A;;FA;;;WD)");
    ASSERT_FALSE(desc.security->empty());
    CItemStream zone;
    zone.id = 4;
    zone.name = L":Zone.Identifier:$DATA";
    zone.data = "[ZoneTransfer]\r\nZoneId=3\r\n";
    desc.extraStreams = {zone};
    desc.locations.push_back({L"restored.exe", second.Path() + L"\\"});
    CBuiltItem built;
    ASSERT_TRUE(BuildQuarItem(desc, m_Quarantine.Join(L"A1"), &built));

    CSysRecorder<&CSysCalls::SetKernelObjectSecurity> security;
    EXPECT_EQ(Restore(built, 0), VAULTKIT_ERROR_SUCCESS);
    EXPECT_GE(security.Count(), 1u); // the descriptor reached our BackupWrite intact
    EXPECT_EQ(ReadFileBytes(Destination()), desc.content);
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    ASSERT_TRUE(GetFileAttributesExW(Destination().c_str(), GetFileExInfoStandard, &data));
    ULARGE_INTEGER lwt;
    lwt.LowPart = data.ftLastWriteTime.dwLowDateTime;
    lwt.HighPart = data.ftLastWriteTime.dwHighDateTime;
    EXPECT_EQ(int64_t(lwt.QuadPart), desc.lwt);
    QuarItem left;
    ASSERT_TRUE(left.LoadXml(built.xmlPath.c_str()));
    ASSERT_EQ(left.GetFileCount(), 1u);
    EXPECT_EQ(std::wstring(left.SelectFile(0).path), second.Path() + L"\\");
    EXPECT_TRUE(FileExists(built.payloadPath));

    EXPECT_EQ(Restore(built, 1), VAULTKIT_ERROR_SUCCESS);
    EXPECT_EQ(ReadFileBytes(second.Join(L"restored.exe")), desc.content);
    EXPECT_FALSE(FileExists(built.xmlPath));
    EXPECT_FALSE(FileExists(built.payloadPath));
}

TEST_F(RoundTrip, EfsAndEmptyItemsComeBack)
{
    struct Case
    {
        const char* what;
        std::string content;
        int32_t dflags;
        bool emptyAsRecord;
    };
    for (const Case& c : {Case{"efs", Pattern(70000, 5), QUAR_DFLAG_EFS, true},
                          Case{"empty efs", "", QUAR_DFLAG_EFS, true},
                          Case{"empty record", "", 0, true},
                          Case{"no record", "", 0, false}}) {
        CItemDescription desc = Desc(c.content);
        desc.dflags = c.dflags;
        desc.emptyContentAsRecord = c.emptyAsRecord;
        CBuiltItem built;
        ASSERT_TRUE(BuildQuarItem(desc, m_Quarantine.Join(L"E1"), &built)) << c.what;
        EXPECT_EQ(Restore(built), VAULTKIT_ERROR_SUCCESS) << c.what;
        bool ok = false;
        EXPECT_EQ(ReadFileBytes(Destination(), &ok), c.content) << c.what;
        EXPECT_TRUE(ok) << c.what;
        EXPECT_FALSE(FileExists(built.xmlPath)) << c.what;
        ASSERT_TRUE(DeleteFileW(Destination().c_str())) << c.what;
    }
}

TEST_F(RoundTrip, EachDamageIsCaughtAndTheQuarantineKept)
{
    struct Case
    {
        const wchar_t* damage;
        int32_t expected;
    };
    // The payload is cut where its second record starts: the main data is whole, so only
    // the digests can tell.
    const Case cases[] = {
        {L"truncate:1020", VAULTKIT_ERROR_ORIGINAL_MD5_MISMATCH},
        {L"flip:500", VAULTKIT_ERROR_ORIGINAL_MD5_MISMATCH},
        {L"hash", VAULTKIT_ERROR_ORIGINAL_MD5_MISMATCH},
        {L"qhash", VAULTKIT_ERROR_CRYPTED_MD5_MISMATCH},
        {L"size", VAULTKIT_ERROR_FILE_SIZE_MISMATCH},
        {L"nopayload", VAULTKIT_ERROR_CANNOT_READ_SOURCE},
    };
    for (const Case& c : cases) {
        CItemDescription desc = Desc(Pattern(1000, 9));
        CItemStream zone;
        zone.id = 4;
        zone.name = L":Zone.Identifier:$DATA";
        zone.data = "[ZoneTransfer]";
        desc.extraStreams = {zone};
        CItemDamage damage;
        ASSERT_TRUE(ParseItemDamage(c.damage, &damage));
        desc.damages = {damage};
        CBuiltItem built;
        ASSERT_TRUE(BuildQuarItem(desc, m_Quarantine.Join(L"D1"), &built));
        EXPECT_EQ(Restore(built), c.expected) << c.damage;
        EXPECT_FALSE(FileExists(Destination())) << c.damage;
        EXPECT_TRUE(FileExists(built.xmlPath)) << c.damage;
    }
}

TEST_F(RoundTrip, BadSecurityTextOnlyLosesTheSecurity)
{
    CItemDescription desc = Desc("content");
    desc.security = SecurityDescriptorBytes(L"D:(A;;FA;;;WD)");
    desc.damages = {{EItemDamage::BadSecStr, {}}};
    CBuiltItem built;
    ASSERT_TRUE(BuildQuarItem(desc, m_Quarantine.Join(L"S1"), &built));
    CSysRecorder<&CSysCalls::SetKernelObjectSecurity> security;
    EXPECT_EQ(Restore(built), VAULTKIT_ERROR_SUCCESS);
    EXPECT_EQ(security.Count(), 0u);
    EXPECT_EQ(ReadFileBytes(Destination()), "content");
}
