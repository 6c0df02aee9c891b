// The simulated product itself, in the e2e prefix: what the set-up installs, that its
// services and executables behave as the repair run relies on, that the decoy is armed,
// and that uninstalling leaves nothing behind for the next scenario.
#include "platform/Utf8.h"
#include "quarantine/QuarItem.h"
#include "tests/e2e/E2ePaths.h"
#include "tools/product/FileTools.h"
#include "tools/product/Manifest.h"
#include "tools/product/ProcessTools.h"
#include "tools/product/ProductSetup.h"
#include "tools/product/RegistryTools.h"
#include "tools/product/ServiceTools.h"
#include <gtest/gtest.h>

namespace {

class ProductSetupTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_Layout = GetProductLayout();
        m_Plan = GetProductPlan(m_Layout);
        m_Install.m_sBinFolder = ProductBinFolder();
        CSetupReport report;
        UninstallProduct(m_Layout, report);
        ASSERT_TRUE(report.Ok()) << WideToUtf8(report.Text());
    }
    void TearDown() override
    {
        CSetupReport report;
        UninstallProduct(m_Layout, report);
        EXPECT_TRUE(report.Ok()) << WideToUtf8(report.Text());
    }

    void Install()
    {
        CSetupReport report;
        InstallProduct(m_Layout, m_Plan, m_Install, report);
        ASSERT_TRUE(report.Ok()) << WideToUtf8(report.Text());
    }
    void Start(const CStartOptions& options = CStartOptions())
    {
        CSetupReport report;
        StartProduct(m_Layout, options, report);
        ASSERT_TRUE(report.Ok()) << WideToUtf8(report.Text());
    }
    // Runs an installed executable as the repair run does: unquoted path, and the path
    // again as the application name.
    CRunResult RunApp(const std::wstring& app, const std::wstring& word)
    {
        std::wstring path = m_Layout.m_sInstall + app;
        return RunProgram(path, path + L" " + word, 10000);
    }
    CRunResult RunSetup(const std::wstring& arguments)
    {
        return RunProgram(ProductSetupExe(), L"\"" + ProductSetupExe() + L"\" " + arguments, 60000);
    }

    CProductLayout m_Layout;
    CProductPlan m_Plan;
    CInstallOptions m_Install;
};

// The first state other than `from` the service reports within five seconds.
DWORD StateAfterLeaving(const std::wstring& name, DWORD from)
{
    DWORD state = QueryServiceState(name);
    for (int i = 0; i < 100 && state == from; ++i) {
        Sleep(50);
        state = QueryServiceState(name);
    }
    return state;
}

std::wstring MultiString(const std::vector<std::wstring>& texts)
{
    std::wstring multi;
    for (const std::wstring& text : texts)
        multi += text + L'\0';
    return multi + L'\0';
}

TEST_F(ProductSetupTest, InstallPutsServicesProgramsEngineAndRegistryInPlace)
{
    Install();
    for (const CProductService& service : ProductServices()) {
        EXPECT_EQ(L"\"" + m_Layout.m_sInstall + service.m_szExe + L"\" normal",
                  QueryServiceBinaryPath(service.m_szName));
        EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), QueryServiceState(service.m_szName));
    }
    for (const std::wstring& app : ProductApps())
        EXPECT_TRUE(PathExists(m_Layout.m_sInstall + app)) << WideToUtf8(app);
    EXPECT_TRUE(PathExists(m_Layout.VendorDecoy()));
    EXPECT_TRUE(PathExists(m_Layout.RootDecoy()));
    EXPECT_TRUE(IsFolder(m_Layout.m_sDTrace));

    for (const CPlannedEngineFile& file : m_Plan.m_EngineFiles)
        EXPECT_EQ(file.m_bFolder, IsFolder(m_Layout.m_sEngine + file.m_sRelative))
            << WideToUtf8(file.m_sRelative);
    EXPECT_EQ(3, m_Plan.EngineMatches());

    DWORD type = 0;
    std::wstring data;
    ASSERT_EQ(ERROR_SUCCESS, ReadHklmValue(kProductQuarantineKey, kProductQuarantineValue, type, data));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_EQ(m_Layout.m_sQuarantine + L'\0', data);
    EXPECT_EQ(L'\\', m_Layout.m_sQuarantine.back());
    ASSERT_EQ(ERROR_SUCCESS, ReadHklmValue(kSessionManagerKeyPath, kPendingRenamesValue, type, data));
    EXPECT_EQ(static_cast<DWORD>(REG_MULTI_SZ), type);
    EXPECT_EQ(MultiString(m_Plan.m_PendingRenames), data);
}

TEST_F(ProductSetupTest, QuarantineItemsReadBackAsPlanned)
{
    Install();
    for (const CPlannedItem& item : m_Plan.m_Items) {
        std::wstring base = m_Layout.m_sQuarantine + item.m_sBaseName;
        SCOPED_TRACE(WideToUtf8(base));
        EXPECT_TRUE(PathExists(base + L".cvq"));
        QuarItem record;
        bool loaded = record.LoadXml((base + L".xml").c_str());
        ASSERT_EQ(!item.m_bCorruptIndex, loaded);
        if (!loaded)
            continue;
        EXPECT_EQ(item.m_sThreat, record.dvirus);
        EXPECT_EQ(static_cast<int64_t>(item.m_sContent.size()), record.size);
        ASSERT_EQ(item.m_Locations.size(), record.GetFileCount());
        for (size_t i = 0; i < item.m_Locations.size(); ++i) {
            const CPlannedLocation& location = item.m_Locations[i];
            const QuarItemInfo& info = record.SelectFile(i);
            EXPECT_EQ(location.m_sName, info.name);
            EXPECT_EQ(location.m_sFolder, info.path);
            EXPECT_EQ(location.m_dwAttributes, info.attr);
            EXPECT_EQ(location.m_llWrite, info.lwt);
            EXPECT_EQ(location.m_llAccess, info.lat);
            EXPECT_EQ(location.m_llCreation, info.crt);
            EXPECT_TRUE(IsFolder(location.m_sFolder)) << "the restore creates no folder";
            std::string existing;
            EXPECT_EQ(location.m_eFate == ELocationFate::ExistingKept,
                      ReadWholeFile(location.FullPath(), existing));
        }
    }
    // The first item carries security data; the others none.
    QuarItem first;
    ASSERT_TRUE(first.LoadXml((m_Layout.m_sQuarantine + m_Plan.m_Items[0].m_sBaseName + L".xml").c_str()));
    EXPECT_GT(first.SelectFile(0).sec_str_len, 1);
    for (const CPlannedQuarantineExtra& extra : m_Plan.m_QuarantineExtras)
        EXPECT_EQ(extra.m_bFolder, IsFolder(m_Layout.m_sQuarantine + extra.m_sRelative));
}

TEST_F(ProductSetupTest, StartRunsEveryServiceAndOneResidentPerExecutable)
{
    Install();
    Start();
    for (const CProductService& service : ProductServices()) {
        EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), QueryServiceState(service.m_szName));
        EXPECT_EQ(1u, CountProcesses(service.m_szExe)) << WideToUtf8(service.m_szExe);
    }
    for (const std::wstring& app : ProductApps())
        EXPECT_EQ(1u, CountProcesses(app)) << WideToUtf8(app);
}

TEST_F(ProductSetupTest, StopCommandEndsTheResidentsOfItsOwnNameOnly)
{
    Install();
    CStartOptions options;
    options.m_StubbornApps = {L"cvconsole.exe"};
    Start(options);

    CRunResult stop = RunApp(L"cvtray.exe", L"stop");
    ASSERT_TRUE(stop.m_bEnded);
    EXPECT_EQ(0u, stop.m_dwExitCode);
    EXPECT_EQ(0u, CountProcesses(L"cvtray.exe"));
    EXPECT_EQ(1u, CountProcesses(L"cvhost.exe"));

    // A stubborn resident outlives its stop command; only a kill ends it.
    EXPECT_TRUE(RunApp(L"cvconsole.exe", L"stop").m_bEnded);
    EXPECT_EQ(1u, CountProcesses(L"cvconsole.exe"));

    CRunResult start = RunApp(L"cvtray.exe", L"start");
    ASSERT_TRUE(start.m_bEnded) << "start must return at once";
    EXPECT_EQ(0u, start.m_dwExitCode);
    EXPECT_EQ(1u, CountProcesses(L"cvtray.exe"));
}

TEST_F(ProductSetupTest, ServicesBehaveAsTheirBinaryPathWordsSay)
{
    m_Install.m_ServiceWords[L"CVPROBE"] = L"ignore-stop";
    m_Install.m_ServiceWords[L"CVMSG"] = L"slow-stop=1500";
    m_Install.m_ServiceWords[L"CVHOST"] = L"hang-stop";
    Install();
    EXPECT_EQ(L"\"" + m_Layout.m_sInstall + L"cvprobe.exe\" ignore-stop",
              QueryServiceBinaryPath(L"CVPROBE"));
    Start();

    EXPECT_FALSE(StopProductService(L"CVPROBE", 1500));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), QueryServiceState(L"CVPROBE"));
    EXPECT_EQ(1u, CountProcesses(L"cvprobe.exe"));

    EXPECT_FALSE(StopProductService(L"CVMSG", 0)) << "a slow service is still stopping";
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOP_PENDING), StateAfterLeaving(L"CVMSG", SERVICE_RUNNING));
    EXPECT_TRUE(StopProductService(L"CVMSG", 10000));
    EXPECT_TRUE(WaitForProcessCount(L"cvmsg.exe", /*wantRunning=*/false, 5000));

    EXPECT_FALSE(StopProductService(L"CVHOST", 1000));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOP_PENDING), QueryServiceState(L"CVHOST"));
    EXPECT_EQ(1u, CountProcesses(L"cvhostsvc.exe"));

    EXPECT_TRUE(StopProductService(L"CVUPDATE", 5000));
    EXPECT_TRUE(StartProductService(L"CVUPDATE", 5000)) << "a stopped service starts again";
    // TearDown's uninstall must get rid of the services that never stop.
}

TEST_F(ProductSetupTest, UnquotedCommandWithoutApplicationNameRunsTheDecoy)
{
    Install();
    std::wstring command = m_Layout.m_sInstall + L"cvhost.exe stop";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(CreateProcessW(/*lpApplicationName=*/nullptr, &command[0],
                               /*lpProcessAttributes=*/nullptr, /*lpThreadAttributes=*/nullptr,
                               /*bInheritHandles=*/FALSE, /*dwCreationFlags=*/0,
                               /*lpEnvironment=*/nullptr, /*lpCurrentDirectory=*/nullptr, &si, &pi));
    WaitForSingleObject(pi.hProcess, 10000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);

    std::string record;
    ASSERT_TRUE(ReadWholeFile(m_Layout.DecoyRecord(), record)) << "no decoy ran";
    EXPECT_NE(std::string::npos, record.find(WideToUtf8(m_Layout.RootDecoy()))) << record;
    EXPECT_NE(std::string::npos, record.find("cvhost.exe stop")) << record;
}

TEST_F(ProductSetupTest, UninstallLeavesNoTrace)
{
    Install();
    CStartOptions options;
    options.m_StubbornApps = {L"cvhost.exe"};
    Start(options);
    CSetupReport report;
    UninstallProduct(m_Layout, report);
    ASSERT_TRUE(report.Ok()) << WideToUtf8(report.Text());

    for (const CProductService& service : ProductServices()) {
        EXPECT_FALSE(ServiceExists(service.m_szName)) << WideToUtf8(service.m_szName);
        EXPECT_EQ(0u, CountProcesses(service.m_szExe));
    }
    for (const std::wstring& app : ProductApps())
        EXPECT_EQ(0u, CountProcesses(app));
    for (const std::wstring& folder : {m_Layout.m_sVendor, m_Layout.m_sEngineVendor,
                                       m_Layout.m_sData, m_Layout.m_sVictims, m_Layout.RootDecoy()})
        EXPECT_FALSE(PathExists(folder)) << WideToUtf8(folder);
    DWORD type = 0;
    std::wstring data;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, ReadHklmValue(kProductQuarantineKey, kProductQuarantineValue, type, data));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, ReadHklmValue(kSessionManagerKeyPath, kPendingRenamesValue, type, data));
}

TEST_F(ProductSetupTest, SetupProgramInstallsDescribesAndRemoves)
{
    EXPECT_EQ(2u, RunSetup(L"frobnicate").m_dwExitCode);
    EXPECT_EQ(2u, RunSetup(L"install --ignore-stop").m_dwExitCode);

    CRunResult install = RunSetup(L"install --ignore-stop=CVPROBE --slow-start=CVMSG:500");
    ASSERT_TRUE(install.m_bEnded);
    EXPECT_EQ(0u, install.m_dwExitCode);
    EXPECT_EQ(L"\"" + m_Layout.m_sInstall + L"cvprobe.exe\" ignore-stop",
              QueryServiceBinaryPath(L"CVPROBE"));
    EXPECT_EQ(L"\"" + m_Layout.m_sInstall + L"cvmsg.exe\" slow-start=500",
              QueryServiceBinaryPath(L"CVMSG"));

    CRunResult expect = RunSetup(L"expect");
    EXPECT_EQ(0u, expect.m_dwExitCode);
    std::string manifest;
    ASSERT_TRUE(ReadWholeFile(m_Layout.Manifest(), manifest));
    EXPECT_EQ(RenderManifest(m_Layout, m_Plan), manifest);
    EXPECT_NE(std::string::npos, manifest.find("engine-count\t3\n"));

    EXPECT_EQ(0u, RunSetup(L"uninstall").m_dwExitCode);
    EXPECT_FALSE(ServiceExists(L"CVPROBE"));
    EXPECT_FALSE(PathExists(m_Layout.m_sData));
}

} // namespace
