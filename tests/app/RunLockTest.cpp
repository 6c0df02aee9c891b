// The run lock: which object it takes (a private namespace where Windows has one, a global
// mutex where not), whose existing object it trusts, and a lock left by a killed run.
#include "app/RunLock.h"
#include "tests/support/SysHooks.h"
#include <gtest/gtest.h>
#include <sddl.h>
#include <string>
#include <vector>

namespace {

const HANDLE kBoundary = reinterpret_cast<HANDLE>(0xB0);
const HANDLE kMoved = reinterpret_cast<HANDLE>(0xB1);
const HANDLE kNamespace = reinterpret_cast<HANDLE>(0xB2);
const std::wstring kSecurity = L"O:BAD:P(A;;GA;;;SY)(A;;GA;;;BA)";

std::wstring SddlOf(LPSECURITY_ATTRIBUTES sa)
{
    LPWSTR text = nullptr;
    if (!sa || !ConvertSecurityDescriptorToStringSecurityDescriptorW(
                   sa->lpSecurityDescriptor, SDDL_REVISION_1,
                   OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text, nullptr))
        return L"(none)";
    std::wstring s = text;
    LocalFree(text);
    return s;
}

// The namespace calls as Windows answers them, each answer chosen by the test; the mutex
// is a real unnamed one, its name and security recorded. Adding the SID moves the
// descriptor: a call with the old one shows as "stale".
struct CNamespaceWindows
{
    CNamespaceWindows(bool boundary, bool add, bool create, bool open)
        : m_bBoundary(boundary), m_bAdd(add), m_bCreate(create), m_bOpen(open) {}

    bool m_bBoundary, m_bAdd, m_bCreate, m_bOpen;
    std::vector<std::wstring> m_Events;
    HANDLE m_hMutex = nullptr;

    static std::wstring Stale(LPVOID bd) { return bd == kMoved ? L"" : L" (stale)"; }

    CSysHook<&CSysCalls::CreateBoundaryDescriptorW> m_boundary{[this](LPCWSTR name, ULONG flags) {
        m_Events.push_back(L"boundary " + std::wstring(name) + L" " + std::to_wstring(flags));
        return m_bBoundary ? kBoundary : nullptr;
    }};
    CSysHook<&CSysCalls::AddSIDToBoundaryDescriptor> m_add{[this](HANDLE* bd, PSID sid) -> BOOL {
        BYTE admins[SECURITY_MAX_SID_SIZE];
        DWORD size = sizeof(admins);
        CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &size);
        m_Events.push_back(EqualSid(sid, admins) ? L"add Administrators" : L"add another SID");
        *bd = m_bAdd ? kMoved : *bd;
        return m_bAdd;
    }};
    CSysHook<&CSysCalls::CreatePrivateNamespaceW> m_create{
        [this](LPSECURITY_ATTRIBUTES sa, LPVOID bd, LPCWSTR prefix) {
            m_Events.push_back(L"create " + std::wstring(prefix) + L" " + SddlOf(sa) + Stale(bd));
            g_Sys.SetLastError(ERROR_ALREADY_EXISTS);
            return m_bCreate ? kNamespace : nullptr;
        }};
    CSysHook<&CSysCalls::OpenPrivateNamespaceW> m_open{[this](LPVOID bd, LPCWSTR prefix) {
        m_Events.push_back(L"open " + std::wstring(prefix) + Stale(bd));
        return m_bOpen ? kNamespace : nullptr;
    }};
    CSysHook<&CSysCalls::CreateMutexW> m_mutex{
        [this](LPSECURITY_ATTRIBUTES sa, BOOL owned, LPCWSTR name) {
            m_Events.push_back(L"mutex " + std::wstring(name) + L" " + SddlOf(sa) +
                               (owned ? L" owned" : L""));
            m_hMutex = CreateMutexW(nullptr, FALSE, nullptr);
            g_Sys.SetLastError(0);
            return m_hMutex;
        }};
    CSysHook<&CSysCalls::CloseHandle> m_closeHandle{[this](HANDLE h) {
        if (h == m_hMutex)
            m_Events.push_back(L"close mutex");
        return CSysHook<&CSysCalls::CloseHandle>::Next()(h);
    }};
    CSysHook<&CSysCalls::ClosePrivateNamespace> m_closeNamespace{[this](HANDLE h, ULONG flags) {
        m_Events.push_back(h == kNamespace ? L"close namespace " + std::to_wstring(flags)
                                           : L"close stray namespace");
        return BOOLEAN(TRUE);
    }};
    CSysHook<&CSysCalls::DeleteBoundaryDescriptor> m_delete{
        [this](HANDLE h) { m_Events.push_back(L"delete boundary" + Stale(h)); }};
};

} // namespace

// Released in reverse order: mutex, namespace, boundary, each only when it was had.
TEST(RunLock, NamespaceOfTheAdministratorsWhereWindowsHasOne)
{
    const std::wstring boundary = L"boundary SanarixRun 0", add = L"add Administrators";
    const std::wstring created = L"create Sanarix " + kSecurity, opened = L"open Sanarix";
    const std::wstring inside = L"mutex Sanarix\\RepairRun " + kSecurity;
    const std::wstring global = L"mutex Global\\SanarixRepairRun " + kSecurity;
    const std::wstring mutex = L"close mutex", space = L"close namespace 0";
    struct Case
    {
        bool boundary, add, create, open;
        std::vector<std::wstring> expected;
    };
    const Case cases[] = {
        {true, true, true, true, {boundary, add, created, inside, mutex, space, L"delete boundary"}},
        {true, true, false, true, // another run's
         {boundary, add, created, opened, inside, mutex, space, L"delete boundary"}},
        {true, true, false, false, {boundary, add, created, opened, global, mutex, L"delete boundary"}},
        {true, false, true, true, {boundary, add, global, mutex, L"delete boundary (stale)"}},
        {false, true, true, true, {boundary, global, mutex}}, // Wine
    };
    for (const Case& c : cases) {
        CNamespaceWindows windows(c.boundary, c.add, c.create, c.open);
        {
            CRunLock lock;
            EXPECT_EQ(lock.Take(), ERunLock::Taken);
        }
        EXPECT_EQ(windows.m_Events, c.expected);
    }
}

// An existing mutex counts only when SYSTEM or the Administrators made it; anything an
// ordinary user could have made first is no run in progress, and is let go at once.
TEST(RunLock, ExistingObjectIsTrustedOnlyWhenAdministratorsOwnIt)
{
    struct Case
    {
        DWORD createError;    // CreateMutexW: 0 a new one, else its answer
        const wchar_t* owner; // of the existing one; null: the owner cannot be read
        ERunLock expected;
    };
    const Case cases[] = {
        {ERROR_ALREADY_EXISTS, L"S-1-5-32-544", ERunLock::Taken},
        {ERROR_ALREADY_EXISTS, L"S-1-5-18", ERunLock::Taken},
        {ERROR_ALREADY_EXISTS, L"S-1-5-21-1004336348-1177238915-682003330-1001", ERunLock::Untrusted},
        {ERROR_ALREADY_EXISTS, L"S-1-1-0", ERunLock::Untrusted},
        {ERROR_ALREADY_EXISTS, nullptr, ERunLock::Untrusted},
        {ERROR_ACCESS_DENIED, nullptr, ERunLock::Untrusted},  // squatter's own security
        {ERROR_INVALID_HANDLE, nullptr, ERunLock::Untrusted}, // another kind of object
    };
    for (const Case& c : cases) {
        int closes = 0;
        HANDLE real = nullptr;
        CSysFailNth<&CSysCalls::CreateBoundaryDescriptorW> noNamespace(1, ERROR_CALL_NOT_IMPLEMENTED,
                                                                        nullptr);
        CSysHook<&CSysCalls::CreateMutexW> mutex([&](LPSECURITY_ATTRIBUTES, BOOL, LPCWSTR) {
            real = c.createError == ERROR_ALREADY_EXISTS ? CreateMutexW(nullptr, FALSE, nullptr)
                                                         : nullptr;
            g_Sys.SetLastError(c.createError);
            return real;
        });
        CSysHook<&CSysCalls::GetSecurityInfo> security(
            [&](HANDLE h, SE_OBJECT_TYPE type, SECURITY_INFORMATION what, PSID* owner, PSID*,
                PACL*, PACL*, PSECURITY_DESCRIPTOR* sd) -> DWORD {
                if (!c.owner || h != real || type != SE_KERNEL_OBJECT ||
                    what != OWNER_SECURITY_INFORMATION)
                    return ERROR_ACCESS_DENIED;
                ConvertStringSidToSidW(c.owner, owner);
                *sd = *owner; // one block, freed through the descriptor
                return ERROR_SUCCESS;
            });
        CSysHook<&CSysCalls::CloseHandle> close([&](HANDLE h) {
            closes += h == real;
            return CSysHook<&CSysCalls::CloseHandle>::Next()(h);
        });
        CRunLock lock;
        EXPECT_EQ(lock.Take(), c.expected) << (c.owner ? c.owner : L"-") << " " << c.createError;
        EXPECT_EQ(closes, c.expected == ERunLock::Untrusted && real ? 1 : 0);
    }
}

// Real objects under Wine: a lock held by another thread is busy; one whose holder ended
// without letting go (a killed run) is free.
TEST(RunLock, HeldIsBusyAndAbandonedIsFree)
{
    auto takeOnThread = [](CRunLock& lock) {
        HANDLE thread = CreateThread(
            nullptr, 0,
            [](void* p) -> DWORD { return static_cast<DWORD>(static_cast<CRunLock*>(p)->Take()); },
            &lock, 0, nullptr);
        WaitForSingleObject(thread, INFINITE);
        DWORD taken = 99;
        GetExitCodeThread(thread, &taken);
        CloseHandle(thread);
        return static_cast<ERunLock>(taken);
    };
    CRunLock* left = new CRunLock; // never let go by its thread
    ASSERT_EQ(takeOnThread(*left), ERunLock::Taken);
    {
        CRunLock lock;
        EXPECT_EQ(lock.Take(), ERunLock::Taken); // abandoned: ours now
        CRunLock other;
        EXPECT_EQ(takeOnThread(other), ERunLock::Busy);
    }
    delete left;
    CRunLock again;
    EXPECT_EQ(again.Take(), ERunLock::Taken);
}
