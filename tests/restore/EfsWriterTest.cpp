// The EFS writer's import: the payload complemented back, one digest pair, the lock around
// each read, the size bound, the callback's own contract, and the import context always
// closed. Its traces through the restore are DecryptAndRestoreTest's.
#include "platform/EfsRawStandin.h"
#include "platform/Owners.h"
#include "restore/Writers.h"
#include "tests/restore/RestoreFixture.h"

namespace {

class EfsWriter : public ::testing::Test
{
protected:
    void SetUp() override { m_nContexts = StandinEfsOpenContexts(); }
    void UseContent(const std::string& content)
    {
        m_Content = content;
        m_Stored = BuildEfsPayload(content);
        m_Payload.reset();
        ASSERT_TRUE(WriteFileBytes(m_Dir.Join(L"A1.cvq"), m_Stored.bytes));
        m_Payload.reset(::CreateFileW(m_Dir.Join(L"A1.cvq").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
    }
    int32_t Restore(int64_t size)
    {
        PVOID context = nullptr;
        EXPECT_EQ(g_Sys.OpenEncryptedFileRawW(m_Dir.Join(L"secret.doc").c_str(), CREATE_FOR_IMPORT, &context), 0u);
        m_Trace.Clear();
        int32_t result = RestoreEfsFile(m_Payload.get(), m_Original, m_Crypted, context, size);
        EXPECT_EQ(StandinEfsOpenContexts(), m_nContexts);
        return result;
    }
    std::string Joined(const DigestList& list)
    {
        std::vector<uint8_t> joined;
        list.Concatenate(joined);
        return std::string(joined.begin(), joined.end());
    }

    CTempDir m_Dir;
    std::string m_Content;
    CItemPayload m_Stored;
    CUniqueFile m_Payload;
    DigestList m_Original;
    DigestList m_Crypted;
    CDebugCapture m_Trace;
    long m_nContexts = 0;
};

std::string Filler(size_t n)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = char(i * 31 + (i >> 9));
    return s;
}

} // namespace

// Three blocks with data, then the one that delivers nothing; the lock is taken around
// every read.
TEST_F(EfsWriter, ContentComesBackWithOneDigestPair)
{
    UseContent(Filler(150000));
    CSysRecorder<&CSysCalls::EnterCriticalSection> enter;
    EXPECT_EQ(Restore(150000), 0);
    EXPECT_EQ(ReadFileBytes(m_Dir.Join(L"secret.doc")), m_Content);
    EXPECT_EQ(Joined(m_Original), m_Stored.hash);
    EXPECT_EQ(Joined(m_Crypted), m_Stored.qhash);
    ASSERT_EQ(enter.Count(), 4u);
    for (const auto& call : enter.Calls())
        EXPECT_EQ(std::get<0>(call), &g_csEfsRead);
    EXPECT_EQ(m_Trace.Lines().size(), 4u * 2 + 1);
}

// The import is handed at most the item's size and the allowance: the block that would
// pass it is never handed on, and the answer is the size mismatch.
TEST_F(EfsWriter, TheItemsSizeBoundsTheImport)
{
    std::vector<ULONG> handed;
    CSysHook<&CSysCalls::WriteEncryptedFileRaw> import([&](PFE_IMPORT_FUNC callback, PVOID callbackContext, PVOID) -> DWORD {
        for (;;) {
            BYTE block[65536];
            ULONG length = sizeof(block);
            DWORD rc = callback(block, callbackContext, &length);
            if (rc != ERROR_SUCCESS || length == 0)
                return rc;
            handed.push_back(length);
        }
    });
    UseContent(Filler(kStreamAllowance + 70000));
    EXPECT_EQ(Restore(70000 - 1), 12);
    EXPECT_EQ(m_Trace.Lines().back(), L"[VAULTKIT] VAULTKIT_ERROR_FILE_SIZE_MISMATCH");
    EXPECT_EQ(handed, std::vector<ULONG>(17, 65536));
    EXPECT_EQ(m_Original.GetCount(), 0);

    handed.clear();
    UseContent(m_Content);  // exactly what may be handed on
    EXPECT_EQ(Restore(70000), 0);
    EXPECT_EQ(handed.size(), 18u);
    EXPECT_EQ(handed.back(), 70000u - 65536u);
}

// It fills no more than it was offered, and a failed read that leaves no error still stops
// the import, with the lock left on that path too.
TEST_F(EfsWriter, CallbackHonoursTheOfferedLength)
{
    UseContent("content");
    MD5_CTX original, crypted;
    MD5Init(&original);
    MD5Init(&crypted);
    EfsCallbackContext context = {m_Payload.get(), &original, &crypted};
    BYTE buffer[16] = {};
    ULONG length = 5;
    EXPECT_EQ(EFSRawWriteCallback(buffer, &context, &length), 0u);
    EXPECT_EQ(length, 5u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 6), std::string("conte") + '\0');
    CSysRecorder<&CSysCalls::LeaveCriticalSection> leave;
    CSysFailNth<&CSysCalls::ReadFile> fail(1, ERROR_SUCCESS, FALSE);
    EXPECT_EQ(EFSRawWriteCallback(buffer, &context, &length), DWORD(ERROR_READ_FAULT));
    EXPECT_EQ(leave.Count(), 1u);
}
