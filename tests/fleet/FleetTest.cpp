// The wrapper sanarix-run.cmd as a deployment tool runs it under Wine's cmd, with a stand-in
// for sanarix.exe that appends a given log after a pause: it must create the log's folder,
// wait for the run, exit with the code of the verdict on that run's log, keep the pending
// renames and logreader.exe, and never judge a log an older run left. The logs are the real
// runs' logs of the end-to-end scenarios.
#include "tests/logreader/LogModel.h"
#include "tools/logreader/LogReaderCommand.h"
#include "tools/product/ProcessTools.h"
#include <optional>

namespace {

using namespace std::string_literals;

// The wrapper run to its end, FLEET_RUN_LOG set for the stand-in run; its output without the
// line ends at its end.
CRunResult RunCaptured(const std::wstring& command, const std::wstring& runLog = L"")
{
    SetEnvironmentVariableW(L"FLEET_RUN_LOG", runLog.empty() ? nullptr : runLog.c_str());
    CRunResult run = RunProgram(L"", command, 60000, /*catchOutput=*/true);
    run.m_sOutput.erase(run.m_sOutput.find_last_not_of("\r\n") + 1);
    return run;
}

std::string RealLog(const char* machine)
{
    return ReadBytes(fs::u8path(FLEET_E2E_LOGS "/"s + machine + "/sanarix.dbg"));
}

TEST(Fleet, TheWrapperPassesTheVerdictOfItsOwnRunThrough)
{
    const std::pair<std::optional<std::string>, const char*> runs[] = {
        {RealLog("E2E-FIRST-RUN"), "repaired"},
        {RealLog("E2E-SECOND-RUN"), "repaired"},
        {RealLog("E2E-IGNORED-STOP"), "repaired"},
        {RealLog("E2E-NOTHING-INSTALLED"), "not repaired"},
        {Replace(RealLog("E2E-FIRST-RUN"), "StartService(CVUPDATE) result=ok",
                 "StartService(CVUPDATE) result=fail"), "product left stopped"},
        {std::nullopt, "no log"}, // the run writes nothing
    };
    wchar_t data[MAX_PATH] = {}, programFiles[MAX_PATH] = {};
    ASSERT_TRUE(GetEnvironmentVariableW(L"ProgramData", data, MAX_PATH));
    ASSERT_TRUE(GetEnvironmentVariableW(L"ProgramFiles", programFiles, MAX_PATH));
    const fs::path logFolder = fs::path(data) / "Corvanta" / "DTrace";
    const fs::path installed = fs::path(programFiles) / "Sanarix" / "logreader.exe";
    CTempFolder temp;
    const fs::path package = temp.Path() / "package", runLog = temp.Path() / "run.dbg";
    fs::create_directories(package);
    fs::copy_file(fs::u8path(FLEET_SOURCE_DIR "/tools/sanarix-run.cmd"), package / "sanarix-run.cmd");
    fs::copy_file(fs::u8path(FLEET_LOGREADER_EXE), package / "logreader.exe");
    fs::copy_file(fs::u8path(FLEET_FAKE_RUN_EXE), package / "sanarix.exe");
    const std::wstring wrapper = L"cmd.exe /c \"" + (package / "sanarix-run.cmd").wstring() + L"\"";
    // Renames pending, which the wrapper saves before the run deletes them.
    HKEY sessionManager = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0,
                              nullptr, 0, KEY_SET_VALUE, nullptr, &sessionManager, nullptr), ERROR_SUCCESS);
    const wchar_t renames[] = L"\\??\\C:\\fleet-test.tmp\0\0";
    RegSetValueExW(sessionManager, L"PendingFileRenameOperations", 0, REG_MULTI_SZ,
                   reinterpret_cast<const BYTE*>(renames), sizeof renames);
    for (const auto& [log, verdict] : runs) {
        SCOPED_TRACE(verdict);
        fs::remove(installed);
        // A machine without the log's folder: the wrapper makes it, the run appends to the log.
        fs::remove_all(logFolder);
        if (log)
            WriteBytes(runLog, *log);
        CRunResult wrapped = RunCaptured(wrapper, log ? runLog.wstring() : L"");
        EXPECT_EQ(wrapped.m_sOutput, verdict);
        std::ostringstream checked, err;
        const int verdictCode = RunLogReader({"--check", logFolder / "sanarix.dbg"}, checked, err);
        EXPECT_EQ(wrapped.m_dwExitCode, DWORD(verdictCode));
        EXPECT_EQ(checked.str(), verdict + "\n"s);
        EXPECT_TRUE(fs::is_regular_file(installed));
        EXPECT_TRUE(fs::is_regular_file(logFolder / "pending-renames-before.reg"));
    }
    RegDeleteValueW(sessionManager, L"PendingFileRenameOperations");
    RegCloseKey(sessionManager);

    // A run that writes nothing leaves an older run's log, which the wrapper does not judge.
    WriteBytes(logFolder / "sanarix.dbg", RealLog("E2E-FIRST-RUN"));
    CRunResult silent = RunCaptured(wrapper);
    EXPECT_EQ(silent.m_sOutput, "no log");
    EXPECT_EQ(silent.m_dwExitCode, 25u);
    // Nor when its sanarix.exe cannot be started.
    fs::remove(package / "sanarix.exe");
    EXPECT_EQ(RunCaptured(wrapper).m_dwExitCode, 28u);
}

} // namespace
