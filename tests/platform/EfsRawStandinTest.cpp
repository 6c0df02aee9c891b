// Our raw EFS import for Wine: the file holds exactly what the import callback delivered,
// the callback's abort code comes back, the context is closed, failures keep their error.
#include "platform/EfsRawStandin.h"
#include "tests/support/SysHooks.h"
#include "tests/support/TestFiles.h"
#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Plays the restore's side of the import: hands out the chunks one per call, then 0
// bytes; or aborts, or claims more than it was offered.
struct CImportSource
{
    std::vector<std::string> chunks;
    size_t next = 0;
    size_t abortAt = SIZE_MAX;  // the call that returns abortCode
    DWORD abortCode = 0;
    ULONG overClaimBy = 0;
    std::vector<ULONG> offered;

    static DWORD WINAPI Callback(PBYTE pbData, PVOID pvCallbackContext, PULONG ulLength)
    {
        auto* self = static_cast<CImportSource*>(pvCallbackContext);
        self->offered.push_back(*ulLength);
        if (self->offered.size() - 1 == self->abortAt)
            return self->abortCode;
        std::string chunk = self->next < self->chunks.size() ? self->chunks[self->next++] : "";
        std::memcpy(pbData, chunk.data(), chunk.size());
        *ulLength = self->overClaimBy ? *ulLength + self->overClaimBy : ULONG(chunk.size());
        return 0;
    }
};

// Opens path for import, runs the import, closes: the import's result.
DWORD Import(const std::wstring& path, CImportSource& source)
{
    PVOID ctx = nullptr;
    DWORD opened = StandinOpenEncryptedFileRawW(path.c_str(), CREATE_FOR_IMPORT, &ctx);
    EXPECT_EQ(opened, 0u);
    if (opened)
        return opened;
    DWORD result = StandinWriteEncryptedFileRaw(&CImportSource::Callback, &source, ctx);
    StandinCloseEncryptedFileRaw(ctx);
    return result;
}

} // namespace

TEST(StandinEfsImport, TheFileHoldsExactlyWhatTheCallbackDelivered)
{
    CTempDir dir;
    std::wstring path = dir.Join(L"secret.doc");
    ASSERT_TRUE(WriteFileBytes(path, std::string(100000, 'o')));  // replaced, not merged
    long before = StandinEfsOpenContexts();
    for (const std::vector<std::string>& chunks :
         {std::vector<std::string>{"1", std::string(65536, '2'), std::string(1000, '3')},
          std::vector<std::string>{}}) {
        CImportSource source;
        source.chunks = chunks;
        CSysRecorder<&CSysCalls::CloseHandle> closes;
        EXPECT_EQ(Import(path, source), 0u);
        EXPECT_EQ(closes.Count(), 1u);
        EXPECT_EQ(source.offered, std::vector<ULONG>(chunks.size() + 1, 65536));
        bool read = false;
        std::string all;
        for (const std::string& c : chunks)
            all += c;
        EXPECT_EQ(ReadFileBytes(path, &read), all);
        EXPECT_TRUE(read);
    }
    EXPECT_EQ(StandinEfsOpenContexts(), before);
}

TEST(StandinEfsImport, FailuresComeBackAsTheirCodes)
{
    CTempDir dir;
    long before = StandinEfsOpenContexts();
    struct Case
    {
        size_t abortAt;
        DWORD abortCode;
        ULONG overClaim;
        int failWrite;
        DWORD expected;
    };
    const Case cases[] = {{1, 1234, 0, 0, 1234},
                          {0, ERROR_HANDLE_EOF, 0, 0, ERROR_HANDLE_EOF},
                          {SIZE_MAX, 0, 1, 0, ERROR_INVALID_DATA},
                          {SIZE_MAX, 0, 0, 2, ERROR_DISK_FULL}};
    for (const Case& c : cases) {
        CImportSource source;
        source.chunks = {"one", "two", "three"};
        source.abortAt = c.abortAt;
        source.abortCode = c.abortCode;
        source.overClaimBy = c.overClaim;
        CSysFailNth<&CSysCalls::WriteFile> full(c.failWrite, ERROR_DISK_FULL, FALSE);
        EXPECT_EQ(Import(dir.Join(L"f"), source), c.expected) << &c - cases;
        EXPECT_EQ(StandinEfsOpenContexts(), before);
        EXPECT_TRUE(DeleteFileW(dir.Join(L"f").c_str()));  // closed: no handle keeps it
    }
}

TEST(StandinEfsImport, OpenRefusals)
{
    CTempDir dir;
    long before = StandinEfsOpenContexts();
    const std::wstring x = dir.Join(L"x");
    struct Case
    {
        std::wstring path;
        ULONG flags;
        DWORD expected;
    };
    const Case cases[] = {{x, 0, ERROR_CALL_NOT_IMPLEMENTED},  // an export
                          {x, CREATE_FOR_IMPORT | CREATE_FOR_DIR, ERROR_CALL_NOT_IMPLEMENTED},
                          {dir.Join(L"no\\such\\x"), CREATE_FOR_IMPORT, ERROR_PATH_NOT_FOUND}};
    for (const Case& c : cases) {
        PVOID ctx = reinterpret_cast<PVOID>(1);
        EXPECT_EQ(StandinOpenEncryptedFileRawW(c.path.c_str(), c.flags, &ctx), c.expected);
        EXPECT_EQ(ctx, nullptr);
    }
    EXPECT_FALSE(FileExists(x));
    PVOID ctx = nullptr;
    {
        CSysFailNth<&CSysCalls::CreateFileW> denied(1, ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
        EXPECT_EQ(StandinOpenEncryptedFileRawW(x.c_str(), CREATE_FOR_IMPORT, &ctx), DWORD(ERROR_ACCESS_DENIED));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    }
    EXPECT_EQ(StandinOpenEncryptedFileRawW(x.c_str(), CREATE_FOR_IMPORT, nullptr), DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(StandinWriteEncryptedFileRaw(&CImportSource::Callback, nullptr, nullptr), DWORD(ERROR_INVALID_PARAMETER));
    StandinCloseEncryptedFileRaw(nullptr);
    EXPECT_EQ(StandinEfsOpenContexts(), before);
}
