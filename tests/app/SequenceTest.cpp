// The repair run as a whole with every operation failing, the privilege start-up, and the
// debug log's place.
#include "app/Sanarix.h"
#include "diag/DebugLog.h"
#include "platform/Utf8.h"
#include "tests/app/AppTestSupport.h"
#include "tests/support/TestFiles.h"
#include "quarantine/Vaultkit.h"

namespace {

const wchar_t kProgramFiles[] = L"C:\\Program Files";
const wchar_t kCommonFiles[] = L"C:\\Program Files\\Common Files";

// Shell folders: the common application data folder is a test folder.
class CShellFolders
{
public:
    explicit CShellFolders(std::wstring appData, HRESULT appDataResult = S_OK)
        : m_sAppData(std::move(appData)),
          m_hook([this, appDataResult](HWND hwnd, int csidl, HANDLE token, DWORD flags,
                                       LPWSTR out) -> HRESULT {
              m_Calls.push_back(csidl);
              if (hwnd || token || flags)
                  ++m_nOddArguments;
              const std::wstring& text = csidl == CSIDL_COMMON_APPDATA  ? m_sAppData
                                         : csidl == CSIDL_PROGRAM_FILES ? m_sProgramFiles
                                                                        : m_sCommonFiles;
              wcsncpy(out, text.c_str(), MAX_PATH - 1);
              return csidl == CSIDL_COMMON_APPDATA ? appDataResult : S_OK;
          })
    {
    }
    std::vector<int> m_Calls;
    int m_nOddArguments = 0;

private:
    std::wstring m_sAppData;
    std::wstring m_sProgramFiles = kProgramFiles;
    std::wstring m_sCommonFiles = kCommonFiles;
    CSysHook<&CSysCalls::SHGetFolderPathW> m_hook;
};

// Every operation of the run fails at its first Windows call.
struct CEverythingFails
{
    CSysFailNth<&CSysCalls::OpenSCManagerW> scm{1, ERROR_ACCESS_DENIED, nullptr, true};
    CSysFailNth<&CSysCalls::CreateProcessW> create{1, ERROR_FILE_NOT_FOUND, FALSE, true};
    CSysFailNth<&CSysCalls::FindFirstFileW> find{1, ERROR_PATH_NOT_FOUND, INVALID_HANDLE_VALUE,
                                                 true};
    CSysHook<&CSysCalls::RegOpenKeyExW> reg{
        [](HKEY, LPCWSTR, DWORD, REGSAM, PHKEY) -> LSTATUS { return ERROR_ACCESS_DENIED; }};
    CSysFailNth<&CSysCalls::LookupPrivilegeValueW> lookup{1, ERROR_NO_SUCH_PRIVILEGE, FALSE, true};
    CSysRecorder<&CSysCalls::LookupPrivilegeValueW> privilegeNames; // sees the calls first
};

std::vector<std::wstring> StepLines(const wchar_t* call, std::vector<std::wstring> inner,
                                    const wchar_t* result)
{
    std::vector<std::wstring> lines = {L"[ALL]:    DoSanarix - " + std::wstring(call) + L" ..."};
    lines.insert(lines.end(), inner.begin(), inner.end());
    lines.push_back(L"[ALL]:    DoSanarix - " + std::wstring(call) + L" result=" + result);
    return lines;
}

std::vector<std::wstring> AppLines(const wchar_t* tag, const wchar_t* exe, const wchar_t* word)
{
    std::wstring t = tag, command = L"C:\\Program Files\\Corvanta\\Corvanta Suite\\" +
                                    std::wstring(exe) + L" " + word;
    return StepLines(
        (t + L"(" + exe + L")").c_str(),
        {L"[ALL]:    " + t + L" - szCVApp=" + exe, L"[ALL]:    " + t + L" - szCommand=" + command,
         L"[ERROR]:  " + t + L" - CreateProcess failed, command=" + command + L" error=2"},
        L"fail");
}

std::vector<std::wstring> ServiceLines(const wchar_t* tag, const wchar_t* name)
{
    std::wstring t = tag;
    return StepLines((t + L"(" + name + L")").c_str(),
                     {L"[ALL]:    " + t + L" - szName=" + name,
                      L"[ERROR]:  " + t + L" - OpenSCManager() failed"},
                     L"fail");
}

// A start-up of the quarantine library that found no folder stays counted.
void VaultkitUninitAfterFailedStart()
{
    VaultkitUninit();
}

void Append(std::vector<std::wstring>& to, const std::vector<std::wstring>& lines)
{
    to.insert(to.end(), lines.begin(), lines.end());
}

class SequenceTest : public AppTest
{
protected:
    std::wstring LogFolder() const { return m_Dir.Join(L"Corvanta\\DTrace"); }
    std::wstring LogFile() const { return LogFolder() + L"\\sanarix.dbg"; }
    void SetUp() override
    {
        CreateDirectoryW(m_Dir.Join(L"Corvanta").c_str(), nullptr);
        ASSERT_TRUE(CreateDirectoryW(LogFolder().c_str(), nullptr));
    }
    CTempDir m_Dir;
};

} // namespace

TEST_F(SequenceTest, EveryOperationFailingStillLogsEveryStepInOrder)
{
    CShellFolders folders(m_Dir.Path());
    CEverythingFails fails;
    CVirtualClock clock;
    DoSanarix();

    std::string bytes = ReadFileBytes(LogFile());
    ASSERT_EQ(bytes.compare(0, 3, "\xEF\xBB\xBF"), 0) << "no byte-order mark";
    std::vector<std::wstring> messages;
    for (const std::wstring& line : LinesOfFile(bytes)) {
        auto message = MessageOfLine(line);
        ASSERT_TRUE(message) << "not a log line: " << WideToUtf8(line);
        messages.push_back(*message);
    }
    std::vector<std::wstring> expected = {
        L"",
        L"",
        L"=====started=====",
        L"[ALL]:    DoSanarix - ",
        L"[ALL]:    DoSanarix - InitGlobals() ...",
        L"[ALL]:    GetServicePath - szName=CVHOST",
        L"[ERROR]:  GetServicePath - OpenSCManager() failed",
        L"[ALL]:    DoSanarix - InitGlobals() ok",
        L"[ALL]:    DoSanarix - g_sCVPath=C:\\Program Files\\Corvanta\\Corvanta Suite\\",
        L"[ALL]:    DoSanarix - g_sCVSKPath=C:\\Program Files\\Common Files\\Corvanta\\Corvanta "
        L"Scan Kernel\\"};
    for (const wchar_t* exe : {L"cvhost.exe", L"cvtray.exe", L"cvconsole.exe"})
        Append(expected, AppLines(L"StopCVApp", exe, L"stop"));
    for (const wchar_t* name : {L"CVUPDATE", L"CVPROBE", L"CVMSG"})
        Append(expected, ServiceLines(L"MyStopService", name));
    Append(expected,
           StepLines(L"RemoveFileRec(cvheur.xr0)",
                     {L"[ALL]:    RemoveFileRec - szFile=cvheur.xr0 szPath=C:\\Program Files"
                      L"\\Common Files\\Corvanta\\Corvanta Scan Kernel\\"},
                     L"0"));
    Append(expected,
           StepLines(L"RemovePendingFileROp()",
                     {L"[ALL]:    DeleteRegistryKey - szRegPath=SYSTEM\\CurrentControlSet"
                      L"\\Control\\Session Manager szRegValue=PendingFileRenameOperations",
                      L"[ERROR]:  DeleteRegistryKey - Cannot open registry key, error=5"},
                     L"fail"));
    const size_t restoreAt = expected.size();
    std::vector<std::wstring> after;
    Append(after, ServiceLines(L"MyStartService", L"CVMSG"));
    Append(after, ServiceLines(L"MyStartService", L"CVUPDATE"));
    Append(after, AppLines(L"StartCVApp", L"cvhost.exe", L"start"));
    Append(after, AppLines(L"StartCVApp", L"cvtray.exe", L"start"));
    after.push_back(L"[ALL]:    DoSanarix - ok");

    // The restore step: its "..." line, its own lines, its result line.
    const std::wstring restoreOpen =
        L"[ALL]:    DoSanarix - RestoreQuarantine(trojan.fakealert.5) ...";
    ASSERT_GE(messages.size(), expected.size() + after.size() + 2);
    std::vector<std::wstring> before(messages.begin(), messages.begin() + restoreAt);
    EXPECT_EQ(before, expected);
    std::vector<std::wstring> tail(messages.end() - after.size(), messages.end());
    EXPECT_EQ(tail, after);
    std::vector<std::wstring> restore(messages.begin() + restoreAt, messages.end() - after.size());

    EXPECT_EQ(clock.Sleeps(), (std::vector<DWORD>{10000, 10000}));
    EXPECT_EQ(clock.Now(), 20000u);
    EXPECT_TRUE(clock.Waits().empty());
    EXPECT_EQ(folders.m_nOddArguments, 0);
    EXPECT_EQ(folders.m_Calls, (std::vector<int>{CSIDL_COMMON_APPDATA, CSIDL_PROGRAM_FILES,
                                                 CSIDL_PROGRAM_FILES_COMMON}));
    ASSERT_EQ(fails.privilegeNames.Count(), 2u);
    EXPECT_STREQ(std::get<1>(fails.privilegeNames.Calls()[0]), L"SeShutdownPrivilege");
    EXPECT_STREQ(std::get<1>(fails.privilegeNames.Calls()[1]), L"SeDebugPrivilege");

    VaultkitUninitAfterFailedStart();
    EXPECT_EQ(restore,
              (std::vector<std::wstring>{
                  restoreOpen, L"[ALL]:    RestoreQuarantine - szVirusName=trojan.fakealert.5",
                  L"[ERROR]:  GetQuarFolderPath - Cannot open registry path: "
                  L"SOFTWARE\\Corvanta\\Corvanta Quarantine\\",
                  L"[ERROR]:  RestoreQuarantine - Could not init vaultkit!",
                  L"[ALL]:    RestoreQuarantine - ok",
                  L"[ALL]:    DoSanarix - RestoreQuarantine(trojan.fakealert.5) result=ok"}));
}

TEST_F(SequenceTest, WithoutAUsableLogPathTheRunLogsToTheDebuggerOnly)
{
    // 232 characters + "\Corvanta\DTrace\sanarix.dbg" (28) would be one over 259.
    const std::pair<std::wstring, HRESULT> cases[] = {
        {m_Dir.Path(), E_FAIL}, {L"", S_OK}, {L"C:\\" + std::wstring(229, L'a'), S_OK}};
    for (const auto& c : cases) {
        CShellFolders folders(c.first, c.second);
        CEverythingFails fails;
        CVirtualClock clock;
        m_Debugger.Clear();
        DoSanarix();
        VaultkitUninitAfterFailedStart();
        EXPECT_EQ(g_DebugLog.GetFile()[0], L'\0') << WideToUtf8(c.first);
        EXPECT_EQ(m_Debugger.All().find(L"Debug file"), std::wstring::npos);
        std::vector<std::wstring> messages = Messages();
        ASSERT_FALSE(messages.empty());
        EXPECT_EQ(messages.front(), L"[ALL]:    DoSanarix - ");
        EXPECT_EQ(messages.back(), L"[ALL]:    DoSanarix - ok");
    }
}

// ---------------------------------------------------------------------------------------

namespace {

const HANDLE kToken = reinterpret_cast<HANDLE>(0x70C0);

// The three privilege calls and the token's close, in order; any of them can fail.
class CPrivilegeCalls
{
public:
    std::vector<std::wstring> m_Events;
    std::vector<TOKEN_PRIVILEGES> m_Adjusted;
    std::wstring m_sFailLookup, m_sFailOpen; // fail this call for this privilege
    bool m_bFailAdjust = false;
    std::wstring m_sCurrent;

private:
    CSysHook<&CSysCalls::LookupPrivilegeValueW> m_lookup{
        [this](LPCWSTR system, LPCWSTR name, PLUID luid) -> BOOL {
            m_sCurrent = name;
            m_Events.push_back(L"lookup " + m_sCurrent + (system ? L" remote" : L""));
            if (m_sFailLookup == name)
                return FALSE;
            luid->LowPart = m_sCurrent == L"SeDebugPrivilege" ? 20 : 19;
            luid->HighPart = 0;
            return TRUE;
        }};
    CSysHook<&CSysCalls::OpenProcessToken> m_open{
        [this](HANDLE process, DWORD access, PHANDLE token) -> BOOL {
            bool self = process == GetCurrentProcess();
            m_Events.push_back(L"open " + std::to_wstring(access) + (self ? L"" : L" other"));
            if (m_sFailOpen == m_sCurrent)
                return FALSE;
            *token = kToken;
            return TRUE;
        }};
    CSysHook<&CSysCalls::AdjustTokenPrivileges> m_adjust{
        [this](HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES tp, DWORD length,
               PTOKEN_PRIVILEGES previous, PDWORD returned) -> BOOL {
            bool plain = token == kToken && !disableAll && length == 0 && !previous && !returned;
            m_Events.push_back(plain ? L"adjust" : L"adjust with odd arguments");
            m_Adjusted.push_back(*tp);
            return !m_bFailAdjust;
        }};
    CSysHook<&CSysCalls::CloseHandle> m_close{[this](HANDLE h) -> BOOL {
        if (h != kToken)
            return CSysHook<&CSysCalls::CloseHandle>::Next()(h);
        m_Events.push_back(L"close");
        return TRUE;
    }};
};

} // namespace

TEST_F(SequenceTest, PrivilegeIsLookedUpTokenOpenedAdjustedAndClosed)
{
    CPrivilegeCalls calls;
    calls.m_bFailAdjust = true; // its result is not examined: the token is closed anyway
    EnablePrivilege(L"SeShutdownPrivilege");
    EnablePrivilege(L"SeDebugPrivilege");
    EXPECT_EQ(calls.m_Events, (std::vector<std::wstring>{
                                  L"lookup SeShutdownPrivilege", L"open 32", L"adjust", L"close",
                                  L"lookup SeDebugPrivilege", L"open 32", L"adjust", L"close"}));
    ASSERT_EQ(calls.m_Adjusted.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(calls.m_Adjusted[i].PrivilegeCount, 1u);
        EXPECT_EQ(calls.m_Adjusted[i].Privileges[0].Attributes, DWORD(SE_PRIVILEGE_ENABLED));
        EXPECT_EQ(calls.m_Adjusted[i].Privileges[0].Luid.LowPart, i == 0 ? 19u : 20u);
    }
    EXPECT_TRUE(Messages().empty());
}

TEST_F(SequenceTest, PrivilegeFailureSkipsTheRestSilently)
{
    CPrivilegeCalls lookupFails;
    lookupFails.m_sFailLookup = L"SeShutdownPrivilege";
    EnablePrivilege(L"SeShutdownPrivilege");
    EnablePrivilege(L"SeDebugPrivilege");
    EXPECT_EQ(lookupFails.m_Events,
              (std::vector<std::wstring>{L"lookup SeShutdownPrivilege", L"lookup SeDebugPrivilege",
                                         L"open 32", L"adjust", L"close"}));
    lookupFails.m_Events.clear();
    lookupFails.m_sFailLookup.clear();
    lookupFails.m_sFailOpen = L"SeShutdownPrivilege";
    EnablePrivilege(L"SeShutdownPrivilege");
    EXPECT_EQ(lookupFails.m_Events,
              (std::vector<std::wstring>{L"lookup SeShutdownPrivilege", L"open 32"}));
    EXPECT_TRUE(Messages().empty());
}
