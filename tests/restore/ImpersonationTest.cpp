// The two attempts the restore makes on its own behalf before it gives up an action: to act
// as the logged-on user (two trace lines, nothing but the lock asked of Windows, 0), and to
// compress a restored file again through the handle it holds.
#include "platform/Owners.h"
#include "quarantine/Vaultkit.h"
#include "restore/Impersonation.h"
#include "restore/Writers.h"
#include "tests/restore/RestoreFixture.h"

TEST(StartImpersonatingUser, InvalidPidEveryTimeAndOnlyTheLock)
{
    CDebugCapture trace;
    std::vector<std::string> calls;
    CSysHook<&CSysCalls::EnterCriticalSection> enter([&](LPCRITICAL_SECTION cs) {
        calls.push_back(cs == &g_csUserPid ? "enter" : "other");
        CSysHook<&CSysCalls::EnterCriticalSection>::Next()(cs);
    });
    CSysHook<&CSysCalls::LeaveCriticalSection> leave([&](LPCRITICAL_SECTION cs) {
        calls.push_back(cs == &g_csUserPid ? "leave" : "other");
        CSysHook<&CSysCalls::LeaveCriticalSection>::Next()(cs);
    });
    EXPECT_EQ(StartImpersonatingUser(), 0);
    EXPECT_EQ(StartImpersonatingUser(), 0);  // the attempt keeps nothing: same again
    EXPECT_EQ(trace.Lines(), kImpersonation + kImpersonation);
    EXPECT_EQ(calls, (std::vector<std::string>{"enter", "leave", "enter", "leave"}));
}

TEST(RecompressResoredFile, SendsSetCompressionOnTheHandleAndReportsItsOutcome)
{
    CTempDir dir;
    ASSERT_TRUE(WriteFileBytes(dir.Join(L"restored.bin"), "data"));
    CUniqueFile held(::CreateFileW(dir.Join(L"restored.bin").c_str(), GENERIC_ALL, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    CDebugCapture trace;
    std::vector<std::string> asked;
    CSysHook<&CSysCalls::DeviceIoControl> ioctl([&](HANDLE h, DWORD code, LPVOID in, DWORD inSize, LPVOID out, DWORD,
                                                    LPDWORD, LPOVERLAPPED ov) {
        EXPECT_TRUE(h == held.get() && inSize == 2 && !out && !ov);
        asked.push_back(std::to_string(code) + " " + std::to_string(*static_cast<USHORT*>(in)));
        return TRUE;
    });
    EXPECT_EQ(RecompressResoredFile(held.get()), 0u);
    EXPECT_EQ(asked, std::vector<std::string>{"639040 1"});  // FSCTL_SET_COMPRESSION, default format
    CSysFailNth<&CSysCalls::DeviceIoControl> fail(1, ERROR_NOT_SUPPORTED, FALSE);
    EXPECT_EQ(RecompressResoredFile(held.get()), DWORD(ERROR_NOT_SUPPORTED));
    EXPECT_EQ(trace.Lines(), (Lines{L"[VAULTKIT] RecompressResoredFile OK",
                                    L"[VAULTKIT] RecompressResoredFile DeviceIoControl ERROR or pending [50]"}));
}
