// The verdict rules, one change of a real or a written log at a time, and the verdicts on
// files that are not logs: one table of what machines in the field leave behind. Each case
// names the notes the verdict must give and the lines its evidence must cite.
#include "tests/logreader/LogFixtures.h"
#include "tools/logreader/LogVerdict.h"
#include <gtest/gtest.h>
#include <functional>

namespace {

const std::string kQuar = "C:\\ProgramData\\Corvanta\\Quarantine\\";
const std::string kFields = "[PID:00004512][TID:00004516][2026-03-17-09:15:07][~][SANARIX]";
const std::string kEngine = "C:\\Program Files\\Common Files\\Corvanta\\Corvanta Scan Kernel\\x64\\cvheur.xr0";
const char kRestoreAnnounce[] = "DoSanarix - RestoreQuarantine(trojan.fakealert.5) ...";
const char kRestoreResult[] = "DoSanarix - RestoreQuarantine(trojan.fakealert.5) result=ok";

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

std::string InsertAfterLine(const std::string& log, const std::string& part, const std::string& lines)
{
    size_t at = OffsetAfterLine(log, part);
    EXPECT_NE(at, std::string::npos) << part;
    return log.substr(0, at) + lines + log.substr(at);
}

// The log from the line after the one that contains part, as the trim leaves it.
std::string TrimmedAfter(const std::string& log, const std::string& part)
{
    std::string body = WithoutBom(log);
    return "\xEF\xBB\xBF" + body.substr(OffsetAfterLine(body, part));
}

std::string Repaired()
{
    return ReadFixture(kRepaired);
}

std::string Failed(const std::string& log, const std::string& item)
{
    return ReplaceLine(log, "[ALL]:    RestoreQuarantine - Restoring: [" + kQuar + item + "] ok",
                       "[ERROR]:  RestoreQuarantine - Restoring: [" + kQuar + item + "] failed");
}

std::string StartFailed(const std::string& log, const std::string& step)
{
    return ReplaceLine(log, step + " result=ok", step + " result=fail");
}

struct CCitation
{
    std::string m_evidence; // part of one evidence entry
    std::string m_line;     // part of the log line that entry must name by number
};

struct CVerdictCase
{
    const char* m_name;
    std::function<std::string()> m_log;
    EVerdict m_verdict;
    std::vector<std::string> m_notes;
    std::vector<CCitation> m_cited;
};

const CVerdictCase kCases[] = {
    {"repaired", Repaired, EVerdict::Repaired, {}, {{"lines 3-88: run of process 4512", "=====started====="}}},
    {"nothing to restore", [] { return DropLines(Repaired(), "Restoring: ["); },
     EVerdict::Repaired, {"nothing to restore"}, {}},
    {"no renames pending and failed stops are harmless",
     [] {
         std::string log = ReplaceLine(Repaired(), "DeleteRegistryKey - Delete registry key ok",
                                       "DeleteRegistryKey - Cannot delete registry key, error=2");
         log = ReplaceLine(log, "RemovePendingFileROp() result=ok", "RemovePendingFileROp() result=fail");
         return ReplaceAll(log, "StopCVApp(cvhost.exe) result=ok", "StopCVApp(cvhost.exe) result=fail");
     },
     EVerdict::Repaired, {}, {}},
    {"a file already there is kept, not failed",
     [] {
         return InsertAfterLine(Failed(Repaired(), "C3.xml"), "C3.xml] failed",
                                kFields + "[INFO]:   RestoreQuarantine - File already there, kept: "
                                          "name=budget.xls path=C:\\Users\\Public\\\r\n");
     },
     EVerdict::Repaired, {"1 already there, kept"},
     {{"already there, kept: " + kQuar + "C3.xml (File already there, kept: name=budget.xls", "C3.xml] failed"}}},
    {"some restores failed", [] { return Failed(Repaired(), "C3.xml"); }, EVerdict::PartlyRepaired,
     {"1 restore(s) failed"}, {{"restore failed: " + kQuar + "C3.xml", "C3.xml] failed"}}},
    {"engine file left",
     [] { return ReplaceLine(Repaired(), "Delete file " + kEngine + " ok", "Cannot delete file " + kEngine); },
     EVerdict::PartlyRepaired, {"engine file not deleted: 1"},
     {{"engine file not deleted: " + kEngine, "Cannot delete file"}}},
    {"pending renames kept by a denied key",
     [] {
         std::string log = ReplaceLine(Repaired(), "[ERROR]:  DeleteRegistryKey - Delete registry key ok",
                                       "[ERROR]:  DeleteRegistryKey - Cannot open registry key, error=5");
         return ReplaceLine(log, "RemovePendingFileROp() result=ok", "RemovePendingFileROp() result=fail");
     },
     EVerdict::PartlyRepaired, {"pending renames not removed (error 5)"},
     {{"Cannot open registry key, error=5", "Cannot open registry key"}}},
    {"unexpected restore error",
     [] {
         return InsertAfterLine(Repaired(), "Skipping: [",
                                kFields + "[ERROR]:  RestoreQuarantine - Index path too long: C:\\x\r\n");
     },
     EVerdict::PartlyRepaired, {"1 restore error line(s)"}, {{"Index path too long", "Index path too long"}}},
    {"product not started again",
     [] { return StartFailed(Repaired(), "MyStartService(CVMSG)"); }, EVerdict::ProductLeftStopped,
     {"not started again: CVMSG"}, {{"MyStartService(CVMSG) result=fail", "MyStartService(CVMSG) result="}}},
    {"a product left stopped outranks failed restores",
     [] { return StartFailed(Failed(Repaired(), "C3.xml"), "StartCVApp(cvtray.exe)"); },
     EVerdict::ProductLeftStopped, {"not started again: cvtray.exe", "1 restore(s) failed"}, {}},
    {"every restore failed", [] { return ReplaceAll(Repaired(), "] ok\r\n", "] failed\r\n"); },
     EVerdict::NotRepaired, {"3 restore(s) failed"}, {}},
    {"nothing restored outranks the product left stopped",
     [] { return StartFailed(ReplaceAll(Repaired(), "] ok\r\n", "] failed\r\n"), "StartCVApp(cvtray.exe)"); },
     EVerdict::NotRepaired, {"not started again: cvtray.exe"}, {}},
    {"quarantine unreachable",
     [] {
         std::string log = DropLines(Repaired(), "RestoreQuarantine - ");
         return InsertAfterLine(log, kRestoreAnnounce,
             kFields + "[ERROR]:  GetQuarFolderPath - Cannot open registry path: SOFTWARE\\Corvanta\\Corvanta Quarantine\\\r\n" +
             kFields + "[ERROR]:  RestoreQuarantine - Could not init vaultkit!\r\n" +
             kFields + "[ALL]:    RestoreQuarantine - ok\r\n");
     },
     EVerdict::NotRepaired, {"quarantine library did not start", "quarantine folder not found in the registry"},
     {{"Could not init vaultkit!", "Could not init vaultkit!"}, {"Cannot open registry path", "GetQuarFolderPath"}}},
    {"nothing installed, a real run", [] { return ReadFixture(kNothingInstalled); }, EVerdict::NotRepaired,
     {"quarantine library did not start", "not started again: CVMSG, CVUPDATE, cvhost.exe, cvtray.exe"}, {}},
    {"another run in progress", [] { return ReadFixture(kAnotherRun); }, EVerdict::AnotherRunInProgress,
     {"has not finished"}, {{"Another run is in progress, nothing done", "DoSanarix - Another run"}}},
    {"the run found in progress has finished since",
     [] {
         std::string idle = ReadFixture(kAnotherRun);
         std::string rest = WithoutBom(Repaired());
         return idle + rest.substr(OffsetAfterLine(rest, "MyStartService(CVMSG) result=ok"));
     },
     EVerdict::Repaired, {"found this one in progress and did nothing"},
     {{"Another run is in progress, nothing done (process 4620)", "DoSanarix - Another run"}}},
    {"last run cut off",
     [] {
         std::string cut = Repaired().substr(0, OffsetAfterLine(Repaired(), kRestoreAnnounce));
         return Repaired() + WithoutBom(WithPid(cut, "00004512", "00004600"));
     },
     EVerdict::RunIncomplete, {"ended during RestoreQuarantine", "previous run 2026-03-17 09:14:02: repaired"}, {}},
    {"a result line missing", [] { return DropLines(Repaired(), "MyStartService(CVUPDATE) result"); },
     EVerdict::RunIncomplete, {"step lines missing"}, {}},
    {"zero bytes inside the run",
     [] {
         size_t hole = OffsetAfterLine(Repaired(), kRestoreAnnounce);
         return Repaired().substr(0, hole) + std::string(100, '\0') + Repaired().substr(hole);
     },
     EVerdict::RunIncomplete, {"100 zero bytes at byte"}, {}},
    {"start trimmed away, judged from what is left", [] { return TrimmedAfter(Repaired(), kRestoreAnnounce); },
     EVerdict::Repaired, {"start of the run trimmed away: judged from line 1 on", "trimmed"}, {}},
    {"trimmed inside the restore, a failure left",
     [] { return TrimmedAfter(Failed(Repaired(), "C3.xml"), "Skipping: ["); }, EVerdict::PartlyRepaired,
     {"1 restore(s) failed"}, {{"restore failed: " + kQuar + "C3.xml", "C3.xml] failed"}}},
    {"trimmed past the restore", [] { return TrimmedAfter(Repaired(), kRestoreResult); },
     EVerdict::RunIncomplete, {"restore lines lost"}, {}},
    {"a trimmed older run and a complete last run",
     [] { return TrimmedAfter(Repaired(), kRestoreAnnounce) + WithoutBom(WithPid(Repaired(), "00004512", "00004600")); },
     EVerdict::Repaired, {"trimmed"}, {}},
    {"fields only, no run",
     [] { return "\xEF\xBB\xBF" + kFields + "\r\n" + kFields + "\r\n"; }, EVerdict::RunIncomplete,
     {"no run in the log"}, {}},
    {"a copy without byte-order mark", [] { return WithoutBom(Repaired()); }, EVerdict::Repaired,
     {"no byte-order mark"}, {}},
    {"empty file", [] { return std::string(); }, EVerdict::NotALog, {"empty file"}, {}},
    {"a spreadsheet", [] { return std::string("name,verdict\r\nPC1,ok\r\n"); }, EVerdict::NotALog,
     {"no debug log lines"}, {}},
    {"another program's log",
     [] { return std::string("[PID:00000010][TID:00000011][2011-04-02-14:05:33][~][CVHOST][ALL]:    x\r\n"); },
     EVerdict::NotALog, {"[CVHOST]"}, {}},
    {"re-encoded as UTF-16", [] { return std::string("\xFF\xFE[\0P\0I\0D\0", 10); }, EVerdict::Unreadable,
     {"UTF-16"}, {}},
    {"binary data",
     [] { return std::string("\x7F" "ELF\x02\x01\x01\0\0\0\0\0\0\0\0\0\x03\0\x3E\0\xFF", 21); },
     EVerdict::Unreadable, {"binary data"}, {}},
};

TEST(Verdict, EveryCaseGivesItsVerdictNotesAndEvidence)
{
    for (const CVerdictCase& c : kCases) {
        SCOPED_TRACE(c.m_name);
        const std::string log = c.m_log();
        CLogReport report = JudgeLog(AnalyseLog(log, false));
        EXPECT_EQ(VerdictText(report.m_verdict), std::string(VerdictText(c.m_verdict)));
        std::string notes;
        for (const std::string& note : report.m_notes)
            notes += note + "\n";
        for (const std::string& part : c.m_notes)
            EXPECT_NE(notes.find(part), std::string::npos) << part << " not in\n" << notes;
        if (c.m_notes.empty() && c.m_verdict == EVerdict::Repaired) {
            EXPECT_EQ(notes, "") << "a clean run needs no note";
        }
        for (const CCitation& cited : c.m_cited) {
            size_t line = 0;
            for (const std::string& entry : report.m_evidence) {
                if (entry.find(cited.m_evidence) != std::string::npos)
                    line = std::stoul(entry.substr(entry.find(' ') + 1));
            }
            ASSERT_NE(line, 0u) << cited.m_evidence << " not cited";
            size_t start = 0;
            for (size_t n = 1; n < line; ++n)
                start = log.find('\n', start) + 1;
            std::string text = log.substr(start, log.find('\n', start) - start);
            EXPECT_NE(text.find(cited.m_line), std::string::npos) << "line " << line << ": " << text;
        }
    }
}

} // namespace
