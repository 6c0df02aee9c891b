// The quarantine library's registry key served by the test (the Wine prefix is shared); the value
// is any bytes, a too small buffer gets ERROR_MORE_DATA.
#pragma once
#include "quarantine/Vaultkit.h"
#include "tests/support/SysHooks.h"
#include <cstring>
#include <string>

// A text as the registry holds a string value: UTF-16 with its terminator.
inline std::string RegistryText(const std::wstring& text)
{
    return std::string(reinterpret_cast<const char*>(text.c_str()), (text.size() + 1) * 2);
}

struct CQuarantineKey
{
    explicit CQuarantineKey(const std::wstring& folder) : m_sValue(RegistryText(folder)) {}

    std::string m_sValue;                 // the value's bytes
    LSTATUS m_OpenResult = ERROR_SUCCESS; // of opening the key
    int m_nOpen = 0;                      // keys opened and not closed
    const HKEY m_hKey = reinterpret_cast<HKEY>(0x4E800);
    using C = CSysCalls;
    CSysHook<&C::RegOpenKeyExW> m_open{
        [this](HKEY root, LPCWSTR path, DWORD options, REGSAM access, PHKEY key) -> LSTATUS {
            if (root != HKEY_LOCAL_MACHINE || std::wstring(path) != kQuarantineKey)
                return CSysHook<&C::RegOpenKeyExW>::Next()(root, path, options, access, key);
            if (access != KEY_QUERY_VALUE)
                return ERROR_ACCESS_DENIED;
            *key = m_OpenResult == ERROR_SUCCESS ? m_hKey : nullptr;
            m_nOpen += m_OpenResult == ERROR_SUCCESS;
            return m_OpenResult;
        }};
    CSysHook<&C::RegQueryValueExW> m_query{[this](HKEY key, LPCWSTR name, LPDWORD reserved,
                                                  LPDWORD type, LPBYTE data, LPDWORD bytes) -> LSTATUS {
        if (key != m_hKey)
            return CSysHook<&C::RegQueryValueExW>::Next()(key, name, reserved, type, data, bytes);
        if (std::wstring(name) != kQuarantineValue)
            return ERROR_FILE_NOT_FOUND;
        if (!data || *bytes < m_sValue.size())
            return ERROR_MORE_DATA;
        std::memcpy(data, m_sValue.data(), m_sValue.size());
        *bytes = static_cast<DWORD>(m_sValue.size());
        return ERROR_SUCCESS;
    }};
    CSysHook<&C::RegCloseKey> m_close{[this](HKEY key) -> LSTATUS {
        return key == m_hKey ? (--m_nOpen, ERROR_SUCCESS) : CSysHook<&C::RegCloseKey>::Next()(key);
    }};
};
