// Start-up and stop of the quarantine library: the folder lookup in the registry, the
// privilege steps and their trace lines, the start count and the trace itself.
#include "diag/DebugLog.h"
#include "quarantine/Vaultkit.h"
#include "quarantine/VaultkitTrace.h"
#include "tests/support/SysHooks.h"
#include <gtest/gtest.h>
#include <functional>
#include <memory>
#include <new>

namespace {

const wchar_t kKeyPath[] = L"SOFTWARE\\Corvanta\\Corvanta Quarantine";
const wchar_t kParentPath[] = L"SOFTWARE\\Corvanta";
const std::wstring kFolderLine = L"[VAULTKIT] QUARANTINE FOLDER |C:\\quarantine|\n";
const std::wstring kNoProcess = L"[VAULTKIT] EROARE: Nu am obtinut handle catre procesul curent\n";
const std::wstring kNoToken =
    L"[VAULTKIT] EROARE: Nu am obtinut handle catre token-ul procesului curent\n";
const std::wstring kNoRestoreLuid = L"[VAULTKIT] EROARE: Nu am gasit privilegiul SE_RESTORE_NAME\n";
const std::wstring kNoRestore = L"[VAULTKIT] EROARE: Nu am putut activa privilegiul SE_RESTORE_NAME ";
const std::wstring kNoBackupLuid = L"[VAULTKIT] EROARE: Nu am gasit privileghiul SE_BACKUP_NAME\n";
const std::wstring kNoBackup = L"[VAULTKIT] EROARE: Nu am putut activa privilegiul SE_BACKUP_NAME  ";
// Log lines, as the debugger sees them after the line's fields.
const std::wstring kNoKeyLog = L"[QT][ERROR]:  GetQuarFolderPath - Cannot open registry path: "
                               L"SOFTWARE\\Corvanta\\Corvanta Quarantine\\\n";
const std::wstring kNoValueLog =
    L"[QT][ERROR]:  GetQuarFolderPath - Cannot get registry value: QuarantineFolder\n";

// The line's text after the fields "[PID:..][TID:..][time][~]".
std::wstring AfterFields(const std::wstring& line)
{
    size_t at = line.find(L"[~]");
    return at == std::wstring::npos ? line : line.substr(at + 3);
}

// The quarantine key of this prefix's registry, gone before and after each test.
class CQuarantineKey
{
public:
    CQuarantineKey()
    {
        HKEY parent = nullptr;
        m_bParentExisted =
            RegOpenKeyExW(HKEY_LOCAL_MACHINE, kParentPath, 0, KEY_READ, &parent) == ERROR_SUCCESS;
        if (parent)
            RegCloseKey(parent);
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, kKeyPath);
    }
    ~CQuarantineKey()
    {
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, kKeyPath);
        if (!m_bParentExisted)
            RegDeleteKeyW(HKEY_LOCAL_MACHINE, kParentPath);
    }
    bool SetValue(const void* data, DWORD bytes, DWORD type)
    {
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKeyPath, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                            &key, nullptr) != ERROR_SUCCESS)
            return false;
        LSTATUS rc = RegSetValueExW(key, kQuarantineValue, 0, type,
                                    static_cast<const BYTE*>(data), bytes);
        RegCloseKey(key);
        return rc == ERROR_SUCCESS;
    }
    bool SetText(const std::wstring& text)
    {
        return SetValue(text.c_str(), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)), REG_SZ);
    }

private:
    bool m_bParentExisted = false;
};

// The debug log's lines go to the debugger for one test. CDebugLog has no way back from
// Start but its stop at exit, so the object is rebuilt afterwards as the program first
// sees it.
class CLogToDebugger
{
public:
    CLogToDebugger() { g_DebugLog.Start(L"[QT]"); }
    ~CLogToDebugger()
    {
        g_DebugLog.~CDebugLog();
        new (&g_DebugLog) CDebugLog();
    }
};

class Vaultkit : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(m_Key.SetText(L"C:\\quarantine")); }
    void TearDown() override { StopLibrary(); }
    static void StopLibrary()
    {
        while (g_nVaultkitInit > 0)
            VaultkitUninit();
    }
    std::vector<std::wstring> Lines() const
    {
        std::vector<std::wstring> lines;
        for (const std::wstring& line : m_Debugger.Lines())
            lines.push_back(AfterFields(line));
        return lines;
    }

    CQuarantineKey m_Key;
    CLogToDebugger m_Log;
    CDebugCapture m_Debugger;
};

} // namespace

TEST_F(Vaultkit, StartsOnceAsksForWhatItNeedsAndDeletesItsLocksAtZero)
{
    CSysRecorder<&CSysCalls::InitializeCriticalSection> created;
    CSysRecorder<&CSysCalls::DeleteCriticalSection> deleted;
    {
        CSysRecorder<&CSysCalls::RegOpenKeyExW> keys;
        CSysRecorder<&CSysCalls::OpenProcess> process;
        CSysRecorder<&CSysCalls::OpenProcessToken> token;
        std::vector<std::wstring> adjusted; // one privilege, enabled, its previous state kept
        CSysHook<&CSysCalls::AdjustTokenPrivileges> adjust(
            [&](HANDLE token, BOOL all, PTOKEN_PRIVILEGES state, DWORD length,
                PTOKEN_PRIVILEGES previous, PDWORD returned) {
                bool plain = !all && state->PrivilegeCount == 1 && length == 16 && previous &&
                             returned && state->Privileges[0].Attributes == SE_PRIVILEGE_ENABLED;
                adjusted.push_back(plain ? L"enable" : L"odd arguments");
                return CSysHook<&CSysCalls::AdjustTokenPrivileges>::Next()(
                    token, all, state, length, previous, returned);
            });
        EXPECT_EQ(VaultkitInit(), VAULTKIT_ERROR_SUCCESS);
        ASSERT_EQ(keys.Count(), 1u);
        EXPECT_EQ(std::get<3>(keys.Calls()[0]), REGSAM(KEY_QUERY_VALUE));
        EXPECT_EQ(process.Calls(), (std::vector<std::tuple<DWORD, BOOL, DWORD>>{
                                       {PROCESS_QUERY_INFORMATION, TRUE, GetCurrentProcessId()}}));
        ASSERT_EQ(token.Count(), 1u);
        EXPECT_EQ(std::get<1>(token.Calls()[0]), DWORD(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY));
        EXPECT_EQ(adjusted, (std::vector<std::wstring>{L"enable", L"enable"}));
    }
    EXPECT_STREQ(g_sQuarFolder, L"C:\\quarantine");
    EXPECT_EQ(m_Debugger.Lines(), std::vector<std::wstring>{kFolderLine});
    EXPECT_EQ(created.Count(), 3u);

    m_Debugger.Clear();
    CSysRecorder<&CSysCalls::RegOpenKeyExW> reads;
    EXPECT_EQ(VaultkitInit(), VAULTKIT_ERROR_SUCCESS); // nested: only counted
    EXPECT_EQ(reads.Count(), 0u);
    EXPECT_TRUE(m_Debugger.Lines().empty());
    EXPECT_EQ(created.Count(), 3u);
    VaultkitUninit();
    EXPECT_EQ(deleted.Count(), 0u);
    VaultkitUninit();
    EXPECT_EQ(deleted.Count(), 3u);
    VaultkitUninit(); // a stop without a start
    EXPECT_EQ(deleted.Count(), 3u);
    EXPECT_EQ(g_nVaultkitInit, 0);
}

// The value is raw bytes of any type: it must leave room for the terminator, and an odd
// last byte is dropped. A refused value, or no key, fails the start with one log line.
TEST_F(Vaultkit, FolderValueMustFitWithItsTerminator)
{
    const std::wstring longest(259, L'q'), full(260, L'q'), tooLong(300, L'q');
    const std::string oddBytes("C\0:\0\\\0q\0X", 9);
    struct Case
    {
        const void* data;
        DWORD bytes;
        DWORD type;
        const wchar_t* expected; // null: refused
    };
    const Case cases[] = {
        {longest.c_str(), 520, REG_SZ, longest.c_str()},
        {full.c_str(), 520, REG_BINARY, nullptr},
        {tooLong.c_str(), 602, REG_SZ, nullptr},
        {oddBytes.data(), 9, REG_BINARY, L"C:\\q"},
        {L"C:\\q", 8, REG_BINARY, L"C:\\q"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(m_Key.SetValue(c.data, c.bytes, c.type));
        m_Debugger.Clear();
        wchar_t buffer[260];
        std::fill(std::begin(buffer), std::end(buffer), L'Z');
        CSysRecorder<&CSysCalls::RegCloseKey> keyCloses;
        EXPECT_EQ(GetQuarFolderPath(buffer), c.expected != nullptr) << c.bytes;
        EXPECT_EQ(keyCloses.Count(), 1u);
        EXPECT_STREQ(buffer, c.expected ? c.expected : L"");
        EXPECT_EQ(Lines(), c.expected ? std::vector<std::wstring>{}
                                      : std::vector<std::wstring>{kNoValueLog});
    }
    EXPECT_FALSE(GetQuarFolderPath(nullptr));

    ASSERT_TRUE(m_Key.SetText(tooLong));
    m_Debugger.Clear();
    EXPECT_EQ(VaultkitInit(), VAULTKIT_ERROR_NO_QUAR_FOLDER);
    StopLibrary();
    CQuarantineKey gone;
    CSysRecorder<&CSysCalls::OpenProcess> process;
    EXPECT_EQ(VaultkitInit(), VAULTKIT_ERROR_NO_QUAR_FOLDER);
    EXPECT_EQ(Lines(), (std::vector<std::wstring>{kNoValueLog, kNoKeyLog})); // nothing traced
    EXPECT_EQ(process.Count(), 0u);
    EXPECT_EQ(g_nVaultkitInit, 1); // a failed start stays counted; the caller stops it
}

TEST_F(Vaultkit, EachFailingStepIsTraced)
{
    using Fault = std::function<std::shared_ptr<void>()>;
    struct Case
    {
        Fault fault;
        int32_t result;
        std::vector<std::wstring> lines;
        size_t adjustments;
    };
    const Case cases[] = {
        {[] { return std::make_shared<CSysFailNth<&CSysCalls::OpenProcess>>(1, ERROR_ACCESS_DENIED, nullptr); },
         VAULTKIT_ERROR_CANNOT_OPEN_PROCESS, {kFolderLine, kNoProcess}, 0},
        // Without a token both adjustments fail.
        {[] { return std::make_shared<CSysFailNth<&CSysCalls::OpenProcessToken>>(1, ERROR_ACCESS_DENIED, FALSE); },
         0, {kFolderLine, kNoToken, kNoRestore, kNoBackup}, 2},
        // Without a privilege identifier its adjustment is skipped.
        {[] { return std::make_shared<CSysFailNth<&CSysCalls::LookupPrivilegeValueW>>(1, ERROR_NO_SUCH_PRIVILEGE, FALSE); },
         0, {kFolderLine, kNoRestoreLuid}, 1},
        {[] { return std::make_shared<CSysFailNth<&CSysCalls::AdjustTokenPrivileges>>(1, ERROR_ACCESS_DENIED, FALSE); },
         0, {kFolderLine, kNoRestore}, 2},
        {[] { return std::make_shared<CSysFailNth<&CSysCalls::LookupPrivilegeValueW>>(2, ERROR_NO_SUCH_PRIVILEGE, FALSE); },
         0, {kFolderLine, kNoBackupLuid}, 1},
        {[] { return std::make_shared<CSysFailNth<&CSysCalls::AdjustTokenPrivileges>>(2, ERROR_ACCESS_DENIED, FALSE); },
         0, {kFolderLine, kNoBackup}, 2},
        // A token that lacks a privilege: the call succeeds and nothing is reported.
        {[] { return std::make_shared<CSysHook<&CSysCalls::AdjustTokenPrivileges>>(
                  [](HANDLE, BOOL, PTOKEN_PRIVILEGES, DWORD, PTOKEN_PRIVILEGES, PDWORD) {
                      g_Sys.SetLastError(ERROR_NOT_ALL_ASSIGNED);
                      return TRUE;
                  }); },
         0, {kFolderLine}, 2},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        std::shared_ptr<void> fault = cases[i].fault();
        CSysRecorder<&CSysCalls::AdjustTokenPrivileges> adjustments; // above the fault
        m_Debugger.Clear();
        EXPECT_EQ(VaultkitInit(), cases[i].result) << "case " << i;
        EXPECT_EQ(m_Debugger.Lines(), cases[i].lines) << "case " << i;
        EXPECT_EQ(adjustments.Count(), cases[i].adjustments) << "case " << i;
        StopLibrary();
    }
}

TEST(VaultkitTraceOutput, SendsTheTextAsItIsCutTo1022Characters)
{
    CDebugCapture debugger;
    VaultkitTrace(L"[VAULTKIT] %s %d|", L"x", -5);
    VaultkitTrace(L"%s", std::wstring(2000, L'a').c_str());
    VaultkitTrace(L"%s", std::wstring(1022, L'b').c_str());
    EXPECT_EQ(debugger.Lines(), (std::vector<std::wstring>{L"[VAULTKIT] x -5|",
                                                           std::wstring(1022, L'a'),
                                                           std::wstring(1022, L'b')}));
}
