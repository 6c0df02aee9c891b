// The verdict rules, one change of the repaired run at a time, and the verdicts on files that
// are not logs. Each case is what a machine in the field can leave behind.
#include "tests/logreader/LogFixtures.h"
#include "tools/logreader/LogVerdict.h"
#include <gtest/gtest.h>

namespace {

const std::string kQuar = "C:\\ProgramData\\Corvanta\\Quarantine\\";
const std::string kFields = "[PID:00004512][TID:00004516][2026-03-17-09:15:07][~][SANARIX]";
const char kRestoreAnnounce[] = "DoSanarix - RestoreQuarantine(trojan.fakealert.5) ...";

CLogReport Judge(const std::string& bytes)
{
    return JudgeLog(AnalyseLog(bytes, false));
}

bool HasNote(const CLogReport& report, const std::string& part)
{
    for (const std::string& note : report.m_notes) {
        if (note.find(part) != std::string::npos)
            return true;
    }
    return false;
}

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

std::string Repaired()
{
    return ReadFixture(kRepaired);
}

std::string AllRestoresFailed()
{
    return ReplaceAll(Repaired(), "] ok\r\n", "] failed\r\n");
}

// The restore as it reads when the product's quarantine key is missing.
std::string QuarantineUnreachable()
{
    std::string log = DropLines(Repaired(), "RestoreQuarantine - ");
    return InsertAfterLine(log, kRestoreAnnounce,
                           kFields + "[ALL]:    RestoreQuarantine - szVirusName=trojan.fakealert.5\r\n" +
                           kFields + "[ERROR]:  GetQuarFolderPath - Cannot open registry path: SOFTWARE\\Corvanta\\Corvanta Quarantine\\\r\n" +
                           kFields + "[ERROR]:  RestoreQuarantine - Could not init vaultkit!\r\n" +
                           kFields + "[ALL]:    RestoreQuarantine - ok\r\n");
}

TEST(Verdict, RepairedRun)
{
    CLogReport report = Judge(Repaired());
    EXPECT_EQ(report.m_verdict, EVerdict::Repaired);
    EXPECT_TRUE(report.m_notes.empty()) << report.m_notes.front();
    EXPECT_TRUE(report.m_bHasRun);
    EXPECT_EQ(report.m_nRuns, 1u);
}

TEST(Verdict, NothingToRestoreIsRepaired)
{
    CLogReport report = Judge(DropLines(Repaired(), "Restoring: ["));
    EXPECT_EQ(report.m_verdict, EVerdict::Repaired);
    EXPECT_TRUE(HasNote(report, "nothing to restore"));
}

TEST(Verdict, HarmlessFailuresKeepRepaired)
{
    // No renames pending, and every stop failing: neither leaves anything unrepaired.
    std::string log = ReplaceLine(Repaired(), "DeleteRegistryKey - Delete registry key ok",
                                  "DeleteRegistryKey - Cannot delete registry key, error=2");
    log = ReplaceLine(log, "RemovePendingFileROp() result=ok", "RemovePendingFileROp() result=fail");
    log = ReplaceAll(log, "StopCVApp(cvhost.exe) result=ok", "StopCVApp(cvhost.exe) result=fail");
    CLogReport report = Judge(log);
    EXPECT_EQ(report.m_verdict, EVerdict::Repaired);
    EXPECT_TRUE(report.m_notes.empty());
}

TEST(Verdict, SomeRestoresFailedIsPartly)
{
    std::string log = ReplaceLine(Repaired(), "RestoreQuarantine - Restoring: [" + kQuar + "C3.xml] ok",
                                  "RestoreQuarantine - Restoring: [" + kQuar + "C3.xml] failed");
    CLogReport report = Judge(log);
    EXPECT_EQ(report.m_verdict, EVerdict::PartlyRepaired);
    EXPECT_TRUE(HasNote(report, "1 restore(s) failed"));
}

TEST(Verdict, EveryRestoreFailedIsNotRepaired)
{
    CLogReport report = Judge(AllRestoresFailed());
    EXPECT_EQ(report.m_verdict, EVerdict::NotRepaired);
    EXPECT_TRUE(HasNote(report, "3 restore(s) failed"));
    // Not even a product that failed to start again changes that.
    std::string worse = ReplaceLine(AllRestoresFailed(), "StartCVApp(cvtray.exe) result=ok",
                                    "StartCVApp(cvtray.exe) result=fail");
    EXPECT_EQ(Judge(worse).m_verdict, EVerdict::NotRepaired);
    EXPECT_TRUE(HasNote(Judge(worse), "not started again: cvtray.exe"));
}

TEST(Verdict, UnreachableQuarantineIsNotRepaired)
{
    CLogReport report = Judge(QuarantineUnreachable());
    EXPECT_EQ(report.m_verdict, EVerdict::NotRepaired);
    EXPECT_TRUE(HasNote(report, "quarantine library did not start"));
    EXPECT_TRUE(HasNote(report, "quarantine folder not found in the registry"));
    // The real run with nothing installed: the restore step itself reports fail.
    CLogReport real = Judge(ReadFixture(kNothingInstalled));
    EXPECT_EQ(real.m_verdict, EVerdict::NotRepaired);
    EXPECT_TRUE(HasNote(real, "not started again: CVMSG, CVUPDATE, cvhost.exe, cvtray.exe"));
}

TEST(Verdict, ProductNotStartedAgainIsPartly)
{
    std::string log = ReplaceLine(Repaired(), "MyStartService(CVMSG) result=ok", "MyStartService(CVMSG) result=fail");
    CLogReport report = Judge(log);
    EXPECT_EQ(report.m_verdict, EVerdict::PartlyRepaired);
    EXPECT_TRUE(HasNote(report, "not started again: CVMSG"));
}

TEST(Verdict, LeftoversOfTheCleanupArePartly)
{
    const std::string engine = "C:\\Program Files\\Common Files\\Corvanta\\Corvanta Scan Kernel\\x64\\cvheur.xr0";
    CLogReport file = Judge(ReplaceLine(Repaired(), "Delete file " + engine + " ok", "Cannot delete file " + engine));
    EXPECT_EQ(file.m_verdict, EVerdict::PartlyRepaired);
    EXPECT_TRUE(HasNote(file, "engine file not deleted: 1"));

    std::string denied = ReplaceLine(Repaired(), "[ERROR]:  DeleteRegistryKey - Delete registry key ok",
                                     "[ERROR]:  DeleteRegistryKey - Cannot open registry key, error=5");
    denied = ReplaceLine(denied, "RemovePendingFileROp() result=ok", "RemovePendingFileROp() result=fail");
    CLogReport registry = Judge(denied);
    EXPECT_EQ(registry.m_verdict, EVerdict::PartlyRepaired);
    EXPECT_TRUE(HasNote(registry, "pending renames not removed (error 5)"));
}

TEST(Verdict, UnexpectedRestoreErrorIsPartly)
{
    std::string log = InsertAfterLine(Repaired(), "Skipping: [",
                                      kFields + "[ERROR]:  RestoreQuarantine - Index path too long: C:\\x\r\n");
    CLogReport report = Judge(log);
    EXPECT_EQ(report.m_verdict, EVerdict::PartlyRepaired);
    EXPECT_TRUE(HasNote(report, "1 restore error line(s)"));
}

TEST(Verdict, LastRunCutOffIsIncompleteAndNamesThePreviousRun)
{
    std::string repaired = Repaired();
    std::string cut = repaired.substr(0, OffsetAfterLine(repaired, kRestoreAnnounce));
    CLogReport report = Judge(ReadFixture(kNothingInstalled) + WithoutBom(cut));
    EXPECT_EQ(report.m_verdict, EVerdict::RunIncomplete);
    EXPECT_TRUE(HasNote(report, "ended during RestoreQuarantine"));
    EXPECT_TRUE(HasNote(report, "previous run 2026-12-06 15:38:50: not repaired"));
    EXPECT_EQ(report.m_nRuns, 2u);
    EXPECT_FALSE(report.m_run.m_bHasStop);
}

TEST(Verdict, RunsWithoutAllTheirLinesAreIncomplete)
{
    // Stop marker there, a result line gone.
    CLogReport missing = Judge(DropLines(Repaired(), "MyStartService(CVUPDATE) result"));
    EXPECT_EQ(missing.m_verdict, EVerdict::RunIncomplete);
    EXPECT_TRUE(HasNote(missing, "step lines missing"));

    // Start trimmed away.
    std::string body = WithoutBom(Repaired());
    CLogReport trimmed = Judge("\xEF\xBB\xBF" + body.substr(OffsetAfterLine(body, kRestoreAnnounce)));
    EXPECT_EQ(trimmed.m_verdict, EVerdict::RunIncomplete);
    EXPECT_TRUE(HasNote(trimmed, "start of the run is missing"));
    EXPECT_TRUE(HasNote(trimmed, "trimmed"));

    // Zeros in the middle of the run.
    size_t hole = OffsetAfterLine(Repaired(), kRestoreAnnounce);
    CLogReport damaged = Judge(Repaired().substr(0, hole) + std::string(100, '\0') + Repaired().substr(hole));
    EXPECT_EQ(damaged.m_verdict, EVerdict::RunIncomplete);
    EXPECT_TRUE(HasNote(damaged, "100 zero bytes at byte"));
}

TEST(Verdict, TrimmedOlderRunDoesNotSpoilACompleteLastRun)
{
    std::string body = WithoutBom(Repaired());
    std::string log = "\xEF\xBB\xBF" + body.substr(OffsetAfterLine(body, kRestoreAnnounce)) +
                      WithoutBom(WithPid(Repaired(), "00004512", "00004600"));
    CLogReport report = Judge(log);
    EXPECT_EQ(report.m_verdict, EVerdict::Repaired);
    EXPECT_TRUE(HasNote(report, "trimmed"));
}

TEST(Verdict, FilesThatAreNotLogs)
{
    EXPECT_EQ(Judge("").m_verdict, EVerdict::NotALog);
    EXPECT_TRUE(HasNote(Judge(""), "empty file"));
    EXPECT_EQ(Judge("name,verdict\r\nPC1,ok\r\n").m_verdict, EVerdict::NotALog);
    CLogReport other = Judge("[PID:00000010][TID:00000011][2011-04-02-14:05:33][~][CVHOST][ALL]:    x\r\n");
    EXPECT_EQ(other.m_verdict, EVerdict::NotALog);
    EXPECT_TRUE(HasNote(other, "[CVHOST]"));
    CLogReport utf16 = Judge(std::string("\xFF\xFE[\0P\0I\0D\0", 10));
    EXPECT_EQ(utf16.m_verdict, EVerdict::Unreadable);
    EXPECT_TRUE(HasNote(utf16, "UTF-16"));
    CLogReport binary = Judge(std::string("\x7F" "ELF\x02\x01\x01\0\0\0\0\0\0\0\0\0\x03\0\x3E\0\xFF", 21));
    EXPECT_EQ(binary.m_verdict, EVerdict::Unreadable);
    EXPECT_TRUE(HasNote(binary, "binary data"));
    EXPECT_FALSE(binary.m_bHasRun);
}

TEST(Verdict, LogWithoutRunOrBom)
{
    const std::string fields = "[PID:00000268][TID:00000272][2026-12-06-15:38:50][~][SANARIX]\r\n";
    CLogReport noRun = Judge("\xEF\xBB\xBF" + fields + fields);
    EXPECT_EQ(noRun.m_verdict, EVerdict::RunIncomplete);
    EXPECT_TRUE(HasNote(noRun, "no run in the log"));
    // A copy that lost its byte-order mark is still judged, with a note.
    CLogReport noBom = Judge(WithoutBom(Repaired()));
    EXPECT_EQ(noBom.m_verdict, EVerdict::Repaired);
    EXPECT_TRUE(HasNote(noBom, "no byte-order mark"));
}

} // namespace
