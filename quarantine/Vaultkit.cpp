// Start-up and stop of the quarantine library (see Vaultkit.h): the start count, the
// locks, the quarantine folder from the registry, and the backup and restore privileges
// that let the restore write files and their security data whatever their access rights.
#include "quarantine/Vaultkit.h"
#include "diag/DebugLog.h"
#include "platform/Owners.h"
#include "quarantine/VaultkitTrace.h"
#include <cwchar>

int32_t g_nVaultkitInit = 0;
wchar_t g_sQuarFolder[260] = {};
CRITICAL_SECTION g_csEfsRead;
CRITICAL_SECTION g_csUserPid;
CRITICAL_SECTION g_csQuarFolder;

const wchar_t kQuarantineKey[] = L"SOFTWARE\\Corvanta\\Corvanta Quarantine\\";
const wchar_t kQuarantineValue[] = L"QuarantineFolder";

namespace {

const size_t kFolderChars = 260;
const DWORD kFolderBytes = kFolderChars * sizeof(wchar_t);

// Whether the three locks exist, so that a stop without a start deletes nothing.
bool g_bVaultkitLocks = false;

struct PrivilegeStep
{
    const wchar_t* name;
    const wchar_t* lookupFailed;
    const wchar_t* enableFailed;
};

// The texts are the library's own, spelling and trailing blanks included.
const PrivilegeStep kPrivileges[] = {
    {L"SeRestorePrivilege", L"[VAULTKIT] EROARE: Nu am gasit privilegiul SE_RESTORE_NAME\n",
     L"[VAULTKIT] EROARE: Nu am putut activa privilegiul SE_RESTORE_NAME "},
    {L"SeBackupPrivilege", L"[VAULTKIT] EROARE: Nu am gasit privileghiul SE_BACKUP_NAME\n",
     L"[VAULTKIT] EROARE: Nu am putut activa privilegiul SE_BACKUP_NAME  "},
};

// The previous state of one privilege fills exactly the 16 bytes the call is given.
static_assert(sizeof(TOKEN_PRIVILEGES) == 16, "one privilege's previous state is 16 bytes");

// Without a token the adjustment fails and is traced like any other failure. A lookup
// that failed leaves no privilege to name, so its adjustment is skipped.
void EnablePrivilege(HANDLE token, const PrivilegeStep& step)
{
    TOKEN_PRIVILEGES wanted = {};
    if (!g_Sys.LookupPrivilegeValueW(/*lpSystemName=*/nullptr, step.name,
                                     &wanted.Privileges[0].Luid)) {
        VaultkitTrace(step.lookupFailed);
        return;
    }
    wanted.PrivilegeCount = 1;
    wanted.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    TOKEN_PRIVILEGES previous = {};
    DWORD previousBytes = 0;
    // Success without the privilege assigned (the token lacks it) is not reported.
    if (!g_Sys.AdjustTokenPrivileges(token, /*DisableAllPrivileges=*/FALSE, &wanted,
                                     sizeof(previous), &previous, &previousBytes))
        VaultkitTrace(step.enableFailed);
}

void CreateLocks()
{
    g_Sys.InitializeCriticalSection(&g_csEfsRead);
    g_Sys.InitializeCriticalSection(&g_csUserPid);
    g_Sys.InitializeCriticalSection(&g_csQuarFolder);
    g_bVaultkitLocks = true;
}

void DeleteLocks()
{
    if (!g_bVaultkitLocks)
        return;
    g_Sys.DeleteCriticalSection(&g_csEfsRead);
    g_Sys.DeleteCriticalSection(&g_csUserPid);
    g_Sys.DeleteCriticalSection(&g_csQuarFolder);
    g_bVaultkitLocks = false;
}

VaultkitError StartLibrary()
{
    CreateLocks();
    g_Sys.EnterCriticalSection(&g_csQuarFolder);
    bool found = GetQuarFolderPath(g_sQuarFolder);
    g_Sys.LeaveCriticalSection(&g_csQuarFolder);
    if (!found)
        return VAULTKIT_ERROR_NO_QUAR_FOLDER;
    VaultkitTrace(L"[VAULTKIT] QUARANTINE FOLDER |%s|\n", g_sQuarFolder);

    CUniqueHandle process(g_Sys.OpenProcess(PROCESS_QUERY_INFORMATION, /*bInheritHandle=*/TRUE,
                                            g_Sys.GetCurrentProcessId()));
    if (!process) {
        VaultkitTrace(L"[VAULTKIT] EROARE: Nu am obtinut handle catre procesul curent\n");
        return VAULTKIT_ERROR_CANNOT_OPEN_PROCESS;
    }
    CUniqueHandle token;
    if (!g_Sys.OpenProcessToken(process.get(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY,
                                token.put()))
        VaultkitTrace(
            L"[VAULTKIT] EROARE: Nu am obtinut handle catre token-ul procesului curent\n");
    for (const PrivilegeStep& step : kPrivileges)
        EnablePrivilege(token.get(), step);
    return VAULTKIT_ERROR_SUCCESS;
}

} // namespace

int32_t VaultkitInit()
{
    // Only the start that brings the count to 1 does the work; nested starts only count.
    if (++g_nVaultkitInit > 1)
        return VAULTKIT_ERROR_SUCCESS;
    return StartLibrary();
}

void VaultkitUninit()
{
    // A stop without a start would otherwise drive the count below zero.
    if (g_nVaultkitInit <= 0)
        return;
    if (--g_nVaultkitInit == 0)
        DeleteLocks();
}

bool GetQuarFolderPath(wchar_t* buffer)
{
    if (!buffer)
        return false;
    CUniqueKey key;
    if (g_Sys.RegOpenKeyExW(HKEY_LOCAL_MACHINE, kQuarantineKey, /*ulOptions=*/0, KEY_QUERY_VALUE,
                            key.put()) != ERROR_SUCCESS) {
        Log(DBG_ERROR, L"GetQuarFolderPath", L"Cannot open registry path: %s", kQuarantineKey);
        return false;
    }
    DWORD bytes = kFolderBytes;
    LSTATUS status = g_Sys.RegQueryValueExW(key.get(), kQuarantineValue, /*lpReserved=*/nullptr,
                                            /*lpType=*/nullptr, reinterpret_cast<BYTE*>(buffer),
                                            &bytes);
    // The value is raw bytes of any type: an odd last byte is dropped, and a text that
    // fills all 260 characters has no room for its terminator, so it is too long.
    size_t chars = status == ERROR_SUCCESS ? wcsnlen(buffer, bytes / sizeof(wchar_t)) : 0;
    if (status != ERROR_SUCCESS || chars >= kFolderChars) {
        buffer[0] = L'\0';
        Log(DBG_ERROR, L"GetQuarFolderPath", L"Cannot get registry value: %s", kQuarantineValue);
        return false;
    }
    buffer[chars] = L'\0';
    return true;
}
