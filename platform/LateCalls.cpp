// Run-time lookups of the late rows of the table of calls (see LateCalls.h).
#include "platform/LateCalls.h"
#include "platform/SysCalls.h"

namespace {

// The function of that name in kernel32, or null with ERROR_PROC_NOT_FOUND.
FARPROC FindInKernel32(const char* name)
{
    HMODULE kernel32 = g_Sys.GetModuleHandleW(L"kernel32.dll");
    FARPROC found = kernel32 ? g_Sys.GetProcAddress(kernel32, name) : nullptr;
    if (!found)
        g_Sys.SetLastError(ERROR_PROC_NOT_FOUND);
    return found;
}

} // namespace

BOOL WINAPI LateSetDefaultDllDirectories(DWORD DirectoryFlags)
{
    FARPROC found = FindInKernel32("SetDefaultDllDirectories");
    if (!found)
        return FALSE;
    return reinterpret_cast<decltype(&::SetDefaultDllDirectories)>(
        reinterpret_cast<void*>(found))(DirectoryFlags);
}
