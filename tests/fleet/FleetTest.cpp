// Fleet operations under Wine, as a deployment tool meets them: the wrapper sanarix-run.cmd
// (run by Wine's cmd), logreader.exe --check and --detect on a log of every verdict, the
// real runs' logs of the end-to-end scenarios among them, each against the table of exit
// codes and outputs in the operations guide; the guide's example report against the report
// on those real logs; and the version every program shows.
#include "tests/logreader/LogFixtures.h"
#include "tools/logreader/LogReaderCommand.h"
#include "SanarixVersion.h"
#include <windows.h>
#include <gtest/gtest.h>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <sstream>

namespace fs = std::filesystem;

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
    std::string m_out;
};

// Runs a command line with its standard output captured and FLEET_RUN_LOG set for it (and
// for what it starts) to the log a stand-in run appends.
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
    si.hStdError = nul;
    si.hStdInput = nul;
    PROCESS_INFORMATION pi = {};
    BOOL started = CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                                  nullptr, nullptr, &si, &pi);
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
    return result;
}

std::string Trimmed(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

// Cells of a Markdown table row, without the backticks.
std::vector<std::string> MarkdownCells(const std::string& row)
{
    std::vector<std::string> cells;
    std::string cell;
    for (char c : row.substr(1)) {
        if (c == '|') {
            size_t first = cell.find_first_not_of(' ');
            cells.push_back(first == std::string::npos ? "" : cell.substr(first, cell.find_last_not_of(' ') - first + 1));
            cell.clear();
        } else if (c != '`') {
            cell += c;
        }
    }
    return cells;
}

std::string Guide()
{
    return ReadBytes(fs::path(FromHost(FLEET_SOURCE_DIR "/docs/operations.md")));
}

// The guide's table of verdicts: verdict -> the cells after it.
std::map<std::string, std::vector<std::string>> ExitCodeTable()
{
    std::map<std::string, std::vector<std::string>> table;
    std::istringstream lines(Guide());
    bool inTable = false;
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.rfind("| Verdict | `logreader --check`", 0) == 0)
            inTable = true;
        else if (inTable && line.rfind("|", 0) != 0)
            break;
        else if (inTable && line.rfind("|---", 0) != 0) {
            std::vector<std::string> cells = MarkdownCells(line);
            table[cells[0]] = {cells.begin() + 1, cells.end()};
        }
    }
    return table;
}

// "`repaired`, 0" -> output "repaired", code 0; "nothing, 0" -> no output.
std::pair<std::string, DWORD> OutputAndCode(const std::string& cell)
{
    size_t comma = cell.rfind(", ");
    std::string output = cell.substr(0, comma);
    return {output == "nothing" ? "" : output, DWORD(std::stoul(cell.substr(comma + 2)))};
}

std::string RealLog(const char* machine)
{
    return ReadBytes(fs::path(FromHost(FLEET_E2E_LOGS)) / machine / "sanarix.dbg");
}

// What PowerShell's default output makes of a log: UTF-16 with a byte-order mark.
std::string AsUtf16(const std::string& utf8)
{
    std::string out = "\xFF\xFE";
    for (char c : WithoutBom(utf8))
        out += std::string{c, '\0'};
    return out;
}

struct CVerdictLog
{
    const char* m_verdict;
    std::function<std::string()> m_log; // empty: the run writes no log
};

const char kFirstRun[] = "E2E-FIRST-RUN";

const CVerdictLog kVerdictLogs[] = {
    {"repaired", [] { return RealLog(kFirstRun); }},
    {"partly repaired",
     [] {
         std::string log = RealLog(kFirstRun);
         size_t ok = log.find("] ok\r\n");
         return log.substr(0, ok) + "] failed" + log.substr(ok + 4);
     }},
    {"product left stopped",
     [] { return ReplaceLine(RealLog(kFirstRun), "MyStartService(CVUPDATE) result=ok", "MyStartService(CVUPDATE) result=fail"); }},
    {"not repaired", [] { return RealLog("E2E-NOTHING-INSTALLED"); }},
    {"another run in progress", [] { return ReadFixture(kAnotherRun); }},
    {"run incomplete",
     [] {
         std::string log = RealLog(kFirstRun);
         return log.substr(0, OffsetAfterLine(log, "DoSanarix - RestoreQuarantine(trojan.fakealert.5) ..."));
     }},
    {"no log", nullptr},
    {"not a debug log", [] { return std::string("[PID:00000010][TID:00000011][2026-12-01-14:05:33][~][CVHOST][ALL]:    x\r\n"); }},
    {"unreadable", [] { return AsUtf16(RealLog(kFirstRun)); }},
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
        m_programFiles = data;
        std::error_code ec;
        fs::remove_all(m_programFiles / "Sanarix", ec);
        m_package = m_temp.Path() / "package";
        fs::create_directories(m_package);
        fs::copy_file(FromHost(FLEET_SOURCE_DIR "/tools/sanarix-run.cmd"), m_package / "sanarix-run.cmd");
        fs::copy_file(FromHost(FLEET_LOGREADER_EXE), m_package / "logreader.exe");
        fs::copy_file(FromHost(FLEET_FAKE_RUN_EXE), m_package / "sanarix.exe");
    }

    std::wstring Quoted(const fs::path& path) { return L"\"" + path.wstring() + L"\""; }

    CTempFolder m_temp;
    fs::path m_logFolder;
    fs::path m_programFiles;
    fs::path m_package;
};

TEST_F(FleetTest, WrapperCheckAndDetectOnEveryVerdictAsTheGuideSays)
{
    std::map<std::string, std::vector<std::string>> guide = ExitCodeTable();
    ASSERT_EQ(guide.size(), std::size(kVerdictLogs)) << "the guide's table has a row per verdict";
    // Renames pending, which the wrapper saves before the run deletes them.
    HKEY sessionManager = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0,
                              nullptr, 0, KEY_SET_VALUE, nullptr, &sessionManager, nullptr), ERROR_SUCCESS);
    const wchar_t renames[] = L"\\??\\C:\\fleet-test.tmp\0\0";
    RegSetValueExW(sessionManager, L"PendingFileRenameOperations", 0, REG_MULTI_SZ,
                   reinterpret_cast<const BYTE*>(renames), sizeof renames);
    for (const CVerdictLog& c : kVerdictLogs) {
        SCOPED_TRACE(c.m_verdict);
        ASSERT_EQ(guide.count(c.m_verdict), 1u);
        const std::vector<std::string>& row = guide[c.m_verdict];
        fs::path log = m_temp.Path() / "case.dbg";
        if (c.m_log)
            WriteBytes(log, c.m_log());
        else
            fs::remove(log);

        auto check = OutputAndCode(row[0]);
        CRunResult checked = RunCaptured(Quoted(m_package / "logreader.exe") + L" --check " + Quoted(log));
        EXPECT_EQ(Trimmed(checked.m_out), check.first);
        EXPECT_EQ(checked.m_code, check.second);

        auto detect = OutputAndCode(row[1]);
        CRunResult detected = RunCaptured(Quoted(m_package / "logreader.exe") + L" --detect " + Quoted(log));
        EXPECT_EQ(Trimmed(detected.m_out), detect.first);
        EXPECT_EQ(detected.m_code, detect.second);

        // The wrapper on a machine without the log's folder: it makes it, the run appends.
        std::error_code ec;
        fs::remove_all(m_logFolder, ec);
        CRunResult wrapped = RunCaptured(L"cmd.exe /c " + Quoted(m_package / "sanarix-run.cmd"),
                                 c.m_log ? log.wstring() : L"");
        EXPECT_TRUE(fs::is_directory(m_logFolder));
        EXPECT_TRUE(fs::is_regular_file(m_programFiles / "Sanarix" / "logreader.exe"));
        const std::string saved = ReadBytes(m_logFolder / "pending-renames-before.reg");
        std::string valueName;
        for (char ch : std::string("\"PendingFileRenameOperations\"=hex(7):5c,00,3f,00"))
            valueName += std::string{ch, '\0'};
        EXPECT_NE(saved.find(valueName), std::string::npos) << "the renames were not saved";
        EXPECT_EQ(Trimmed(wrapped.m_out), check.first);
        EXPECT_EQ(wrapped.m_code, DWORD(std::stoul(row[2])));
    }
    RegDeleteValueW(sessionManager, L"PendingFileRenameOperations");
    RegCloseKey(sessionManager);
    // A run that writes nothing leaves an older run's log: the wrapper does not judge that one.
    WriteBytes(m_logFolder / "sanarix.dbg", RealLog(kFirstRun));
    CRunResult silent = RunCaptured(L"cmd.exe /c " + Quoted(m_package / "sanarix-run.cmd"));
    EXPECT_EQ(Trimmed(silent.m_out), "no log");
    EXPECT_EQ(silent.m_code, 25u);
    // A wrapper whose sanarix.exe cannot be started judges no old log.
    fs::remove(m_package / "sanarix.exe");
    CRunResult unstarted = RunCaptured(L"cmd.exe /c " + Quoted(m_package / "sanarix-run.cmd"));
    EXPECT_EQ(unstarted.m_code, 28u);
}

TEST_F(FleetTest, TheGuidesExampleIsTheReportOnTheRealRuns)
{
    const std::pair<const char*, const char*> machines[] = {
        {"E2E-FIRST-RUN", "PC-0042"}, {"E2E-SECOND-RUN", "PC-0043"},
        {"E2E-IGNORED-STOP", "PC-0107"}, {"E2E-NOTHING-INSTALLED", "PC-0311"}};
    for (const auto& machine : machines)
        m_temp.Put(std::string("collected/") + machine.second + "/sanarix.dbg", RealLog(machine.first));
    fs::path list = m_temp.Put("machines.txt", "PC-0042\r\nPC-0043\r\nPC-0107\r\nPC-0311\r\nPC-0500\r\n");
    std::ostringstream report, err;
    ASSERT_EQ(RunLogReader({"--expect", list, m_temp.Path() / "collected"}, report, err), 0) << err.str();

    // The example in the guide: the code block after its marker, the command line dropped.
    const std::string guide = Guide();
    const std::string marker = "<!-- example report: the real runs of the end-to-end tests -->";
    size_t at = guide.find(marker);
    ASSERT_NE(at, std::string::npos);
    size_t begin = guide.find("\n$ ", at);
    begin = guide.find('\n', begin + 1) + 1;
    std::string example = guide.substr(begin, guide.find("```", begin) - begin);
    // Times differ from run to run: start, end and duration are left out of the comparison.
    auto rows = [](const std::string& text) {
        std::vector<std::string> out;
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            std::vector<std::string> cells;
            for (size_t pos = 0; pos < line.size();) {
                size_t gap = line.find("  ", pos);
                cells.push_back(line.substr(pos, gap - pos));
                pos = gap == std::string::npos ? line.size() : line.find_first_not_of(' ', gap);
            }
            if (cells.size() > 4 && cells[1] != "start" && cells[1] != "-")
                cells.erase(cells.begin() + 1, cells.begin() + 4);
            std::string joined;
            for (const std::string& cell : cells)
                joined += cell + " | ";
            out.push_back(joined);
        }
        return out;
    };
    EXPECT_EQ(rows(example), rows(report.str())) << "the guide's example, as the real runs give it now:\n"
                                                 << report.str();
}

TEST(FleetVersions, EveryProgramShowsTheProjectsVersion)
{
    const std::pair<const char*, const char*> tools[] = {
        {FLEET_LOGREADER_EXE, "logreader "}, {FLEET_ITEMBUILDER_EXE, "itembuilder "},
        {FLEET_PRODUCT_SETUP_EXE, "product_setup "}};
    for (const auto& tool : tools) {
        CRunResult shown = RunCaptured(L"\"" + FromHost(tool.first) + L"\" --version");
        EXPECT_EQ(shown.m_code, 0u) << tool.second;
        EXPECT_EQ(Trimmed(shown.m_out), tool.second + std::string(SANARIX_VERSION));
    }
    // sanarix.exe has no options: its version information says it.
    const std::wstring exe = FromHost(FLEET_SANARIX_EXE);
    std::vector<char> info(GetFileVersionInfoSizeW(exe.c_str(), nullptr));
    ASSERT_FALSE(info.empty());
    ASSERT_TRUE(GetFileVersionInfoW(exe.c_str(), 0, DWORD(info.size()), info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT size = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &size));
    char numbers[64];
    snprintf(numbers, sizeof numbers, "%u.%u.%u.%u", HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
             HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS));
    EXPECT_STREQ(numbers, SANARIX_VERSION_QUAD);
    wchar_t* text = nullptr;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\StringFileInfo\\040904B0\\ProductVersion",
                               reinterpret_cast<void**>(&text), &size));
    EXPECT_EQ(std::wstring(text), std::wstring(SANARIX_VERSION_QUAD, SANARIX_VERSION_QUAD + strlen(SANARIX_VERSION_QUAD)));
}

} // namespace
