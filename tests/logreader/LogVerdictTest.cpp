// The verdict on one log: a table of what machines leave behind, the logs in data/ as they are,
// with one fault each, damaged, trimmed, appended to, or none, through --check --details,
// --detect and --csv: the verdict and its exit code, every note, the lines evidence cites.
#include "tests/logreader/LogModel.h"
#include "tools/logreader/LogReaderCommand.h"
#include <optional>

namespace {

using namespace std::string_literals;

const std::string kQuar = "C:\\ProgramData\\Corvanta\\Quarantine\\";
const std::string kEngine = "C:\\Program Files\\Common Files\\Corvanta\\Corvanta Scan Kernel\\cvheur.xr0";
const char kRestoreAnnounce[] = "RestoreQuarantine(trojan.fakealert.5) ...";

std::string Pid(const std::string& log, const char* from, const char* to)
{
    return Replace(log, "[PID:"s + from, "[PID:"s + to);
}

std::string Failed(const std::string& log, const std::string& item)
{
    return Replace(log, "[ALL]:    RestoreQuarantine - Restoring: [" + kQuar + item + "] ok",
                   "[ERROR]:  RestoreQuarantine - Restoring: [" + kQuar + item + "] failed");
}

std::string Fail(const std::string& log, const std::string& step)
{
    return Replace(log, step + " result=ok", step + " result=fail");
}

std::string Insert(const std::string& log, const std::string& after, const std::string& lines)
{
    return log.substr(0, After(log, after)) + lines + log.substr(After(log, after));
}

// The log from the line after the one that holds part, as the log's trim leaves it.
std::string Trimmed(const std::string& log, const std::string& part)
{
    return "\xEF\xBB\xBF" + WithoutBom(log).substr(After(WithoutBom(log), part));
}

// Two runs started at the same moment write their lines in turns.
std::string Interleaved(const std::string& a, const std::string& b)
{
    const std::vector<std::string> x = Lines(a), y = Lines(b);
    std::string mixed;
    for (size_t i = 0; i < std::max(x.size(), y.size()); ++i)
        mixed += (i < x.size() ? x[i] + "\n" : "") + (i < y.size() ? y[i] + "\n" : "");
    return mixed;
}

struct CCase
{
    const char* m_name;
    std::optional<std::string> m_log; // none: there is no file
    const char* m_verdict;
    int m_code;
    std::vector<std::string> m_notes;                         // a part of each note, each in a note
    std::vector<std::pair<std::string, std::string>> m_cited; // evidence, part of the line cited
    std::pair<std::string, std::string> m_csv = {};           // a column of --csv and its value
};

TEST(Verdict, EveryCaseGivesItsVerdictCodeNotesAndEvidence)
{
    const std::vector<std::string> nothingDone = {"quarantine library did not start", "quarantine folder",
                                                  "not started again: CVMSG, CVUPDATE, cvhost.exe, cvtray"};
    const std::string r = Fixture("repaired.dbg"), n = Fixture("nothing-installed.dbg");
    const std::string run = WithoutBom(r), cut = WithoutBom(Pid(r, "00004512", "00004600"));
    const CCase cases[] = {
        {"repaired", r, "repaired", 0, {}, {{"lines 3-88: run of process 4512", "=====started====="}},
         {"restored", "3"}},
        {"nothing to restore", DropLines(r, "Restoring: ["), "repaired", 0, {"nothing to restore"}, {}},
        {"no renames pending and failed stops are harmless",
         Fail(Fail(Replace(r, "Delete registry key ok", "Cannot delete registry key, error=2"),
                   "RemovePendingFileROp()"), "StopCVApp(cvhost.exe)"),
         "repaired", 0, {}, {}, {"pending_renames", "none"}},
        {"a file already there is kept, not failed",
         Insert(Failed(r, "C3.xml"), "C3.xml] failed",
                Line("[INFO]:   RestoreQuarantine - File already there, kept: name=b.xls")),
         "repaired", 0, {"1 already there, kept"},
         {{"already there, kept: " + kQuar + "C3.xml (File already there", "C3.xml] failed"}}, {"kept", "1"}},
        {"the refusal of another run counts only as an error line",
         Insert(r, "InitGlobals() ok",
                Line("[INFO]:   DoSanarix - Another run is in progress, nothing done")),
         "repaired", 0, {}, {}},
        {"engine file search failed", Replace(r, "(cvheur.xr0) result=2", "(cvheur.xr0) result=-1"),
         "repaired", 0, {}, {}, {"files_found", "fail"}},
        {"some restores failed", Failed(r, "C3.xml"), "partly repaired", 20, {"1 restore(s) failed"},
         {{"restore failed: " + kQuar + "C3.xml", "C3.xml] failed"}}},
        {"engine file left", Replace(r, "Delete file " + kEngine + " ok", "Cannot delete file " + kEngine),
         "partly repaired", 20, {"engine file not deleted: 1"},
         {{"engine file not deleted: " + kEngine, "Cannot delete"}}},
        {"pending renames kept by a denied key",
         Fail(Replace(r, "Delete registry key ok", "Cannot open registry key, error=5"),
              "RemovePendingFileROp()"),
         "partly repaired", 20, {"pending renames not removed (error 5)"},
         {{"Cannot open registry key, error=5", "Cannot open registry key"}}},
        {"unexpected restore error",
         Insert(r, "Skipping: [", Line("[ERROR]:  RestoreQuarantine - Index path too long: x")),
         "partly repaired", 20, {"1 restore error line(s)"}, {{"Index path too long", "Index path"}}},
        {"product not started again", Fail(r, "MyStartService(CVMSG)"), "product left stopped", 21,
         {"not started again: CVMSG"}, {{"MyStartService(CVMSG) result=fail", "(CVMSG) result=fail"}}},
        {"a product left stopped outranks failed restores",
         Fail(Failed(r, "C3.xml"), "StartCVApp(cvtray.exe)"), "product left stopped", 21,
         {"not started again: cvtray.exe", "1 restore(s) failed"}, {}},
        {"every restore failed", Replace(r, "] ok\r\n", "] failed\r\n"), "not repaired", 22,
         {"3 restore(s) failed"}, {}},
        {"nothing restored outranks the product left stopped",
         Fail(Replace(r, "] ok\r\n", "] failed\r\n"), "StartCVApp(cvtray.exe)"), "not repaired", 22,
         {"not started again: cvtray.exe", "3 restore(s) failed"}, {}},
        {"quarantine unreachable",
         Insert(DropLines(r, "RestoreQuarantine - "), kRestoreAnnounce,
                Line("[ERROR]:  GetQuarFolderPath - Cannot open registry path: SOFTWARE\\Corvanta\\") +
                    Line("[ERROR]:  RestoreQuarantine - Could not init vaultkit!") +
                    Line("[ALL]:    RestoreQuarantine - ok")),
         "not repaired", 22, {"quarantine library did not start", "quarantine folder not found in the regis"},
         {{"Could not init vaultkit!", "Could not init vaultkit!"}, {"registry path", "GetQuarFolder"}}},
        {"nothing installed, a real run", n, "not repaired", 22, nothingDone, {}},
        {"several runs, copies appended whole: the last counts", n + r + Pid(n, "00000880", "00000300"),
         "not repaired", 22, nothingDone, {{"lines 161-228: run of process 300", "=====started====="}}},
        {"a process id reused after a run that died",
         n.substr(0, After(n, "RemoveFileRec(cvheur.xr0) ...")) + WithoutBom(n), "not repaired", 22,
         nothingDone, {{"lines 41-108: run of process 880", "=====started====="}}},
        {"two runs at once come apart by process id",
         Interleaved(run, Failed(Pid(run, "00004512", "00007000"), "C3.xml")), "partly repaired", 20,
         {"1 restore(s) failed", "no byte-order mark"}, {{"run of process 7000", "[PID:00007000]"}}},
        {"zero bytes in an older run only",
         Insert(r, kRestoreAnnounce, std::string(4096, '\0')) + WithoutBom(n), "not repaired", 22,
         {"4096 zero bytes at byte 6730", "quarantine", "not started again"}, {}},
        {"another run in progress", Fixture("another-run.dbg"), "another run in progress", 23,
         {"this one did nothing", "has not finished"},
         {{"Another run is in progress, nothing done", "DoSanarix - Another run"}}},
        {"the run found in progress has finished since",
         Fixture("another-run.dbg") + run.substr(After(run, "MyStartService(CVMSG) result=")), "repaired", 0,
         {"found this one in progress and did nothing"}, {{"done (process 4620)", "DoSanarix - Another"}}},
        {"last run cut off in the middle of a line", r + cut.substr(0, After(cut, kRestoreAnnounce) + 40),
         "run incomplete", 24,
         {"ended during RestoreQuarantine", "previous run 2026-03-17 09:14:02: repaired", "1 foreign"}, {},
         {"restore", "cut"}},
        {"a result line missing", DropLines(r, "MyStartService(CVUPDATE) result"), "run incomplete", 24,
         {"step lines missing"}, {}},
        {"zero bytes inside the run", Insert(r, kRestoreAnnounce, std::string(100, '\0')), "run incomplete",
         24, {"run damaged", "100 zero bytes at byte 6730"}, {}},
        {"power lost while the run wrote", r.substr(0, After(r, kRestoreAnnounce)) + std::string(99, 0),
         "run incomplete", 24, {"ended during RestoreQuarantine", "99 zero bytes"}, {}},
        {"start marker trimmed away, judged from what is left", Trimmed(r, kRestoreAnnounce), "repaired", 0,
         {"start of the run trimmed away: judged from line 1 on", "trimmed"}, {}},
        {"trimmed inside the restore, a failure left", Trimmed(Failed(r, "C3.xml"), "Skipping: ["),
         "partly repaired", 20, {"1 restore(s) failed", "trimmed"},
         {{"restore failed: " + kQuar + "C3.xml", "C3.xml] failed"}}},
        {"trimmed past the restore", Trimmed(r, "RestoreQuarantine(trojan.fakealert.5) result"),
         "run incomplete", 24, {"restore lines lost", "trimmed: oldest part dropped"}, {}},
        {"fields only, no run", "\xEF\xBB\xBF" + Line("") + Line(""), "run incomplete", 24,
         {"no run in the log"}, {}},
        {"a huge foreign head before the log", std::string(6 << 20, 'j') + "\r\n" + r, "repaired", 0,
         {"only the last 6 MiB read"}, {}},
        {"no log", std::nullopt, "no log", 25, {"not found"}, {}},
        {"empty file", ""s, "not a debug log", 26, {"empty file"}, {}},
        {"a spreadsheet", "name,verdict\r\nPC1,ok\r\n"s, "not a debug log", 26, {"no debug log lines"}, {}},
        {"another program's log", Replace(Line("[ALL]:    x"), "[SANARIX]", "[CVHOST]"), "not a debug log",
         26, {"log of another program [CVHOST]"}, {}},
        {"re-encoded as UTF-16", "\xFF\xFE[\0P\0I\0D\0"s, "unreadable", 27, {"UTF-16"}, {}},
        {"a path in Latin-1", Line("[ALL]:    C:\\J\xFCrgen"), "unreadable", 27, {"invalid UTF-8 at byte 75"},
         {}},
        {"binary data", "\x7F" "ELF\x02\x01\x01\0\0\0\0\0\0\0\0\0\x03\0\x3E\0\xFF"s, "unreadable", 27,
         {"binary data"}, {}},
    };
    CTempFolder temp;
    const fs::path path = temp.Path() / "case.dbg";
    for (const CCase& c : cases) {
        SCOPED_TRACE(c.m_name);
        fs::remove(path);
        if (c.m_log)
            WriteBytes(path, *c.m_log);
        const std::vector<std::string> log = Lines(c.m_log.value_or(""));
        std::ostringstream out, err, detected, csv;
        EXPECT_EQ(RunLogReader({"--check", path, "--details"}, out, err), c.m_code);
        EXPECT_EQ(RunLogReader({"--detect", path}, detected, err), 0);
        EXPECT_EQ(detected.str(), c.m_code == 0 ? "repaired\n" : "");
        const std::vector<std::string> lines = Lines(out.str());
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines[0], c.m_verdict);
        for (size_t i = 1; i < lines.size() && lines[i].rfind("  line", 0) != 0; ++i) {
            EXPECT_TRUE(std::any_of(c.m_notes.begin(), c.m_notes.end(), [&](const std::string& part) {
                return lines[i].find(part) != std::string::npos;
            })) << "a note not expected: " << lines[i];
        }
        for (const std::string& part : c.m_notes)
            EXPECT_NE(out.str().find(part), std::string::npos) << part << " not in\n" << out.str();
        for (const auto& [evidence, cited] : c.m_cited) {
            auto entry = std::find_if(lines.begin(), lines.end(), [&](const std::string& line) {
                return line.rfind("  line", 0) == 0 && line.find(evidence) != std::string::npos;
            });
            ASSERT_NE(entry, lines.end()) << evidence << " not cited in\n" << out.str();
            const size_t number = std::stoul(entry->substr(entry->find(' ', 2) + 1));
            EXPECT_NE(log.at(number - 1).find(cited), std::string::npos) << *entry;
        }
        if (const auto& [column, expected] = c.m_csv; !column.empty()) {
            RunLogReader({"--csv", path}, csv, err);
            const std::vector<std::string> records = Lines(csv.str());
            std::istringstream names(records.at(0)), values(records.at(1));
            std::string name, value;
            while (std::getline(names, name, ',') && std::getline(values, value, ',') && name != column)
                continue;
            EXPECT_EQ(name + "=" + value, column + "=" + expected);
        }
    }
}

} // namespace
