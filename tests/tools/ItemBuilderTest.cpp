// The item builder on disk: the files it writes read back through the index reader, its
// damages on disk, its failures through the table of calls, and the program itself.
#include "platform/Owners.h"
#include "tests/support/SysHooks.h"
#include "tests/support/TestFiles.h"
#include "tests/tools/PayloadReader.h"
#include "tools/itembuilder/ItemBuilder.h"
#include <gtest/gtest.h>

namespace {

CItemDescription SampleSpec()
{
    CItemDescription desc;
    desc.content = "MZ this program cannot be run in DOS mode";
    desc.security = std::string("\x01\x00\x04\x80", 4) + std::string(16, '\0');
    desc.locations = {{L"tool.exe", L"C:\\Users\\Public\\"}, {L"tool.exe", L"C:\\Temp"}};
    desc.qname = L"A1";
    desc.sender = L"someone@example.org";
    return desc;
}

std::wstring Wide(const std::string& s)
{
    return std::wstring(s.begin(), s.end());
}

} // namespace

TEST(ItemBuilder, WritesPayloadAndAnIndexThatReadsBack)
{
    CTempDir dir;
    CItemDescription desc = SampleSpec();
    CBuiltItem built;
    ASSERT_TRUE(BuildQuarItem(desc, dir.Join(L"A1"), &built));
    EXPECT_EQ(built.xmlPath, dir.Join(L"A1.xml"));
    EXPECT_EQ(built.payloadPath, dir.Join(L"A1.cvq"));

    std::string payload = ReadFileBytes(built.payloadPath);
    EXPECT_EQ(payload, built.payload);
    std::vector<CReadRecord> records;
    ASSERT_TRUE(ReadPayloadRecords(payload, &records));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].plain, desc.content);

    QuarItem loaded;
    ASSERT_TRUE(loaded.LoadXml(built.xmlPath.c_str()));
    EXPECT_EQ(loaded.size, int64_t(desc.content.size()));
    EXPECT_EQ(loaded.hash, Wide(JoinedDigests(records, true)));
    EXPECT_EQ(loaded.qhash, Wide(JoinedDigests(records, false)));
    EXPECT_STREQ(loaded.dvirus, L"trojan.fakealert.5");
    EXPECT_STREQ(loaded.qname, L"A1");
    ASSERT_EQ(loaded.GetFileCount(), 2u);
    QuarItemInfo& second = loaded.SelectFile(1);
    EXPECT_STREQ(second.path, L"C:\\Temp");
    EXPECT_STREQ(second.sender, L"someone@example.org");
    EXPECT_EQ(second.crt, kItemDefaultCrt);
    EXPECT_EQ(second.lwt, kItemDefaultLwt);
    EXPECT_EQ(second.lat, kItemDefaultLat);
    // The CR LF line ends of the Base64 text survive the index file.
    std::string secText = EncodeSecurityText(*desc.security);
    ASSERT_TRUE(second.sec_str.has_value());
    EXPECT_EQ(std::string(second.sec_str->begin(), second.sec_str->begin() + secText.size()),
              secText);
}

TEST(ItemBuilder, DamagesReachTheFiles)
{
    CTempDir dir;
    CItemDescription desc = SampleSpec();
    CBuiltItem good;
    ASSERT_TRUE(BuildQuarItem(desc, dir.Join(L"good"), &good));

    desc.damages = {{EItemDamage::TruncatePayload, 7}, {EItemDamage::WrongSize, {}}};
    CBuiltItem bad;
    ASSERT_TRUE(BuildQuarItem(desc, dir.Join(L"bad"), &bad));
    EXPECT_EQ(ReadFileBytes(bad.payloadPath), good.payload.substr(0, 7));
    QuarItem loaded;
    ASSERT_TRUE(loaded.LoadXml(bad.xmlPath.c_str()));
    EXPECT_EQ(loaded.size, good.item.size + 1);
    EXPECT_EQ(loaded.hash, good.item.hash); // digests of the undamaged payload

    // A payload left from an earlier build is deleted for a missing payload.
    desc.damages = {{EItemDamage::NoPayload, {}}};
    ASSERT_TRUE(BuildQuarItem(desc, dir.Join(L"good"), &bad));
    EXPECT_FALSE(FileExists(dir.Join(L"good.cvq")));
    EXPECT_TRUE(FileExists(dir.Join(L"good.xml")));
    ASSERT_TRUE(BuildQuarItem(desc, dir.Join(L"good"), &bad)); // nothing there: still fine

    // A damage that cannot apply writes nothing at all.
    desc.damages = {{EItemDamage::FlipPayloadByte, 100000}};
    SetLastError(0);
    EXPECT_FALSE(BuildQuarItem(desc, dir.Join(L"never"), &bad));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(FileExists(dir.Join(L"never.cvq")));
    EXPECT_FALSE(FileExists(dir.Join(L"never.xml")));
}

TEST(ItemBuilder, FailuresOfEachWriteAreReported)
{
    CTempDir dir;
    CItemDescription desc = SampleSpec();
    desc.content = std::string(3u << 20, 'x'); // written in several slices
    {
        CSysFailNth<&CSysCalls::CreateFileW> denied(1, ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
        EXPECT_FALSE(BuildQuarItem(desc, dir.Join(L"a")));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    }
    EXPECT_FALSE(FileExists(dir.Join(L"a.xml")));
    {
        CSysFailNth<&CSysCalls::WriteFile> full(2, ERROR_DISK_FULL, FALSE);
        EXPECT_FALSE(BuildQuarItem(desc, dir.Join(L"b")));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_DISK_FULL));
        EXPECT_EQ(full.Calls(), 2);
    }
    EXPECT_FALSE(FileExists(dir.Join(L"b.xml")));
    {
        CSysFailNth<&CSysCalls::DeleteFileW> denied(1, ERROR_ACCESS_DENIED, FALSE);
        desc.damages = {{EItemDamage::NoPayload, {}}};
        EXPECT_FALSE(BuildQuarItem(desc, dir.Join(L"c")));
        desc.damages.clear();
    }
    // The index cannot be saved where a folder stands in its way.
    ASSERT_TRUE(CreateDirectoryW(dir.Join(L"d.xml").c_str(), nullptr));
    EXPECT_FALSE(BuildQuarItem(desc, dir.Join(L"d")));
    // Nowhere to write at all.
    EXPECT_FALSE(BuildQuarItem(desc, dir.Join(L"missing\\e")));
}

TEST(ItemBuilderProgram, BuildsAnItemFromItsCommandLine)
{
    CTempDir dir;
    ASSERT_TRUE(WriteFileBytes(dir.Join(L"content.bin"), "program content"));
    std::wstring exe = ITEMBUILDER_EXE;
    for (wchar_t& c : exe)
        if (c == L'/')
            c = L'\\';
    std::wstring cmd = L"\"Z:" + exe + L"\" --out-base \"" + dir.Join(L"P1") +
                       L"\" --content-file \"" + dir.Join(L"content.bin") +
                       L"\" --location \"x.exe|C:\\Program Files\" --dflags 8 --attr 0x21";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &si, &pi));
    WaitForSingleObject(pi.hProcess, 60000);
    DWORD code = 99;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    EXPECT_EQ(code, 0u);

    QuarItem loaded;
    ASSERT_TRUE(loaded.LoadXml(dir.Join(L"P1.xml").c_str()));
    EXPECT_EQ(loaded.dflags, 8);
    EXPECT_EQ(loaded.size, 15);
    ASSERT_EQ(loaded.GetFileCount(), 1u);
    EXPECT_STREQ(loaded.SelectFile(0).path, L"C:\\Program Files");
    EXPECT_EQ(loaded.SelectFile(0).attr, 0x21u);
    std::string stored = ReadFileBytes(dir.Join(L"P1.cvq"));
    ASSERT_EQ(stored.size(), 15u);
    EXPECT_EQ(char(~stored[0]), 'p');
}
