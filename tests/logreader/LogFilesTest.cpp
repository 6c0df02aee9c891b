// Naming the machine a collected log belongs to, reading files from their end, and sources
// that are no file.
#include "tests/logreader/LogFixtures.h"
#include "tools/logreader/LogFiles.h"
#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

std::string Machine(const char* path)
{
    return MachineOfLog(fs::u8path(path));
}

TEST(LogFiles, MachineFromTheFolderAboveTheLog)
{
    EXPECT_EQ(Machine("collected/PC-0042/sanarix.dbg"), "PC-0042");
    EXPECT_EQ(Machine("collected/PC-0042/SANARIX.DBG"), "PC-0042");
    // A copy of the whole path below the machine's folder, drive letter or share included.
    EXPECT_EQ(Machine("collected/PC7/C/ProgramData/Corvanta/DTrace/sanarix.dbg"), "PC7");
    EXPECT_EQ(Machine("/mnt/PC8/c$/ProgramData/Corvanta/DTrace/sanarix.dbg"), "PC8");
    EXPECT_EQ(Machine("W\xC3\x9CRZBURG-01/DTrace/sanarix.dbg"), "W\xC3\x9CRZBURG-01");
}

TEST(LogFiles, NoMachineWhereThePathNamesNone)
{
    EXPECT_EQ(Machine("sanarix.dbg"), "");
    EXPECT_EQ(Machine("./sanarix.dbg"), "");
    EXPECT_EQ(Machine("/ProgramData/Corvanta/DTrace/sanarix.dbg"), "");
    EXPECT_EQ(Machine("collected/PC-0042/other.dbg"), "");
    EXPECT_EQ(Machine("collected/PC-0042/sanarix.dbg.old"), "");
#ifdef _WIN32
    EXPECT_EQ(Machine("C:\\ProgramData\\Corvanta\\DTrace\\sanarix.dbg"), "");
    EXPECT_EQ(Machine("\\\\PC9\\c$\\ProgramData\\Corvanta\\DTrace\\sanarix.dbg"), "PC9");
#endif
}

TEST(LogFiles, LongFilesAreReadFromTheirEnd)
{
    CTempFolder temp;
    std::string big(kMaxReadBytes + 1000, 'x');
    big.replace(999, 1, "A");
    big.replace(1000, 1, "B");
    fs::path path = temp.Put("big.dbg", big);
    std::string bytes, problem;
    bool headCut = false;
    ASSERT_TRUE(ReadFileTail(path, kMaxReadBytes, bytes, headCut, problem));
    EXPECT_TRUE(headCut);
    ASSERT_EQ(bytes.size(), kMaxReadBytes);
    EXPECT_EQ(bytes[0], 'B');

    fs::path small = temp.Put("small.dbg", "abc");
    ASSERT_TRUE(ReadFileTail(small, kMaxReadBytes, bytes, headCut, problem));
    EXPECT_FALSE(headCut);
    EXPECT_EQ(bytes, "abc");
    EXPECT_FALSE(ReadFileTail(temp.Path() / "gone.dbg", kMaxReadBytes, bytes, headCut, problem));
    EXPECT_EQ(problem, "cannot open");
}

TEST(LogFiles, LogBehindAHugeForeignHeadIsStillJudged)
{
    // Someone appended the log to a large file: only the tail is read, and the log in it counts.
    CTempFolder temp;
    std::string junk(kMaxReadBytes, 'j');
    fs::path path = temp.Put("PC5/sanarix.dbg", junk + "\r\n" + ReadFixture(kRepaired));
    CLogReport report = ReadLog(FileSource(path));
    EXPECT_EQ(report.m_sMachine, "PC5");
    EXPECT_EQ(report.m_verdict, EVerdict::Repaired);
    bool noted = false;
    for (const std::string& note : report.m_notes)
        noted = noted || note == "only the last 6 MiB read";
    EXPECT_TRUE(noted);
}

TEST(LogFiles, SourcesThatAreNoFileBecomeRows)
{
    CTempFolder temp;
    CLogReport missing = ReadLog(FileSource(fs::u8path("no/such/PC3/sanarix.dbg")));
    EXPECT_EQ(missing.m_verdict, EVerdict::NoLog);
    EXPECT_EQ(missing.m_sMachine, "PC3");
    EXPECT_EQ(missing.m_notes, std::vector<std::string>{"not found"});
    CLogReport folder = ReadLog(FileSource(temp.Path()));
    EXPECT_EQ(folder.m_verdict, EVerdict::Unreadable);
    EXPECT_TRUE(folder.m_bNotRead);
}

} // namespace
