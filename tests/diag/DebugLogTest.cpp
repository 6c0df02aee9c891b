// The debug log: exact bytes of the file, levels, the start and stop markers, the 5 MiB
// trim, failing writes and files the log must not write.
#include "diag/DebugLog.h"
#include "tests/support/SysHooks.h"
#include "tests/support/TestFiles.h"
#include <gtest/gtest.h>
#include <cstdint>
#include <cstdlib>
#include <cwctype>
#include <new>
#include <string>

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

// Each test: process id, thread id and local time fixed, so that whole lines compare.
class DebugLogTest : public ::testing::Test
{
protected:
    std::string FileBytes() { return ReadFileBytes(m_sFile); }
    // A log started on the file, its start marker written.
    void Open(CDebugLog& log, const wchar_t* tag = L"[SANARIX]")
    {
        log.Start(tag);
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

// Levels with their labels, undefined and disabled ones dropped, empty and null tags and
// formats; nothing before Start or after Stop; a second run appends after one mark.
TEST_F(DebugLogTest, FileBytesMatchTheLineFormatExactly)
{
    for (int run = 0; run < 2; ++run) {
        CDebugLog log;
        log.Log(DBG_ALL, L"T", L"before start");
        Open(log);
        log.Log(DBG_ERROR, L"GetServicePath", L"OpenService() failed");
        log.Log(DBG_INFO, L"StopCVApp", L"handle=0x%0.8X ok", 0x1A4u);
        log.Log(DBG_WARNING, L"T", L"w");
        log.Log(DBG_ALL, L"DoSanarix", L"g_sCVPath=%s count=%d", L"C:\\\x00E9", -3);
        log.Log(DBG_ALL, L"DoSanarix", nullptr);
        log.Log(DBG_ERROR, L"", L"text %d", 5);
        log.WriteLine(nullptr);
        for (unsigned level : {0u, 5u, 50u, 100u, 0xFFFFFFFFu})
            log.Log(level, L"T", L"dropped %u", level);
        log.Log(DBG_ACT3, L"T", L"b");
        log.Log(DBG_VIRUS_INFO, nullptr, L"c");
        log.DefineLevel(150, L"[BIG]:", true);
        log.Log(150, L"T", L"d");
        log.DefineLevel(DBG_INFO, L"[INFO]:   ", false);
        log.Log(DBG_INFO, L"T", L"disabled");
        log.Stop();
        log.Log(DBG_ALL, L"T", L"after stop");
        log.Stop();
    }
    const std::string run = kStartMarker + Line("[ERROR]:  GetServicePath - OpenService() failed") +
                            Line("[INFO]:   StopCVApp - handle=0x000001A4 ok") +
                            Line("[WARNING]:T - w") +
                            Line("[ALL]:    DoSanarix - g_sCVPath=C:\\\xC3\xA9 count=-3") +
                            Line("[ALL]:    DoSanarix - ") + Line("[ERROR]:  text 5") + Line("") +
                            Line("[ACT3]:T - b") + Line("[VIRUS_INFO]:c") + Line("[BIG]:T - d") +
                            Line("=====stopped=====");
    EXPECT_EQ(FileBytes(), kBom + run + run);
}

// The lines reach the debugger as well, before a file is set too. A path that does not fit
// 255 characters is refused, not cut (it would name another file).
TEST_F(DebugLogTest, DebuggerOutputAndAPathThatDoesNotFit)
{
    CDebugLog log;
    log.Start(L"[SANARIX]");
    log.Log(DBG_ALL, L"T", L"x");
    const std::wstring longPath = m_Dir.Join(std::wstring(300, L'a'));
    log.SetDebugFile(longPath.c_str());
    log.Log(DBG_ALL, L"T", L"x");
    EXPECT_EQ(log.GetFile()[0], L'\0');
    EXPECT_FALSE(FileExists(longPath.substr(0, 255)));
    const std::wstring line =
        L"[PID:00001234][TID:00005678][2011-04-02-14:05:33][~][SANARIX][ALL]:    T - x\n";
    EXPECT_EQ(m_Debugger.Lines(),
              (std::vector<std::wstring>{
                  line, L"Debug file path too long, not used: " + longPath + L"\n", line}));
}

TEST_F(DebugLogTest, OverlongTextsAreCutButLinesStayWhole)
{
    CDebugLog log;
    Open(log, std::wstring(400, L't').c_str());
    m_Debugger.Clear();
    log.Log(DBG_ALL, L"T", L"%s", std::wstring(20000, L'x').c_str());
    log.Log(DBG_ALL, L"T", L"next");
    ASSERT_EQ(m_Debugger.Lines().size(), 2u);
    const std::wstring& first = m_Debugger.Lines()[0];
    EXPECT_EQ(first.size(), CDebugLog::kLineChars - 1);
    EXPECT_EQ(first.back(), L'\n');
    EXPECT_NE(first.find(L"[~]" + std::wstring(255, L't') + L"[ALL]"), std::wstring::npos);
    const std::string bytes = FileBytes();
    const size_t last = bytes.rfind("[PID:");
    EXPECT_EQ(bytes.substr(last - 3, 3), "x\r\n") << "the cut line has its line end";
    EXPECT_EQ(bytes.substr(last + kPrefix.size() - 9),
              std::string(255, 't') + "[ALL]:    T - next\r\n");
}

// Past 5 MiB the file keeps the complete lines of its last 2.5 MiB (from a 4-byte aligned
// offset) after a new byte-order mark: exactly when its size plus the new line's length in
// characters passes 5,242,880. An old file that ends inside a line gets a line end first.
TEST_F(DebugLogTest, TrimKeepsTheCompleteLinesOfTheLastHalf)
{
    const std::string old = BigLog(5242000);
    ASSERT_TRUE(WriteFileBytes(m_sFile, old));
    CDebugLog log;
    Open(log);
    const std::string before = FileBytes();
    ASSERT_TRUE(before == old + "\r\n" + kStartMarker);
    LogYs(log);
    const std::string tail = before.substr((before.size() - 0x280000) & ~size_t(3));
    const std::string kept =
        tail.substr(tail.find_first_not_of("\r\n", tail.find_first_of("\r\n")));
    EXPECT_TRUE(FileBytes() == kBom + kept + kYs);

    // A tail without any line end keeps nothing.
    ASSERT_TRUE(WriteFileBytes(m_sFile, kBom + std::string(5242860, 'z')));
    CDebugLog second;
    Open(second);
    EXPECT_EQ(FileBytes(), kBom + kStartMarker);

    const size_t markerChars = Line("=====started=====").size() - 1;
    for (size_t over : {0, 1}) {
        std::string full = BigLog(0x500000 - markerChars + over - Line("").size() * 2);
        full.replace(full.size() - 2, 2, "\r\n");
        ASSERT_TRUE(WriteFileBytes(m_sFile, full));
        CDebugLog third;
        Open(third);
        if (over == 0)
            EXPECT_TRUE(FileBytes() == full + kStartMarker);
        else
            EXPECT_LT(FileBytes().size(), 0x280000u + 200u);
    }
}

// The line after a trim goes through the handle of the rewrite: one open per line. A
// rewrite that fails leaves the line off the file; the next line trims again.
TEST_F(DebugLogTest, TrimAndItsLineShareOneOpenAndAFailedRewriteDropsTheLine)
{
    ASSERT_TRUE(WriteFileBytes(m_sFile, BigLog(5242000)));
    CDebugLog log;
    Open(log);
    const std::string before = FileBytes();
    {
        CSysFailNth<&CSysCalls::SetEndOfFile> refuse(1, ERROR_ACCESS_DENIED, FALSE);
        LogYs(log);
    }
    EXPECT_TRUE(FileBytes() == before);
    EXPECT_EQ(m_Debugger.Lines().back(), L"Cannot rewrite debug file: " + m_sFile + L"\n");
    CSysRecorder<&CSysCalls::CreateFileW> opens;
    LogYs(log);
    EXPECT_EQ(opens.Count(), 1u);
    const std::string bytes = FileBytes();
    EXPECT_LT(bytes.size(), 0x280000u + 2000u);
    EXPECT_EQ(bytes.substr(bytes.size() - kYs.size()), kYs);
}

size_t g_nFailAllocationsFrom = SIZE_MAX; // allocations from this size on fail

} // namespace

void* operator new(size_t size)
{
    if (size >= g_nFailAllocationsFrom)
        throw std::bad_alloc();
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, size_t) noexcept
{
    std::free(p);
}

namespace {

// The log never throws: a trim whose buffer cannot be had leaves the line on the debugger
// and the file as it was. A write that fails, or stops short (a full disk), leaves the next
// line, and the next run's first, to start on a line of their own.
TEST_F(DebugLogTest, FailedAllocationAndWritesLeaveNoThrowAndNoRunOnLine)
{
    ASSERT_TRUE(WriteFileBytes(m_sFile, BigLog(5242000)));
    CDebugLog log;
    Open(log);
    const std::string before = FileBytes();
    g_nFailAllocationsFrom = 1024 * 1024;
    EXPECT_NO_THROW(LogYs(log));
    g_nFailAllocationsFrom = SIZE_MAX;
    EXPECT_TRUE(FileBytes() == before);
    EXPECT_EQ(m_Debugger.Lines().back(),
              L"Debug file not written, out of memory: " + m_sFile + L"\n");

    // Half a line reaches the disk, then it is full.
    ASSERT_TRUE(WriteFileBytes(m_sFile, kBom + Line("old")));
    {
        CSysHook<&CSysCalls::WriteFile> full([](HANDLE h, LPCVOID data, DWORD size, LPDWORD done,
                                               LPOVERLAPPED at) -> BOOL {
            CSysHook<&CSysCalls::WriteFile>::Next()(h, data, size / 2, done, at);
            g_Sys.SetLastError(ERROR_DISK_FULL);
            return FALSE;
        });
        log.Log(DBG_ALL, L"T", L"cut");
    }
    EXPECT_EQ(m_Debugger.Lines().back(), L"Cannot write debug file: " + m_sFile + L"\n");
    const std::string cut =
        Line("[ALL]:    T - cut").substr(0, Line("[ALL]:    T - cut").size() / 2);
    log.Log(DBG_ALL, L"T", L"next");
    log.Log(DBG_ALL, L"T", L"after");
    EXPECT_EQ(FileBytes(), kBom + Line("old") + cut + "\r\n" + Line("[ALL]:    T - next") +
                               Line("[ALL]:    T - after"));
    log.Stop();

    // A new run on a file that ends inside a line.
    ASSERT_TRUE(WriteFileBytes(m_sFile, kBom + Line("old") + cut));
    CDebugLog next;
    Open(next);
    EXPECT_EQ(FileBytes(), kBom + Line("old") + cut + "\r\n" + kStartMarker);
}

// The log is no write primitive: a link, a second name or another place than the path
// names is never appended to nor rewritten; the lines stay on the debugger. A file the
// log created at such a place is taken away again. Letter case and the "\\?\" form of the
// final path are no other place.
TEST_F(DebugLogTest, LinksOtherNamesAndOtherPlacesAreNeverWritten)
{
    CTempDir outside;
    const std::string small = "a protected file\r\n", big = BigLog(0x500000 + 10);
    const std::wstring target = outside.Join(L"protected.dll");
    struct Case
    {
        const std::string* hardLinked; // the file at the log's path: a hard link to target
        DWORD extraAttributes;         // reported for the opened file
        std::wstring finalPath;        // reported for it; empty: the real one
        bool exists;                   // a file stands at the log's path beforehand
    };
    const Case cases[] = {
        {&small, 0, L"", true},
        {&big, 0, L"", true}, // over the trim size
        {nullptr, FILE_ATTRIBUTE_REPARSE_POINT, L"", true},
        {nullptr, 0, L"\\\\?\\" + target, true},  // a folder redirected elsewhere
        {nullptr, 0, L"\\\\?\\" + target, false}, // the log creates the file there
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        DeleteFileW(m_sFile.c_str());
        DeleteFileW(target.c_str());
        if (c.hardLinked) {
            ASSERT_TRUE(WriteFileBytes(target, *c.hardLinked));
            ASSERT_TRUE(CreateHardLinkW(m_sFile.c_str(), target.c_str(), nullptr));
        } else if (c.exists) {
            ASSERT_TRUE(WriteFileBytes(m_sFile, kBom + Line("mine")));
        }
        CSysHook<&CSysCalls::GetFileInformationByHandle> info(
            [&](HANDLE h, LPBY_HANDLE_FILE_INFORMATION out) -> BOOL {
                BOOL ok = CSysHook<&CSysCalls::GetFileInformationByHandle>::Next()(h, out);
                out->dwFileAttributes |= c.extraAttributes;
                return ok;
            });
        CSysHook<&CSysCalls::GetFinalPathNameByHandleW> final(
            [&](HANDLE h, LPWSTR out, DWORD chars, DWORD flags) -> DWORD {
                if (c.finalPath.empty())
                    return CSysHook<&CSysCalls::GetFinalPathNameByHandleW>::Next()(h, out, chars,
                                                                                   flags);
                wcsncpy(out, c.finalPath.c_str(), chars);
                return static_cast<DWORD>(c.finalPath.size());
            });
        const std::string targetBefore = ReadFileBytes(target), fileBefore = FileBytes();
        m_Debugger.Clear();
        {
            CDebugLog log;
            Open(log);
            LogYs(log);
        }
        EXPECT_TRUE(ReadFileBytes(target) == targetBefore);
        EXPECT_TRUE(FileBytes() == fileBefore);
        EXPECT_EQ(FileExists(m_sFile), c.exists) << "a file made at a wrong place stays";
        ASSERT_EQ(m_Debugger.Lines().size(), 1u + 5 * 2); // name, then 5 lines
        EXPECT_EQ(m_Debugger.Lines()[2],
                  L"Debug file is a link or lies elsewhere, not written: " + m_sFile + L"\n");
    }
    std::wstring same = L"\\\\?\\" + m_sFile;
    for (wchar_t& ch : same)
        ch = static_cast<wchar_t>(towupper(ch));
    CSysHook<&CSysCalls::GetFinalPathNameByHandleW> upper(
        [&](HANDLE, LPWSTR out, DWORD chars, DWORD) {
            wcsncpy(out, same.c_str(), chars);
            return static_cast<DWORD>(same.size());
        });
    DeleteFileW(m_sFile.c_str());
    CDebugLog log;
    Open(log);
    EXPECT_EQ(FileBytes(), kBom + kStartMarker);
}

} // namespace
