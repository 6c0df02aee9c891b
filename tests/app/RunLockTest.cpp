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
const HANDLE kMoved = reinterpret_cast<HANDLE>(0xB1); // where adding the SID moved it
const HANDLE kNamespace = reinterpret_cast<HANDLE>(0xB2);

// " SY+BA only" for the lock's security: owned by Administrators, only SYSTEM and
// Administrators admitted, nothing inherited.
std::wstring Security(LPSECURITY_ATTRIBUTES sa)
{
    LPWSTR text = nullptr;
    if (!sa || !ConvertSecurityDescriptorToStringSecurityDescriptorW(
                   sa->lpSecurityDescriptor, SDDL_REVISION_1,
                   OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text, nullptr))
        return L" (no security)";
    std::wstring sddl = text;
    LocalFree(text);
    return sddl == L"O:BAD:P(A;;GA;;;SY)(A;;GA;;;BA)" ? L" SY+BA only" : L" " + sddl;
}

std::wstring Stale(LPVOID boundary)
{
    return boundary == kMoved ? L"" : L" (stale)";
}

// The namespace calls as Windows answers them, each answer chosen by the test; the mutex
// is a real unnamed one.
struct CNamespaceWindows
{
    CNamespaceWindows(bool boundary, bool add, bool create, bool open)
        : m_bBoundary(boundary), m_bAdd(add), m_bCreate(create), m_bOpen(open) {}

    bool m_bBoundary, m_bAdd, m_bCreate, m_bOpen;
    std::vector<std::wstring> m_Events;
    HANDLE m_hMutex = nullptr;

    CSysHook<&CSysCalls::CreateBoundaryDescriptorW> m_boundary{[this](LPCWSTR name, ULONG) {
        m_Events.push_back(L"boundary " + std::wstring(name));
        return m_bBoundary ? kBoundary : nullptr;
    }};
    CSysHook<&CSysCalls::AddSIDToBoundaryDescriptor> m_add{[this](HANDLE* bd, PSID sid) -> BOOL {
        LPWSTR text = nullptr;
        ConvertSidToStringSidW(sid, &text);
        m_Events.push_back(L"add " + std::wstring(text)); // S-1-5-32-544: Administrators
        LocalFree(text);
        *bd = m_bAdd ? kMoved : *bd;
        return m_bAdd;
    }};
    CSysHook<&CSysCalls::CreatePrivateNamespaceW> m_create{
        [this](LPSECURITY_ATTRIBUTES sa, LPVOID bd, LPCWSTR prefix) {
            m_Events.push_back(L"create " + std::wstring(prefix) + Security(sa) + Stale(bd));
            return m_bCreate ? kNamespace : nullptr;
        }};
    CSysHook<&CSysCalls::OpenPrivateNamespaceW> m_open{[this](LPVOID bd, LPCWSTR prefix) {
        m_Events.push_back(L"open " + std::wstring(prefix) + Stale(bd));
        return m_bOpen ? kNamespace : nullptr;
    }};
    CSysHook<&CSysCalls::CreateMutexW> m_mutex{
        [this](LPSECURITY_ATTRIBUTES sa, BOOL owned, LPCWSTR name) {
            m_Events.push_back(L"mutex " + std::wstring(name) + Security(sa) +
                               (owned ? L" owned" : L""));
            m_hMutex = CreateMutexW(nullptr, FALSE, nullptr);
            g_Sys.SetLastError(0);
            return m_hMutex;
        }};
    CSysHook<&CSysCalls::CloseHandle> m_closeHandle{[this](HANDLE h) {
        m_Events.push_back(h == m_hMutex ? L"close mutex" : L"close other");
        return CSysHook<&CSysCalls::CloseHandle>::Next()(h);
    }};
    CSysHook<&CSysCalls::ClosePrivateNamespace> m_closeNamespace{[this](HANDLE h, ULONG flags) {
        m_Events.push_back(h == kNamespace && flags == 0 ? L"close namespace" : L"close odd");
        return BOOLEAN(TRUE);
    }};
    CSysHook<&CSysCalls::DeleteBoundaryDescriptor> m_delete{
        [this](HANDLE h) { m_Events.push_back(L"delete boundary" + Stale(h)); }};
};

} // namespace

// Released in reverse order (mutex, namespace, boundary), each only when it was had.
TEST(RunLock, NamespaceOfTheAdministratorsWhereWindowsHasOne)
{
    const std::wstring boundary = L"boundary SanarixRun", add = L"add S-1-5-32-544";
    const std::wstring created = L"create Sanarix SY+BA only", opened = L"open Sanarix";
    const std::wstring inside = L"mutex Sanarix\\RepairRun SY+BA only";
    const std::wstring global = L"mutex Global\\SanarixRepairRun SY+BA only";
    const std::wstring mutex = L"close mutex", space = L"close namespace";
    const std::wstring gone = L"delete boundary";
    struct Case
    {
        bool boundary, add, create, open;
        std::vector<std::wstring> expected;
    };
    const Case cases[] = {
        {true, true, true, true, {boundary, add, created, inside, mutex, space, gone}},
        {true, true, false, true, // another run's
         {boundary, add, created, opened, inside, mutex, space, gone}},
        {true, true, false, false, {boundary, add, created, opened, global, mutex, gone}},
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
    const std::pair<const wchar_t*, ERunLock> cases[] = { // owner; null: it cannot be read
        {L"S-1-5-32-544", ERunLock::Taken},
        {L"S-1-5-18", ERunLock::Taken},
        {L"S-1-5-21-1004336348-1177238915-682003330-1001", ERunLock::Untrusted},
        {L"S-1-1-0", ERunLock::Untrusted},
        {nullptr, ERunLock::Untrusted},
    };
    for (const auto& c : cases) {
        CNamespaceWindows windows(false, false, false, false);
        CSysHook<&CSysCalls::CreateMutexW> mutex([&](LPSECURITY_ATTRIBUTES, BOOL, LPCWSTR) {
            windows.m_hMutex = CreateMutexW(nullptr, FALSE, nullptr);
            g_Sys.SetLastError(ERROR_ALREADY_EXISTS);
            return windows.m_hMutex;
        });
        CSysHook<&CSysCalls::GetSecurityInfo> security(
            [&](HANDLE h, SE_OBJECT_TYPE type, SECURITY_INFORMATION what, PSID* owner, PSID*,
                PACL*, PACL*, PSECURITY_DESCRIPTOR* sd) -> DWORD {
                if (!c.first || h != windows.m_hMutex || type != SE_KERNEL_OBJECT ||
                    what != OWNER_SECURITY_INFORMATION)
                    return ERROR_ACCESS_DENIED;
                ConvertStringSidToSidW(c.first, owner);
                *sd = *owner; // one block, freed through the descriptor
                return ERROR_SUCCESS;
            });
        CRunLock lock;
        EXPECT_EQ(lock.Take(), c.second) << (c.first ? c.first : L"-");
        EXPECT_EQ(windows.m_Events.back(), c.second == ERunLock::Taken ? L"boundary SanarixRun"
                                                                       : L"close mutex");
    }
    // A squatter's object under another security, or of another kind, cannot be had at all.
    for (DWORD error : {ERROR_ACCESS_DENIED, ERROR_INVALID_HANDLE}) {
        CSysFailNth<&CSysCalls::CreateMutexW> squatted(1, error, nullptr);
        CRunLock lock;
        EXPECT_EQ(lock.Take(), ERunLock::Untrusted);
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
