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
    ASSERT_TRUE(ReadFileTail(temp.Put("long.dbg", "abcdef"), 4, bytes, headCut, problem));
    EXPECT_EQ(bytes, "cdef");
    EXPECT_TRUE(headCut);
    ASSERT_TRUE(ReadFileTail(temp.Put("short.dbg", "abc"), 4, bytes, headCut, problem));
    EXPECT_EQ(bytes, "abc");
    EXPECT_FALSE(headCut);
}

// The fields of one CSV record, RFC 4180 quoting undone.
std::vector<std::string> CsvFields(const std::string& record, char separator)
{
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (size_t i = 0; i < record.size(); ++i) {
        if (quoted && record[i] == '"' && i + 1 < record.size() && record[i + 1] == '"')
            fields.back() += record[++i];
        else if (record[i] == '"')
            quoted = !quoted;
        else if (record[i] == separator && !quoted)
            fields.emplace_back();
        else
            fields.back() += record[i];
    }
    return fields;
}

TEST(LogReaderCommand, ReportOnACollectionAndTheMachineList)
{
    CTempFolder temp;
    const std::string repaired = Fixture("repaired.dbg");
    temp.Put("share/PC-1/sanarix.dbg", repaired);
    temp.Put("share/PC-1/notes.dbg", "not read: only sanarix.dbg is");
    // Dated copies: the later run counts (nothing installed, in December), whatever the folders say.
    temp.Put("share/PC-2/2026-12-01/sanarix.dbg", Fixture("nothing-installed.dbg"));
    temp.Put("share/PC-2/2026-12-02/sanarix.dbg", repaired);
    temp.Put("share/PC-6/2026-12-01/sanarix.dbg", repaired);
    temp.Put("share/PC-6/2026-12-02/sanarix.dbg", Fixture("nothing-installed.dbg"));
    fs::create_directories(temp.Path() / "share" / "PC-3");
    temp.Put("share/K\xC3\x96LN-5/C/ProgramData/Corvanta/DTrace/sanarix.dbg", repaired);
    fs::path list =
        temp.Put("machines.txt", "\xEF\xBB\xBF# roll-out 7\r\nPC-1\r\n  pc-2 \r\n\r\nPC-3\r\nPC-4\r\nPC-1\n");
    const fs::path share = temp.Path() / "share";
    std::ostringstream out, err;
    ASSERT_EQ(RunLogReader({"--csv-bom", "--sep", ";", "--expect", list, share}, out, err), 0);
    EXPECT_EQ(err.str(), "");
    ASSERT_EQ(out.str().rfind("\xEF\xBB\xBFmachine;file;verdict;", 0), 0u) << out.str();
    // The notes are joined by "; ": quoted for this separator.
    EXPECT_NE(out.str().find(";\"quarantine library did not start; "), std::string::npos) << out.str();
    std::vector<std::vector<std::string>> rows;
    std::istringstream records(WithoutBom(out.str()));
    for (std::string record; std::getline(records, record, '\n');) {
        EXPECT_EQ(record.back(), '\r');
        rows.push_back(CsvFields(record.substr(0, record.size() - 1), ';'));
    }
    const std::vector<std::string>& header = rows.at(0);
    auto cell = [&](size_t row, const std::string& column) {
        size_t at = std::find(header.begin(), header.end(), column) - header.begin();
        return at < rows.at(row).size() ? rows[row][at] : "no column " + column;
    };
    const std::string older = (share / "PC-2" / "2026-12-02" / "sanarix.dbg").u8string();
    const std::vector<std::vector<std::string>> expected = {
        // machine, verdict, part of the note, restored, skipped, duration_s, pid
        {"K\xC3\x96LN-5", "repaired", "not in the machine list", "3", "1", "89", "4512"},
        {"PC-1", "repaired", "", "3", "1", "89", "4512"},
        {"PC-2", "not repaired", "older log " + older + ": repaired, run 2026-03-17 09:14:02", "0", "0", "20",
         "880"},
        {"PC-3", "no log", "no sanarix.dbg in", "", "", "", ""},
        {"PC-6", "not repaired", "not in the machine list", "0", "0", "20", "880"},
        {"PC-4", "no log", "no log collected", "", "", "", ""},
    };
    ASSERT_EQ(rows.size(), expected.size() + 1);
    for (size_t i = 0; i < expected.size(); ++i) {
        const std::vector<std::string>& want = expected[i];
        EXPECT_EQ(rows[i + 1].size(), header.size());
        EXPECT_EQ(cell(i + 1, "machine"), want[0]);
        EXPECT_EQ(cell(i + 1, "verdict"), want[1]) << want[0];
        const std::string note = cell(i + 1, "note");
        EXPECT_TRUE(want[2].empty() ? note.empty() : note.find(want[2]) != std::string::npos) << note;
        std::string counts;
        for (const char* column : {"restored", "skipped", "duration_s", "pid"})
            counts += cell(i + 1, column) + "|";
        EXPECT_EQ(counts, want[3] + "|" + want[4] + "|" + want[5] + "|" + want[6] + "|") << want[0];
    }

    // The table: the columns line up in characters, not bytes, the verdicts are counted, and
    // the details name each machine's file and notes.
    std::ostringstream table;
    ASSERT_EQ(RunLogReader({"--details", "--expect", list, share}, table, err), 0);
    std::vector<std::string> lines;
    std::istringstream text(table.str());
    for (std::string line; std::getline(text, line);)
        lines.push_back(line);
    ASSERT_GE(lines.size(), 9u);
    auto column = [](const std::string& line, const std::string& word) {
        size_t at = line.find(word);
        return at == std::string::npos ? at : at - std::count(line.begin(), line.begin() + at, '\xC3');
    };
    EXPECT_EQ(column(lines[1], "1m29s"), column(lines[0], "took"));
    for (size_t i = 1; i <= expected.size(); ++i)
        EXPECT_EQ(column(lines[i], expected[i - 1][1]), column(lines[0], "verdict")) << lines[i];
    EXPECT_EQ(lines[8], "6 machines: 2 repaired, 2 not repaired, 2 no log");
    EXPECT_NE(table.str().find("\nPC-2: not repaired\n  file "), std::string::npos) << table.str();
}

TEST(LogReaderCommand, QuotingAndCommandLineMistakes)
{
    EXPECT_EQ(CsvField("say \"hi\", twice"), "\"say \"\"hi\"\", twice\"");
    EXPECT_EQ(CsvField("two\r\nlines", ';'), "\"two\r\nlines\"");
    EXPECT_EQ(CsvField("a,b", '\t'), "a,b");
    CTempFolder temp;
    const fs::path none = temp.Path() / "none.txt";
    const struct
    {
        std::vector<fs::path> m_arguments;
        int m_code;
        const char* m_out; // the start of the output
        const char* m_err; // part of the error output
    } cases[] = {
        {{}, 2, "", "name at least one log"},
        {{"--tsv", temp.Path()}, 2, "", "unknown option --tsv"},
        {{temp.Path()}, 1, "", "no sanarix.dbg file"},
        {{"--", "--csv"}, 0, "machine", ""}, // a path, reported as not found
        {{"/?"}, 0, "usage: logreader", ""},
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
    for (const auto& c : cases) {
        std::ostringstream out, err;
        EXPECT_EQ(RunLogReader(c.m_arguments, out, err), c.m_code) << err.str();
        EXPECT_EQ(out.str().rfind(c.m_out, 0), 0u) << out.str();
        EXPECT_TRUE(c.m_code != 2 || out.str().empty()) << out.str();
        EXPECT_NE(err.str().find(c.m_err), std::string::npos) << err.str();
    }
}

} // namespace
