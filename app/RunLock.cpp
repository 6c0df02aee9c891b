// The machine-wide run lock (see RunLock.h).
#include "app/RunLock.h"

namespace {

// SYSTEM and Administrators only, owned by Administrators, nothing inherited.
const wchar_t kLockSecurity[] = L"O:BAD:P(A;;GA;;;SY)(A;;GA;;;BA)";
const wchar_t kBoundaryName[] = L"SanarixRun";
const wchar_t kNamespaceName[] = L"Sanarix";
const wchar_t kNamespacedMutex[] = L"Sanarix\\RepairRun";
const wchar_t kGlobalMutex[] = L"Global\\SanarixRepairRun";

bool IsWellKnown(PSID sid, WELL_KNOWN_SID_TYPE type)
{
    BYTE known[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(known);
    if (!g_Sys.CreateWellKnownSid(type, /*DomainSid=*/nullptr, known, &size))
        return false;
    return g_Sys.EqualSid(sid, known) != FALSE;
}

} // namespace

bool MadeByAdministrators(HANDLE object)
{
    PSID owner = nullptr;
    CUniqueLocal security;
    DWORD rc = g_Sys.GetSecurityInfo(object, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION,
                                     &owner, /*ppsidGroup=*/nullptr, /*ppDacl=*/nullptr,
                                     /*ppSacl=*/nullptr, security.put());
    if (rc != ERROR_SUCCESS || !owner)
        return false;
    return IsWellKnown(owner, WinLocalSystemSid) || IsWellKnown(owner, WinBuiltinAdministratorsSid);
}

CRunLock::~CRunLock()
{
    if (m_bHeld)
        g_Sys.ReleaseMutex(m_hMutex.get());
}

ERunLock CRunLock::Take()
{
    CUniqueLocal security;
    if (!g_Sys.ConvertStringSecurityDescriptorToSecurityDescriptorW(
            kLockSecurity, SDDL_REVISION_1, security.put(), /*SecurityDescriptorSize=*/nullptr))
        return ERunLock::Untrusted;
    SECURITY_ATTRIBUTES sa = {sizeof(sa), security.get(), /*bInheritHandle=*/FALSE};
    return TakeMutex(sa, OpenNamespace(sa) ? kNamespacedMutex : kGlobalMutex);
}

// The private namespace bounded by the Administrators group: created, or opened when
// another run made it first. False when it cannot be had.
bool CRunLock::OpenNamespace(SECURITY_ATTRIBUTES& sa)
{
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof(administrators);
    if (!g_Sys.CreateWellKnownSid(WinBuiltinAdministratorsSid, /*DomainSid=*/nullptr,
                                  administrators, &size))
        return false;
    m_hBoundary.reset(g_Sys.CreateBoundaryDescriptorW(kBoundaryName, /*Flags=*/0));
    if (!m_hBoundary)
        return false;
    // Adding may move the descriptor: the owner takes whatever handle comes back.
    HANDLE boundary = m_hBoundary.release();
    BOOL added = g_Sys.AddSIDToBoundaryDescriptor(&boundary, administrators);
    m_hBoundary.reset(boundary);
    if (!added)
        return false;
    m_hNamespace.reset(g_Sys.CreatePrivateNamespaceW(&sa, boundary, kNamespaceName));
    if (!m_hNamespace)
        m_hNamespace.reset(g_Sys.OpenPrivateNamespaceW(boundary, kNamespaceName));
    return static_cast<bool>(m_hNamespace);
}

ERunLock CRunLock::TakeMutex(SECURITY_ATTRIBUTES& sa, const wchar_t* name)
{
    HANDLE mutex = g_Sys.CreateMutexW(&sa, /*bInitialOwner=*/FALSE, name);
    DWORD error = g_Sys.GetLastError();
    m_hMutex.reset(mutex);
    if (!m_hMutex)
        return ERunLock::Untrusted;
    if (error == ERROR_ALREADY_EXISTS && !MadeByAdministrators(mutex)) {
        m_hMutex.reset();
        return ERunLock::Untrusted;
    }
    // WAIT_ABANDONED: a killed run left it; the lock is ours now.
    DWORD wait = g_Sys.WaitForSingleObject(mutex, /*dwMilliseconds=*/0);
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) {
        m_bHeld = true;
        return ERunLock::Taken;
    }
    return wait == WAIT_TIMEOUT ? ERunLock::Busy : ERunLock::Untrusted;
}
