// Start-up and stop of the quarantine library: the folder lookup in the registry, the
// privilege steps and their trace lines, the start count.
#include "diag/DebugLog.h"
#include "quarantine/Vaultkit.h"
#include "tests/quarantine/FaultTable.h"
#include "tests/quarantine/QuarantineKey.h"
#include <gtest/gtest.h>
#include <new>

namespace {

const std::wstring kFolderLine = L"[VAULTKIT] QUARANTINE FOLDER |C:\\quarantine|\n";
const std::wstring kNoProcess = L"[VAULTKIT] EROARE: Nu am obtinut handle catre procesul curent\n";
const std::wstring kNoToken =
    L"[VAULTKIT] EROARE: Nu am obtinut handle catre token-ul procesului curent\n";
const std::wstring kNoRestoreLuid = L"[VAULTKIT] EROARE: Nu am gasit privilegiul SE_RESTORE_NAME\n";
const std::wstring kNoRestore =
    L"[VAULTKIT] EROARE: Nu am putut activa privilegiul SE_RESTORE_NAME ";
const std::wstring kNoBackupLuid = L"[VAULTKIT] EROARE: Nu am gasit privileghiul SE_BACKUP_NAME\n";
const std::wstring kNoBackup =
    L"[VAULTKIT] EROARE: Nu am putut activa privilegiul SE_BACKUP_NAME  ";
// The debug log's lines, as the debugger gets them after the fields.
const std::wstring kNoKeyLog = L"[QT][ERROR]:  GetQuarFolderPath - Cannot open registry path: "
                               L"SOFTWARE\\Corvanta\\Corvanta Quarantine\\\n";
const std::wstring kNoValueLog =
    L"[QT][ERROR]:  GetQuarFolderPath - Cannot get registry value: QuarantineFolder\n";

class Vaultkit : public ::testing::Test
{
protected:
    // The debug log's lines go to the debugger. CDebugLog has no way back from Start but
    // its stop at exit, so the object is rebuilt afterwards as the program first sees it.
    Vaultkit() { g_DebugLog.Start(L"[QT]"); }
    ~Vaultkit() override
    {
        StopLibrary();
        g_DebugLog.~CDebugLog();
        new (&g_DebugLog) CDebugLog();
    }
    static void StopLibrary()
    {
        while (g_nVaultkitInit > 0)
            VaultkitUninit();
    }
    // The trace and log lines so far, a log line from its line tag on.
    std::vector<std::wstring> Lines() const
    {
        std::vector<std::wstring> lines;
        for (const std::wstring& line : m_Debugger.Lines()) {
            size_t fields = line.find(L"[~]");
            lines.push_back(fields == std::wstring::npos ? line : line.substr(fields + 3));
        }
        return lines;
    }

    CQuarantineKey m_Key{L"C:\\quarantine"};
    CDebugCapture m_Debugger;
};

} // namespace

TEST_F(Vaultkit, StartsOnceAsksForWhatItNeedsAndDeletesItsLocksAtZero)
{
    CSysRecorder<&CSysCalls::InitializeCriticalSection> created;
    CSysRecorder<&CSysCalls::DeleteCriticalSection> deleted;
    {
        CSysRecorder<&CSysCalls::OpenProcess> process;
        CSysRecorder<&CSysCalls::OpenProcessToken> token;
        CSysRecorder<&CSysCalls::AdjustTokenPrivileges> adjust;
        EXPECT_EQ(VaultkitInit(), VAULTKIT_ERROR_SUCCESS);
        EXPECT_EQ(m_Key.m_Opens, std::vector<REGSAM>{KEY_QUERY_VALUE});
        EXPECT_EQ(m_Key.m_nCloses, 1);
        ASSERT_EQ(process.Count() + token.Count() + adjust.Count(), 4u);
        EXPECT_EQ(std::get<0>(process.Calls()[0]), DWORD(PROCESS_QUERY_INFORMATION));
        EXPECT_EQ(std::get<1>(token.Calls()[0]), DWORD(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY));
    }
    EXPECT_STREQ(g_sQuarFolder, L"C:\\quarantine");
    EXPECT_EQ(Lines(), std::vector<std::wstring>{kFolderLine});
    EXPECT_EQ(created.Count(), 3u);

    m_Debugger.Clear();
    EXPECT_EQ(VaultkitInit(), VAULTKIT_ERROR_SUCCESS); // nested: only counted
    EXPECT_EQ(m_Key.m_Opens.size(), 1u);
    EXPECT_TRUE(Lines().empty());
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
// last byte is dropped. A refused value, or no key, fails the start with one log line and
// nothing traced; the failed start stays counted, the caller stops it.
TEST_F(Vaultkit, FolderValueMustFitWithItsTerminator)
{
    const std::wstring longest(259, L'q');
    const std::pair<std::string, std::wstring> cases[] = { // value, folder ("": refused)
        {RegistryText(longest), longest},
        {RegistryText(longest + L'q').substr(0, 520), L""},
        {RegistryText(std::wstring(300, L'q')), L""},
        {std::string("C\0:\0\\\0q\0X", 9), L"C:\\q"},
        {RegistryText(L"C:\\q").substr(0, 8), L"C:\\q"},
    };
    for (const auto& c : cases) {
        m_Key.m_sValue = c.first;
        m_Debugger.Clear();
        wchar_t buffer[260];
        std::fill(std::begin(buffer), std::end(buffer), L'Z');
        EXPECT_EQ(GetQuarFolderPath(buffer), !c.second.empty()) << c.first.size();
        EXPECT_EQ(buffer, c.second);
        EXPECT_EQ(Lines(), c.second.empty() ? std::vector<std::wstring>{kNoValueLog}
                                            : std::vector<std::wstring>{});
    }
    EXPECT_EQ(m_Key.m_nCloses, 5);
    EXPECT_FALSE(GetQuarFolderPath(nullptr));

    m_Key.m_sValue = cases[1].first;
    m_Debugger.Clear();
    CSysRecorder<&CSysCalls::OpenProcess> process;
    EXPECT_EQ(VaultkitInit(), VAULTKIT_ERROR_NO_QUAR_FOLDER);
    StopLibrary();
    m_Key.m_OpenResult = ERROR_FILE_NOT_FOUND;
    EXPECT_EQ(VaultkitInit(), VAULTKIT_ERROR_NO_QUAR_FOLDER);
    EXPECT_EQ(Lines(), (std::vector<std::wstring>{kNoValueLog, kNoKeyLog}));
    EXPECT_EQ(process.Count(), 0u);
    EXPECT_EQ(g_nVaultkitInit, 1);
}

TEST_F(Vaultkit, EachFailingStepIsTraced)
{
    using C = CSysCalls;
    struct Case
    {
        CFault fault;
        int32_t result;
        std::vector<std::wstring> lines;
        size_t adjustments;
    };
    const Case cases[] = {
        {FailNth<&C::OpenProcess>(1, ERROR_ACCESS_DENIED, HANDLE(nullptr)),
         VAULTKIT_ERROR_CANNOT_OPEN_PROCESS, {kFolderLine, kNoProcess}, 0},
        // Without a token both adjustments fail.
        {FailNth<&C::OpenProcessToken>(1, ERROR_ACCESS_DENIED, FALSE), 0,
         {kFolderLine, kNoToken, kNoRestore, kNoBackup}, 2},
        // Without a privilege identifier its adjustment is skipped.
        {FailNth<&C::LookupPrivilegeValueW>(1, ERROR_NO_SUCH_PRIVILEGE, FALSE), 0,
         {kFolderLine, kNoRestoreLuid}, 1},
        {FailNth<&C::AdjustTokenPrivileges>(1, ERROR_ACCESS_DENIED, FALSE), 0,
         {kFolderLine, kNoRestore}, 2},
        {FailNth<&C::LookupPrivilegeValueW>(2, ERROR_NO_SUCH_PRIVILEGE, FALSE), 0,
         {kFolderLine, kNoBackupLuid}, 1},
        {FailNth<&C::AdjustTokenPrivileges>(2, ERROR_ACCESS_DENIED, FALSE), 0,
         {kFolderLine, kNoBackup}, 2},
        // A token that lacks a privilege: the call succeeds and nothing is reported.
        {Answer<&C::AdjustTokenPrivileges>(
             [](HANDLE, BOOL, PTOKEN_PRIVILEGES, DWORD, PTOKEN_PRIVILEGES, PDWORD) {
                 g_Sys.SetLastError(ERROR_NOT_ALL_ASSIGNED);
                 return TRUE;
             }),
         0, {kFolderLine}, 2},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        std::shared_ptr<void> fault = cases[i].fault();
        CSysRecorder<&CSysCalls::AdjustTokenPrivileges> adjustments; // sees the failing calls
        m_Debugger.Clear();
        EXPECT_EQ(VaultkitInit(), cases[i].result) << "case " << i;
        EXPECT_EQ(Lines(), cases[i].lines) << "case " << i;
        EXPECT_EQ(adjustments.Count(), cases[i].adjustments) << "case " << i;
        StopLibrary();
    }
}
