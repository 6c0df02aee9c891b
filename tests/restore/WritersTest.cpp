// The writers' own contracts: the import bounded by the item's size, its callback filling what it
// is offered under the lock; the recompression by handle. Their traces are DecryptAndRestoreTest's.
#include "platform/Owners.h"
#include "restore/Writers.h"
#include "tests/restore/RestoreFixture.h"

// A block past size + allowance is never handed on; exactly the bound is (the size check fails then).
TEST_F(DecryptAndRestore, TheItemsSizeBoundsTheImport)
{
    std::vector<ULONG> handed;
    CSysHook<&CSysCalls::WriteEncryptedFileRaw> import(
        [&](PFE_IMPORT_FUNC callback, PVOID callbackContext, PVOID) -> DWORD {
            for (BYTE block[65536];;) {
                ULONG length = sizeof(block);
                DWORD rc = callback(block, callbackContext, &length);
                if (rc != ERROR_SUCCESS || length == 0)
                    return rc;
                handed.push_back(length);
            }
        });
    for (int64_t size : {70000 - 1, 70000}) {
        CItemDescription item = EfsItem(std::string(kStreamAllowance + 70000, 'e'));
        item.damages = {{EItemDamage::WrongSize, size}};
        Store(item);
        handed.clear();
        EXPECT_EQ(Run(), 12);
        EXPECT_EQ(handed.size(), size < 70000 ? 17u : 18u);
        EXPECT_EQ(handed.back(), size < 70000 ? 65536u : 70000u - 65536u);
    }
}

TEST_F(DecryptAndRestore, TheImportCallbackFillsWhatItIsOfferedUnderTheLock)
{
    Store(EfsItem("content"));
    CUniqueFile payload(
        ::CreateFileW(m_Payload.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    MD5_CTX original, crypted;
    MD5Init(&original);
    MD5Init(&crypted);
    EfsCallbackContext context = {payload.get(), &original, &crypted};
    CSysRecorder<&CSysCalls::EnterCriticalSection> enter;
    CSysRecorder<&CSysCalls::LeaveCriticalSection> leave;
    BYTE buffer[16] = {};
    ULONG length = 5;
    EXPECT_EQ(EFSRawWriteCallback(buffer, &context, &length), 0u);
    EXPECT_EQ(length, 5u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 6), std::string("conte") + '\0');
    // A failed read that leaves no error still stops the import; the lock is left there too.
    CSysFailNth<&CSysCalls::ReadFile> fail(1, ERROR_SUCCESS, FALSE);
    EXPECT_EQ(EFSRawWriteCallback(buffer, &context, &length), DWORD(ERROR_READ_FAULT));
    ASSERT_EQ(enter.Count(), 2u);
    EXPECT_EQ(leave.Count(), 2u);
    EXPECT_EQ(std::get<0>(enter.Calls()[1]), &g_csEfsRead);
}

TEST(RecompressResoredFile, SendsSetCompressionOnTheHandleAndReportsItsOutcome)
{
    CTempDir dir;
    ASSERT_TRUE(WriteWholeFile(dir.Join(L"restored.bin"), "data"));
    CUniqueFile held(
        ::CreateFileW(dir.Join(L"restored.bin").c_str(), GENERIC_ALL, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    CDebugCapture trace;
    std::vector<std::string> asked;
    CSysHook<&CSysCalls::DeviceIoControl> ioctl(
        [&](HANDLE h, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD, LPDWORD, LPOVERLAPPED ov) {
            EXPECT_TRUE(h == held.get() && inSize == 2 && !out && !ov);
            asked.push_back(std::to_string(code) + " " + std::to_string(*static_cast<USHORT*>(in)));
            return TRUE;
        });
    EXPECT_EQ(RecompressResoredFile(held.get()), 0u);
    EXPECT_EQ(asked, std::vector<std::string>{"639040 1"});  // FSCTL_SET_COMPRESSION, default format
    CSysFailNth<&CSysCalls::DeviceIoControl> fail(1, ERROR_NOT_SUPPORTED, FALSE);
    EXPECT_EQ(RecompressResoredFile(held.get()), DWORD(ERROR_NOT_SUPPORTED));
    EXPECT_EQ(trace.Lines(),
              (Lines{L"[VAULTKIT] RecompressResoredFile OK",
                     L"[VAULTKIT] RecompressResoredFile DeviceIoControl ERROR or pending [50]"}));
}
