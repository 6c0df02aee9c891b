// The debug log: exact bytes, levels, markers, the 5 MiB trim, failing writes, files never written.
#include "diag/DebugFile.h"
#include "diag/DebugLog.h"
#include "tests/support/SysHooks.h"
#include "tests/support/TestFiles.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cwctype>
#include <new>

static size_t g_nFailAllocationsFrom = SIZE_MAX; // allocations from this size on fail

void* operator new(size_t size)
{
    void* p = size < g_nFailAllocationsFrom ? std::malloc(size ? size : 1) : nullptr;
    if (!p)
        throw std::bad_alloc();
    return p;
}
// Not inlined: the compiler would see operator new's pointer reach free() and warn.
__attribute__((noinline)) void operator delete(void* p) noexcept
{
    std::free(p);
}
__attribute__((noinline)) void operator delete(void* p, size_t) noexcept
{
    std::free(p);
}

namespace {

const std::string kBom = "\xEF\xBB\xBF";
const std::string kPrefix = "[PID:00001234][TID:00005678][2011-04-02-14:05:33][~][SANARIX]";

std::string Line(const std::string& text)
{
    return kPrefix + text + "\r\n";
}

const std::string kStartMarker = Line("") + Line("") + Line("=====started=====");
const std::string kYs = Line("[ALL]:    T - " + std::string(1000, 'y'));

// A file of numbered lines of 100 bytes (CR LF included), cut to the given size.
std::string BigLog(size_t bytes)
{
    std::string out = kBom;
    char line[128];
    for (int n = 0; out.size() < bytes; ++n) {
        snprintf(line, sizeof(line), "%08d %089d\r\n", n, 0);
        out += line;
    }
    out.resize(bytes);
    return out;
}

// Process id, thread id and local time fixed, so that whole lines compare.
class DebugLogTest : public ::testing::Test
{
protected:
    std::string FileBytes() { return ReadFileBytes(m_sFile); }
    // A log started on the file, its start marker written.
    void Open(CDebugLog& log)
    {
        log.Start(L"[SANARIX]");
        log.SetDebugFile(m_sFile.c_str());
    }
    void LogYs(CDebugLog& log) { log.Log(DBG_ALL, L"T", L"%s", std::wstring(1000, L'y').c_str()); }

    CTempDir m_Dir;
    std::wstring m_sFile = m_Dir.Join(L"sanarix.dbg");
    CDebugCapture m_Debugger;
    CSysHook<&CSysCalls::GetCurrentProcessId> m_pid{[] { return DWORD(1234); }};
    CSysHook<&CSysCalls::GetCurrentThreadId> m_tid{[] { return DWORD(5678); }};
    CSysHook<&CSysCalls::GetLocalTime> m_time{
        [](LPSYSTEMTIME st) { *st = SYSTEMTIME{2011, 4, 6, 2, 14, 5, 33, 0}; }};
};

// Levels, null/empty tags and formats, nothing outside Start..Stop, a second run appended, the
// debugger's copy; a path over 255 characters is refused, not cut.
TEST_F(DebugLogTest, FileBytesMatchTheLineFormatExactly)
{
    for (int run = 0; run < 2; ++run) {
        CDebugLog log;
        log.Log(DBG_ALL, L"T", L"before start");
        Open(log);
        log.Log(DBG_ERROR, L"GetServicePath", L"OpenService() failed");
        log.Log(DBG_INFO, L"StopCVApp", L"handle=0x%0.8X ok", 0x1A4u);
        log.Log(DBG_ALL, L"DoSanarix", L"g_sCVPath=%s count=%d", L"C:\\\x00E9", -3);
        log.Log(DBG_ALL, L"DoSanarix", nullptr);
        log.Log(DBG_ERROR, L"", L"text %d", 5);
        log.Log(100, L"T", L"dropped");
        log.Log(DBG_VIRUS_INFO, nullptr, L"c");
        log.DefineLevel(150, L"[BIG]:", true);
        log.Log(150, L"T", L"d");
        log.DefineLevel(DBG_INFO, L"[INFO]:   ", false);
        log.Log(DBG_INFO, L"T", L"disabled");
        log.Stop();
        log.Log(DBG_ALL, L"T", L"after stop");
    }
    const std::string run = kStartMarker + Line("[ERROR]:  GetServicePath - OpenService() failed") +
                            Line("[INFO]:   StopCVApp - handle=0x000001A4 ok") +
                            Line("[ALL]:    DoSanarix - g_sCVPath=C:\\\xC3\xA9 count=-3") +
                            Line("[ALL]:    DoSanarix - ") + Line("[ERROR]:  text 5") +
                            Line("[VIRUS_INFO]:c") + Line("[BIG]:T - d") + Line("=====stopped=====");
    EXPECT_EQ(FileBytes(), kBom + run + run);
    const std::wstring line = L"[PID:00001234][TID:00005678][2011-04-02-14:05:33][~][SANARIX]"
                              L"[ERROR]:  GetServicePath - OpenService() failed\n";
    EXPECT_EQ(std::count(m_Debugger.Lines().begin(), m_Debugger.Lines().end(), line), 2);

    CDebugLog log;
    const std::wstring longPath = m_Dir.Join(std::wstring(300, L'a'));
    log.Start(L"[SANARIX]");
    log.SetDebugFile(longPath.c_str());
    EXPECT_EQ(log.GetFile()[0], L'\0');
    EXPECT_EQ(m_Debugger.Lines().back(), L"Debug file path too long, not used: " + longPath + L"\n");
}

// Past 5,242,880 (size + new line's characters) the complete lines of the last 2.5 MiB from a
// 4-byte aligned offset stay after a new BOM; a failed rewrite leaves the file as it was.
TEST_F(DebugLogTest, TrimKeepsTheCompleteLinesOfTheLastHalf)
{
    // 5,242,035 bytes: the kept part's unaligned start would fall just past a line end.
    const std::string old = BigLog(5242035);
    ASSERT_TRUE(WriteWholeFile(m_sFile, old));
    CDebugLog log;
    Open(log);
    const std::string before = FileBytes();
    ASSERT_TRUE(before == old + "\r\n" + kStartMarker);
    {
        CSysFailNth<&CSysCalls::SetEndOfFile> refuse(1, ERROR_ACCESS_DENIED, FALSE);
        LogYs(log);
    }
    EXPECT_TRUE(FileBytes() == before);
    EXPECT_EQ(m_Debugger.Lines().back(), L"Cannot rewrite debug file: " + m_sFile + L"\n");
    LogYs(log);
    const std::string tail = before.substr((before.size() - 0x280000) & ~size_t(3));
    const std::string kept = tail.substr(tail.find_first_not_of("\r\n", tail.find_first_of("\r\n")));
    EXPECT_TRUE(FileBytes() == kBom + kept + kYs);

    const size_t markerChars = Line("=====started=====").size() - 1;
    for (size_t over : {0, 1}) {
        std::string full = BigLog(0x500000 - markerChars + over - Line("").size() * 2);
        full.replace(full.size() - 2, 2, "\r\n");
        ASSERT_TRUE(WriteWholeFile(m_sFile, full));
        CDebugLog third;
        Open(third);
        EXPECT_EQ(FileBytes().size() < 0x280000u + 200u, over == 1);
    }
}

// No throw when the trim's buffer cannot be had (file kept); after a write cut by a full disk
// the next line, and the next run's first, start on a line of their own.
TEST_F(DebugLogTest, FailedAllocationAndWritesLeaveNoThrowAndNoRunOnLine)
{
    ASSERT_TRUE(WriteWholeFile(m_sFile, BigLog(5242000)));
    CDebugLog log;
    Open(log);
    const std::string before = FileBytes();
    g_nFailAllocationsFrom = 1024 * 1024;
    EXPECT_NO_THROW(LogYs(log));
    g_nFailAllocationsFrom = SIZE_MAX;
    EXPECT_TRUE(FileBytes() == before);
    EXPECT_EQ(m_Debugger.Lines().back(), L"Debug file not written, out of memory: " + m_sFile + L"\n");

    ASSERT_TRUE(WriteWholeFile(m_sFile, kBom + Line("old")));
    const std::string cut = Line("[ALL]:    T - cut").substr(0, Line("[ALL]:    T - cut").size() / 2);
    {
        CSysHook<&CSysCalls::WriteFile> full([](HANDLE h, LPCVOID data, DWORD size, LPDWORD done,
                                               LPOVERLAPPED at) -> BOOL {
            CSysHook<&CSysCalls::WriteFile>::Next()(h, data, size / 2, done, at);
            g_Sys.SetLastError(ERROR_DISK_FULL);
            return FALSE;
        });
        log.Log(DBG_ALL, L"T", L"cut");
    }
    EXPECT_NE(m_Debugger.All().find(L"Cannot write debug file: " + m_sFile), std::wstring::npos);
    log.Log(DBG_ALL, L"T", L"next");
    EXPECT_EQ(FileBytes(), kBom + Line("old") + cut + "\r\n" + Line("[ALL]:    T - next"));
    log.Stop();

    ASSERT_TRUE(WriteWholeFile(m_sFile, kBom + Line("old") + cut));
    CDebugLog next;
    Open(next);
    EXPECT_EQ(FileBytes(), kBom + Line("old") + cut + "\r\n" + kStartMarker);
    next.Stop();

    ASSERT_TRUE(WriteWholeFile(m_sFile, kBom));  // only the mark: no empty line after it
    CDebugLog marked;
    Open(marked);
    EXPECT_EQ(FileBytes(), kBom + kStartMarker);
}

// Each line is written under the file's lock: a run that finds it held waits, so another run's
// mark and line come whole before ours and the file gets one mark. A lock that does not come
// within the wait is said once; the line is written all the same, and the next ones try once.
// A file held open by a program that shares no writing is waited for the same way.
TEST_F(DebugLogTest, AnotherRunsLinesComeWholeBetweenOurs)
{
    CVirtualClock clock;
    int busy = 0;             // the next tries find the lock held
    bool otherWrites = false; // its holder writes its mark and a line before it lets go
    std::string events;       // b: found held, l: locked, w: written, u: unlocked
    CSysHook<&CSysCalls::LockFileEx> lock([&](HANDLE h, DWORD flags, DWORD, DWORD low, DWORD high,
                                              LPOVERLAPPED at) -> BOOL {
        EXPECT_EQ(flags, DWORD(LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY));
        EXPECT_TRUE(at->OffsetHigh >= 0x100u && low == 1 && high == 0) << "the lock would cover lines";
        if (busy == 0) {
            events += "l";
            return CSysHook<&CSysCalls::LockFileEx>::Next()(h, flags, 0, low, high, at);
        }
        if (--busy == 0 && otherWrites) {
            // Opened as every run opens it, while ours still holds the file it created.
            CUniqueFile other;
            EXPECT_EQ(OpenDebugFile(m_sFile.c_str(), other, 0), EDebugFileOpen::Opened);
            const std::string bytes = kBom + Line("other");
            DWORD n = 0;
            EXPECT_TRUE(::WriteFile(other.get(), bytes.data(), DWORD(bytes.size()), &n, nullptr));
        }
        events += "b";
        g_Sys.SetLastError(ERROR_LOCK_VIOLATION);
        return FALSE;
    });
    CSysHook<&CSysCalls::UnlockFileEx> unlock([&](HANDLE h, DWORD, DWORD low, DWORD high, LPOVERLAPPED at) {
        events += "u";
        return CSysHook<&CSysCalls::UnlockFileEx>::Next()(h, 0, low, high, at);
    });
    CSysHook<&CSysCalls::WriteFile> write([&](HANDLE h, LPCVOID b, DWORD n, LPDWORD w, LPOVERLAPPED o) {
        events += "w";
        return CSysHook<&CSysCalls::WriteFile>::Next()(h, b, n, w, o);
    });

    busy = 3;  // another run holds it while it writes the new file's mark and first line
    otherWrites = true;
    CDebugLog log;
    Open(log);
    EXPECT_EQ(FileBytes(), kBom + Line("other") + kStartMarker);
    EXPECT_EQ(clock.Sleeps(), std::vector<DWORD>(3, 1));
    EXPECT_EQ(events, "bbblwulwulwu");

    // Held by someone past the wait: said once, both lines written without it, the second
    // after a single try; once the lock has been had again, a held lock is waited for again.
    ASSERT_TRUE(WriteWholeFile(m_sFile, ""));
    otherWrites = false;
    busy = INT_MAX;
    events.clear();
    LogYs(log);
    LogYs(log);
    EXPECT_EQ(clock.Sleeps().size(), 3 + size_t(CDebugLog::kWaitMs));
    EXPECT_EQ(events, std::string(CDebugLog::kWaitMs + 1, 'b') + "wbw");
    const std::wstring said = L"Debug file locked elsewhere, written without the lock: " + m_sFile + L"\n";
    EXPECT_EQ(std::count(m_Debugger.Lines().begin(), m_Debugger.Lines().end(), said), 1);
    busy = 0;
    events.clear();
    LogYs(log);
    busy = 2;
    LogYs(log);
    EXPECT_EQ(events, "lwubblwu");
    EXPECT_EQ(FileBytes(), kBom + kYs + kYs + kYs + kYs);

    // Held open by a program that shares no writing: waited for the same way.
    const DWORD held = ERROR_SHARING_VIOLATION;
    {
        CSysFailNth<&CSysCalls::CreateFileW> first(1, held, INVALID_HANDLE_VALUE);
        CSysFailNth<&CSysCalls::CreateFileW> second(1, held, INVALID_HANDLE_VALUE);
        LogYs(log);
    }
    {
        CSysFailNth<&CSysCalls::CreateFileW> always(1, held, INVALID_HANDLE_VALUE, /*persist=*/true);
        LogYs(log);
        LogYs(log);
        EXPECT_EQ(always.Calls(), int(CDebugLog::kWaitMs) + 2);
    }
    EXPECT_EQ(clock.Sleeps().size(), 3 + 2 + 2 + 2 * size_t(CDebugLog::kWaitMs));
    EXPECT_EQ(FileBytes(), kBom + kYs + kYs + kYs + kYs + kYs);
}

// A link, a second name or another place than the path names is never written (a file the log
// made there goes again); letter case of the final path is no other place.
TEST_F(DebugLogTest, LinksOtherNamesAndOtherPlacesAreNeverWritten)
{
    CTempDir outside;
    const std::string small = "a protected file\r\n", big = BigLog(0x500000 + 10);
    const std::wstring target = outside.Join(L"protected.dll");
    std::wstring upper = L"\\\\?\\" + m_sFile;
    std::transform(upper.begin(), upper.end(), upper.begin(), ::towupper);
    struct Case
    {
        const std::string* hardLinked; // the log's path: a hard link to target
        DWORD extraAttributes;         // reported for the opened file, with its final path
        std::wstring finalPath;
        bool exists;                   // a file stands at the log's path beforehand
    };
    const Case cases[] = {
        {&small, 0, upper, true},
        {&big, 0, upper, true}, // over the trim size
        {nullptr, FILE_ATTRIBUTE_REPARSE_POINT, upper, true},
        {nullptr, 0, L"\\\\?\\" + target, true},  // a folder redirected elsewhere
        {nullptr, 0, L"\\\\?\\" + target, false}, // the log creates the file there
        {nullptr, 0, upper, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        DeleteFileW(m_sFile.c_str());
        DeleteFileW(target.c_str());
        if (c.hardLinked) {
            ASSERT_TRUE(WriteWholeFile(target, *c.hardLinked));
            ASSERT_TRUE(CreateHardLinkW(m_sFile.c_str(), target.c_str(), nullptr));
        } else if (c.exists) {
            ASSERT_TRUE(WriteWholeFile(m_sFile, kBom + Line("mine")));
        }
        CSysHook<&CSysCalls::GetFileInformationByHandle> info(
            [&](HANDLE h, LPBY_HANDLE_FILE_INFORMATION out) -> BOOL {
                BOOL ok = CSysHook<&CSysCalls::GetFileInformationByHandle>::Next()(h, out);
                out->dwFileAttributes |= c.extraAttributes;
                return ok;
            });
        CSysHook<&CSysCalls::GetFinalPathNameByHandleW> final([&](HANDLE, LPWSTR out, DWORD chars, DWORD) {
            wcsncpy(out, c.finalPath.c_str(), chars);
            return static_cast<DWORD>(c.finalPath.size());
        });
        const std::string targetBefore = ReadFileBytes(target), fileBefore = FileBytes();
        const bool ours = &c == &cases[5];
        m_Debugger.Clear();
        {
            CDebugLog log;
            Open(log);
            LogYs(log);
        }
        EXPECT_TRUE(ReadFileBytes(target) == targetBefore);
        const std::string mine = kBom + kStartMarker + kYs + Line("=====stopped=====");
        EXPECT_TRUE(FileBytes() == (ours ? mine : fileBefore));
        EXPECT_EQ(PathExists(m_sFile), c.exists || ours) << "a file made at a wrong place stays";
        ASSERT_EQ(m_Debugger.Lines().size(), ours ? 6u : 11u); // name, then 5 lines
        const wchar_t* refused = L"Debug file is a link or lies elsewhere, not written: ";
        EXPECT_EQ(m_Debugger.Lines()[ours ? 0 : 2], (ours ? L"Debug file: " : refused) + m_sFile + L"\n");
    }
}

} // namespace
