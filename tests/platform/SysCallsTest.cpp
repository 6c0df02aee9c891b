// The table of calls, the handle owners, and the Wine stand-ins as the program installs them.
#include "platform/FinalPathStandin.h"
#include "platform/LibrarySearch.h"
#include "platform/Owners.h"
#include "platform/SysCalls.h"
#include "platform/WineStandins.h"
#include "tests/support/SysHooks.h"
#include "tests/support/TestFiles.h"
#include <gtest/gtest.h>

// A late row finds its function through GetProcAddress in kernel32, failing with PROC_NOT_FOUND
// where it is missing; restricting the library search then falls back to SetDllDirectoryW(L"").
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
        EXPECT_EQ(events, (std::vector<std::string>{"lookup", present ? "set 2048" : "no current folder"}));
        if (!present) {
            EXPECT_FALSE(g_Sys.SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32));
            EXPECT_EQ(g_Sys.GetLastError(), DWORD(ERROR_PROC_NOT_FOUND));
        }
    }
    EXPECT_TRUE(SysCallIsDefault("SetDefaultDllDirectories"));
}

// Closed once, through the table, keeping the last error; moved and released without a close.
TEST(Owners, CloseOnceThroughTheTableAndKeepTheLastError)
{
    int closes = 0;
    CSysHook<&CSysCalls::CloseHandle> hook([&](HANDLE h) {
        ++closes;
        g_Sys.SetLastError(ERROR_INVALID_HANDLE);
        return CSysHook<&CSysCalls::CloseHandle>::Next()(h);
    });
    {
        CUniqueHandle ev(CreateEventW(nullptr, TRUE, FALSE, nullptr));
        CUniqueHandle moved(std::move(ev));
        EXPECT_FALSE(ev);
        g_Sys.SetLastError(1234);
        moved.reset();
        EXPECT_EQ(g_Sys.GetLastError(), 1234u);
        HANDLE raw = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        EXPECT_EQ(CUniqueHandle(raw).release(), raw);
        EXPECT_TRUE(CloseHandle(raw));
        CUniqueFile invalid(INVALID_HANDLE_VALUE);
        CUniqueHandle null(nullptr);
        EXPECT_FALSE(invalid || null);
    }
    EXPECT_EQ(closes, 1);
}

// Under Wine the stand-ins go into the table (the restore tests fail without those of the backup
// and raw EFS calls); the private namespace calls fail as Wine's would. Our final path reaches
// past MAX_PATH, where Wine's gives up, asks for room like the real call, and agrees with Wine's
// where Wine answers.
TEST(Wine, StandinsInstalledAndTheFinalPathReachesPastMaxPath)
{
    EXPECT_TRUE(IsRunningOnWine());  // the test programs always run under Wine here
    InstallWineStandins();
    EXPECT_EQ(g_Sys.GetFinalPathNameByHandleW, &StandinGetFinalPathNameByHandleW);
    EXPECT_EQ(g_Sys.CreateBoundaryDescriptorW(L"x", 0), nullptr);
    EXPECT_EQ(g_Sys.GetLastError(), DWORD(ERROR_CALL_NOT_IMPLEMENTED));
    SysRestoreAllCalls();

    CTempDir dir;
    std::wstring deep = dir.Path();
    while (deep.size() < 300) {
        deep += L"\\" + std::wstring(40, L'd');
        ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + deep).c_str(), nullptr));
    }
    std::wstring shallow = dir.Join(L"shallow.txt");
    deep += L"\\deep.txt";
    for (const std::wstring& path : {shallow, L"\\\\?\\" + deep}) {
        CUniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
        wchar_t wine[MAX_PATH] = {};
        DWORD wineLength = GetFinalPathNameByHandleW(file.get(), wine, MAX_PATH, 0);  // 0 when too deep
        std::vector<wchar_t> out(1000, L'x');
        DWORD length = StandinGetFinalPathNameByHandleW(file.get(), out.data(), 1000, 0);
        EXPECT_EQ(_wcsicmp(out.data(), (L"\\\\?\\" + (path == shallow ? shallow : deep)).c_str()), 0);
        EXPECT_EQ(length, wcslen(out.data()));
        EXPECT_TRUE(wineLength == 0 ? path != shallow : wcscmp(wine, out.data()) == 0);
        EXPECT_EQ(StandinGetFinalPathNameByHandleW(file.get(), out.data(), length, 0), length + 1);
    }
    EXPECT_EQ(StandinGetFinalPathNameByHandleW(nullptr, nullptr, 0, 0), 0u);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
}
