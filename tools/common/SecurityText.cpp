// Security data from SDDL text (see SecurityText.h).
#include "tools/common/SecurityText.h"
#include <windows.h>
#include <sddl.h>

std::string SecurityDescriptorBytes(const wchar_t* sddl)
{
    PSECURITY_DESCRIPTOR sd = nullptr;
    ULONG size = 0;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &sd, &size))
        return {};
    std::string bytes(static_cast<const char*>(sd), size);
    LocalFree(sd);
    return bytes;
}
