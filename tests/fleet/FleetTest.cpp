// The wrapper sanarix-run.cmd as a deployment tool runs it under Wine's cmd, with a stand-in
// for sanarix.exe that appends a given log after a pause: it must create the log's folder,
// wait for the run, pass the verdict's exit code through, keep the pending renames, and never
// judge a log an older run left. The logs are the real runs' logs of the end-to-end
// scenarios, as they are and with one fault each; logreader.exe --detect is run on each too.
#include "tests/logreader/LogModel.h"
#include <windows.h>
#include <functional>

namespace {

std::wstring FromHost(const char* hostPath)
{
    std::wstring path = L"Z:";
    for (const char* c = hostPath; *c; ++c)
        path += *c == '/' ? L'\\' : wchar_t(static_cast<unsigned char>(*c));
    return path;
}

struct CRunResult
{
    DWORD m_code = 0xFFFFFFFF;
    std::string m_out; // without the line ends at its end
};

// Runs a command line with its standard output captured and FLEET_RUN_LOG set for it (and
// for what it starts) to the log the stand-in run appends.
CRunResult RunCaptured(std::wstring command, const std::wstring& runLog = L"")
{
    SetEnvironmentVariableW(L"FLEET_RUN_LOG", runLog.empty() ? nullptr : runLog.c_str());
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE read = nullptr, write = nullptr;
    CRunResult result;
    if (!CreatePipe(&read, &write, &inherit, 0))
        return result;
    SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    HANDLE nul = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = write;
    si.hStdError = si.hStdInput = nul;
    PROCESS_INFORMATION pi = {};
    BOOL started = CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                  nullptr, &si, &pi);
    CloseHandle(write);
    CloseHandle(nul);
    char buffer[4096];
    DWORD got = 0;
    while (started && ReadFile(read, buffer, sizeof buffer, &got, nullptr) && got > 0)
        result.m_out.append(buffer, got);
    CloseHandle(read);
    if (!started)
        return result;
    WaitForSingleObject(pi.hProcess, 60000);
    GetExitCodeProcess(pi.hProcess, &result.m_code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    result.m_out.erase(result.m_out.find_last_not_of("\r\n") + 1);
    return result;
}

std::string RealLog(const char* machine)
{
    return ReadBytes(fs::path(FromHost(FLEET_E2E_LOGS)) / machine / "sanarix.dbg");
}

std::string FirstRun()
{
    return RealLog("E2E-FIRST-RUN");
}

struct CWrapperCase
{
    std::function<std::string()> m_log; // null: the run writes no log
    const char* m_verdict;
    DWORD m_code;
};

const CWrapperCase kCases[] = {
    {FirstRun, "repaired", 0},
    {[] { return RealLog("E2E-SECOND-RUN"); }, "repaired", 0},
    {[] { return RealLog("E2E-IGNORED-STOP"); }, "repaired", 0},
    {[] { return RealLog("E2E-NOTHING-INSTALLED"); }, "not repaired", 22},
    {[] {
         std::string log = FirstRun();
         size_t ok = log.find("] ok\r\n");
         return log.substr(0, ok) + "] failed" + log.substr(ok + 4);
     },
     "partly repaired", 20},
    {[] {
         return Replace(FirstRun(), "StartService(CVUPDATE) result=ok", "StartService(CVUPDATE) result=fail");
     },
     "product left stopped", 21},
    {[] { return Fixture("another-run.dbg"); }, "another run in progress", 23},
    {[] { return FirstRun().substr(0, After(FirstRun(), "RestoreQuarantine(trojan.fakealert.5) ...")); },
     "run incomplete", 24},
    {nullptr, "no log", 25},
    {[] { return Replace(Line("[ALL]:    x"), "[SANARIX]", "[CVHOST]"); }, "not a debug log", 26},
    {[] {
         std::string utf16 = "\xFF\xFE";
         for (char c : WithoutBom(FirstRun()))
             utf16 += {c, '\0'};
         return utf16;
     },
     "unreadable", 27},
};

class FleetTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        wchar_t data[MAX_PATH] = {};
        ASSERT_TRUE(GetEnvironmentVariableW(L"ProgramData", data, MAX_PATH));
        m_logFolder = fs::path(data) / "Corvanta" / "DTrace";
        ASSERT_TRUE(GetEnvironmentVariableW(L"ProgramFiles", data, MAX_PATH));
        m_installed = fs::path(data) / "Sanarix";
        std::error_code ec;
        fs::remove_all(m_installed, ec);
        m_package = m_temp.Path() / "package";
        fs::create_directories(m_package);
        fs::copy_file(FromHost(FLEET_SOURCE_DIR "/tools/sanarix-run.cmd"), m_package / "sanarix-run.cmd");
        fs::copy_file(FromHost(FLEET_LOGREADER_EXE), m_package / "logreader.exe");
        fs::copy_file(FromHost(FLEET_FAKE_RUN_EXE), m_package / "sanarix.exe");
    }

    CRunResult Wrapper(const std::wstring& runLog = L"")
    {
        return RunCaptured(L"cmd.exe /c \"" + (m_package / "sanarix-run.cmd").wstring() + L"\"", runLog);
    }

    CTempFolder m_temp;
    fs::path m_logFolder;
    fs::path m_installed;
    fs::path m_package;
};

TEST_F(FleetTest, TheWrapperPassesTheVerdictOfItsOwnRunThrough)
{
    // Renames pending, which the wrapper saves before the run deletes them.
    HKEY sessionManager = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0,
                              nullptr, 0, KEY_SET_VALUE, nullptr, &sessionManager, nullptr), ERROR_SUCCESS);
    const wchar_t renames[] = L"\\??\\C:\\fleet-test.tmp\0\0";
    RegSetValueExW(sessionManager, L"PendingFileRenameOperations", 0, REG_MULTI_SZ,
                   reinterpret_cast<const BYTE*>(renames), sizeof renames);
    std::string savedName;
    for (char c : std::string("\"PendingFileRenameOperations\"=hex(7):5c,00,3f,00"))
        savedName += {c, '\0'};
    for (const CWrapperCase& c : kCases) {
        SCOPED_TRACE(c.m_verdict);
        const fs::path log = m_temp.Path() / "case.dbg";
        fs::remove(log);
        if (c.m_log)
            WriteBytes(log, c.m_log());
        // A machine without the log's folder: the wrapper makes it, the run appends to the log.
        fs::remove_all(m_logFolder);
        CRunResult wrapped = Wrapper(c.m_log ? log.wstring() : L"");
        EXPECT_EQ(wrapped.m_out, c.m_verdict);
        EXPECT_EQ(wrapped.m_code, c.m_code);
        EXPECT_TRUE(fs::is_regular_file(m_installed / "logreader.exe"));
        EXPECT_NE(ReadBytes(m_logFolder / "pending-renames-before.reg").find(savedName), std::string::npos);
        // A detection rule later: "repaired" or nothing, and 0 either way.
        const std::wstring reader = (m_installed / "logreader.exe").wstring();
        const std::wstring written = (m_logFolder / "sanarix.dbg").wstring();
        CRunResult detected = RunCaptured(L"\"" + reader + L"\" --detect \"" + written + L"\"");
        EXPECT_EQ(detected.m_out, c.m_code == 0 ? "repaired" : "");
        EXPECT_EQ(detected.m_code, 0u);
    }
    RegDeleteValueW(sessionManager, L"PendingFileRenameOperations");
    RegCloseKey(sessionManager);

    // A run that writes nothing leaves an older run's log, which the wrapper does not judge.
    WriteBytes(m_logFolder / "sanarix.dbg", FirstRun());
    CRunResult silent = Wrapper();
    EXPECT_EQ(silent.m_out, "no log");
    EXPECT_EQ(silent.m_code, 25u);
    // Nor when its sanarix.exe cannot be started.
    fs::remove(m_package / "sanarix.exe");
    EXPECT_EQ(Wrapper().m_code, 28u);
}

} // namespace
