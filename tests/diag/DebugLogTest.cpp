// The debug log: exact bytes of the file, levels, the start and stop markers, the
// debugger output, the 5 MiB trim and a missing folder.
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

// Fixed process id, thread id and local time, so that whole lines can be compared.
class FixedClock
{
public:
    FixedClock()
        : m_pid([] { return DWORD(1234); }), m_tid([] { return DWORD(5678); }),
          m_time([](LPSYSTEMTIME st) {
              *st = SYSTEMTIME{};
              st->wYear = 2011;
              st->wMonth = 4;
              st->wDay = 2;
              st->wHour = 14;
              st->wMinute = 5;
              st->wSecond = 33;
          })
    {
    }

private:
    CSysHook<&CSysCalls::GetCurrentProcessId> m_pid;
    CSysHook<&CSysCalls::GetCurrentThreadId> m_tid;
    CSysHook<&CSysCalls::GetLocalTime> m_time;
};

class DebugLogTest : public ::testing::Test
{
protected:
    std::string FileBytes() { return ReadFileBytes(m_sFile); }
    std::string Line(const std::string& text) { return kPrefix + text + "\r\n"; }
    std::string StartMarker() { return Line("") + Line("") + Line("=====started====="); }

    CTempDir m_Dir;
    std::wstring m_sFile = m_Dir.Join(L"sanarix.dbg");
    FixedClock m_Clock;
    CDebugCapture m_Debugger;
};

TEST_F(DebugLogTest, FileBytesMatchTheLineFormatExactly)
{
    CDebugLog log;
    log.Start(L"[SANARIX]");
    log.SetDebugFile(m_sFile.c_str());
    log.Log(DBG_ALL, L"DoSanarix", L"InitGlobals() ...");
    log.Log(DBG_ERROR, L"GetServicePath", L"OpenService() failed");
    log.Log(DBG_INFO, L"StopCVApp", L"WaitForSingleObject handle=0x%0.8X ok", 0x1A4u);
    log.Log(DBG_WARNING, L"T", L"w");
    log.Log(DBG_ALL, L"DoSanarix", L"g_sCVPath=%s count=%d", L"C:\\Program Files\\\x00E9", -3);
    log.Stop();
    std::string expected = kBom + StartMarker() +
                           Line("[ALL]:    DoSanarix - InitGlobals() ...") +
                           Line("[ERROR]:  GetServicePath - OpenService() failed") +
                           Line("[INFO]:   StopCVApp - WaitForSingleObject handle=0x000001A4 ok") +
                           Line("[WARNING]:T - w") +
                           Line("[ALL]:    DoSanarix - g_sCVPath=C:\\Program Files\\\xC3\xA9 count=-3") +
                           Line("=====stopped=====");
    EXPECT_EQ(FileBytes(), expected);
}

TEST_F(DebugLogTest, EmptyAndNullTagsAndFormats)
{
    CDebugLog log;
    log.Start(L"[SANARIX]");
    log.SetDebugFile(m_sFile.c_str());
    log.Log(DBG_ALL, L"DoSanarix", L"");
    log.Log(DBG_ALL, L"DoSanarix", nullptr);
    log.Log(DBG_ERROR, L"", L"text %d", 5);
    log.Log(DBG_ERROR, nullptr, L"text");
    log.Log(DBG_INFO, nullptr, nullptr);
    log.WriteLine(nullptr);
    log.WriteLine(L"");
    std::string expected = kBom + StartMarker() + Line("[ALL]:    DoSanarix - ") +
                           Line("[ALL]:    DoSanarix - ") + Line("[ERROR]:  text 5") +
                           Line("[ERROR]:  text") + Line("[INFO]:   ") + Line("") + Line("");
    EXPECT_EQ(FileBytes(), expected);
}

TEST_F(DebugLogTest, OnlyDefinedLevelsAreWritten)
{
    CDebugLog log;
    log.Start(L"[SANARIX]");
    log.SetDebugFile(m_sFile.c_str());
    for (unsigned level : {0u, 5u, 50u, 99u, 100u, 101u, 1000u, 0xFFFFFFFFu})
        log.Log(level, L"T", L"dropped %u", level);
    log.Log(DBG_LOG1, L"T", L"a");
    log.Log(DBG_ACT3, L"T", L"b");
    log.Log(DBG_VIRUS_INFO, nullptr, L"c");
    log.DefineLevel(50, L"[FIFTY]:", true);
    log.Log(50, L"T", L"d");
    log.DefineLevel(DBG_INFO, L"[INFO]:   ", false);
    log.Log(DBG_INFO, L"T", L"disabled");
    log.DefineLevel(150, L"[BIG]:", true);
    log.Log(150, L"T", L"e");
    std::string expected = kBom + StartMarker() + Line("[LOG1]:T - a") + Line("[ACT3]:T - b") +
                           Line("[VIRUS_INFO]:c") + Line("[FIFTY]:T - d") + Line("[BIG]:T - e");
    EXPECT_EQ(FileBytes(), expected);
}

TEST_F(DebugLogTest, NothingBeforeStartAndDebuggerOnlyBeforeTheFile)
{
    CDebugLog log;
    log.Log(DBG_ALL, L"T", L"before start");
    log.WriteLine(L"before start");
    EXPECT_TRUE(m_Debugger.Lines().empty());
    log.Start(L"[SANARIX]");
    log.Log(DBG_ALL, L"T", L"debugger only");
    ASSERT_EQ(m_Debugger.Lines().size(), 1u);
    EXPECT_EQ(m_Debugger.Lines()[0], L"[PID:00001234][TID:00005678][2011-04-02-14:05:33][~]"
                                      L"[SANARIX][ALL]:    T - debugger only\n");
    EXPECT_FALSE(FileExists(m_sFile));
    log.SetDebugFile(m_sFile.c_str());
    EXPECT_EQ(FileBytes(), kBom + StartMarker());
    // The file name is announced to the debugger, then every file line reaches it too.
    ASSERT_EQ(m_Debugger.Lines().size(), 5u);
    EXPECT_EQ(m_Debugger.Lines()[1], L"Debug file: " + m_sFile + L"\n");
}

TEST_F(DebugLogTest, AppendsAcrossRunsWithOneByteOrderMark)
{
    for (int run = 0; run < 2; ++run) {
        CDebugLog log;
        log.Start(L"[SANARIX]");
        log.SetDebugFile(m_sFile.c_str());
        log.Log(DBG_ALL, L"DoSanarix", L"ok");
    }
    std::string run = StartMarker() + Line("[ALL]:    DoSanarix - ok") + Line("=====stopped=====");
    EXPECT_EQ(FileBytes(), kBom + run + run);
}

TEST_F(DebugLogTest, StopWritesTheMarkerOnceAndEndsLogging)
{
    CDebugLog log;
    log.Start(L"[SANARIX]");
    log.SetDebugFile(m_sFile.c_str());
    log.Stop();
    log.Log(DBG_ALL, L"T", L"after stop");
    log.Stop();
    std::string bytes = FileBytes();
    EXPECT_EQ(bytes, kBom + StartMarker() + Line("=====stopped====="));
}

TEST_F(DebugLogTest, MissingFolderKeepsTheDebuggerOutput)
{
    std::wstring missing = m_Dir.Join(L"no\\such\\folder\\sanarix.dbg");
    CDebugLog log;
    log.Start(L"[SANARIX]");
    log.SetDebugFile(missing.c_str());
    m_Debugger.Clear();
    log.Log(DBG_ALL, L"T", L"still here");
    log.Log(DBG_ALL, L"T", L"and here");
    ASSERT_EQ(m_Debugger.Lines().size(), 4u);
    EXPECT_EQ(m_Debugger.Lines()[0], L"[PID:00001234][TID:00005678][2011-04-02-14:05:33][~]"
                                      L"[SANARIX][ALL]:    T - still here\n");
    EXPECT_EQ(m_Debugger.Lines()[1], L"Cannot open debug file: " + missing + L"\n");
    EXPECT_EQ(m_Debugger.Lines()[3], L"Cannot open debug file: " + missing + L"\n");
    EXPECT_FALSE(FileExists(missing));
}

TEST_F(DebugLogTest, PathThatDoesNotFitIsRefusedNotCut)
{
    std::wstring longPath = m_Dir.Join(std::wstring(300, L'a'));
    std::wstring cut = longPath.substr(0, 255);
    CDebugLog log;
    log.Start(L"[SANARIX]");
    log.SetDebugFile(longPath.c_str());
    log.Log(DBG_ALL, L"T", L"x");
    EXPECT_EQ(log.GetFile()[0], L'\0');
    EXPECT_FALSE(FileExists(cut));
    EXPECT_NE(m_Debugger.All().find(L"T - x"), std::wstring::npos);
}

TEST_F(DebugLogTest, OverlongTextsAreCutButLinesStayWhole)
{
    CDebugLog log;
    log.Start(std::wstring(400, L't').c_str());
    log.SetDebugFile(m_sFile.c_str());
    m_Debugger.Clear();
    std::wstring big(20000, L'x');
    log.Log(DBG_ALL, L"T", L"%s", big.c_str());
    log.Log(DBG_ALL, L"T", L"next");
    ASSERT_EQ(m_Debugger.Lines().size(), 2u);
    const std::wstring& first = m_Debugger.Lines()[0];
    EXPECT_EQ(first.size(), CDebugLog::kLineChars - 1);
    EXPECT_EQ(first.back(), L'\n');
    // The tag was cut to 255 characters.
    EXPECT_NE(first.find(L"[~]" + std::wstring(255, L't') + L"[ALL]"), std::wstring::npos);
    std::string bytes = FileBytes();
    EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
    EXPECT_NE(bytes.find("[ALL]:    T - next\r\n"), std::string::npos);
}

// A file of about 5 MiB made of numbered lines, each line 100 bytes with CR LF.
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

TEST_F(DebugLogTest, TrimKeepsTheCompleteLinesOfTheLastHalf)
{
    std::string old = BigLog(5242000);
    ASSERT_TRUE(WriteFileBytes(m_sFile, old));
    CDebugLog log;
    log.Start(L"[SANARIX]");
    // SetDebugFile's three lines are short: the file stays below the limit until then.
    log.SetDebugFile(m_sFile.c_str());
    // The old file ends inside a line: the run's first line starts on a line of its own.
    std::string afterMarker = FileBytes();
    ASSERT_TRUE(afterMarker == old + "\r\n" + StartMarker());
    log.Log(DBG_ALL, L"T", L"%s", std::wstring(1000, L'y').c_str());

    long long size = static_cast<long long>(afterMarker.size());
    long long offset = (size - 0x280000) & ~3LL;
    std::string tail = afterMarker.substr(static_cast<size_t>(offset));
    size_t firstBreak = tail.find_first_of("\r\n");
    size_t keep = tail.find_first_not_of("\r\n", firstBreak);
    std::string expected = kBom + tail.substr(keep) + Line("[ALL]:    T - " + std::string(1000, 'y'));
    std::string bytes = FileBytes();
    EXPECT_EQ(bytes.size(), expected.size());
    EXPECT_TRUE(bytes == expected);
    EXPECT_LT(bytes.size(), 0x280000u + 2000u);
}

TEST_F(DebugLogTest, TailWithoutLineBreakIsDroppedWhole)
{
    // Close enough to the limit that the first marker line crosses it.
    std::string old = kBom + std::string(5242860, 'z');
    ASSERT_TRUE(WriteFileBytes(m_sFile, old));
    CDebugLog log;
    log.Start(L"[SANARIX]");
    log.SetDebugFile(m_sFile.c_str());
    EXPECT_EQ(FileBytes(), kBom + StartMarker());
}

TEST_F(DebugLogTest, TrimBoundaryIsExact)
{
    // The file is trimmed exactly when its size plus the length of the start marker's line
    // (in characters, its line end one) passes 5,242,880.
    const size_t markerLine = Line("=====started=====").size() - 1;
    for (long long over : {0LL, 1LL}) {
        std::string before = BigLog(static_cast<size_t>(0x500000 - markerLine + over) -
                                    Line("").size() * 2);
        before.resize(before.size() - 2);
        before += "\r\n";
        ASSERT_TRUE(WriteFileBytes(m_sFile, before));
        CDebugLog log;
        log.Start(L"[SANARIX]");
        log.SetDebugFile(m_sFile.c_str());
        std::string bytes = FileBytes();
        if (over == 0)
            EXPECT_TRUE(bytes == before + StartMarker());
        else
            EXPECT_LT(bytes.size(), 0x280000u + 200u);
    }
}

// The line that follows a trim goes through the handle of the rewrite: one open per line.
// A rewrite that fails leaves the line off the file; the next line trims again.
TEST_F(DebugLogTest, TrimAndItsLineShareOneOpenAndAFailedRewriteDropsTheLine)
{
    std::string old = BigLog(5242000);
    ASSERT_TRUE(WriteFileBytes(m_sFile, old));
    CDebugLog log;
    log.Start(L"[SANARIX]");
    log.SetDebugFile(m_sFile.c_str());
    std::string before = FileBytes();
    {
        CSysFailNth<&CSysCalls::SetEndOfFile> refuse(1, ERROR_ACCESS_DENIED, FALSE);
        log.Log(DBG_ALL, L"T", L"%s", std::wstring(1000, L'y').c_str());
    }
    EXPECT_TRUE(FileBytes() == before);
    EXPECT_NE(m_Debugger.All().find(L"Cannot rewrite debug file: "), std::wstring::npos);
    CSysRecorder<&CSysCalls::CreateFileW> opens;
    log.Log(DBG_ALL, L"T", L"%s", std::wstring(1000, L'y').c_str());
    EXPECT_EQ(opens.Count(), 1u);
    std::string bytes = FileBytes();
    EXPECT_LT(bytes.size(), 0x280000u + 2000u);
    const std::string last = Line("[ALL]:    T - " + std::string(1000, 'y'));
    EXPECT_EQ(bytes.substr(bytes.size() - last.size()), last);
}

// The log never throws: a trim whose buffer cannot be had leaves the line on the debugger
// and the file as it was. A write that fails, or stops short (a full disk), leaves the next
// line, and the next run's first, to start on a line of their own.
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

TEST_F(DebugLogTest, FailedAllocationAndWritesLeaveNoThrowAndNoRunOnLine)
{
    ASSERT_TRUE(WriteFileBytes(m_sFile, BigLog(5242000)));
    CDebugLog log;
    log.Start(L"[SANARIX]");
    log.SetDebugFile(m_sFile.c_str());
    std::string before = FileBytes();
    m_Debugger.Clear();
    g_nFailAllocationsFrom = 1024 * 1024;
    EXPECT_NO_THROW(log.Log(DBG_ALL, L"T", L"%s", std::wstring(1000, L'y').c_str()));
    g_nFailAllocationsFrom = SIZE_MAX;
    EXPECT_TRUE(FileBytes() == before);
    ASSERT_EQ(m_Debugger.Lines().size(), 2u);
    EXPECT_EQ(m_Debugger.Lines()[1], L"Debug file not written, out of memory: " + m_sFile + L"\n");

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
    EXPECT_NE(m_Debugger.All().find(L"Cannot write debug file: " + m_sFile), std::wstring::npos);
    const std::string cut = Line("[ALL]:    T - cut").substr(0, Line("[ALL]:    T - cut").size() / 2);
    log.Log(DBG_ALL, L"T", L"next");
    log.Log(DBG_ALL, L"T", L"after");
    EXPECT_EQ(FileBytes(), kBom + Line("old") + cut + "\r\n" + Line("[ALL]:    T - next") +
                               Line("[ALL]:    T - after"));
    log.Stop();

    // A new run on a file that ends inside a line.
    ASSERT_TRUE(WriteFileBytes(m_sFile, kBom + Line("old") + cut));
    CDebugLog next;
    next.Start(L"[SANARIX]");
    next.SetDebugFile(m_sFile.c_str());
    EXPECT_EQ(FileBytes(), kBom + Line("old") + cut + "\r\n" + StartMarker());
}

// The log is no write primitive: a link, a second name or another place than the path
// names is never appended to nor rewritten; the lines stay on the debugger. A file the
// log created at such a place is taken away again.
TEST_F(DebugLogTest, LinksOtherNamesAndOtherPlacesAreNeverWritten)
{
    CTempDir outside;
    const std::string small = "a protected file\r\n";
    const std::string big = BigLog(0x500000 + 10);
    const std::wstring target = outside.Join(L"protected.dll");
    struct Case
    {
        const char* what;
        const std::string* content; // the file at the log's path (a hard link to target)
        DWORD extraAttributes;      // reported for the opened file
        bool elsewhere;             // its final path names another place
    };
    const Case cases[] = {
        {"hard link, small", &small, 0, false},
        {"hard link, over the trim size", &big, 0, false},
        {"reparse point", nullptr, FILE_ATTRIBUTE_REPARSE_POINT, false},
        {"redirected folder, existing file", nullptr, 0, true},
        {"redirected folder, new file", nullptr, 0, true},
    };
    for (const Case& c : cases) {
        DeleteFileW(m_sFile.c_str());
        DeleteFileW(target.c_str());
        std::string plain = kBom + Line("mine");
        if (c.content) {
            ASSERT_TRUE(WriteFileBytes(target, *c.content));
            ASSERT_TRUE(CreateHardLinkW(m_sFile.c_str(), target.c_str(), nullptr));
        } else if (std::string(c.what) != "redirected folder, new file") {
            ASSERT_TRUE(WriteFileBytes(m_sFile, plain));
        }
        CSysHook<&CSysCalls::GetFileInformationByHandle> info(
            [&](HANDLE h, LPBY_HANDLE_FILE_INFORMATION out) -> BOOL {
                BOOL ok = CSysHook<&CSysCalls::GetFileInformationByHandle>::Next()(h, out);
                out->dwFileAttributes |= c.extraAttributes;
                return ok;
            });
        CSysHook<&CSysCalls::GetFinalPathNameByHandleW> final(
            [&](HANDLE h, LPWSTR out, DWORD chars, DWORD flags) -> DWORD {
                if (!c.elsewhere)
                    return CSysHook<&CSysCalls::GetFinalPathNameByHandleW>::Next()(h, out, chars,
                                                                                  flags);
                std::wstring other = L"\\\\?\\" + target;
                wcsncpy(out, other.c_str(), chars);
                return static_cast<DWORD>(other.size());
            });
        std::string targetBefore = ReadFileBytes(target);
        std::string fileBefore = ReadFileBytes(m_sFile);
        m_Debugger.Clear();
        {
            CDebugLog log;
            log.Start(L"[SANARIX]");
            log.SetDebugFile(m_sFile.c_str());
            log.Log(DBG_ALL, L"T", L"%s", std::wstring(1000, L'y').c_str());
        }
        EXPECT_TRUE(ReadFileBytes(target) == targetBefore) << c.what;
        EXPECT_TRUE(ReadFileBytes(m_sFile) == fileBefore) << c.what;
        EXPECT_EQ(FileExists(m_sFile), std::string(c.what) != "redirected folder, new file")
            << c.what << ": a file the log made at a wrong place is gone again";
        ASSERT_EQ(m_Debugger.Lines().size(), 1u + 5 * 2) << c.what; // name, then 5 lines
        EXPECT_EQ(m_Debugger.Lines()[2],
                  L"Debug file is a link or lies elsewhere, not written: " + m_sFile + L"\n");
    }
    // Letter case and the "\\?\" form are no other place.
    CSysHook<&CSysCalls::GetFinalPathNameByHandleW> upper(
        [&](HANDLE, LPWSTR out, DWORD chars, DWORD) -> DWORD {
            std::wstring same = L"\\\\?\\" + m_sFile;
            for (wchar_t& ch : same)
                ch = static_cast<wchar_t>(towupper(ch));
            wcsncpy(out, same.c_str(), chars);
            return static_cast<DWORD>(same.size());
        });
    DeleteFileW(m_sFile.c_str());
    CDebugLog log;
    log.Start(L"[SANARIX]");
    log.SetDebugFile(m_sFile.c_str());
    EXPECT_EQ(FileBytes(), kBom + StartMarker());
}

} // namespace
