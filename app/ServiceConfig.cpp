// Service configuration buffer and binary path handling (see ServiceConfig.h).
#include "app/ServiceConfig.h"
#include "platform/SysCalls.h"
#include <cstring>

bool CServiceConfig::Query(SC_HANDLE service)
{
    std::memset(m_Bytes, 0, sizeof(m_Bytes));
    DWORD needed = 0;
    return g_Sys.QueryServiceConfigW(service, &m_Config, kBytes, &needed) != FALSE;
}

const wchar_t* CServiceConfig::BinaryPath() const
{
    return m_Config.lpBinaryPathName;
}

bool UnquoteBinaryPath(const wchar_t* binaryPath, size_t capacity, std::wstring& out)
{
    const wchar_t* p = binaryPath ? binaryPath : L"";
    if (*p == L'"')
        ++p;
    std::wstring copy(p);
    size_t quote = copy.find(L'"');
    if (quote != std::wstring::npos)
        copy.resize(quote);
    if (copy.size() + 1 > capacity)
        return false;
    out = copy;
    return true;
}
