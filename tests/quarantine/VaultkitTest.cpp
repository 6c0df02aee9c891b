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
const std::wstring kNoKeyLog = L"[QT][ERROR]:  GetQuarFolderPath - Cannot open registry path: "
                               L"SOFTWARE\\Corvanta\\Corvanta Quarantine\\\n";
const std::wstring kNoValueLog =
    L"[QT][ERROR]:  GetQuarFolderPath - Cannot get registry value: QuarantineFolder\n";

bool EndsWith(const std::wstring& text, const std::wstring& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
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

    CQuarantineKey m_Key;
    CLogToDebugger m_Log;
    CDebugCapture m_Debugger;
};

} // namespace

TEST_F(Vaultkit, StartsOnceAndDeletesItsLocksWhenTheCountReturnsToZero)
{
    CSysRecorder<&CSysCalls::InitializeCriticalSection> created;
    CSysRecorder<&CSysCalls::DeleteCriticalSection> deleted;
    EXPECT_EQ(VaultkitInit(), VAULTKIT_ERROR_SUCCESS);
    EXPECT_STREQ(g_sQuarFolder, L"C:\\quarantine");
    EXPECT_EQ(m_Debugger.Lines(), std::vector<std::wstring>{kFolderLine});
    EXPECT_EQ(created.Count(), 3u);

    m_Debugger.Clear();
    {
        CSysRecorder<&CSysCalls::RegOpenKeyExW> reads;
        EXPECT_EQ(VaultkitInit(), VAULTKIT_ERROR_SUCCESS);
        EXPECT_EQ(reads.Count(), 0u);
    }
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

TEST_F(Vaultkit, AsksWindowsForExactlyWhatItNeeds)
{
    std::vector<std::wstring> keys, values, privileges;
    std::vector<LUID> found, enabled;
    CSysHook<&CSysCalls::RegOpenKeyExW> open([&](HKEY root, LPCWSTR path, DWORD options,
                                                 REGSAM access, PHKEY key) {
        EXPECT_EQ(root, HKEY_LOCAL_MACHINE);
        EXPECT_EQ(options, 0u);
        EXPECT_EQ(access, DWORD(KEY_QUERY_VALUE));
        keys.push_back(path);
        return CSysHook<&CSysCalls::RegOpenKeyExW>::Next()(root, path, options, access, key);
    });
    CSysHook<&CSysCalls::RegQueryValueExW> query([&](HKEY key, LPCWSTR name, LPDWORD reserved,
                                                     LPDWORD type, LPBYTE data, LPDWORD size) {
        EXPECT_EQ(*size, 520u);
        values.push_back(name);
        return CSysHook<&CSysCalls::RegQueryValueExW>::Next()(key, name, reserved, type, data, size);
    });
    CSysHook<&CSysCalls::LookupPrivilegeValueW> lookup([&](LPCWSTR system, LPCWSTR name, PLUID luid) {
        EXPECT_EQ(system, nullptr);
        privileges.push_back(name);
        BOOL ok = CSysHook<&CSysCalls::LookupPrivilegeValueW>::Next()(system, name, luid);
        found.push_back(*luid);
        return ok;
    });
    CSysHook<&CSysCalls::AdjustTokenPrivileges> adjust(
        [&](HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES state, DWORD length,
            PTOKEN_PRIVILEGES previous, PDWORD returned) {
            EXPECT_FALSE(disableAll);
            EXPECT_EQ(state->PrivilegeCount, 1u);
            EXPECT_EQ(state->Privileges[0].Attributes, DWORD(SE_PRIVILEGE_ENABLED));
            EXPECT_EQ(length, 16u);
            EXPECT_NE(previous, nullptr);
            EXPECT_NE(returned, nullptr);
            enabled.push_back(state->Privileges[0].Luid);
            return CSysHook<&CSysCalls::AdjustTokenPrivileges>::Next()(token, disableAll, state,
                                                                       length, previous, returned);
        });
    CSysRecorder<&CSysCalls::OpenProcess> process;
    CSysRecorder<&CSysCalls::OpenProcessToken> token;

    EXPECT_EQ(VaultkitInit(), VAULTKIT_ERROR_SUCCESS);
    EXPECT_EQ(keys, std::vector<std::wstring>{L"SOFTWARE\\Corvanta\\Corvanta Quarantine\\"});
    EXPECT_EQ(values, std::vector<std::wstring>{L"QuarantineFolder"});
    ASSERT_EQ(process.Count(), 1u);
    EXPECT_EQ(process.Calls()[0], std::make_tuple(DWORD(PROCESS_QUERY_INFORMATION), BOOL(TRUE),
                                                  GetCurrentProcessId()));
    ASSERT_EQ(token.Count(), 1u);
    EXPECT_EQ(std::get<1>(token.Calls()[0]), DWORD(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY));
    EXPECT_EQ(privileges, (std::vector<std::wstring>{L"SeRestorePrivilege", L"SeBackupPrivilege"}));
    ASSERT_EQ(enabled.size(), 2u);
    for (size_t i = 0; i < 2; ++i)
        EXPECT_TRUE(enabled[i].LowPart == found[i].LowPart && enabled[i].HighPart == found[i].HighPart);
    EXPECT_EQ(m_Debugger.Lines(), std::vector<std::wstring>{kFolderLine});
}

TEST_F(Vaultkit, AMissingKeyGivesOneLogLineAnd16)
{
    CQuarantineKey gone;
    CSysRecorder<&CSysCalls::OpenProcess> process;
    CSysRecorder<&CSysCalls::RegCloseKey> keyCloses;
    EXPECT_EQ(VaultkitInit(), VAULTKIT_ERROR_NO_QUAR_FOLDER);
    ASSERT_EQ(m_Debugger.Lines().size(), 1u); // the log line; nothing traced
    EXPECT_TRUE(EndsWith(m_Debugger.Lines()[0], kNoKeyLog)) << m_Debugger.Lines()[0];
    EXPECT_EQ(process.Count(), 0u);
    EXPECT_EQ(keyCloses.Count(), 0u);
    EXPECT_EQ(g_nVaultkitInit, 1); // a failed start stays counted; the caller stops it
}

TEST_F(Vaultkit, FolderValuesMustLeaveRoomForTheTerminator)
{
    const std::wstring longest(259, L'q');
    const std::wstring full(260, L'q');
    const std::wstring tooLong(300, L'q');
    const std::string oddBytes("C\0:\0\\\0q\0X", 9);
    struct Case
    {
        const void* data;
        DWORD bytes;
        DWORD type;
        const wchar_t* expected; // null: refused
    } cases[] = {
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
        if (c.expected) {
            EXPECT_STREQ(buffer, c.expected);
            EXPECT_TRUE(m_Debugger.Lines().empty());
        } else {
            EXPECT_EQ(buffer[0], L'\0');
            ASSERT_EQ(m_Debugger.Lines().size(), 1u);
            EXPECT_TRUE(EndsWith(m_Debugger.Lines()[0], kNoValueLog)) << m_Debugger.Lines()[0];
        }
    }
    EXPECT_FALSE(GetQuarFolderPath(nullptr));

    ASSERT_TRUE(m_Key.SetText(tooLong));
    m_Debugger.Clear();
    EXPECT_EQ(VaultkitInit(), VAULTKIT_ERROR_NO_QUAR_FOLDER);
    ASSERT_EQ(m_Debugger.Lines().size(), 1u);
    EXPECT_TRUE(EndsWith(m_Debugger.Lines()[0], kNoValueLog));
}

TEST_F(Vaultkit, EachFailingPrivilegeStepIsTracedAndTheStartStillSucceeds)
{
    using Fault = std::function<std::shared_ptr<void>()>;
    struct Case
    {
        Fault fault;
        std::vector<std::wstring> lines;
        size_t adjustments;
    } cases[] = {
        // Without a token both adjustments fail.
        {[] { return std::make_shared<CSysFailNth<&CSysCalls::OpenProcessToken>>(1, ERROR_ACCESS_DENIED, FALSE); },
         {kFolderLine, kNoToken, kNoRestore, kNoBackup}, 2},
        // Without a privilege identifier its adjustment is skipped.
        {[] { return std::make_shared<CSysFailNth<&CSysCalls::LookupPrivilegeValueW>>(1, ERROR_NO_SUCH_PRIVILEGE, FALSE); },
         {kFolderLine, kNoRestoreLuid}, 1},
        {[] { return std::make_shared<CSysFailNth<&CSysCalls::AdjustTokenPrivileges>>(1, ERROR_ACCESS_DENIED, FALSE); },
         {kFolderLine, kNoRestore}, 2},
        {[] { return std::make_shared<CSysFailNth<&CSysCalls::LookupPrivilegeValueW>>(2, ERROR_NO_SUCH_PRIVILEGE, FALSE); },
         {kFolderLine, kNoBackupLuid}, 1},
        {[] { return std::make_shared<CSysFailNth<&CSysCalls::AdjustTokenPrivileges>>(2, ERROR_ACCESS_DENIED, FALSE); },
         {kFolderLine, kNoBackup}, 2},
        // A token that lacks a privilege: the call succeeds and nothing is reported.
        {[] { return std::make_shared<CSysHook<&CSysCalls::AdjustTokenPrivileges>>(
                  [](HANDLE, BOOL, PTOKEN_PRIVILEGES, DWORD, PTOKEN_PRIVILEGES, PDWORD) {
                      g_Sys.SetLastError(ERROR_NOT_ALL_ASSIGNED);
                      return TRUE;
                  }); },
         {kFolderLine}, 2},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        std::shared_ptr<void> fault = cases[i].fault();
        CSysRecorder<&CSysCalls::AdjustTokenPrivileges> adjustments; // above the fault
        m_Debugger.Clear();
        EXPECT_EQ(VaultkitInit(), VAULTKIT_ERROR_SUCCESS) << "case " << i;
        EXPECT_EQ(m_Debugger.Lines(), cases[i].lines) << "case " << i;
        EXPECT_EQ(adjustments.Count(), cases[i].adjustments) << "case " << i;
        StopLibrary();
    }
}

TEST_F(Vaultkit, ACurrentProcessThatCannotBeOpenedGives20)
{
    CSysFailNth<&CSysCalls::OpenProcess> fail(1, ERROR_ACCESS_DENIED, nullptr);
    CSysRecorder<&CSysCalls::OpenProcessToken> token;
    CSysRecorder<&CSysCalls::LookupPrivilegeValueW> lookups;
    EXPECT_EQ(VaultkitInit(), VAULTKIT_ERROR_CANNOT_OPEN_PROCESS);
    EXPECT_EQ(m_Debugger.Lines(), (std::vector<std::wstring>{kFolderLine, kNoProcess}));
    EXPECT_EQ(token.Count() + lookups.Count(), 0u);
}

TEST(VaultkitTraceOutput, SendsTheTextAsItIsCutTo1022Characters)
{
    CDebugCapture debugger;
    VaultkitTrace(L"[VAULTKIT] %s %d|", L"x", -5);
    VaultkitTrace(L"%s", std::wstring(2000, L'a').c_str());
    VaultkitTrace(L"%s", std::wstring(1022, L'b').c_str());
    ASSERT_EQ(debugger.Lines().size(), 3u);
    EXPECT_EQ(debugger.Lines()[0], L"[VAULTKIT] x -5|");
    EXPECT_EQ(debugger.Lines()[1], std::wstring(1022, L'a'));
    EXPECT_EQ(debugger.Lines()[2], std::wstring(1022, L'b'));
}
