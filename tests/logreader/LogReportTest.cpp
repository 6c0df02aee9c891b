// The report on a collection: which machine a log belongs to, machine folders as they are
// collected (no log, other .dbg files, dated copies, the log's own location copied whole), the
// list of expected machines, the report as CSV and as a table, and command line mistakes.
#include "tests/logreader/LogModel.h"
#include "tools/logreader/LogFiles.h"
#include "tools/logreader/LogReaderCommand.h"
#include "tools/logreader/ReportWriter.h"
#include "SanarixVersion.h"

namespace {

TEST(LogFiles, TheMachineALogsPathNames)
{
    const std::pair<const char*, const char*> cases[] = {
        {"collected/PC-0042/sanarix.dbg", "PC-0042"},
        {"collected/PC-0042/SANARIX.DBG", "PC-0042"},
        {"collected/PC7/C/ProgramData/Corvanta/DTrace/sanarix.dbg", "PC7"},
        {"/mnt/PC8/c$/ProgramData/Corvanta/DTrace/sanarix.dbg", "PC8"},
        {"W\xC3\x9CRZBURG-01/DTrace/sanarix.dbg", "W\xC3\x9CRZBURG-01"},
        {"sanarix.dbg", ""},
        {"./sanarix.dbg", ""},
        {"/ProgramData/Corvanta/DTrace/sanarix.dbg", ""},
        {"collected/PC-0042/other.dbg", ""},
        {"collected/PC-0042/sanarix.dbg.old", ""},
#ifdef _WIN32
        {"C:\\ProgramData\\Corvanta\\DTrace\\sanarix.dbg", ""},
        {"\\\\PC9\\c$\\ProgramData\\Corvanta\\DTrace\\sanarix.dbg", "PC9"},
#endif
    };
    for (const auto& [path, machine] : cases)
        EXPECT_EQ(MachineOfLog(fs::u8path(path)), machine) << path;
}

TEST(LogFiles, ALongFileIsReadFromItsEnd)
{
    CTempFolder temp;
    std::string bytes, problem;
    bool headCut = false;
    EXPECT_TRUE(ReadFileTail(temp.Put("long.dbg", "abcdef"), 4, bytes, headCut, problem) && headCut);
    EXPECT_EQ(bytes, "cdef");
    EXPECT_TRUE(ReadFileTail(temp.Put("short.dbg", "abc"), 4, bytes, headCut, problem) && !headCut);
    EXPECT_EQ(bytes, "abc");
}

TEST(LogReaderCommand, ReportOnACollectionAndTheMachineList)
{
    CTempFolder temp;
    const std::string repaired = Fixture("repaired.dbg"), nothing = Fixture("nothing-installed.dbg");
    temp.Put("share/PC-1/sanarix.dbg", repaired);
    temp.Put("share/PC-1/notes.dbg", "not read: only sanarix.dbg is");
    // Dated copies: the later run counts (nothing installed, in December), whatever the folders say.
    temp.Put("share/PC-2/2026-12-01/sanarix.dbg", nothing);
    temp.Put("share/PC-2/2026-12-02/sanarix.dbg", repaired);
    temp.Put("share/PC-6/2026-12-01/sanarix.dbg", repaired);
    temp.Put("share/PC-6/2026-12-02/sanarix.dbg", nothing);
    fs::create_directories(temp.Path() / "share" / "PC-3");
    temp.Put("share/K\xC3\x96LN-5/C/ProgramData/Corvanta/DTrace/sanarix.dbg", repaired);
    const fs::path share = temp.Path() / "share";
    const fs::path list =
        temp.Put("list.txt", "\xEF\xBB\xBF# roll-out\r\nPC-1\r\n pc-2 \r\n\r\nPC-3\r\nPC-4\r\nPC-1\n");
    std::ostringstream out, err;
    ASSERT_EQ(RunLogReader({"--csv-bom", "--sep", ";", "--expect", list, share}, out, err), 0);
    EXPECT_EQ(err.str(), "");
    ASSERT_EQ(out.str().rfind("\xEF\xBB\xBFmachine;file;verdict;", 0), 0u) << out.str();
    // The notes are joined by "; ": quoted for this separator.
    EXPECT_NE(out.str().find(";\"quarantine library did not start; "), std::string::npos) << out.str();
    // Records end in CR LF; the cells before the notes hold no separator.
    std::vector<std::vector<std::string>> rows;
    for (const std::string& record : Lines(WithoutBom(out.str()))) {
        EXPECT_EQ(record.back(), '\r');
        std::istringstream cells(record);
        rows.emplace_back();
        for (std::string cell; std::getline(cells, cell, ';');)
            rows.back().push_back(cell);
    }
    const std::string older = (share / "PC-2" / "2026-12-02" / "sanarix.dbg").u8string();
    const std::pair<std::string, std::string> expected[] = {
        // machine|verdict|restored|skipped|duration_s|pid|note (empty or not), and part of a note
        {"K\xC3\x96LN-5|repaired|3|1|89|4512|noted", "not in the machine list"},
        {"PC-1|repaired|3|1|89|4512|", ""},
        {"PC-2|not repaired|0|0|20|880|noted", "older log " + older + ": repaired, run 2026-03-17 09:14:02"},
        {"PC-3|no log|||||noted", "no sanarix.dbg in"},
        {"PC-6|not repaired|0|0|20|880|noted", "not in the machine list"},
        {"PC-4|no log|||||noted", "no log collected"},
    };
    ASSERT_EQ(rows.size(), std::size(expected) + 1);
    for (size_t i = 1; i < rows.size(); ++i) {
        std::string cells;
        for (std::string name : {"machine", "verdict", "restored", "skipped", "duration_s", "pid", "note"}) {
            size_t at = std::find(rows[0].begin(), rows[0].end(), name) - rows[0].begin();
            const std::string cell = at < rows[i].size() ? rows[i][at] : "no column";
            cells += (cells.empty() ? "" : "|") + (name == "note" && !cell.empty() ? "noted" : cell);
        }
        EXPECT_EQ(cells, expected[i - 1].first);
        EXPECT_NE(out.str().find(expected[i - 1].second), std::string::npos) << expected[i - 1].second;
    }

    // The table: the columns line up in characters, not bytes, the verdicts are counted, and
    // the details name each machine's file and notes.
    std::ostringstream table;
    ASSERT_EQ(RunLogReader({"--details", "--expect", list, share}, table, err), 0);
    const std::vector<std::string> lines = Lines(table.str());
    ASSERT_GE(lines.size(), 9u);
    auto column = [](const std::string& line, const std::string& word) {
        size_t at = line.find(word);
        return at == std::string::npos ? at : at - std::count(line.begin(), line.begin() + at, '\xC3');
    };
    EXPECT_EQ(column(lines[1], "1m29s"), column(lines[0], "took"));
    for (size_t i = 1; i < rows.size(); ++i)
        EXPECT_EQ(column(lines[i], rows[i][2]), column(lines[0], "verdict")) << lines[i];
    EXPECT_EQ(lines[8], "6 machines: 2 repaired, 2 not repaired, 2 no log");
    EXPECT_NE(table.str().find("\nPC-2: not repaired\n  file "), std::string::npos) << table.str();
}

TEST(LogReaderCommand, QuotingAndCommandLineMistakes)
{
    EXPECT_EQ(CsvField("say \"hi\", twice"), "\"say \"\"hi\"\", twice\"");
    EXPECT_EQ(CsvField("two\r\nlines", ';'), "\"two\r\nlines\"");
    EXPECT_EQ(CsvField("a,b", '\t'), "a,b");
    EXPECT_EQ(FormatDuration(185) + FormatDuration(3725) + FormatDuration(-1), "3m05s1h02m05s-");
    CTempFolder temp;
    const fs::path none = temp.Path() / "none.txt";
    // Arguments, exit code, the start of the output, part of the error output.
    const std::tuple<std::vector<fs::path>, int, const char*, const char*> cases[] = {
        {{}, 2, "", "name at least one log"},
        {{"--tsv", temp.Path()}, 2, "", "unknown option --tsv"},
        {{temp.Path()}, 1, "", "no sanarix.dbg file"},
        {{"--", "--csv"}, 0, "machine", ""}, // a path, reported as not found
        {{"--version"}, 0, "logreader " SANARIX_VERSION "\n", ""},
        {{"--detect", temp.Path()}, 1, "", "a folder, not a file"},
        {{"--check"}, 2, "", "needs a value"},
        {{"--check", "a.dbg", "b.dbg"}, 2, "", "exactly one log"},
        {{"--check", "a.dbg", "--detect", "a.dbg"}, 2, "", "take one log, once"},
        {{"--detect", "a.dbg", "--details"}, 2, "", "--detect no other option"},
        {{"--check", "a.dbg", "--csv"}, 2, "", "--check takes only --details"},
        {{"--sep", "|", "a.dbg"}, 2, "", "--sep takes , or ; or tab"},
        {{"--expect", none, temp.Path()}, 2, "", "cannot read the machine list"},
    };
    for (const auto& [arguments, code, start, complaint] : cases) {
        std::ostringstream out, err;
        EXPECT_EQ(RunLogReader(arguments, out, err), code) << err.str();
        EXPECT_EQ(out.str().rfind(start, 0), 0u) << out.str();
        EXPECT_TRUE(code != 2 || out.str().empty()) << out.str();
        EXPECT_NE(err.str().find(complaint), std::string::npos) << err.str();
    }
}

} // namespace
