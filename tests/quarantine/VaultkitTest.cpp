// The quarantine library's start and stop: folder lookup, privilege steps and traces, start count.
#include "diag/DebugLog.h"
#include "quarantine/Vaultkit.h"
#include "tests/support/SysHooks.h"
#include "tests/support/QuarantineKey.h"
#include <gtest/gtest.h>
#include <new>

namespace {

const std::wstring kFolder = L"[VAULTKIT] QUARANTINE FOLDER |C:\\quarantine|\n";
const std::wstring kError = L"[VAULTKIT] EROARE: ";
const std::wstring kNoProcess = kError + L"Nu am obtinut handle catre procesul curent\n";
const std::wstring kNoToken = kError + L"Nu am obtinut handle catre token-ul procesului curent\n";
const std::wstring kNoRestoreLuid = kError + L"Nu am gasit privilegiul SE_RESTORE_NAME\n";
const std::wstring kNoRestore = kError + L"Nu am putut activa privilegiul SE_RESTORE_NAME ";
const std::wstring kNoBackupLuid = kError + L"Nu am gasit privileghiul SE_BACKUP_NAME\n";
const std::wstring kNoBackup = kError + L"Nu am putut activa privilegiul SE_BACKUP_NAME  ";
// The debug log's lines, as the debugger gets them after the fields.
const std::wstring kNoKeyLog = L"[QT][ERROR]:  GetQuarFolderPath - Cannot open registry path: "
                               L"SOFTWARE\\Corvanta\\Corvanta Quarantine\\\n";
const std::wstring kNoValueLog =
    L"[QT][ERROR]:  GetQuarFolderPath - Cannot get registry value: QuarantineFolder\n";

class Vaultkit : public ::testing::Test
{
protected:
    // CDebugLog cannot be un-started: rebuilt afterwards as the program first sees it.
    Vaultkit() { g_DebugLog.Start(L"[QT]"); }
    ~Vaultkit() override
    {
        StopLibrary();
        EXPECT_EQ(m_Key.m_nOpen, 0);
        g_DebugLog.~CDebugLog();
        new (&g_DebugLog) CDebugLog();
    }
    static void StopLibrary()
    {
        while (g_nVaultkitInit > 0)
            VaultkitUninit();
    }
    // The trace and log lines so far, a log line from its line tag on; then cleared.
    std::vector<std::wstring> Lines()
    {
        std::vector<std::wstring> lines;
        for (const std::wstring& line : m_Debugger.Lines()) {
            size_t fields = line.find(L"[~]");
            lines.push_back(fields == std::wstring::npos ? line : line.substr(fields + 3));
        }
        m_Debugger.Clear();
        return lines;
    }

    CQuarantineKey m_Key{L"C:\\quarantine"};
    CDebugCapture m_Debugger;
};

} // namespace

// A nested start is only counted; the locks go at the last stop; a stop without a start does nothing.
TEST_F(Vaultkit, StartsOnceAndFindsItsFolder)
{
    CSysRecorder<&CSysCalls::InitializeCriticalSection> created;
    CSysRecorder<&CSysCalls::DeleteCriticalSection> deleted;
    std::vector<size_t> counts;
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(VaultkitInit(), VAULTKIT_ERROR_SUCCESS);
        counts.push_back(created.Count() * 10 + Lines().size()); // locks made, lines traced
    }
    for (int i = 0; i < 3; ++i) {
        VaultkitUninit();
        counts.push_back(deleted.Count());
    }
    EXPECT_EQ(counts, (std::vector<size_t>{31, 30, 0, 3, 3}));
    EXPECT_STREQ(g_sQuarFolder, L"C:\\quarantine");

    // Raw bytes with room for the terminator, an odd last byte dropped; no value or key: one log
    // line, and the failed start stays counted (the caller stops it).
    const std::wstring longest(259, L'q');
    const std::pair<std::string, std::wstring> cases[] = { // value, folder ("": refused)
        {RegistryText(longest), longest},
        {RegistryText(longest + L'q').substr(0, 520), L""},
        {std::string("C\0:\0\\\0q\0X", 9), L"C:\\q"},
    };
    for (const auto& c : cases) {
        m_Key.m_sValue = c.first;
        wchar_t buffer[260];
        std::fill(std::begin(buffer), std::end(buffer), L'Z');
        EXPECT_EQ(GetQuarFolderPath(buffer), !c.second.empty()) << c.first.size();
        EXPECT_EQ(buffer, c.second);
        EXPECT_EQ(Lines(), std::vector<std::wstring>(c.second.empty(), kNoValueLog));
    }
    CSysRecorder<&CSysCalls::OpenProcess> process;
    m_Key.m_OpenResult = ERROR_FILE_NOT_FOUND;
    EXPECT_EQ(VaultkitInit(), VAULTKIT_ERROR_NO_QUAR_FOLDER);
    EXPECT_EQ(Lines(), std::vector<std::wstring>{kNoKeyLog});
    EXPECT_EQ(process.Count(), 0u);
    EXPECT_EQ(g_nVaultkitInit, 1);
}

// Each failing privilege step is traced; only an unopenable process fails the start; a missing
// privilege (success, ERROR_NOT_ALL_ASSIGNED) is not reported.
TEST_F(Vaultkit, EachFailingStepIsTraced)
{
    using C = CSysCalls;
    const DWORD denied = ERROR_ACCESS_DENIED, none = ERROR_NO_SUCH_PRIVILEGE;
    const std::tuple<CFault, int32_t, std::vector<std::wstring>> cases[] = {
        {FailNth<&C::OpenProcess>(1, denied, HANDLE(nullptr)), VAULTKIT_ERROR_CANNOT_OPEN_PROCESS,
         {kFolder, kNoProcess}},
        {FailNth<&C::OpenProcessToken>(1, denied, FALSE), 0, {kFolder, kNoToken, kNoRestore, kNoBackup}},
        {FailNth<&C::LookupPrivilegeValueW>(1, none, FALSE), 0, {kFolder, kNoRestoreLuid}},
        {FailNth<&C::AdjustTokenPrivileges>(1, denied, FALSE), 0, {kFolder, kNoRestore}},
        {FailNth<&C::LookupPrivilegeValueW>(2, none, FALSE), 0, {kFolder, kNoBackupLuid}},
        {FailNth<&C::AdjustTokenPrivileges>(2, denied, FALSE), 0, {kFolder, kNoBackup}},
        {Answer<&C::AdjustTokenPrivileges>([](HANDLE, BOOL, PTOKEN_PRIVILEGES, DWORD,
                                              PTOKEN_PRIVILEGES, PDWORD) {
             g_Sys.SetLastError(ERROR_NOT_ALL_ASSIGNED);
             return TRUE;
         }),
         0, {kFolder}},
    };
    for (const auto& [fault, result, lines] : cases) {
        Hold armed = fault();
        EXPECT_EQ(VaultkitInit(), result) << lines.back();
        EXPECT_EQ(Lines(), lines);
        StopLibrary();
    }
}
