// A service's configuration read into the fixed 8,192-byte buffer, and the executable
// part of a binary path.
#pragma once
#include "platform/WinHeaders.h"
#include <string>

class CServiceConfig
{
public:
    static const DWORD kBytes = 8192;

    // QueryServiceConfigW into the buffer; false when the call fails.
    bool Query(SC_HANDLE service);
    // The configured binary path, or null when the configuration has none.
    const wchar_t* BinaryPath() const;

private:
    union {
        QUERY_SERVICE_CONFIGW m_Config;
        BYTE m_Bytes[kBytes];
    };
};

// Copies a binary path, skipping one leading double quote and cutting at the next one.
// False (and nothing stored) when the copy would not fit `capacity` characters with its
// terminator: a cut path would name another file.
bool UnquoteBinaryPath(const wchar_t* binaryPath, size_t capacity, std::wstring& out);
