// The run lock: its namespace, whose existing object it trusts, and a lock left by a killed run.
#include "app/RunLock.h"
#include "tests/support/SysHooks.h"
#include <gtest/gtest.h>
#include <sddl.h>

namespace {

// "SY+BA only": owned by Administrators, only SYSTEM and Administrators admitted, nothing inherited.
std::wstring Security(LPSECURITY_ATTRIBUTES sa)
{
    LPWSTR text = nullptr;
    std::wstring sddl = L"(none)";
    if (sa && ConvertSecurityDescriptorToStringSecurityDescriptorW(
                  sa->lpSecurityDescriptor, SDDL_REVISION_1,
                  OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text, nullptr))
        sddl = text;
    LocalFree(text);
    return sddl == L"O:BAD:P(A;;GA;;;SY)(A;;GA;;;BA)" ? L"SY+BA only" : sddl;
}

} // namespace

// A mutex in a private namespace bounded by the Administrators (another run's is opened); any step
// refused falls back to the global mutex. Mutex, namespace, then boundary are released.
TEST(RunLock, NamespaceOfTheAdministratorsWhereWindowsHasOne)
{
    const HANDLE kBoundary = HANDLE(0xB0), kGrown = HANDLE(0xB1), kNamespace = HANDLE(0xB2);
    const std::wstring inside = L"Sanarix\\RepairRun SY+BA only";
    const std::wstring global = L"Global\\SanarixRepairRun SY+BA only";
    struct Case
    {
        bool boundary, add, create, open;
        const wchar_t* events;
    };
    const Case cases[] = {
        {true, true, true, true, L"boundary SanarixRun,add BA,create Sanarix SY+BA only,"},
        {true, true, false, true, L"boundary SanarixRun,add BA,create Sanarix SY+BA only,open Sanarix,"},
        {true, true, false, false, L"boundary SanarixRun,add BA,create Sanarix SY+BA only,open Sanarix,"},
        {true, false, true, true, L"boundary SanarixRun,add BA,"},
        {false, true, true, true, L"boundary SanarixRun,"}, // Wine
    };
    for (const Case& c : cases) {
        const bool inNamespace = c.boundary && c.add && (c.create || c.open);
        std::wstring events, mutex;
        CSysHook<&CSysCalls::CreateBoundaryDescriptorW> boundary([&](LPCWSTR name, ULONG) {
            events += L"boundary " + std::wstring(name) + L",";
            return c.boundary ? kBoundary : nullptr;
        });
        CSysHook<&CSysCalls::AddSIDToBoundaryDescriptor> add([&](HANDLE* bd, PSID sid) -> BOOL {
            PSID admins = nullptr;
            ConvertStringSidToSidW(L"S-1-5-32-544", &admins);
            events += EqualSid(sid, admins) ? L"add BA," : L"add another,";
            LocalFree(admins);
            *bd = c.add ? kGrown : *bd; // the descriptor grew and moved
            return c.add;
        });
        CSysHook<&CSysCalls::CreatePrivateNamespaceW> create(
            [&](LPSECURITY_ATTRIBUTES sa, LPVOID bd, LPCWSTR p) {
                events += L"create " + std::wstring(p) + L" " + Security(sa);
                events += bd == kGrown ? L"," : L" stale,";
                return c.create ? kNamespace : nullptr;
            });
        CSysHook<&CSysCalls::OpenPrivateNamespaceW> open([&](LPVOID bd, LPCWSTR p) {
            events += L"open " + std::wstring(p) + (bd == kGrown ? L"," : L" stale,");
            return c.open ? kNamespace : nullptr;
        });
        CSysHook<&CSysCalls::CreateMutexW> made([&](LPSECURITY_ATTRIBUTES sa, BOOL, LPCWSTR name) {
            mutex = name + (L" " + Security(sa));
            g_Sys.SetLastError(0);
            return CreateMutexW(nullptr, FALSE, nullptr);
        });
        CSysHook<&CSysCalls::ClosePrivateNamespace> closeNs([&](HANDLE h, ULONG) -> BOOLEAN {
            events += h == kNamespace ? L"close namespace," : L"close stray,";
            return TRUE;
        });
        CSysHook<&CSysCalls::DeleteBoundaryDescriptor> del([&](HANDLE h) {
            events += h == (c.add ? kGrown : kBoundary) ? L"delete boundary," : L"delete stray,";
        });
        {
            CRunLock lock;
            EXPECT_EQ(lock.Take(), ERunLock::Taken);
            EXPECT_EQ(events, c.events);
            EXPECT_EQ(mutex, inNamespace ? inside : global);
            events.clear();
        }
        EXPECT_EQ(events, std::wstring(inNamespace ? L"close namespace," : L"") +
                              (c.boundary ? L"delete boundary," : L""));
    }
}

// The global mutex (no namespace, as on Wine): an existing one counts only when SYSTEM or the
// Administrators own it, else it is let go; a squatter's object cannot be had at all.
TEST(RunLock, ExistingObjectIsTrustedOnlyWhenAdministratorsOwnIt)
{
    const std::pair<const wchar_t*, ERunLock> cases[] = { // owner; null: it cannot be read
        {L"S-1-5-32-544", ERunLock::Taken},
        {L"S-1-5-18", ERunLock::Taken},
        {L"S-1-5-21-1004336348-1177238915-682003330-1001", ERunLock::Untrusted},
        {nullptr, ERunLock::Untrusted},
    };
    CSysFailNth<&CSysCalls::CreateBoundaryDescriptorW> noNamespace(1, ERROR_NOT_SUPPORTED, nullptr, true);
    for (const auto& [owner, result] : cases) {
        HANDLE mutex = nullptr;
        std::wstring made;
        CSysHook<&CSysCalls::CreateMutexW> create([&](LPSECURITY_ATTRIBUTES sa, BOOL owned, LPCWSTR name) {
            made = name + (L" " + Security(sa)) + (owned ? L" owned" : L"");
            mutex = CreateMutexW(nullptr, FALSE, nullptr);
            g_Sys.SetLastError(ERROR_ALREADY_EXISTS);
            return mutex;
        });
        CSysRecorder<&CSysCalls::CloseHandle> closes;
        CSysHook<&CSysCalls::GetSecurityInfo> security(
            [&](HANDLE h, SE_OBJECT_TYPE type, SECURITY_INFORMATION what, PSID* sid, PSID*, PACL*,
                PACL*, PSECURITY_DESCRIPTOR* sd) -> DWORD {
                if (!owner || h != mutex || type != SE_KERNEL_OBJECT || what != OWNER_SECURITY_INFORMATION)
                    return ERROR_ACCESS_DENIED;
                ConvertStringSidToSidW(owner, sid);
                *sd = *sid; // one block, freed through the descriptor
                return ERROR_SUCCESS;
            });
        {
            CRunLock lock;
            EXPECT_EQ(lock.Take(), result) << (owner ? owner : L"-");
            EXPECT_EQ(closes.Count(), result == ERunLock::Untrusted ? 1u : 0u);
        }
        EXPECT_EQ(made, L"Global\\SanarixRepairRun SY+BA only");
    }
    for (DWORD error : {ERROR_ACCESS_DENIED, ERROR_INVALID_HANDLE}) {
        CSysFailNth<&CSysCalls::CreateMutexW> squatted(1, error, nullptr);
        EXPECT_EQ(CRunLock().Take(), ERunLock::Untrusted);
    }
}

// Real objects: held by another thread is busy; abandoned by its holder (a killed run) is free.
TEST(RunLock, HeldIsBusyAndAbandonedIsFree)
{
    auto takeOnThread = [](CRunLock& lock) {
        auto take = [](void* p) -> DWORD { return DWORD(static_cast<CRunLock*>(p)->Take()); };
        HANDLE thread = CreateThread(nullptr, 0, take, &lock, 0, nullptr);
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
}
