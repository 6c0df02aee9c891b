// The EFS writer's own contract: the import is handed no more than the item's size and
// the allowance, and its callback fills no more than it was offered, under the lock, and
// stops the import on a failed read whatever the error. Its traces through the restore are
// DecryptAndRestoreTest's.
#include "platform/Owners.h"
#include "restore/Writers.h"
#include "tests/restore/RestoreFixture.h"

// The block that would pass the bound is never handed on, and the answer is the size
// mismatch; exactly the bound is handed on whole (the import here keeps nothing, so the
// size check then fails the file instead).
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
