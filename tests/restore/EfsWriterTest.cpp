// The EFS writer: the payload complemented back through the raw import, one digest pair,
// the callback's trace, the lock around each read, and the import context always closed.
#include "platform/EfsRawStandin.h"
#include "platform/Owners.h"
#include "quarantine/Vaultkit.h"
#include "restore/Writers.h"
#include "tests/restore/StoredItem.h"
#include "tests/support/SysHooks.h"
#include "tests/support/TestFiles.h"
#include <gtest/gtest.h>

namespace {

std::string Joined(const DigestList& list)
{
    std::vector<uint8_t> joined;
    list.Concatenate(joined);
    return std::string(joined.begin(), joined.end());
}

class EfsWriter : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_nContexts = StandinEfsOpenContexts();
        UseContent(Filler(150000, 3));  // three blocks of the import
    }
    void UseContent(const std::string& content)
    {
        m_Content = content;
        m_Item = EfsItem(content);
        m_nSize = static_cast<int64_t>(content.size());
        m_Payload.reset();
        std::wstring path = m_Dir.Join(L"A1.cvq");
        ASSERT_TRUE(WriteFileBytes(path, m_Item.payload));
        m_Payload.reset(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(m_Payload);
    }
    int32_t Restore()
    {
        PVOID context = nullptr;
        EXPECT_EQ(g_Sys.OpenEncryptedFileRawW(m_Dest.c_str(), CREATE_FOR_IMPORT, &context), 0u);
        m_Trace.Clear();
        return RestoreEfsFile(m_Payload.get(), m_Original, m_Crypted, context, m_nSize);
    }

    CTempDir m_Dir;
    std::wstring m_Dest = m_Dir.Join(L"secret.doc");
    std::string m_Content;
    CTestItem m_Item;
    int64_t m_nSize = 0;
    CUniqueFile m_Payload;
    DigestList m_Original;
    DigestList m_Crypted;
    CDebugCapture m_Trace;
    long m_nContexts = 0;
};

const wchar_t kIn[] = L"[VAULTKIT] --> EFSRawWriteCallback";
const wchar_t kOut[] = L"[VAULTKIT] <-- EFSRawWriteCallback";

} // namespace

TEST_F(EfsWriter, ContentComesBackWithOneDigestPair)
{
    CSysRecorder<&CSysCalls::EnterCriticalSection> enter;
    EXPECT_EQ(Restore(), 0);
    EXPECT_EQ(ReadFileBytes(m_Dest), m_Content);
    EXPECT_EQ(Joined(m_Original), m_Item.hash);
    EXPECT_EQ(Joined(m_Crypted), m_Item.qhash);
    // Three blocks with data, then the one that delivers nothing and says so once.
    Lines block = {kIn, kOut};
    Lines last = {kIn, L"[VAULTKIT] EFSRawWriteCallback: finished reading the file", kOut};
    EXPECT_EQ(m_Trace.Lines(), block + block + block + last);
    ASSERT_EQ(enter.Count(), 4u);
    for (const auto& call : enter.Calls())
        EXPECT_EQ(std::get<0>(call), &g_csEfsRead);
    EXPECT_EQ(StandinEfsOpenContexts(), m_nContexts);
}

// The writer only reports; the caller removes what the import left.
TEST_F(EfsWriter, ReadFailureAbortsTheImport)
{
    CSysFailNth<&CSysCalls::ReadFile> fail(2, ERROR_CRC, FALSE);
    CSysRecorder<&CSysCalls::LeaveCriticalSection> leave;
    EXPECT_EQ(Restore(), 5);
    EXPECT_EQ(m_Trace.Lines(),
              (Lines{kIn, kOut, kIn,
                     L"[VAULTKIT] <-- EFSRawWriteCallback VAULTKIT_ERROR_CANNOT_READ_SOURCE (23)",
                     L"[VAULTKIT] WriteEncryptedFileRaw [VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION (23)]"}));
    EXPECT_EQ(leave.Count(), 2u);  // the lock is left on the failed read too
    EXPECT_EQ(StandinEfsOpenContexts(), m_nContexts);
    EXPECT_EQ(m_Original.GetCount(), 0);
    EXPECT_EQ(m_Crypted.GetCount(), 0);
}

// The import is handed at most the item's size and the allowance: the block that would
// pass it is never handed on, and the answer is the size mismatch.
TEST_F(EfsWriter, TheItemsSizeBoundsTheImport)
{
    std::vector<ULONG> handed;
    CSysHook<&CSysCalls::WriteEncryptedFileRaw> import(
        [&](PFE_IMPORT_FUNC callback, PVOID callbackContext, PVOID context) -> DWORD {
            for (;;) {
                BYTE block[65536];
                ULONG length = sizeof(block);
                DWORD rc = callback(block, callbackContext, &length);
                if (rc != ERROR_SUCCESS || length == 0)
                    return rc;
                handed.push_back(length);
            }
        });
    UseContent(Filler(kStreamAllowance + 70000, 4));
    m_nSize = 70000 - 1;
    EXPECT_EQ(Restore(), 12);
    EXPECT_EQ(m_Trace.Lines().back(), L"[VAULTKIT] VAULTKIT_ERROR_FILE_SIZE_MISMATCH");
    EXPECT_EQ(handed, std::vector<ULONG>(17, 65536));
    EXPECT_EQ(m_Original.GetCount(), 0);
    EXPECT_EQ(StandinEfsOpenContexts(), m_nContexts);

    handed.clear();
    UseContent(m_Content);  // exactly what may be handed on
    m_nSize = 70000;
    EXPECT_EQ(Restore(), 0);
    EXPECT_EQ(handed.size(), 18u);
    EXPECT_EQ(handed.back(), 70000u - 65536u);
}

TEST_F(EfsWriter, CallbackHonoursTheOfferedLength)
{
    MD5_CTX original;
    MD5_CTX crypted;
    MD5Init(&original);
    MD5Init(&crypted);
    EfsCallbackContext context = {m_Payload.get(), &original, &crypted};
    BYTE buffer[16] = {};
    ULONG length = 5;
    EXPECT_EQ(EFSRawWriteCallback(buffer, &context, &length), 0u);
    EXPECT_EQ(length, 5u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 6), m_Content.substr(0, 5) + '\0');

    // A failed read that leaves no error still stops the import.
    CSysFailNth<&CSysCalls::ReadFile> fail(1, ERROR_SUCCESS, FALSE);
    EXPECT_EQ(EFSRawWriteCallback(buffer, &context, &length), DWORD(ERROR_READ_FAULT));
}
