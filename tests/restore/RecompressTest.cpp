// The recompression of a restored file, through the handle the restore holds it by: the
// control code, the default format, and what each outcome traces and returns.
#include "platform/Owners.h"
#include "restore/Writers.h"
#include "tests/restore/RestoreFixture.h"

TEST(RecompressResoredFile, SendsSetCompressionOnTheHandleAndReportsItsOutcome)
{
    CTempDir dir;
    ASSERT_TRUE(WriteFileBytes(dir.Join(L"restored.bin"), "data"));
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
