// Compressing a restored file again: the reopen, the control code and what each outcome
// traces and returns.
#include "restore/Writers.h"
#include "tests/restore/StoredItem.h"
#include "tests/support/SysHooks.h"
#include "tests/support/TestFiles.h"
#include <gtest/gtest.h>

TEST(RecompressResoredFile, MissingFileGivesTheOpenError)
{
    CTempDir dir;
    CDebugCapture trace;
    EXPECT_EQ(RecompressResoredFile(dir.Join(L"gone.bin").c_str()), DWORD(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(trace.Lines(), Lines{L"[VAULTKIT] RecompressResoredFile ERROR reopening file [2]"});
}

TEST(RecompressResoredFile, SendsSetCompressionAndReportsItsOutcome)
{
    CTempDir dir;
    std::wstring file = dir.Join(L"restored.bin");
    ASSERT_TRUE(WriteFileBytes(file, "data"));
    CDebugCapture trace;
    CSysRecorder<&CSysCalls::CreateFileW> open;
    DWORD code = 0;
    std::vector<USHORT> formats;
    CSysHook<&CSysCalls::DeviceIoControl> ioctl(
        [&](HANDLE, DWORD c, LPVOID in, DWORD inSize, LPVOID out, DWORD, LPDWORD, LPOVERLAPPED ov) {
            code = c;
            EXPECT_EQ(inSize, 2u);
            EXPECT_EQ(out, nullptr);
            EXPECT_EQ(ov, nullptr);
            formats.push_back(*static_cast<USHORT*>(in));
            return TRUE;
        });
    EXPECT_EQ(RecompressResoredFile(file.c_str()), 0u);
    EXPECT_EQ(code, 0x9C040u);
    EXPECT_EQ(formats, std::vector<USHORT>{1});
    ASSERT_EQ(open.Count(), 1u);
    EXPECT_EQ(std::get<1>(open.Calls()[0]), 0x10000000u);
    EXPECT_EQ(std::get<2>(open.Calls()[0]), DWORD(FILE_SHARE_READ));
    EXPECT_EQ(std::get<4>(open.Calls()[0]), DWORD(OPEN_EXISTING));
    EXPECT_EQ(std::get<5>(open.Calls()[0]), 0x80u);

    CSysFailNth<&CSysCalls::DeviceIoControl> fail(1, ERROR_NOT_SUPPORTED, FALSE);
    EXPECT_EQ(RecompressResoredFile(file.c_str()), DWORD(ERROR_NOT_SUPPORTED));
    EXPECT_EQ(trace.Lines(), (Lines{L"[VAULTKIT] RecompressResoredFile OK",
                                    L"[VAULTKIT] RecompressResoredFile DeviceIoControl ERROR or pending [50]"}));
}
