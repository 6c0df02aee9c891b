// The attempt to act as the logged-on user before a failed action is given up. Nothing in
// this program learns the user's process id, so every attempt ends at the id check; the
// callers' fallback paths are written against exactly that outcome.
#include "restore/Impersonation.h"
#include "platform/SysCalls.h"
#include "quarantine/Vaultkit.h"
#include "quarantine/VaultkitTrace.h"

uint32_t g_nUserPid = 0;

int StartImpersonatingUser()
{
    VaultkitTrace(L"[VAULTKIT]: StartImpersonatingUser");

    g_Sys.EnterCriticalSection(&g_csUserPid);
    uint32_t pid = g_nUserPid;
    g_Sys.LeaveCriticalSection(&g_csUserPid);

    if (pid == 0) {
        VaultkitTrace(L"[VAULTKIT]: StartImpersonatingUser : invalid pid %d", pid);
        return 0;
    }
    // A real id would need the user's token; this program never has one to offer, so the
    // thread keeps its own identity and the caller takes its failure path as usual.
    return 0;
}
