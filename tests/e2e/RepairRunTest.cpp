// End-to-end scenarios, each from a fresh product (the second run follows the first), each log
// and trace exactly its rows of expected-runs.txt.
#include "platform/Utf8.h"
#include "restore/StagingPath.h"
#include "restore/codecs/Md5Text.h"
#include "tests/e2e/E2e.h"
#include "tests/support/UnixLinks.h"
#include "tools/common/FileTools.h"
#include "tools/product/Report.h"
#include "tools/product/SetupQuarantine.h"
#include <gtest/gtest.h>

namespace {

std::wstring WindowsFolder()
{
    wchar_t folder[MAX_PATH] = {};
    GetWindowsDirectoryW(folder, MAX_PATH);
    return folder;
}

std::string Names(const std::wstring& folder)
{
    std::string names;
    for (const std::wstring& name : ListFolder(folder))
        names += WideToUtf8(name) + "|";
    return names;
}

DWORD LinkCount(const std::wstring& path)
{
    HANDLE h = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, 7, nullptr, OPEN_EXISTING, 0, nullptr);
    BY_HANDLE_FILE_INFORMATION info = {};
    if (h != INVALID_HANDLE_VALUE) {
        GetFileInformationByHandle(h, &info);
        CloseHandle(h);
    }
    return info.nNumberOfLinks;
}

// Items a user could prepare against the machine: a link to system32 on the path (T1), a symbolic
// and a hard link under the staging name (T2), names that are paths, an empty and a relative
// folder (T3), device names (T4), a declared size below the payload (T5). All refused, all kept.
class CHostileQuarantine
{
public:
    explicit CHostileQuarantine(const CProductLayout& layout)
        : m_sRoot(layout.m_sSystemDrive + L"sanarix-attack\\"), m_sSystem(WindowsFolder() + L"\\system32"),
          m_sProtected(WindowsFolder() + L"\\sanarix-protected.txt"),
          m_sHardTarget(WindowsFolder() + L"\\sanarix-hardlinked.txt"), m_sQuarantine(layout.m_sQuarantine)
    {
        wchar_t staging[2][kStagingPathChars] = {};
        MakeStagingPath((m_sRoot + L"staged\\").c_str(), L"report.pdf", staging[0], kStagingPathChars);
        MakeStagingPath((m_sRoot + L"staged2\\").c_str(), L"report.pdf", staging[1], kStagingPathChars);
        m_sStagingLink = staging[0];
        m_sStagingHard = staging[1];
        const std::wstring linked = m_sRoot + L"victim\\linked\\", dots = m_sRoot + L"dots\\";
        Add(L"T1", 3000, {Refused(linked, L"sanarix-attack.dll"), Refused(linked, L"kernel32.dll")});
        ReadWholeFile(m_sSystem + L"\\kernel32.dll", m_Items.back().m_Locations[1].m_sExisting);
        Add(L"T2", 2000, {Refused(m_sRoot + L"staged\\", L"report.pdf"),
                          Refused(m_sRoot + L"staged2\\", L"report.pdf")});
        Add(L"T3", 1500, {Refused(dots, L"..\\..\\windows\\dotdot.dll"), Refused(dots, L"sub/evil.dll"),
                          Refused(L"", L"rootwrite.dll"), Refused(L"..\\..\\windows", L"relwrite.dll")});
        std::wstring devices = m_sRoot + L"devices\\";
        Add(L"T4", 1200, {Refused(devices, L"CON"), Refused(devices, L"NUL"), Refused(devices, L"COM1"),
                          Refused(devices, L"lpt1.txt")});
        Add(L"T5", 300 * 1024, {Refused(m_sRoot + L"size\\", L"big.bin")}); // declares 1,000 bytes
    }
    ~CHostileQuarantine() { Clear(); }

    CFaults Prepare()
    {
        Clear(); // what an interrupted test may have left
        CFaults faults;
        for (const wchar_t* folder :
             {L"victim", L"staged", L"staged2", L"dots\\sub", L"devices", L"size", L"cwd"})
            if (!CreateFolderTree(m_sRoot + folder))
                faults.push_back("cannot make " + WideToUtf8(m_sRoot + folder));
        for (const auto& [file, text] : {std::pair{m_sProtected, "a protected file\r\n"},
                                         std::pair{m_sHardTarget, "another protected file\r\n"}})
            if (!WriteWholeFile(file, text) || !SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY))
                faults.push_back("cannot write " + WideToUtf8(file));
        for (const CPlannedItem& planned : m_Items) {
            CItemDescription description = DescribeItem(planned, /*withSecurity=*/false);
            if (planned.m_sBaseName == L"T5")
                description.damages.push_back({EItemDamage::WrongSize, 1000});
            if (!BuildQuarItem(description, m_sQuarantine + planned.m_sBaseName))
                faults.push_back("cannot build " + WideToUtf8(planned.m_sBaseName));
        }
        if (!MakeUnixSymlink(m_sRoot + L"victim\\linked", m_sSystem) ||
            !MakeUnixSymlink(m_sStagingLink, m_sProtected) ||
            !CreateHardLinkW(m_sStagingHard.c_str(), m_sHardTarget.c_str(), nullptr))
            faults.push_back("cannot lay the links");
        m_Before = Outside();
        return faults;
    }

    // The traps' targets and the system folders as they were, nothing new where the items aim.
    CFaults Check() const
    {
        CFaults faults = CompareSnapshots(m_Before, Outside());
        const std::pair<const wchar_t*, std::string> named[] = {
            {L"victim", "linked\\|"},
            {L"staged", WideToUtf8(m_sStagingLink.substr(m_sStagingLink.rfind(L'\\') + 1)) + "|"},
            {L"staged2", WideToUtf8(m_sStagingHard.substr(m_sStagingHard.rfind(L'\\') + 1)) + "|"},
            {L"dots", "sub\\|"}, {L"dots\\sub", ""}, {L"devices", ""}, {L"size", ""}, {L"cwd", ""}};
        for (const auto& [folder, names] : named)
            if (Names(m_sRoot + folder) != names)
                faults.push_back(WideToUtf8(m_sRoot + folder) + " holds " + Names(m_sRoot + folder));
        return faults;
    }

    const std::vector<CPlannedItem>& Items() const { return m_Items; }
    // The run starts here, for the relative folder "..\\..\\windows" to aim at the system.
    std::wstring WorkingFolder() const { return m_sRoot + L"cwd"; }

private:
    static CPlannedLocation Refused(const std::wstring& folder, const std::wstring& name)
    {
        return PlannedLocation(folder, name, FILE_ATTRIBUTE_ARCHIVE, 0, ELocationFate::Refused);
    }

    void Add(const wchar_t* base, size_t size, std::vector<CPlannedLocation> locations)
    {
        m_Items.push_back(PlannedItem(base, kTargetThreat, 200 + uint32_t(m_Items.size() + 1), size));
        m_Items.back().m_Locations = locations;
    }

    // The links go first: deleting through one would reach what it leads to.
    void Clear()
    {
        bool unlinked = RemoveUnixLink(m_sRoot + L"victim\\linked") && RemoveUnixLink(m_sStagingLink);
        RemoveOneFile(m_sProtected);
        RemoveOneFile(m_sHardTarget);
        if (unlinked)
            RemoveFolderTree(m_sRoot, RemoveUnixLink);
        else
            printf("hostile quarantine: links left in %s\n", WideToUtf8(m_sRoot).c_str());
    }

    CSnapshot Outside() const
    {
        CSnapshot outside;
        for (const std::wstring& file : {m_sProtected, m_sHardTarget, m_sSystem + L"\\kernel32.dll"}) {
            std::string bytes;
            ReadWholeFile(file, bytes);
            outside[file] = "attr=" + std::to_string(GetFileAttributesW(file.c_str())) +
                            " links=" + std::to_string(LinkCount(file)) + " md5=" + Md5Text(bytes);
        }
        for (const std::wstring& folder : {m_sRoot.substr(0, 3), WindowsFolder(), m_sSystem})
            outside[folder + L" names"] = Names(folder);
        return outside;
    }

    std::wstring m_sRoot, m_sSystem, m_sProtected, m_sHardTarget, m_sStagingLink, m_sStagingHard, m_sQuarantine;
    std::vector<CPlannedItem> m_Items;
    CSnapshot m_Before;
};

const unsigned long kRunTimeoutMs = 240000;

// CVPROBE is not started again, cvconsole.exe (which ignores "stop") was killed.
const char kStatusAfterRun[] = "CVHOST\tstate=4\tcvhostsvc.exe x1\n"
                               "CVUPDATE\tstate=4\tcvupdate.exe x1\n"
                               "CVPROBE\tstate=1\tcvprobe.exe x0\n"
                               "CVMSG\tstate=4\tcvmsg.exe x1\n"
                               "cvhost.exe\tx1\ncvtray.exe\tx1\ncvconsole.exe\tx0\n";
const char kNothingInstalled[] = "CVHOST\tstate=0\tcvhostsvc.exe x0\n"
                                 "CVUPDATE\tstate=0\tcvupdate.exe x0\n"
                                 "CVPROBE\tstate=0\tcvprobe.exe x0\n"
                                 "CVMSG\tstate=0\tcvmsg.exe x0\n"
                                 "cvhost.exe\tx0\ncvtray.exe\tx0\ncvconsole.exe\tx0\n";

class RepairRunTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_Layout = GetProductLayout();
        s_Plan = GetProductPlan(s_Layout);
    }
    static void TearDownTestSuite()
    {
        CSetupReport report;
        UninstallProduct(s_Layout, report);
    }

    // The product running; cvconsole.exe ignores "stop", so only the run's kill ends it.
    static void FreshProduct(const CProductPlan& plan,
                             const CInstallOptions& install = InstallFromBuildTree())
    {
        CStartOptions start;
        start.m_StubbornApps = {L"cvconsole.exe"};
        CFaults faults = ::FreshProduct(s_Layout, plan, install, start);
        ASSERT_TRUE(faults.empty()) << JoinFaults(faults);
        s_QuarantineBefore.clear();
        SnapshotTree(s_Layout.m_sQuarantine, s_QuarantineBefore);
    }

    // Ended with 0, log and trace as the table says, no decoy started for a product program.
    static void ExpectRun(const CRepairRun& run, char scenario)
    {
        ASSERT_TRUE(run.m_Result.m_bStarted) << "sanarix.exe did not start, error "
                                             << run.m_Result.m_dwError;
        ASSERT_TRUE(run.m_Result.m_bEnded) << "sanarix.exe did not end in time";
        EXPECT_EQ(0u, run.m_Result.m_dwExitCode);
        EXPECT_EQ("", JoinFaults(CheckRunOutput(run, s_Layout, scenario))) << "log and trace";
        std::string decoy;
        EXPECT_FALSE(ReadWholeFile(s_Layout.DecoyRecord(), decoy)) << "a decoy ran: " << decoy;
    }

    static void ExpectRepaired(const CProductPlan& plan)
    {
        // Windows reports a killed service stopped, Wine the last state it reported (running).
        std::string status = RenderStatus();
        size_t probe = status.find("CVPROBE\tstate=4\tcvprobe.exe x0");
        if (probe != std::string::npos)
            status.replace(probe, 15, "CVPROBE\tstate=1");
        EXPECT_EQ(kStatusAfterRun, status);
        EXPECT_EQ("", JoinFaults(CheckOutcome(s_Layout, plan))) << "outcome";
        CSnapshot now;
        SnapshotTree(s_Layout.m_sQuarantine, now);
        EXPECT_EQ("", JoinFaults(CompareSnapshots(s_QuarantineBefore, now, true))) << "quarantine";
    }

    static CProductLayout s_Layout;
    static CProductPlan s_Plan;
    static CSnapshot s_QuarantineBefore;
    static bool s_bFirstRunDone;
};

CProductLayout RepairRunTest::s_Layout;
CProductPlan RepairRunTest::s_Plan;
CSnapshot RepairRunTest::s_QuarantineBefore;
bool RepairRunTest::s_bFirstRunDone = false;

TEST_F(RepairRunTest, InstalledRunningProductIsStoppedCleanedRestoredAndStarted)
{
    ASSERT_NO_FATAL_FAILURE(FreshProduct(s_Plan));
    CRepairRun run = RunRepair(s_Layout, kRunTimeoutMs);
    ExpectRun(run, 'F');
    s_bFirstRunDone = true;
    KeepRunLog(run, L"E2E-FIRST-RUN");
    ExpectRepaired(s_Plan);
}

TEST_F(RepairRunTest, SecondRunFindsNothingToRestoreAndChangesNothing)
{
    ASSERT_TRUE(s_bFirstRunDone) << "follows the first run";
    CSnapshot before = SnapshotProduct(s_Layout);
    CRepairRun run = RunRepair(s_Layout, kRunTimeoutMs);
    ExpectRun(run, 'A');
    KeepRunLog(run, L"E2E-SECOND-RUN");
    EXPECT_EQ("", JoinFaults(CompareSnapshots(before, SnapshotProduct(s_Layout))));
}

TEST_F(RepairRunTest, NothingInstalledLogsEveryFailureAndEndsWell)
{
    CSetupReport report;
    UninstallProduct(s_Layout, report);
    ASSERT_TRUE(report.Ok()) << WideToUtf8(report.Text());
    ASSERT_TRUE(CreateFolderTree(s_Layout.m_sDTrace)); // the log creates no folder
    CRepairRun run = RunRepair(s_Layout, kRunTimeoutMs);
    ExpectRun(run, 'N');
    KeepRunLog(run, L"E2E-NOTHING-INSTALLED");
    EXPECT_EQ(kNothingInstalled, RenderStatus());
    EXPECT_FALSE(PathExists(s_Layout.m_sInstall)) << "the run created the install folder";
    EXPECT_FALSE(PathExists(s_Layout.m_sQuarantine)) << "the run created the quarantine folder";
}

TEST_F(RepairRunTest, ServiceIgnoringStopIsKilledAfterTheTimeOut)
{
    CInstallOptions install = InstallFromBuildTree();
    install.m_ServiceWords[L"CVPROBE"] = L"ignore-stop";
    ASSERT_NO_FATAL_FAILURE(FreshProduct(s_Plan, install));
    CRepairRun run = RunRepair(s_Layout, kRunTimeoutMs);
    ExpectRun(run, 'K');
    KeepRunLog(run, L"E2E-IGNORED-STOP");
    ExpectRepaired(s_Plan);
}

// Hostile items beside the product's own: each refused and kept, the others restored. The run
// starts two levels below the root, where "..\..\windows" would aim at the system.
TEST_F(RepairRunTest, HostileItemsAreRefusedWhileTheOthersAreRestored)
{
    ASSERT_NO_FATAL_FAILURE(FreshProduct(s_Plan));
    CHostileQuarantine hostile(s_Layout);
    ASSERT_EQ("", JoinFaults(hostile.Prepare()));
    CProductPlan plan = s_Plan;
    plan.m_Items.insert(plan.m_Items.end(), hostile.Items().begin(), hostile.Items().end());
    s_QuarantineBefore.clear();
    SnapshotTree(s_Layout.m_sQuarantine, s_QuarantineBefore);

    wchar_t previous[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(hostile.WorkingFolder().c_str()));
    CRepairRun run = RunRepair(s_Layout, kRunTimeoutMs);
    SetCurrentDirectoryW(previous);
    ExpectRun(run, 'H');
    ExpectRepaired(plan);
    EXPECT_EQ("", JoinFaults(hostile.Check())) << "traps";
}

} // namespace
