// Wine detection and installation of our stand-ins into the table of calls.
#include "platform/WineStandins.h"
#include "platform/BackupWriteStandin.h"
#include "platform/EfsRawStandin.h"
#include "platform/FinalPathStandin.h"
#include "platform/SysCalls.h"

namespace {

// Wine 8 has no private namespaces: its CreateBoundaryDescriptorW answers null, and the
// other namespace calls are not implemented at all (calling one ends the process). Failing
// the first call of the chain, with a reason, keeps the run lock from ever reaching them.
HANDLE WINAPI StandinCreateBoundaryDescriptorW(LPCWSTR /*Name*/, ULONG /*Flags*/)
{
    g_Sys.SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return nullptr;
}

} // namespace

bool IsRunningOnWine()
{
    HMODULE ntdll = g_Sys.GetModuleHandleW(L"ntdll.dll");
    return ntdll && g_Sys.GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

void InstallWineStandins()
{
    if (!IsRunningOnWine())
        return;
    g_Sys.BackupWrite = &StandinBackupWrite;
    g_Sys.OpenEncryptedFileRawW = &StandinOpenEncryptedFileRawW;
    g_Sys.WriteEncryptedFileRaw = &StandinWriteEncryptedFileRaw;
    g_Sys.CloseEncryptedFileRaw = &StandinCloseEncryptedFileRaw;
    g_Sys.CreateBoundaryDescriptorW = &StandinCreateBoundaryDescriptorW;
    g_Sys.GetFinalPathNameByHandleW = &StandinGetFinalPathNameByHandleW;
    // The debug log holds only the program's own lines: this note goes to the debugger.
    g_Sys.OutputDebugStringW(L"sanarix: running on Wine, using its own backup and EFS stand-ins\n");
}
