// Registry helpers (see RegistryTools.h).
#include "tools/product/RegistryTools.h"
#include "platform/Owners.h"
#include <vector>

LSTATUS SetHklmValue(const std::wstring& key, const std::wstring& value, DWORD type,
                     const void* data, size_t bytes)
{
    CUniqueKey handle;
    LSTATUS rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), /*Reserved=*/0,
                                 /*lpClass=*/nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                                 /*lpSecurityAttributes=*/nullptr, handle.put(),
                                 /*lpdwDisposition=*/nullptr);
    if (rc != ERROR_SUCCESS)
        return rc;
    // Registry values are far below 4 GiB; the narrowing cannot cut.
    return RegSetValueExW(handle.get(), value.c_str(), /*Reserved=*/0, type,
                          static_cast<const BYTE*>(data), static_cast<DWORD>(bytes));
}

LSTATUS ReadHklmValue(const std::wstring& key, const std::wstring& value, DWORD& type,
                      std::wstring& data)
{
    data.clear();
    CUniqueKey handle;
    LSTATUS rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), /*ulOptions=*/0,
                               KEY_QUERY_VALUE, handle.put());
    if (rc != ERROR_SUCCESS)
        return rc;
    DWORD bytes = 0;
    rc = RegQueryValueExW(handle.get(), value.c_str(), /*lpReserved=*/nullptr, &type,
                          /*lpData=*/nullptr, &bytes);
    if (rc != ERROR_SUCCESS)
        return rc;
    std::vector<BYTE> buffer(bytes + sizeof(wchar_t));
    rc = RegQueryValueExW(handle.get(), value.c_str(), /*lpReserved=*/nullptr, &type,
                          buffer.data(), &bytes);
    if (rc == ERROR_SUCCESS)
        data.assign(reinterpret_cast<const wchar_t*>(buffer.data()), bytes / sizeof(wchar_t));
    return rc;
}

LSTATUS DeleteHklmValue(const std::wstring& key, const std::wstring& value)
{
    CUniqueKey handle;
    LSTATUS rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), /*ulOptions=*/0, KEY_SET_VALUE,
                               handle.put());
    if (rc != ERROR_SUCCESS)
        return rc;
    return RegDeleteValueW(handle.get(), value.c_str());
}

LSTATUS DeleteHklmTree(const std::wstring& key)
{
    return RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str());
}
