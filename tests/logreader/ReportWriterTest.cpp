// The report as text table and CSV, and the command line that produces it.
#include "tests/logreader/LogFixtures.h"
#include "tools/logreader/LogFiles.h"
#include "tools/logreader/LogReaderCommand.h"
#include "tools/logreader/ReportWriter.h"
#include "SanarixVersion.h"
#include <gtest/gtest.h>
#include <sstream>

namespace fs = std::filesystem;

namespace {

std::vector<std::string> Split(const std::string& text, const std::string& separator)
{
    std::vector<std::string> parts;
    size_t pos = 0;
    for (size_t at; (at = text.find(separator, pos)) != std::string::npos; pos = at + separator.size())
        parts.push_back(text.substr(pos, at - pos));
    parts.push_back(text.substr(pos));
    return parts;
}

// Fields of one CSV record, undoing RFC 4180 quoting.
std::vector<std::string> CsvFields(const std::string& record, char separator = ',')
{
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (size_t i = 0; i < record.size(); ++i) {
        char c = record[i];
        if (quoted && c == '"' && i + 1 < record.size() && record[i + 1] == '"')
            fields.back() += record[++i];
        else if (c == '"')
            quoted = !quoted;
        else if (c == separator && !quoted)
            fields.emplace_back();
        else
            fields.back() += c;
    }
    return fields;
}

std::vector<CLogReport> Reports()
{
    CLogReport repaired = JudgeLog(AnalyseLog(ReadFixture(kRepaired), false));
    repaired.m_sFile = "logs/PC-1/sanarix.dbg";
    repaired.m_sMachine = "PC-1";
    CLogReport failed = JudgeLog(AnalyseLog(ReadFixture(kNothingInstalled), false));
    failed.m_sFile = "logs/K\xC3\x96LN, \"Nord\"/sanarix.dbg";
    failed.m_sMachine = "K\xC3\x96LN, \"Nord\"";
    CLogReport unreadable;
    unreadable.m_sFile = "logs/x.dbg";
    unreadable.m_notes = {"not found"};
    return {repaired, failed, unreadable};
}

TEST(ReportWriter, CsvFieldQuoting)
{
    EXPECT_EQ(CsvField("plain text"), "plain text");
    EXPECT_EQ(CsvField("a,b"), "\"a,b\"");
    EXPECT_EQ(CsvField("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(CsvField("two\r\nlines"), "\"two\r\nlines\"");
    EXPECT_EQ(CsvField(""), "");
    EXPECT_EQ(CsvField("a,b", ';'), "a,b");
    EXPECT_EQ(CsvField("a;b", ';'), "\"a;b\"");
}

TEST(ReportWriter, CsvHasOneRecordPerLogWithTheHeadersColumns)
{
    std::ostringstream out;
    WriteCsv(out, Reports());
    std::vector<std::string> records = Split(out.str(), "\r\n");
    ASSERT_EQ(records.size(), 5u); // header, three rows, empty after the last CR LF
    EXPECT_EQ(records.back(), "");
    std::vector<std::string> header = CsvFields(records[0]);
    EXPECT_EQ(header.front(), "machine");
    EXPECT_EQ(header.back(), "evidence");
    for (size_t i = 1; i <= 3; ++i)
        EXPECT_EQ(CsvFields(records[i]).size(), header.size()) << records[i];

    auto column = [&](size_t row, const std::string& name) {
        std::vector<std::string> fields = CsvFields(records[row]);
        for (size_t i = 0; i < header.size(); ++i) {
            if (header[i] == name)
                return fields[i];
        }
        ADD_FAILURE() << "no column " << name;
        return std::string();
    };
    EXPECT_EQ(column(1, "verdict"), "repaired");
    EXPECT_EQ(column(1, "stop_CVPROBE"), "fail");
    EXPECT_EQ(column(1, "files_found"), "2");
    EXPECT_EQ(column(1, "pending_renames"), "ok");
    EXPECT_EQ(column(1, "restored"), "3");
    EXPECT_EQ(column(1, "skipped"), "1");
    EXPECT_EQ(column(1, "duration_s"), "89");
    EXPECT_EQ(column(1, "pid"), "4512");
    EXPECT_EQ(column(1, "evidence"), "lines 3-88: run of process 4512 from 2026-03-17 09:14:02");
    EXPECT_EQ(column(2, "machine"), "K\xC3\x96LN, \"Nord\"");
    EXPECT_EQ(column(2, "pending_renames"), "none");
    EXPECT_EQ(column(2, "verdict"), "not repaired");
    EXPECT_EQ(column(3, "verdict"), "unreadable");
    EXPECT_EQ(column(3, "restore"), "");
    EXPECT_EQ(column(3, "note"), "not found");
}

TEST(ReportWriter, TableColumnsLineUpAndVerdictsAreCounted)
{
    std::ostringstream out;
    WriteTable(out, Reports());
    std::vector<std::string> lines = Split(out.str(), "\n");
    ASSERT_GE(lines.size(), 6u);
    // The verdict column starts at the same screen column in every row; the second machine's
    // name has a two-byte letter.
    auto column = [](const std::string& line, const std::string& word) {
        size_t at = line.find(word);
        size_t width = 0;
        for (size_t i = 0; i < at && at != std::string::npos; ++i)
            width += (static_cast<unsigned char>(line[i]) & 0xC0) != 0x80;
        return at == std::string::npos ? std::string::npos : width;
    };
    size_t verdict = column(lines[0], "verdict");
    EXPECT_EQ(column(lines[1], "repaired"), verdict);
    EXPECT_EQ(column(lines[2], "not repaired"), verdict);
    EXPECT_EQ(column(lines[3], "unreadable"), verdict);
    EXPECT_EQ(lines[1].find("PC-1"), 0u);
    EXPECT_EQ(lines[3].find("logs/x.dbg"), 0u);
    EXPECT_NE(lines[1].find("ok fail ok"), std::string::npos);
    EXPECT_EQ(lines[1].back(), 'd'); // no blanks after the last cell
    EXPECT_EQ(lines[5], "3 machines: 1 repaired, 1 not repaired, 1 unreadable");
}

TEST(ReportWriter, Durations)
{
    EXPECT_EQ(FormatDuration(0), "0s");
    EXPECT_EQ(FormatDuration(20), "20s");
    EXPECT_EQ(FormatDuration(185), "3m05s");
    EXPECT_EQ(FormatDuration(3720), "1h02m00s");
    EXPECT_EQ(FormatDuration(-3600), "-");
}

TEST(LogReaderCommand, ReconcilesACollectionWithTheMachineList)
{
    CTempFolder temp;
    temp.Put("share/PC-1/sanarix.dbg", ReadFixture(kRepaired));
    temp.Put("share/PC-1/notes.dbg", "not read: only sanarix.dbg is");
    // Two dated copies: the later run counts, whatever the folders' order.
    temp.Put("share/PC-2/2026-12-01/sanarix.dbg", ReadFixture(kNothingInstalled));
    temp.Put("share/PC-2/2026-12-02/sanarix.dbg", ReadFixture(kRepaired));
    fs::create_directories(temp.Path() / "share" / "PC-3");
    temp.Put("share/PC-5/C/ProgramData/Corvanta/DTrace/sanarix.dbg", ReadFixture(kRepaired));
    fs::path list = temp.Put("machines.txt", "\xEF\xBB\xBF# roll-out 7\r\nPC-1\r\n  pc-2 \r\n\r\nPC-3\r\nPC-4\r\nPC-1\r\n");
    std::ostringstream out, err;
    ASSERT_EQ(RunLogReader({"--csv-bom", "--sep", ";", "--expect", list, temp.Path() / "share"}, out, err), 0);
    EXPECT_EQ(err.str(), "");
    ASSERT_EQ(out.str().rfind("\xEF\xBB\xBFmachine;file;verdict;", 0), 0u);
    std::vector<std::string> records = Split(out.str(), "\r\n");
    ASSERT_EQ(records.size(), 7u) << out.str(); // header, five machines, the empty end
    auto field = [&](size_t row, size_t index) { return CsvFields(records[row], ';')[index]; };
    const std::vector<std::vector<std::string>> expected = {
        {"PC-1", "repaired", ""},
        {"PC-2", "not repaired", "older log " + (temp.Path() / "share" / "PC-2" / "2026-12-02" / "sanarix.dbg").u8string() +
                                     ": repaired, run 2026-03-17 09:14:02"},
        {"PC-3", "no log", "no sanarix.dbg in"},
        {"PC-5", "repaired", "not in the machine list"},
        {"PC-4", "no log", "no log collected"},
    };
    const size_t note = CsvFields(records[0], ';').size() - 2;
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(field(i + 1, 0), expected[i][0]);
        EXPECT_EQ(field(i + 1, 2), expected[i][1]) << expected[i][0];
        EXPECT_NE(field(i + 1, note).find(expected[i][2]), std::string::npos) << field(i + 1, note);
    }

    std::ostringstream table, details;
    ASSERT_EQ(RunLogReader({"--details", "--expect", list, temp.Path() / "share"}, table, err), 0);
    EXPECT_NE(table.str().find("5 machines: 2 repaired, 1 not repaired, 2 no log"), std::string::npos);
    EXPECT_NE(table.str().find("\nPC-2: not repaired\n  file "), std::string::npos) << table.str();
}

TEST(LogReaderCommand, CommandLineMistakes)
{
    CTempFolder temp;
    std::ostringstream out, err;
    EXPECT_EQ(RunLogReader({}, out, err), 2);
    EXPECT_EQ(RunLogReader({"--tsv", temp.Path()}, out, err), 2);
    EXPECT_NE(err.str().find("unknown option --tsv"), std::string::npos);
    EXPECT_EQ(out.str(), "");
    // Nothing to report: an empty folder.
    std::ostringstream none, noneErr;
    EXPECT_EQ(RunLogReader({temp.Path()}, none, noneErr), 1);
    EXPECT_NE(noneErr.str().find("no sanarix.dbg file"), std::string::npos);
    // After "--" a name that begins with a hyphen is a path.
    std::ostringstream dashed, dashedErr;
    EXPECT_EQ(RunLogReader({"--", "--csv"}, dashed, dashedErr), 0);
    EXPECT_NE(dashed.str().find("not found"), std::string::npos);
    std::ostringstream help, helpErr;
    EXPECT_EQ(RunLogReader({"/?"}, help, helpErr), 0);
    EXPECT_NE(help.str().find("usage: logreader"), std::string::npos);
    std::ostringstream version;
    EXPECT_EQ(RunLogReader({"--version"}, version, helpErr), 0);
    EXPECT_EQ(version.str(), std::string("logreader ") + SANARIX_VERSION + "\n");
    // One log for --check and --detect, and nothing that belongs to a report.
    const std::vector<std::vector<fs::path>> wrong = {
        {"--check"}, {"--check", "a.dbg", "b.dbg"}, {"--check", "a.dbg", "--detect", "a.dbg"},
        {"--detect", "a.dbg", "--details"}, {"--check", "a.dbg", "--csv"}, {"--sep", "|", "a.dbg"},
        {"--expect"}, {"--details"}};
    for (const std::vector<fs::path>& arguments : wrong) {
        std::ostringstream quiet, complaint;
        EXPECT_EQ(RunLogReader(arguments, quiet, complaint), 2) << arguments.front();
        EXPECT_EQ(quiet.str(), "");
    }
    std::ostringstream missingList;
    EXPECT_EQ(RunLogReader({"--expect", temp.Path() / "none.txt", temp.Path()}, out, missingList), 2);
    EXPECT_NE(missingList.str().find("cannot read the machine list"), std::string::npos);
}

} // namespace
