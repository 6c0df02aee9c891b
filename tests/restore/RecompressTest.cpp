// Compressing a restored file again through the handle it is held by: the control code,
// and what each outcome traces and returns.
#include "platform/Owners.h"
#include "restore/Writers.h"
#include "tests/restore/StoredItem.h"
#include "tests/support/SysHooks.h"
#include "tests/support/TestFiles.h"
#include <gtest/gtest.h>

TEST(RecompressResoredFile, SendsSetCompressionOnTheHandleAndReportsItsOutcome)
{
    CTempDir dir;
    std::wstring file = dir.Join(L"restored.bin");
    ASSERT_TRUE(WriteFileBytes(file, "data"));
    CUniqueFile held(::CreateFileW(file.c_str(), GENERIC_ALL, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held);
    CDebugCapture trace;
    CSysRecorder<&CSysCalls::CreateFileW> open;
    std::vector<HANDLE> handles;
    DWORD code = 0;
    std::vector<USHORT> formats;
    CSysHook<&CSysCalls::DeviceIoControl> ioctl(
        [&](HANDLE h, DWORD c, LPVOID in, DWORD inSize, LPVOID out, DWORD, LPDWORD, LPOVERLAPPED ov) {
            handles.push_back(h);
            code = c;
            EXPECT_EQ(inSize, 2u);
            EXPECT_EQ(out, nullptr);
            EXPECT_EQ(ov, nullptr);
            formats.push_back(*static_cast<USHORT*>(in));
            return TRUE;
        });
    EXPECT_EQ(RecompressResoredFile(held.get()), 0u);
    EXPECT_EQ(code, 0x9C040u);
    EXPECT_EQ(formats, std::vector<USHORT>{1});
    EXPECT_EQ(handles, std::vector<HANDLE>{held.get()});
    EXPECT_EQ(open.Count(), 0u);  // the file is held exclusively: no second open by its path

    CSysFailNth<&CSysCalls::DeviceIoControl> fail(1, ERROR_NOT_SUPPORTED, FALSE);
    EXPECT_EQ(RecompressResoredFile(held.get()), DWORD(ERROR_NOT_SUPPORTED));
    EXPECT_EQ(trace.Lines(), (Lines{L"[VAULTKIT] RecompressResoredFile OK",
                                    L"[VAULTKIT] RecompressResoredFile DeviceIoControl ERROR or pending [50]"}));
}
