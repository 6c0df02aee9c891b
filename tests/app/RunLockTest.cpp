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
// is a real unnamed one, its name and security recorded.
struct CNamespaceWindows
{
    bool m_bBoundary = true, m_bAdd = true, m_bCreate = true, m_bOpen = true;
    std::vector<std::wstring> m_Events;

    CSysHook<&CSysCalls::CreateBoundaryDescriptorW> m_boundary{
        [this](LPCWSTR name, ULONG flags) -> HANDLE {
            m_Events.push_back(L"boundary " + std::wstring(name) + L" " + std::to_wstring(flags));
            return m_bBoundary ? kBoundary : nullptr;
        }};
    CSysHook<&CSysCalls::AddSIDToBoundaryDescriptor> m_add{[this](HANDLE* bd, PSID sid) -> BOOL {
        BYTE admins[SECURITY_MAX_SID_SIZE];
        DWORD size = sizeof(admins);
        CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, admins, &size);
        m_Events.push_back(EqualSid(sid, admins) ? L"add Administrators" : L"add another SID");
        if (m_bAdd)
            *bd = kMoved; // the descriptor grew and moved
        return m_bAdd;
    }};
    CSysHook<&CSysCalls::CreatePrivateNamespaceW> m_create{
        [this](LPSECURITY_ATTRIBUTES sa, LPVOID bd, LPCWSTR prefix) -> HANDLE {
            m_Events.push_back(L"create " + std::wstring(prefix) + L" " + SddlOf(sa) +
                               (bd == kMoved ? L"" : L" (stale boundary)"));
            g_Sys.SetLastError(ERROR_ALREADY_EXISTS);
            return m_bCreate ? kNamespace : nullptr;
        }};
    CSysHook<&CSysCalls::OpenPrivateNamespaceW> m_open{[this](LPVOID bd, LPCWSTR prefix) -> HANDLE {
        m_Events.push_back(L"open " + std::wstring(prefix) + (bd == kMoved ? L"" : L" (stale)"));
        return m_bOpen ? kNamespace : nullptr;
    }};
    CSysHook<&CSysCalls::CreateMutexW> m_mutex{
        [this](LPSECURITY_ATTRIBUTES sa, BOOL owned, LPCWSTR name) -> HANDLE {
            m_Events.push_back(L"mutex " + std::wstring(name) + L" " + SddlOf(sa) +
                               (owned ? L" owned" : L""));
            HANDLE h = CreateMutexW(nullptr, FALSE, nullptr);
            m_Mutexes.push_back(h);
            g_Sys.SetLastError(0);
            return h;
        }};
    CSysHook<&CSysCalls::CloseHandle> m_closeHandle{[this](HANDLE h) -> BOOL {
        for (HANDLE m : m_Mutexes)
            if (m == h)
                m_Events.push_back(L"close mutex");
        return CSysHook<&CSysCalls::CloseHandle>::Next()(h);
    }};
    CSysHook<&CSysCalls::ClosePrivateNamespace> m_closeNamespace{
        [this](HANDLE h, ULONG flags) -> BOOLEAN {
            m_Events.push_back(h == kNamespace ? L"close namespace " + std::to_wstring(flags)
                                               : L"close stray namespace");
            return TRUE;
        }};
    CSysHook<&CSysCalls::DeleteBoundaryDescriptor> m_delete{[this](HANDLE h) {
        m_Events.push_back(h == kMoved ? L"delete boundary" : L"delete stale boundary");
    }};
    std::vector<HANDLE> m_Mutexes;
};

const wchar_t kSecurity[] = L"O:BAD:P(A;;GA;;;SY)(A;;GA;;;BA)";

} // namespace

TEST(RunLock, NamespaceOfTheAdministratorsWhereWindowsHasOne)
{
    const std::wstring sd = kSecurity;
    const std::wstring boundary = L"boundary SanarixRun 0", add = L"add Administrators";
    const std::wstring created = L"create Sanarix " + sd, opened = L"open Sanarix";
    const std::wstring inside = L"mutex Sanarix\\RepairRun " + sd;
    const std::wstring global = L"mutex Global\\SanarixRepairRun " + sd;
    const std::wstring closeAll[] = {L"close mutex", L"close namespace 0", L"delete boundary"};
    struct Case
    {
        bool boundary, add, create, open;
        std::vector<std::wstring> expected;
    };
    const Case cases[] = {
        {true, true, true, true, {boundary, add, created, inside}},
        {true, true, false, true, {boundary, add, created, opened, inside}}, // another run's
        {true, true, false, false, {boundary, add, created, opened, global}},
        {true, false, true, true, {boundary, add, global}},
        {false, true, true, true, {boundary, global}}, // Wine
    };
    for (const Case& c : cases) {
        CNamespaceWindows windows;
        windows.m_bBoundary = c.boundary;
        windows.m_bAdd = c.add;
        windows.m_bCreate = c.create;
        windows.m_bOpen = c.open;
        {
            CRunLock lock;
            EXPECT_EQ(lock.Take(), ERunLock::Taken);
            EXPECT_EQ(windows.m_Events, c.expected);
            windows.m_Events.clear();
        }
        // Released in order: mutex, namespace, boundary (each only when it was had).
        std::vector<std::wstring> closes = {closeAll[0]};
        if (c.boundary && c.add && (c.create || c.open))
            closes.push_back(closeAll[1]);
        if (c.boundary)
            closes.push_back(c.add ? closeAll[2] : L"delete stale boundary");
        EXPECT_EQ(windows.m_Events, closes);
    }
}

// An existing mutex counts only when SYSTEM or the Administrators made it; anything an
// ordinary user could have made first is no run in progress.
TEST(RunLock, ExistingObjectIsTrustedOnlyWhenAdministratorsOwnIt)
{
    struct Case
    {
        DWORD createError;       // CreateMutexW: 0 a new one, else its answer
        const wchar_t* owner;    // of the existing one; null: the owner cannot be read
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
                PSID sid = nullptr;
                ConvertStringSidToSidW(c.owner, &sid);
                *owner = sid;
                *sd = sid; // one block, freed through the descriptor
                return ERROR_SUCCESS;
            });
        CSysHook<&CSysCalls::CloseHandle> close([&](HANDLE h) {
            closes += h == real;
            return CSysHook<&CSysCalls::CloseHandle>::Next()(h);
        });
        {
            CRunLock lock;
            EXPECT_EQ(lock.Take(), c.expected) << (c.owner ? c.owner : L"-") << " " << c.createError;
            if (c.expected == ERunLock::Untrusted && real) {
                EXPECT_EQ(closes, 1) << "an untrusted object is let go at once";
            }
        }
        EXPECT_EQ(closes, real ? 1 : 0);
    }
}

// Real objects under Wine: a lock held by another thread is busy; one whose holder ended
// without letting go (a killed run) is free.
TEST(RunLock, HeldIsBusyAndAbandonedIsFree)
{
    struct Holder
    {
        static DWORD WINAPI Take(void* lock)
        {
            return static_cast<DWORD>(static_cast<CRunLock*>(lock)->Take());
        }
    };
    CRunLock* left = new CRunLock; // never let go by its thread
    HANDLE thread = CreateThread(nullptr, 0, &Holder::Take, left, 0, nullptr);
    WaitForSingleObject(thread, INFINITE);
    DWORD taken = 99;
    GetExitCodeThread(thread, &taken);
    CloseHandle(thread);
    ASSERT_EQ(taken, static_cast<DWORD>(ERunLock::Taken));
    {
        CRunLock lock;
        EXPECT_EQ(lock.Take(), ERunLock::Taken); // abandoned: ours now
        CRunLock other;
        thread = CreateThread(nullptr, 0, &Holder::Take, &other, 0, nullptr);
        WaitForSingleObject(thread, INFINITE);
        GetExitCodeThread(thread, &taken);
        CloseHandle(thread);
        EXPECT_EQ(taken, static_cast<DWORD>(ERunLock::Busy));
    }
    delete left;
    CRunLock again;
    EXPECT_EQ(again.Take(), ERunLock::Taken);
}
