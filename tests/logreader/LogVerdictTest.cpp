// The verdict on one log, one table of what machines in the field leave behind: the logs in
// data/ as they are, edited one fault at a time, damaged, trimmed, appended to, or no log at
// all. Each case goes through the command line a deployment tool uses (--check --details,
// --detect, --csv) and names the verdict, its exit code, the notes it must give and the lines
// its evidence must cite.
#include "tests/logreader/LogModel.h"
#include "tools/logreader/LogFiles.h"
#include "tools/logreader/LogReaderCommand.h"
#include <functional>

namespace {

using namespace std::string_literals;

const std::string kQuar = "C:\\ProgramData\\Corvanta\\Quarantine\\";
const std::string kEngine =
    "C:\\Program Files\\Common Files\\Corvanta\\Corvanta Scan Kernel\\x64\\cvheur.xr0";
const char kRestoreAnnounce[] = "RestoreQuarantine(trojan.fakealert.5) ...";
// The notes on a run with nothing installed.
const std::vector<std::string> kNothingDone = {"quarantine library did not start", "quarantine folder",
                                               "not started again: CVMSG, CVUPDATE, cvhost.exe, cvtray"};

std::string R() { return Fixture("repaired.dbg"); }
std::string N() { return Fixture("nothing-installed.dbg"); }

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
    size_t at = After(log, after);
    return log.substr(0, at) + lines + log.substr(at);
}

// The log from the line after the one that holds part, as the log's trim leaves it.
std::string Trimmed(const std::string& log, const std::string& part)
{
    std::string body = WithoutBom(log);
    return "\xEF\xBB\xBF" + body.substr(After(body, part));
}

// Two runs started at the same moment write their lines in turns.
std::string Interleaved(const std::string& a, const std::string& b)
{
    std::string mixed;
    for (size_t i = 0, j = 0; i < a.size() || j < b.size();) {
        for (auto [text, pos] : {std::pair{&a, &i}, std::pair{&b, &j}}) {
            size_t end = std::min(text->find('\n', *pos), text->size() - 1) + 1;
            mixed += text->substr(*pos, end - *pos);
            *pos = end;
        }
    }
    return mixed;
}

struct CCase
{
    const char* m_name;
    std::function<std::string()> m_log; // null: there is no log
    const char* m_verdict;
    int m_code;
    std::vector<std::string> m_notes;                        // part of a note each, of each note
    std::vector<std::pair<std::string, std::string>> m_cited; // evidence, part of the line cited
    std::pair<std::string, std::string> m_csv = {};          // a column of --csv and its value
};

const CCase kCases[] = {
    {"repaired", R, "repaired", 0, {}, {{"lines 3-88: run of process 4512", "=====started====="}},
     {"restored", "3"}},
    {"nothing to restore", [] { return DropLines(R(), "Restoring: ["); }, "repaired", 0,
     {"nothing to restore"}, {}},
    {"no renames pending and failed stops are harmless",
     [] {
         std::string log = Replace(R(), "Delete registry key ok", "Cannot delete registry key, error=2");
         return Fail(Fail(log, "RemovePendingFileROp()"), "StopCVApp(cvhost.exe)");
     },
     "repaired", 0, {}, {}, {"pending_renames", "none"}},
    {"a file already there is kept, not failed",
     [] {
         return Insert(Failed(R(), "C3.xml"), "C3.xml] failed",
                       Line("[INFO]:   RestoreQuarantine - File already there, kept: name=b.xls"));
     },
     "repaired", 0, {"1 already there, kept"},
     {{"already there, kept: " + kQuar + "C3.xml (File already there", "C3.xml] failed"}}, {"kept", "1"}},
    {"the refusal of another run counts only as an error line",
     [] {
         return Insert(R(), "InitGlobals() ok",
                       Line("[INFO]:   DoSanarix - Another run is in progress, nothing done"));
     },
     "repaired", 0, {}, {}},
    {"engine file search failed",
     [] { return Replace(R(), "(cvheur.xr0) result=2", "(cvheur.xr0) result=-1"); }, "repaired", 0, {}, {},
     {"files_found", "fail"}},
    {"some restores failed", [] { return Failed(R(), "C3.xml"); }, "partly repaired", 20,
     {"1 restore(s) failed"}, {{"restore failed: " + kQuar + "C3.xml", "C3.xml] failed"}}},
    {"engine file left",
     [] { return Replace(R(), "Delete file " + kEngine + " ok", "Cannot delete file " + kEngine); },
     "partly repaired", 20, {"engine file not deleted: 1"},
     {{"engine file not deleted: " + kEngine, "Cannot delete"}}},
    {"pending renames kept by a denied key",
     [] {
         std::string log = Replace(R(), "Delete registry key ok", "Cannot open registry key, error=5");
         return Fail(log, "RemovePendingFileROp()");
     },
     "partly repaired", 20, {"pending renames not removed (error 5)"},
     {{"Cannot open registry key, error=5", "Cannot open registry key"}}},
    {"unexpected restore error",
     [] { return Insert(R(), "Skipping: [", Line("[ERROR]:  RestoreQuarantine - Index path too long: x")); },
     "partly repaired", 20, {"1 restore error line(s)"}, {{"Index path too long", "Index path too long"}}},
    {"product not started again", [] { return Fail(R(), "MyStartService(CVMSG)"); }, "product left stopped",
     21, {"not started again: CVMSG"}, {{"MyStartService(CVMSG) result=fail", "(CVMSG) result=fail"}}},
    {"a product left stopped outranks failed restores",
     [] { return Fail(Failed(R(), "C3.xml"), "StartCVApp(cvtray.exe)"); }, "product left stopped", 21,
     {"not started again: cvtray.exe", "1 restore(s) failed"}, {}},
    {"every restore failed", [] { return Replace(R(), "] ok\r\n", "] failed\r\n"); }, "not repaired", 22,
     {"3 restore(s) failed"}, {}},
    {"nothing restored outranks the product left stopped",
     [] { return Fail(Replace(R(), "] ok\r\n", "] failed\r\n"), "StartCVApp(cvtray.exe)"); }, "not repaired",
     22, {"not started again: cvtray.exe", "3 restore(s) failed"}, {}},
    {"quarantine unreachable",
     [] {
         return Insert(DropLines(R(), "RestoreQuarantine - "), kRestoreAnnounce,
                       Line("[ERROR]:  GetQuarFolderPath - Cannot open registry path: SOFTWARE\\Corvanta\\") +
                           Line("[ERROR]:  RestoreQuarantine - Could not init vaultkit!") +
                           Line("[ALL]:    RestoreQuarantine - ok"));
     },
     "not repaired", 22, {"quarantine library did not start", "quarantine folder not found in the registry"},
     {{"Could not init vaultkit!", "Could not init vaultkit!"}, {"registry path", "GetQuarFolder"}}},
    {"nothing installed, a real run", N, "not repaired", 22, kNothingDone, {}},
    {"several runs: the last counts",
     [] { return N() + R() + Pid(N(), "00000880", "00000300"); }, "not repaired", 22, kNothingDone,
     {{"lines 161-228: run of process 300", "=====started====="}}},
    {"a process id reused after a run that died",
     [] { return N().substr(0, After(N(), "RemoveFileRec(cvheur.xr0) ...")) + WithoutBom(N()); },
     "not repaired", 22, kNothingDone, {{"lines 41-108: run of process 880", "=====started====="}}},
    {"two runs at once come apart by process id",
     [] {
         std::string run = WithoutBom(R());
         return Interleaved(run, Failed(Pid(run, "00004512", "00007000"), "C3.xml"));
     },
     "partly repaired", 20, {"1 restore(s) failed", "no byte-order mark"},
     {{"run of process 7000", "[PID:00007000]"}}},
    {"zero bytes in an older run only",
     [] { return Insert(R(), kRestoreAnnounce, std::string(4096, '\0')) + WithoutBom(N()); }, "not repaired",
     22, {"4096 zero bytes at byte 6730", "quarantine", "not started again"}, {}},
    {"another run in progress", [] { return Fixture("another-run.dbg"); }, "another run in progress", 23,
     {"this one did nothing", "has not finished"},
     {{"Another run is in progress, nothing done", "DoSanarix - Another run"}}},
    {"the run found in progress has finished since",
     [] {
         std::string rest = WithoutBom(R());
         return Fixture("another-run.dbg") + rest.substr(After(rest, "MyStartService(CVMSG) result=ok"));
     },
     "repaired", 0, {"found this one in progress and did nothing"},
     {{"nothing done (process 4620)", "DoSanarix - Another run"}}},
    {"last run cut off in the middle of a line",
     [] {
         std::string next = WithoutBom(Pid(R(), "00004512", "00004600"));
         return R() + next.substr(0, After(next, kRestoreAnnounce) + 40);
     },
     "run incomplete", 24,
     {"ended during RestoreQuarantine", "previous run 2026-03-17 09:14:02: repaired", "1 foreign line"}, {},
     {"restore", "cut"}},
    {"a result line missing", [] { return DropLines(R(), "MyStartService(CVUPDATE) result"); },
     "run incomplete", 24, {"step lines missing"}, {}},
    {"zero bytes inside the run", [] { return Insert(R(), kRestoreAnnounce, std::string(100, '\0')); },
     "run incomplete", 24, {"run damaged", "100 zero bytes at byte 6730"}, {}},
    {"power lost while the run wrote",
     [] { return R().substr(0, After(R(), kRestoreAnnounce)) + std::string(512, '\0'); }, "run incomplete",
     24,
     {"ended during RestoreQuarantine", "512 zero bytes"}, {}},
    {"start marker trimmed away, judged from what is left", [] { return Trimmed(R(), kRestoreAnnounce); },
     "repaired", 0, {"start of the run trimmed away: judged from line 1 on", "trimmed"}, {}},
    {"trimmed inside the restore, a failure left",
     [] { return Trimmed(Failed(R(), "C3.xml"), "Skipping: ["); }, "partly repaired", 20,
     {"1 restore(s) failed", "trimmed"}, {{"restore failed: " + kQuar + "C3.xml", "C3.xml] failed"}}},
    {"trimmed past the restore", [] { return Trimmed(R(), "RestoreQuarantine(trojan.fakealert.5) result"); },
     "run incomplete", 24, {"restore lines lost", "trimmed: oldest part dropped"}, {}},
    {"fields only, no run", [] { return "\xEF\xBB\xBF" + Line("") + Line(""); }, "run incomplete", 24,
     {"no run in the log"}, {}},
    {"a copy without byte-order mark", [] { return WithoutBom(R()); }, "repaired", 0, {"no byte-order mark"},
     {}},
    {"a huge foreign head before the log", [] { return std::string(6 << 20, 'j') + "\r\n" + R(); },
     "repaired", 0, {"only the last 6 MiB read"}, {}},
    {"no log", nullptr, "no log", 25, {"not found"}, {}},
    {"empty file", [] { return ""s; }, "not a debug log", 26, {"empty file"}, {}},
    {"a spreadsheet", [] { return "name,verdict\r\nPC1,ok\r\n"s; }, "not a debug log", 26,
     {"no debug log lines"}, {}},
    {"another program's log", [] { return Replace(Line("[ALL]:    x"), "[SANARIX]", "[CVHOST]"); },
     "not a debug log", 26, {"log of another program [CVHOST]"}, {}},
    {"re-encoded as UTF-16", [] { return "\xFF\xFE[\0P\0I\0D\0"s; }, "unreadable", 27, {"UTF-16"}, {}},
    {"a path in Latin-1", [] { return Line("[ALL]:    x C:\\J\xFCrgen"); }, "unreadable", 27,
     {"invalid UTF-8 at byte 77"}, {}},
    {"binary data", [] { return "\x7F" "ELF\x02\x01\x01\0\0\0\0\0\0\0\0\0\x03\0\x3E\0\xFF"s; }, "unreadable",
     27, {"binary data"}, {}},
};

TEST(Verdict, EveryCaseGivesItsVerdictCodeNotesAndEvidence)
{
    CTempFolder temp;
    const fs::path path = temp.Path() / "case.dbg";
    for (const CCase& c : kCases) {
        SCOPED_TRACE(c.m_name);
        fs::remove(path);
        if (c.m_log)
            WriteBytes(path, c.m_log());
        const std::vector<std::string> log = Lines(c.m_log ? ReadBytes(path) : "");
        std::ostringstream out, err, detected, csv;
        EXPECT_EQ(RunLogReader({"--check", path, "--details"}, out, err), c.m_code);
        EXPECT_EQ(RunLogReader({"--detect", path}, detected, err), 0);
        EXPECT_EQ(detected.str(), c.m_code == 0 ? "repaired\n" : "");
        const std::vector<std::string> lines = Lines(out.str());
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines[0], c.m_verdict);
        std::string notes; // the lines after the verdict, less the evidence ("  line 57: ...")
        for (size_t i = 1; i < lines.size(); ++i)
            notes += lines[i].rfind("  line", 0) == 0 ? "" : lines[i] + "\n";
        for (const std::string& part : c.m_notes)
            EXPECT_NE(notes.find(part), std::string::npos) << part << " not in\n" << notes;
        for (const std::string& note : Lines(notes)) {
            EXPECT_TRUE(std::any_of(c.m_notes.begin(), c.m_notes.end(), [&](const std::string& part) {
                return note.find(part) != std::string::npos;
            })) << "a note not expected: " << note;
        }
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
