// The set-up operations (see ProductSetup.h).
#include "tools/product/ProductSetup.h"
#include "platform/Owners.h"
#include "platform/Utf8.h"
#include "tools/common/FileTools.h"
#include "tools/product/ProcessTools.h"
#include "tools/product/RegistryTools.h"
#include "tools/product/ServiceTools.h"
#include "tools/product/SetupQuarantine.h"

namespace {

const DWORD kDeleteWaitMs = 10000;
const DWORD kResidentWaitMs = 10000;

void MakeFolders(const CProductLayout& layout, CSetupReport& report)
{
    for (const std::wstring* folder : {&layout.m_sInstall, &layout.m_sEngine, &layout.m_sQuarantine,
                                       &layout.m_sDTrace, &layout.m_sVictims})
        if (!CreateFolderTree(*folder))
            report.Fail(L"CreateDirectoryW " + *folder, GetLastError());
}

void CopyProgram(const std::wstring& from, const std::wstring& to, CSetupReport& report)
{
    if (!CopyFileW(from.c_str(), to.c_str(), /*bFailIfExists=*/FALSE))
        report.Fail(L"CopyFileW " + from + L" -> " + to, GetLastError());
}

void InstallPrograms(const CProductLayout& layout, const CInstallOptions& options,
                     CSetupReport& report)
{
    const std::wstring bin = options.m_sBinFolder;
    for (const CProductService& service : ProductServices())
        CopyProgram(bin + kServiceProgram, layout.m_sInstall + service.m_szExe, report);
    for (const std::wstring& app : ProductApps())
        CopyProgram(bin + kAppProgram, layout.m_sInstall + app, report);
    CopyProgram(bin + kDecoyProgram, layout.VendorDecoy(), report);
    if (options.m_bRootDecoy)
        CopyProgram(bin + kDecoyProgram, layout.RootDecoy(), report);
}

void InstallEngine(const CProductLayout& layout, const CProductPlan& plan, CSetupReport& report)
{
    for (const CPlannedEngineFile& file : plan.m_EngineFiles) {
        std::wstring path = layout.m_sEngine + file.m_sRelative;
        std::wstring folder = file.m_bFolder ? path : path.substr(0, path.find_last_of(L'\\'));
        bool ok = CreateFolderTree(folder) &&
                  (file.m_bFolder || WriteWholeFile(path, "engine data: " + WideToUtf8(path)));
        if (!ok)
            report.Fail(L"engine file " + path, GetLastError());
    }
}

void InstallPendingRenames(const CProductPlan& plan, CSetupReport& report)
{
    std::wstring multi;
    for (const std::wstring& text : plan.m_PendingRenames)
        multi += text + L'\0';
    multi += L'\0';
    LSTATUS rc = SetHklmValue(kSessionManagerKeyPath, kPendingRenamesValue, REG_MULTI_SZ,
                              multi.data(), multi.size() * sizeof(wchar_t));
    if (rc != ERROR_SUCCESS)
        report.Fail(L"PendingFileRenameOperations", static_cast<unsigned long>(rc));
}

void InstallServices(const CProductLayout& layout, const CInstallOptions& options,
                     CSetupReport& report)
{
    for (const CProductService& service : ProductServices()) {
        auto words = options.m_ServiceWords.find(service.m_szName);
        std::wstring binaryPath = ServiceBinaryPath(
            layout, service, words == options.m_ServiceWords.end() ? L"normal" : words->second);
        if (!CreateProductService(service.m_szName, service.m_szDisplay, binaryPath))
            report.Fail(L"CreateServiceW " + std::wstring(service.m_szName), GetLastError());
    }
}

void StartApp(const CProductLayout& layout, const std::wstring& app, bool stubborn,
              CSetupReport& report)
{
    std::wstring program = layout.m_sInstall + app;
    CRunResult run = RunProgram(program, L"\"" + program + L"\" " +
                                             (stubborn ? L"start-stubborn" : L"start"),
                                kResidentWaitMs);
    if (!run.m_bStarted || !run.m_bEnded || run.m_dwExitCode != 0)
        report.Fail(L"start " + app, run.m_dwError ? run.m_dwError : run.m_dwExitCode);
    else if (!WaitForProcessCount(app, /*wantRunning=*/true, kResidentWaitMs))
        report.Fail(L"no resident " + app, 0);
}

} // namespace

void CSetupReport::Fail(const std::wstring& what, unsigned long error)
{
    m_Problems.push_back(what + L" (error " + std::to_wstring(error) + L")");
}

std::wstring CSetupReport::Text() const
{
    std::wstring text;
    for (const std::wstring& problem : m_Problems)
        text += problem + L"\n";
    return text;
}

std::wstring OwnFolder()
{
    wchar_t path[MAX_PATH] = {};
    DWORD n = GetModuleFileNameW(/*hModule=*/nullptr, path, MAX_PATH);
    std::wstring text(path, n < MAX_PATH ? n : 0);
    return text.substr(0, text.find_last_of(L"\\/") + 1);
}

void InstallProduct(const CProductLayout& layout, const CProductPlan& plan,
                    const CInstallOptions& options, CSetupReport& report)
{
    MakeFolders(layout, report);
    InstallPrograms(layout, options, report);
    InstallEngine(layout, plan, report);
    InstallPendingRenames(plan, report);
    InstallQuarantine(layout, plan, report);
    InstallServices(layout, options, report);
}

void StartProduct(const CProductLayout& layout, const CStartOptions& options,
                  CSetupReport& report)
{
    for (const CProductService& service : ProductServices())
        if (!StartProductService(service.m_szName, options.m_dwServiceTimeoutMs))
            report.Fail(L"start service " + std::wstring(service.m_szName), GetLastError());
    for (const std::wstring& app : ProductApps()) {
        bool stubborn = false;
        for (const std::wstring& name : options.m_StubbornApps)
            stubborn = stubborn || _wcsicmp(name.c_str(), app.c_str()) == 0;
        StartApp(layout, app, stubborn, report);
    }
}

void UninstallProduct(const CProductLayout& layout, CSetupReport& report)
{
    for (const CProductService& service : ProductServices())
        if (!StopAndDeleteService(service.m_szName, service.m_szExe, kDeleteWaitMs))
            report.Fail(L"delete service " + std::wstring(service.m_szName), GetLastError());
    for (const std::wstring& app : ProductApps())
        TerminateProcesses(app);
    TerminateProcesses(L"Corvanta.exe");
    TerminateProcesses(L"Program.exe");

    for (const std::wstring* folder : {&layout.m_sVendor, &layout.m_sEngineVendor, &layout.m_sData,
                                       &layout.m_sVictims})
        if (!RemoveFolderTree(*folder))
            report.Fail(L"remove " + *folder, GetLastError());
    if (!RemoveOneFile(layout.RootDecoy()))
        report.Fail(L"remove " + layout.RootDecoy(), GetLastError());

    LSTATUS rc = DeleteHklmTree(kProductVendorKey);
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND)
        report.Fail(L"delete HKLM\\" + std::wstring(kProductVendorKey), static_cast<unsigned long>(rc));
    rc = DeleteHklmValue(kSessionManagerKeyPath, kPendingRenamesValue);
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND)
        report.Fail(L"delete PendingFileRenameOperations", static_cast<unsigned long>(rc));
}
