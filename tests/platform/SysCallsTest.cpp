// The table of calls, the test hooks built on it and the handle owners.
#include "platform/FinalPathStandin.h"
#include "platform/LibrarySearch.h"
#include "platform/Owners.h"
#include "platform/SysCalls.h"
#include "platform/WineStandins.h"
#include "tests/support/SysHooks.h"
#include "tests/support/TestFiles.h"
#include <gtest/gtest.h>
#include <cstring>
#include <set>
#include <string>

TEST(SysCallTable, RowsAreUniqueNamedAndInFixedOrder)
{
    ASSERT_EQ(SysCallCount(), 83u);
    EXPECT_STREQ(SysCallName(0), "GetLastError");
    EXPECT_STREQ(SysCallName(11), "SetDefaultDllDirectories");
    EXPECT_STREQ(SysCallName(17), "CloseHandle");
    EXPECT_STREQ(SysCallName(19), "CreateMutexW");
    EXPECT_STREQ(SysCallName(24), "CreateWellKnownSid");
    EXPECT_STREQ(SysCallName(34), "ClosePrivateNamespace");
    EXPECT_STREQ(SysCallName(73), "GetFileInformationByHandle");
    EXPECT_STREQ(SysCallName(SysCallCount() - 1), "CloseEncryptedFileRaw");
    EXPECT_EQ(SysCallName(SysCallCount()), nullptr);
    // The handle-based file rows close the files group, before the backup rows.
    size_t at = 0;
    while (at < SysCallCount() && std::strcmp(SysCallName(at), "SetKernelObjectSecurity") != 0)
        ++at;
    for (const char* next : {"GetFileInformationByHandle", "GetFinalPathNameByHandleW",
                             "SetEndOfFile", "SetFileInformationByHandle", "CompareStringOrdinal",
                             "GetLongPathNameW", "BackupWrite"})
        EXPECT_STREQ(SysCallName(++at), next);
    std::set<std::string> names;
    for (size_t i = 0; i < SysCallCount(); ++i)
        names.insert(SysCallName(i));
    EXPECT_EQ(names.size(), SysCallCount());
    for (const char* must : {"CreateFileW", "BackupWrite", "QueryServiceStatus", "Sleep",
                             "OutputDebugStringW", "RegQueryValueExW", "SHFileOperationW"})
        EXPECT_EQ(names.count(must), 1u) << must;
}

// A late row never imports its function: its default finds it through GetProcAddress in
// kernel32; where it is missing the call fails with ERROR_PROC_NOT_FOUND, and restricting
// the library search falls back to SetDllDirectoryW(L"").
TEST(SysCallTable, LateRowLooksItsFunctionUpInKernel32)
{
    static std::vector<std::string> events;
    for (bool present : {true, false}) {
        events.clear();
        CSysHook<&CSysCalls::GetProcAddress> lookup([&](HMODULE module, LPCSTR name) -> FARPROC {
            if (std::string(name) != "SetDefaultDllDirectories")
                return CSysHook<&CSysCalls::GetProcAddress>::Next()(module, name);
            events.push_back(module == GetModuleHandleW(L"kernel32.dll") ? "lookup" : "elsewhere");
            BOOL(WINAPI * fake)(DWORD) = [](DWORD flags) -> BOOL {
                events.push_back("set " + std::to_string(flags));
                return TRUE;
            };
            return present ? reinterpret_cast<FARPROC>(reinterpret_cast<void*>(fake)) : nullptr;
        });
        CSysHook<&CSysCalls::SetDllDirectoryW> fallback([](LPCWSTR path) -> BOOL {
            events.push_back(path && !*path ? "no current folder" : "odd folder");
            return TRUE;
        });
        RestrictLibrarySearch();
        EXPECT_EQ(events, (std::vector<std::string>{
                              "lookup", present ? "set 2048" : "no current folder"}));
        if (!present) {
            EXPECT_FALSE(g_Sys.SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32));
            EXPECT_EQ(g_Sys.GetLastError(), DWORD(ERROR_PROC_NOT_FOUND));
        }
    }
    EXPECT_TRUE(SysCallIsDefault("SetDefaultDllDirectories"));
}

TEST(SysCallTable, RestoreByNameAndAll)
{
    g_Sys.Sleep = [](DWORD) {};
    g_Sys.GetTickCount64 = []() -> ULONGLONG { return 7; };
    EXPECT_FALSE(SysCallIsDefault("Sleep"));
    EXPECT_TRUE(SysRestoreCall("Sleep"));
    EXPECT_TRUE(SysCallIsDefault("Sleep"));
    EXPECT_FALSE(SysCallIsDefault("GetTickCount64"));
    EXPECT_FALSE(SysRestoreCall("NoSuchCall"));
    SysRestoreAllCalls();
    EXPECT_TRUE(SysCallIsDefault("GetTickCount64"));
}

TEST(SysHooks, HooksNestAndRestore)
{
    {
        CSysHook<&CSysCalls::GetCurrentProcessId> outer([] { return DWORD(11); });
        EXPECT_EQ(g_Sys.GetCurrentProcessId(), 11u);
        {
            CSysHook<&CSysCalls::GetCurrentProcessId> inner(
                [] { return CSysHook<&CSysCalls::GetCurrentProcessId>::Next()() + 1; });
            EXPECT_EQ(g_Sys.GetCurrentProcessId(), 12u);
        }
        EXPECT_EQ(g_Sys.GetCurrentProcessId(), 11u);
    }
    EXPECT_TRUE(SysCallIsDefault("GetCurrentProcessId"));
}

TEST(SysHooks, FailNthSetsLastErrorThroughTheTable)
{
    CSysFailNth<&CSysCalls::GetFileAttributesW> fail(2, ERROR_SHARING_VIOLATION,
                                                     INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(g_Sys.GetFileAttributesW(L"C:\\windows"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(g_Sys.GetFileAttributesW(L"C:\\windows"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(g_Sys.GetLastError(), DWORD(ERROR_SHARING_VIOLATION));
    EXPECT_NE(g_Sys.GetFileAttributesW(L"C:\\windows"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(fail.Calls(), 3);
    EXPECT_EQ(fail.Failed(), 1);
}

TEST(SysHooks, PersistentFailureAndRecorder)
{
    CSysRecorder<&CSysCalls::GetFileAttributesW> rec;
    CSysFailNth<&CSysCalls::GetFileAttributesW> fail(1, ERROR_ACCESS_DENIED,
                                                     INVALID_FILE_ATTRIBUTES, true);
    g_Sys.GetFileAttributesW(L"a");
    g_Sys.GetFileAttributesW(L"b");
    EXPECT_EQ(fail.Failed(), 2);
    // The recorder sits below the fault, so it never saw the failed calls.
    EXPECT_EQ(rec.Count(), 0u);
}

TEST(SysHooks, VirtualClockCostsNoRealTime)
{
    ULONGLONG before = GetTickCount64();
    {
        CVirtualClock clock;
        g_Sys.Sleep(60000);
        g_Sys.Sleep(1000);
        HANDLE ev = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        EXPECT_EQ(g_Sys.WaitForSingleObject(ev, 30000), DWORD(WAIT_TIMEOUT));
        SetEvent(ev);
        EXPECT_EQ(g_Sys.WaitForSingleObject(ev, 30000), DWORD(WAIT_OBJECT_0));
        CloseHandle(ev);
        EXPECT_EQ(clock.Now(), 91000u);
        EXPECT_EQ(g_Sys.GetTickCount64(), 91000u);
        ASSERT_EQ(clock.Sleeps().size(), 2u);
    }
    EXPECT_LT(GetTickCount64() - before, 20000u);
}

TEST(Owners, CloseOnceThroughTheTableAndKeepLastError)
{
    int closes = 0;
    CSysHook<&CSysCalls::CloseHandle> hook([&](HANDLE h) {
        ++closes;
        g_Sys.SetLastError(ERROR_INVALID_HANDLE);
        return CSysHook<&CSysCalls::CloseHandle>::Next()(h);
    });
    {
        CUniqueHandle ev(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        ASSERT_TRUE(ev);
        CUniqueHandle moved(std::move(ev));
        EXPECT_FALSE(ev);
        g_Sys.SetLastError(1234);
        moved.reset();
        EXPECT_EQ(g_Sys.GetLastError(), 1234u);
        EXPECT_EQ(closes, 1);
    }
    EXPECT_EQ(closes, 1);
    {
        CUniqueFile none;
        CUniqueFile invalid(INVALID_HANDLE_VALUE);
        CUniqueHandle null(nullptr);
        EXPECT_FALSE(none);
        EXPECT_FALSE(invalid);
        EXPECT_FALSE(null);
    }
    EXPECT_EQ(closes, 1);
}

TEST(Owners, ReleaseHandsOwnershipOn)
{
    HANDLE raw = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    {
        CUniqueHandle h(raw);
        EXPECT_EQ(h.release(), raw);
    }
    EXPECT_TRUE(CloseHandle(raw));
}

TEST(Wine, DetectedUnderTheTestRunner)
{
    // The test programs always run under Wine here.
    EXPECT_TRUE(IsRunningOnWine());
}

// Wine's own final path gives up past MAX_PATH; ours reaches any depth, answers like the
// real call about the room it needs, and agrees with Wine's where Wine answers at all.
TEST(Wine, FinalPathStandinReachesPastMaxPath)
{
    CTempDir dir;
    std::wstring folder = dir.Path();
    while (folder.size() < 300) {
        folder += L"\\" + std::wstring(40, L'd');
        ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + folder).c_str(), nullptr));
    }
    std::wstring deep = folder + L"\\deep.txt";
    std::wstring shallow = dir.Join(L"shallow.txt");
    CUniqueFile file(CreateFileW((L"\\\\?\\" + deep).c_str(), GENERIC_WRITE, 0, nullptr,
                                 CREATE_NEW, 0, nullptr));
    CUniqueFile shallowFile(CreateFileW(shallow.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    ASSERT_TRUE(file && shallowFile);
    std::vector<wchar_t> out(1000, L'x');
    DWORD length = StandinGetFinalPathNameByHandleW(file.get(), out.data(), 1000, 0);
    EXPECT_EQ(_wcsicmp(out.data(), (L"\\\\?\\" + deep).c_str()), 0);
    EXPECT_EQ(length, 4 + deep.size());
    EXPECT_EQ(GetFinalPathNameByHandleW(file.get(), out.data(), 1000, 0), 0u);  // Wine's own
    EXPECT_EQ(StandinGetFinalPathNameByHandleW(file.get(), out.data(), length, 0), length + 1);

    wchar_t wine[MAX_PATH];
    ASSERT_NE(GetFinalPathNameByHandleW(shallowFile.get(), wine, MAX_PATH, 0), 0u);
    EXPECT_EQ(StandinGetFinalPathNameByHandleW(shallowFile.get(), out.data(), 1000, 0), wcslen(wine));
    EXPECT_STREQ(out.data(), wine);
    EXPECT_EQ(StandinGetFinalPathNameByHandleW(nullptr, out.data(), 1000, 0), 0u);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));

    InstallWineStandins();
    EXPECT_EQ(g_Sys.GetFinalPathNameByHandleW, &StandinGetFinalPathNameByHandleW);
    SysRestoreAllCalls();
}
