// The impersonation attempt: two trace lines, result 0, and nothing asked of Windows but
// the lock around the user's process id.
#include "quarantine/Vaultkit.h"
#include "restore/Impersonation.h"
#include "tests/restore/StoredItem.h"
#include "tests/support/SysHooks.h"
#include <gtest/gtest.h>

namespace {

// Counts every row of the table of calls by name.
template <auto Slot>
struct CCountingHook
{
    CCountingHook(std::vector<std::string>& calls, const char* name)
        : m_hook([&calls, name](auto... args) {
              calls.push_back(name);
              return CSysHook<Slot>::Next()(args...);
          })
    {
    }
    CSysHook<Slot> m_hook;
};

struct CEveryCall
{
    std::vector<std::string> m_Calls;
#define SANARIX_COUNT_ROW(fn) CCountingHook<&CSysCalls::fn> m_##fn{m_Calls, #fn};
    SANARIX_SYSCALLS(SANARIX_COUNT_ROW)
#undef SANARIX_COUNT_ROW

    // What was asked of Windows, leaving out the last-error bookkeeping.
    std::vector<std::string> Actions() const
    {
        std::vector<std::string> out;
        for (const std::string& c : m_Calls)
            if (c != "GetLastError" && c != "SetLastError")
                out.push_back(c);
        return out;
    }
};

} // namespace

TEST(StartImpersonatingUser, InvalidPidEveryTimeAndOnlyTheLock)
{
    CEveryCall every;
    CDebugCapture trace;
    CSysRecorder<&CSysCalls::EnterCriticalSection> enter;
    CSysRecorder<&CSysCalls::LeaveCriticalSection> leave;

    EXPECT_EQ(StartImpersonatingUser(), 0);
    EXPECT_EQ(StartImpersonatingUser(), 0);  // the attempt keeps nothing: same again

    Lines once = {L"[VAULTKIT]: StartImpersonatingUser",
                  L"[VAULTKIT]: StartImpersonatingUser : invalid pid 0"};
    EXPECT_EQ(trace.Lines(), once + once);
    std::vector<std::string> lock = {"EnterCriticalSection", "LeaveCriticalSection"};
    std::vector<std::string> twice = lock;
    twice.insert(twice.end(), lock.begin(), lock.end());
    EXPECT_EQ(every.Actions(), twice);
    ASSERT_EQ(enter.Count(), 2u);
    EXPECT_EQ(std::get<0>(enter.Calls()[0]), &g_csUserPid);
    EXPECT_EQ(std::get<0>(leave.Calls()[1]), &g_csUserPid);
    EXPECT_EQ(g_nUserPid, 0u);
}
