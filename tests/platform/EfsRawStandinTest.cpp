// Our raw EFS import for Wine: the file holds exactly what the import callback delivered,
// the callback's abort code comes back, the context is closed, failures keep their error.
#include "platform/EfsRawStandin.h"
#include "platform/WineStandins.h"
#include "tests/support/SysHooks.h"
#include "tests/support/TestFiles.h"
#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Plays the restore's side of the import: hands out the chunks one per call, then 0
// bytes, or abort codes where given.
struct CImportSource
{
    std::vector<std::string> chunks;
    size_t next = 0;
    size_t abortAt = SIZE_MAX;  // call index that returns abortCode
    DWORD abortCode = 0;
    ULONG overClaimBy = 0;      // claim this many bytes more than offered
    std::vector<ULONG> offered;

    static DWORD WINAPI Callback(PBYTE pbData, PVOID pvCallbackContext, PULONG ulLength)
    {
        auto* self = static_cast<CImportSource*>(pvCallbackContext);
        self->offered.push_back(*ulLength);
        if (self->offered.size() - 1 == self->abortAt)
            return self->abortCode;
        if (self->overClaimBy) {
            *ulLength += self->overClaimBy;
            return 0;
        }
        if (self->next == self->chunks.size()) {
            *ulLength = 0;
            return 0;
        }
        const std::string& c = self->chunks[self->next++];
        std::memcpy(pbData, c.data(), c.size());
        *ulLength = ULONG(c.size());
        return 0;
    }
};

std::string Pattern(size_t n, unsigned seed)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = char((i * 7 + seed) & 0xFF);
    return s;
}

} // namespace

TEST(StandinEfsImport, FileHoldsExactlyWhatTheCallbackDelivered)
{
    CTempDir dir;
    std::wstring path = dir.Join(L"secret.doc");
    ASSERT_TRUE(WriteFileBytes(path, std::string(100000, 'o'))); // replaced, not merged
    long before = StandinEfsOpenContexts();
    CImportSource source;
    source.chunks = {Pattern(1, 1), Pattern(65536, 2), Pattern(1000, 3)};

    PVOID ctx = nullptr;
    ASSERT_EQ(StandinOpenEncryptedFileRawW(path.c_str(), CREATE_FOR_IMPORT, &ctx), 0u);
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(StandinEfsOpenContexts(), before + 1);
    EXPECT_EQ(StandinWriteEncryptedFileRaw(&CImportSource::Callback, &source, ctx), 0u);
    EXPECT_EQ(source.offered, std::vector<ULONG>(4, 65536));

    CSysRecorder<&CSysCalls::CloseHandle> closes;
    StandinCloseEncryptedFileRaw(ctx);
    EXPECT_EQ(closes.Count(), 1u);
    EXPECT_EQ(StandinEfsOpenContexts(), before);
    EXPECT_EQ(ReadFileBytes(path), source.chunks[0] + source.chunks[1] + source.chunks[2]);
    // The handle was opened without sharing: deleting works only once it is closed.
    EXPECT_TRUE(DeleteFileW(path.c_str()));
}

TEST(StandinEfsImport, NothingDeliveredGivesAnEmptyFile)
{
    CTempDir dir;
    std::wstring path = dir.Join(L"empty");
    CImportSource source;
    PVOID ctx = nullptr;
    ASSERT_EQ(StandinOpenEncryptedFileRawW(path.c_str(), CREATE_FOR_IMPORT, &ctx), 0u);
    EXPECT_EQ(StandinWriteEncryptedFileRaw(&CImportSource::Callback, &source, ctx), 0u);
    StandinCloseEncryptedFileRaw(ctx);
    bool ok = false;
    EXPECT_EQ(ReadFileBytes(path, &ok), "");
    EXPECT_TRUE(ok);
}

TEST(StandinEfsImport, ImportFailuresComeBackAsTheirCodes)
{
    CTempDir dir;
    long before = StandinEfsOpenContexts();
    struct Case
    {
        const char* what;
        size_t abortAt;
        DWORD abortCode;
        ULONG overClaim;
        int failWrite;
        DWORD expected;
    };
    for (const Case& c : {Case{"callback aborts", 1, 1234, 0, 0, 1234},
                          Case{"read error on first call", 0, ERROR_HANDLE_EOF, 0, 0,
                               ERROR_HANDLE_EOF},
                          Case{"claims more than offered", SIZE_MAX, 0, 1, 0, ERROR_INVALID_DATA},
                          Case{"disk full", SIZE_MAX, 0, 0, 2, ERROR_DISK_FULL}}) {
        std::wstring path = dir.Join(L"f");
        CImportSource source;
        source.chunks = {"one", "two", "three"};
        source.abortAt = c.abortAt;
        source.abortCode = c.abortCode;
        source.overClaimBy = c.overClaim;
        PVOID ctx = nullptr;
        ASSERT_EQ(StandinOpenEncryptedFileRawW(path.c_str(), CREATE_FOR_IMPORT, &ctx), 0u);
        DWORD rc;
        if (c.failWrite) {
            CSysFailNth<&CSysCalls::WriteFile> full(c.failWrite, ERROR_DISK_FULL, FALSE);
            rc = StandinWriteEncryptedFileRaw(&CImportSource::Callback, &source, ctx);
        } else {
            rc = StandinWriteEncryptedFileRaw(&CImportSource::Callback, &source, ctx);
        }
        EXPECT_EQ(rc, c.expected) << c.what;
        StandinCloseEncryptedFileRaw(ctx);
        EXPECT_EQ(StandinEfsOpenContexts(), before) << c.what;
        EXPECT_TRUE(DeleteFileW(path.c_str())) << c.what;
    }
}

TEST(StandinEfsImport, OpenRefusals)
{
    CTempDir dir;
    long before = StandinEfsOpenContexts();
    PVOID ctx = reinterpret_cast<PVOID>(1);

    EXPECT_EQ(StandinOpenEncryptedFileRawW(dir.Join(L"x").c_str(), /*ulFlags=*/0, &ctx),
              DWORD(ERROR_CALL_NOT_IMPLEMENTED));
    EXPECT_EQ(ctx, nullptr);
    EXPECT_EQ(StandinOpenEncryptedFileRawW(dir.Join(L"x").c_str(),
                                           CREATE_FOR_IMPORT | CREATE_FOR_DIR, &ctx),
              DWORD(ERROR_CALL_NOT_IMPLEMENTED));
    EXPECT_FALSE(FileExists(dir.Join(L"x")));

    EXPECT_EQ(StandinOpenEncryptedFileRawW(dir.Join(L"no\\such\\x").c_str(), CREATE_FOR_IMPORT,
                                           &ctx),
              DWORD(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(ctx, nullptr);
    {
        CSysFailNth<&CSysCalls::CreateFileW> denied(1, ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
        EXPECT_EQ(StandinOpenEncryptedFileRawW(dir.Join(L"x").c_str(), CREATE_FOR_IMPORT, &ctx),
                  DWORD(ERROR_ACCESS_DENIED));
        EXPECT_EQ(ctx, nullptr);
    }
    EXPECT_EQ(StandinOpenEncryptedFileRawW(dir.Join(L"x").c_str(), CREATE_FOR_IMPORT, nullptr),
              DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(StandinWriteEncryptedFileRaw(&CImportSource::Callback, nullptr, nullptr),
              DWORD(ERROR_INVALID_PARAMETER));
    StandinCloseEncryptedFileRaw(nullptr);
    EXPECT_EQ(StandinEfsOpenContexts(), before);
}

TEST(StandinEfsImport, InstalledIntoTheTableOnWine)
{
    CTempDir dir;
    std::wstring path = dir.Join(L"via-table");
    InstallWineStandins();
    CImportSource source;
    source.chunks = {"through the table"};
    PVOID ctx = nullptr;
    EXPECT_EQ(g_Sys.OpenEncryptedFileRawW(path.c_str(), CREATE_FOR_IMPORT, &ctx), 0u);
    EXPECT_EQ(g_Sys.WriteEncryptedFileRaw(&CImportSource::Callback, &source, ctx), 0u);
    g_Sys.CloseEncryptedFileRaw(ctx);
    SysRestoreAllCalls();
    EXPECT_EQ(ReadFileBytes(path), "through the table");
}
