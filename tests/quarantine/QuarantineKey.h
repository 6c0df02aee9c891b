// The quarantine library's registry key, served by the test: the Wine prefix is shared by
// test programs that run at the same time. The value is any bytes; a buffer too small for
// them gets ERROR_MORE_DATA, as from the registry.
#pragma once
#include "quarantine/Vaultkit.h"
#include "tests/support/SysHooks.h"
#include <cstring>
#include <string>
#include <vector>

// A text as the registry holds a string value: UTF-16 with its terminator.
inline std::string RegistryText(const std::wstring& text)
{
    return std::string(reinterpret_cast<const char*>(text.c_str()),
                       (text.size() + 1) * sizeof(wchar_t));
}

class CQuarantineKey
{
public:
    explicit CQuarantineKey(const std::wstring& folder) : m_sValue(RegistryText(folder)) {}

    std::string m_sValue;                 // the value's bytes
    LSTATUS m_OpenResult = ERROR_SUCCESS; // of opening the key
    std::vector<REGSAM> m_Opens;          // the access of each open
    int m_nCloses = 0;

private:
    static HKEY Key() { return reinterpret_cast<HKEY>(0x4E800); }

    CSysHook<&CSysCalls::RegOpenKeyExW> m_open{
        [this](HKEY root, LPCWSTR path, DWORD options, REGSAM access, PHKEY key) -> LSTATUS {
            if (root != HKEY_LOCAL_MACHINE || std::wstring(path) != kQuarantineKey)
                return CSysHook<&CSysCalls::RegOpenKeyExW>::Next()(root, path, options, access,
                                                                   key);
            m_Opens.push_back(access);
            *key = m_OpenResult == ERROR_SUCCESS ? Key() : nullptr;
            return m_OpenResult;
        }};
    CSysHook<&CSysCalls::RegQueryValueExW> m_query{
        [this](HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
               LPDWORD bytes) -> LSTATUS {
            if (key != Key())
                return CSysHook<&CSysCalls::RegQueryValueExW>::Next()(key, name, reserved, type,
                                                                      data, bytes);
            if (std::wstring(name) != kQuarantineValue)
                return ERROR_FILE_NOT_FOUND;
            if (!data || *bytes < m_sValue.size())
                return ERROR_MORE_DATA;
            std::memcpy(data, m_sValue.data(), m_sValue.size());
            *bytes = static_cast<DWORD>(m_sValue.size());
            return ERROR_SUCCESS;
        }};
    CSysHook<&CSysCalls::RegCloseKey> m_close{[this](HKEY key) -> LSTATUS {
        if (key != Key())
            return CSysHook<&CSysCalls::RegCloseKey>::Next()(key);
        ++m_nCloses;
        return ERROR_SUCCESS;
    }};
};
