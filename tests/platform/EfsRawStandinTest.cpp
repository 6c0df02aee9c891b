// Our raw EFS import for Wine: the file holds what the callback delivered; failures keep their code.
#include "platform/EfsRawStandin.h"
#include "tests/support/SysHooks.h"
#include "tests/support/TestFiles.h"
#include <gtest/gtest.h>
#include <cstring>

// The restore's side: hands out a chunk per call, then 0 bytes; or aborts with a code at a call,
// or claims one byte more than it was offered.
struct CImportSource
{
    std::vector<std::string> chunks;
    size_t abortAt = SIZE_MAX;
    DWORD abortCode = 0;
    bool overClaim = false;
    std::vector<ULONG> offered = {};

    static DWORD WINAPI Callback(PBYTE data, PVOID context, PULONG length)
    {
        auto* self = static_cast<CImportSource*>(context);
        size_t call = self->offered.size();
        self->offered.push_back(*length);
        if (call == self->abortAt)
            return self->abortCode;
        std::string chunk = call < self->chunks.size() ? self->chunks[call] : "";
        std::memcpy(data, chunk.data(), chunk.size());
        *length = self->overClaim ? *length + 1 : ULONG(chunk.size());
        return 0;
    }
};

// Opens path for import, runs the import, closes: the import's result.
static DWORD Import(const std::wstring& path, CImportSource& source)
{
    PVOID ctx = nullptr;
    DWORD result = StandinOpenEncryptedFileRawW(path.c_str(), CREATE_FOR_IMPORT, &ctx);
    if (result == ERROR_SUCCESS)
        result = StandinWriteEncryptedFileRaw(&CImportSource::Callback, &source, ctx);
    StandinCloseEncryptedFileRaw(ctx);
    return result;
}

// What stood there is replaced; the callback is offered 64 KiB each time; the file is closed
// through the table. Failures and refusals come back as their codes and leave no context open.
TEST(StandinEfsImport, TheFileHoldsWhatTheCallbackDeliveredAndFailuresKeepTheirCode)
{
    CTempDir dir;
    const std::wstring path = dir.Join(L"secret.doc");
    long before = StandinEfsOpenContexts();
    for (const std::vector<std::string>& chunks :
         {std::vector<std::string>{"1", std::string(65536, '2'), "3"}, {}}) {
        ASSERT_TRUE(WriteWholeFile(path, std::string(100000, 'o')));
        CImportSource source{chunks};
        CSysRecorder<&CSysCalls::CloseHandle> closes;
        EXPECT_EQ(Import(path, source), 0u);
        EXPECT_EQ(closes.Count(), 1u);
        EXPECT_EQ(source.offered, std::vector<ULONG>(chunks.size() + 1, 65536));
        bool read = false;
        EXPECT_EQ(ReadFileBytes(path, &read), chunks.empty() ? "" : "1" + chunks[1] + "3");
        EXPECT_TRUE(read && DeleteFileW(path.c_str()));
    }
    const std::tuple<size_t, DWORD, bool, int, DWORD> cases[] = {
        {1, 1234, false, 0, 1234}, {0, ERROR_HANDLE_EOF, false, 0, ERROR_HANDLE_EOF},
        {SIZE_MAX, 0, true, 0, ERROR_INVALID_DATA}, {SIZE_MAX, 0, false, 2, ERROR_DISK_FULL}};
    for (const auto& [abortAt, abortCode, overClaim, failWrite, expected] : cases) {
        CImportSource source{{"one", "two", "three"}, abortAt, abortCode, overClaim};
        CSysFailNth<&CSysCalls::WriteFile> full(failWrite, ERROR_DISK_FULL, FALSE);
        EXPECT_EQ(Import(path, source), expected) << abortAt << " " << failWrite;
        EXPECT_TRUE(DeleteFileW(path.c_str()));
    }
    // Only an import of a file, into a folder that exists, with a place for the context.
    const std::wstring x = dir.Join(L"x");
    const std::tuple<std::wstring, ULONG, DWORD> refusals[] = {
        {x, 0, ERROR_CALL_NOT_IMPLEMENTED},  // an export
        {x, CREATE_FOR_IMPORT | CREATE_FOR_DIR, ERROR_CALL_NOT_IMPLEMENTED},
        {dir.Join(L"no\\such\\x"), CREATE_FOR_IMPORT, ERROR_PATH_NOT_FOUND}};
    for (const auto& [where, flags, expected] : refusals) {
        PVOID ctx = reinterpret_cast<PVOID>(1);
        EXPECT_EQ(StandinOpenEncryptedFileRawW(where.c_str(), flags, &ctx), expected);
        EXPECT_EQ(ctx, nullptr);
    }
    EXPECT_FALSE(PathExists(x));
    EXPECT_EQ(StandinOpenEncryptedFileRawW(x.c_str(), CREATE_FOR_IMPORT, nullptr),
              DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(StandinWriteEncryptedFileRaw(&CImportSource::Callback, nullptr, nullptr),
              DWORD(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(StandinEfsOpenContexts(), before);
}
