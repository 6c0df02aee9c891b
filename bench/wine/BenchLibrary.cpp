// The benchmark's rows in the table of calls (see BenchLibrary.h).
#include "bench/wine/BenchLibrary.h"
#include "bench/wine/BenchClock.h"
#include "platform/SysCalls.h"
#include "platform/WineStandins.h"
#include "quarantine/Vaultkit.h"
#include <cstring>
#include <cwchar>

namespace {

// A key handle no registry call hands out, so that a close of it is recognised.
const HKEY kBenchQuarantineKey = reinterpret_cast<HKEY>(0x5B5B0);

std::wstring g_sQuarantineFolder;
bool g_bPassThrough = false;
CDebuggerCounts g_Counts;

decltype(&::RegOpenKeyExW) g_pRealRegOpenKeyExW = nullptr;
decltype(&::RegQueryValueExW) g_pRealRegQueryValueExW = nullptr;
decltype(&::RegCloseKey) g_pRealRegCloseKey = nullptr;
decltype(&::OutputDebugStringW) g_pRealOutputDebugStringW = nullptr;

LSTATUS WINAPI BenchRegOpenKeyExW(HKEY root, LPCWSTR path, DWORD options, REGSAM access,
                                  PHKEY key)
{
    if (root != HKEY_LOCAL_MACHINE || !path || std::wcscmp(path, kQuarantineKey) != 0)
        return g_pRealRegOpenKeyExW(root, path, options, access, key);
    *key = kBenchQuarantineKey;
    return ERROR_SUCCESS;
}

LSTATUS WINAPI BenchRegQueryValueExW(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type,
                                     LPBYTE data, LPDWORD bytes)
{
    if (key != kBenchQuarantineKey)
        return g_pRealRegQueryValueExW(key, name, reserved, type, data, bytes);
    if (!name || std::wcscmp(name, kQuarantineValue) != 0)
        return ERROR_FILE_NOT_FOUND;
    DWORD size = static_cast<DWORD>((g_sQuarantineFolder.size() + 1) * sizeof(wchar_t));
    if (type)
        *type = REG_SZ;
    if (!data || !bytes || *bytes < size) {
        if (bytes)
            *bytes = size;
        return data ? ERROR_MORE_DATA : ERROR_SUCCESS;
    }
    std::memcpy(data, g_sQuarantineFolder.c_str(), size);
    *bytes = size;
    return ERROR_SUCCESS;
}

LSTATUS WINAPI BenchRegCloseKey(HKEY key)
{
    return key == kBenchQuarantineKey ? ERROR_SUCCESS : g_pRealRegCloseKey(key);
}

void WINAPI BenchOutputDebugStringW(LPCWSTR text)
{
    ++g_Counts.lines;
    if (text && std::wcscmp(text, L"[VAULTKIT] VAULTKIT_ERROR_SUCCESS") == 0)
        ++g_Counts.successes;
    else if (text && std::wcsstr(text, L"[ERROR]:"))
        ++g_Counts.errors;
    if (!g_bPassThrough)
        return;
    CStopwatch watch;
    g_pRealOutputDebugStringW(text);
    g_Counts.sentSeconds += watch.Seconds();
}

} // namespace

void InstallBenchRows()
{
    InstallWineStandins();
    g_pRealRegOpenKeyExW = g_Sys.RegOpenKeyExW;
    g_pRealRegQueryValueExW = g_Sys.RegQueryValueExW;
    g_pRealRegCloseKey = g_Sys.RegCloseKey;
    g_pRealOutputDebugStringW = g_Sys.OutputDebugStringW;
    g_Sys.RegOpenKeyExW = &BenchRegOpenKeyExW;
    g_Sys.RegQueryValueExW = &BenchRegQueryValueExW;
    g_Sys.RegCloseKey = &BenchRegCloseKey;
    g_Sys.OutputDebugStringW = &BenchOutputDebugStringW;
}

void SetBenchQuarantineFolder(const std::wstring& folder)
{
    g_sQuarantineFolder = folder;
}

void SetDebuggerPassThrough(bool passThrough)
{
    g_bPassThrough = passThrough;
}

CDebuggerCounts TakeDebuggerCounts()
{
    CDebuggerCounts counts = g_Counts;
    g_Counts = CDebuggerCounts();
    return counts;
}
