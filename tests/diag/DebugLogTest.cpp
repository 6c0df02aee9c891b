// The debug log: exact bytes of the file, levels, the start and stop markers, the
// debugger output, the 5 MiB trim and a missing folder.
#include "diag/DebugLog.h"
#include "tests/support/SysHooks.h"
#include "tests/support/TestFiles.h"
#include <gtest/gtest.h>
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
    std::string afterMarker = FileBytes();
    ASSERT_EQ(afterMarker, old + StartMarker());
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

TEST_F(DebugLogTest, FailedRewriteKeepsTheOldContent)
{
    std::string old = BigLog(5242000);
    ASSERT_TRUE(WriteFileBytes(m_sFile, old));
    CDebugLog log;
    log.Start(L"[SANARIX]");
    log.SetDebugFile(m_sFile.c_str());
    std::string before = FileBytes();
    {
        // The rewrite opens with "w"; refuse just that mode.
        CSysHook<&CSysCalls::_wfopen> refuseRewrite([](const wchar_t* path, const wchar_t* mode) {
            if (std::wstring(mode).rfind(L"w", 0) == 0)
                return static_cast<FILE*>(nullptr);
            return CSysHook<&CSysCalls::_wfopen>::Next()(path, mode);
        });
        log.Log(DBG_ALL, L"T", L"%s", std::wstring(1000, L'y').c_str());
    }
    EXPECT_TRUE(FileBytes() == before);
    EXPECT_NE(m_Debugger.All().find(L"Cannot open debug file: "), std::wstring::npos);
    // The next line tries the trim again and succeeds.
    log.Log(DBG_ALL, L"T", L"%s", std::wstring(1000, L'y').c_str());
    EXPECT_LT(FileBytes().size(), 0x280000u + 2000u);
}

} // namespace
