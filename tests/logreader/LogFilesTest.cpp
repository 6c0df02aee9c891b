// Finding logs below folders, naming the machine a collected log belongs to, and reading
// files from their end.
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

TEST(LogFiles, FoldersAreSearchedForDbgFilesAtAnyDepth)
{
    CTempFolder temp;
    temp.Put("b/PC2/sanarix.dbg", "x");
    temp.Put("a/PC1/deep/er/sanarix.DBG", "x");
    temp.Put("a/PC1/notes.txt", "x");
    temp.Put("empty/readme.txt", "x");
    fs::path explicitFile = temp.Put("c/notes.txt", "x");
    std::vector<std::string> warnings;
    std::vector<CLogSource> sources = CollectLogs(
        {temp.Path(), temp.Path() / "empty", explicitFile, temp.Path() / "missing"}, warnings);
    ASSERT_EQ(sources.size(), 4u);
    EXPECT_EQ(sources[0].m_path, temp.Path() / "a" / "PC1" / "deep" / "er" / "sanarix.DBG");
    EXPECT_EQ(sources[1].m_path, temp.Path() / "b" / "PC2" / "sanarix.dbg");
    EXPECT_EQ(sources[2].m_path, explicitFile);
    EXPECT_TRUE(sources[2].m_sProblem.empty());
    EXPECT_EQ(sources[3].m_sProblem, "not found");
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("no *.dbg file"), std::string::npos);
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
    CLogReport report = ReadLog({path, {}});
    EXPECT_EQ(report.m_sMachine, "PC5");
    EXPECT_EQ(report.m_verdict, EVerdict::Repaired);
    bool noted = false;
    for (const std::string& note : report.m_notes)
        noted = noted || note == "only the last 6 MiB read";
    EXPECT_TRUE(noted);
}

TEST(LogFiles, UnreadableSourcesBecomeRows)
{
    CLogReport missing = ReadLog({fs::u8path("no/such/PC3/sanarix.dbg"), "not found"});
    EXPECT_EQ(missing.m_verdict, EVerdict::Unreadable);
    EXPECT_EQ(missing.m_sMachine, "PC3");
    ASSERT_EQ(missing.m_notes.size(), 1u);
    EXPECT_EQ(missing.m_notes[0], "not found");
}

} // namespace
