// The quarantine library started for the tests (see LibrarySetup.h).
#include "tests/support/LibrarySetup.h"
#include "platform/WineStandins.h"
#include "quarantine/Vaultkit.h"
#include "tests/support/SysHooks.h"
#include <cstring>

bool StartQuarantineLibrary()
{
    static const HKEY kFakeKey = reinterpret_cast<HKEY>(0x5A5A);
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
    CSysHook<&CSysCalls::RegCloseKey> close([](HKEY key) -> LSTATUS {
        return key == kFakeKey ? ERROR_SUCCESS : CSysHook<&CSysCalls::RegCloseKey>::Next()(key);
    });
    return VaultkitInit() == 0;
}
