// Every restore test runs as the program does: the Wine stand-ins in the table of calls
// and the quarantine library started (its locks exist). The registry answers with a
// quarantine folder, since the test prefix holds no product.
#include "platform/WineStandins.h"
#include "quarantine/Vaultkit.h"
#include "tests/support/SysHooks.h"
#include <gtest/gtest.h>
#include <cstring>

namespace {

const HKEY kFakeKey = reinterpret_cast<HKEY>(0x5A5A);

class CLibraryEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        InstallWineStandins();
        CSysHook<&CSysCalls::RegOpenKeyExW> open(
            [](HKEY, LPCWSTR, DWORD, REGSAM, PHKEY key) -> LSTATUS {
                *key = kFakeKey;
                return ERROR_SUCCESS;
            });
        CSysHook<&CSysCalls::RegQueryValueExW> query(
            [](HKEY, LPCWSTR, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD size) -> LSTATUS {
                const wchar_t folder[] = L"C:\\quarantine";
                if (type)
                    *type = REG_SZ;
                if (data && size && *size >= sizeof(folder))
                    std::memcpy(data, folder, sizeof(folder));
                if (size)
                    *size = sizeof(folder);
                return ERROR_SUCCESS;
            });
        CSysHook<&CSysCalls::RegCloseKey>
            close([](HKEY key) -> LSTATUS {
                return key == kFakeKey ? ERROR_SUCCESS
                                       : CSysHook<&CSysCalls::RegCloseKey>::Next()(key);
            });
        ASSERT_EQ(VaultkitInit(), 0);
    }
    void TearDown() override { VaultkitUninit(); }
};

::testing::Environment* const g_pLibrary =
    ::testing::AddGlobalTestEnvironment(new CLibraryEnvironment);

} // namespace
