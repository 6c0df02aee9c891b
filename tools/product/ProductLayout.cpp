// Names and folders of the simulated product (see ProductLayout.h).
#include "tools/product/ProductLayout.h"
#include "platform/WinHeaders.h"
#include <cwctype>

const wchar_t kServiceProgram[] = L"cvservice.exe";
const wchar_t kAppProgram[] = L"cvapp.exe";
const wchar_t kDecoyProgram[] = L"cvdecoy.exe";

const wchar_t kProductQuarantineKey[] = L"SOFTWARE\\Corvanta\\Corvanta Quarantine\\";
const wchar_t kProductQuarantineValue[] = L"QuarantineFolder";
const wchar_t kProductVendorKey[] = L"SOFTWARE\\Corvanta";
const wchar_t kSessionManagerKeyPath[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const wchar_t kPendingRenamesValue[] = L"PendingFileRenameOperations";

const std::vector<CProductService>& ProductServices()
{
    static const std::vector<CProductService> services = {
        {L"CVHOST", L"cvhostsvc.exe", L"Corvanta Host Service"},
        {L"CVUPDATE", L"cvupdate.exe", L"Corvanta Update Service"},
        {L"CVPROBE", L"cvprobe.exe", L"Corvanta Probe Service"},
        {L"CVMSG", L"cvmsg.exe", L"Corvanta Message Service"},
    };
    return services;
}

const CProductService* FindProductService(const std::wstring& name)
{
    for (const CProductService& service : ProductServices())
        if (_wcsicmp(service.m_szName, name.c_str()) == 0)
            return &service;
    return nullptr;
}

const std::vector<std::wstring>& ProductApps()
{
    static const std::vector<std::wstring> apps = {L"cvhost.exe", L"cvtray.exe",
                                                   L"cvconsole.exe"};
    return apps;
}

namespace {

std::wstring ShellFolder(int csidl)
{
    wchar_t folder[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(/*hwnd=*/nullptr, csidl, /*hToken=*/nullptr, /*dwFlags=*/0,
                                folder)))
        return std::wstring();
    std::wstring text = folder;
    if (!text.empty() && text.back() != L'\\')
        text += L'\\';
    return text;
}

} // namespace

CProductLayout GetProductLayout()
{
    CProductLayout layout;
    std::wstring programFiles = ShellFolder(CSIDL_PROGRAM_FILES);
    std::wstring commonFiles = ShellFolder(CSIDL_PROGRAM_FILES_COMMON);
    std::wstring programData = ShellFolder(CSIDL_COMMON_APPDATA);
    layout.m_sVendor = programFiles + L"Corvanta\\";
    layout.m_sInstall = layout.m_sVendor + L"Corvanta Suite\\";
    layout.m_sEngineVendor = commonFiles + L"Corvanta\\";
    layout.m_sEngine = layout.m_sEngineVendor + L"Corvanta Scan Kernel\\";
    layout.m_sData = programData + L"Corvanta\\";
    layout.m_sQuarantine = layout.m_sData + L"Quarantine\\";
    layout.m_sDTrace = layout.m_sData + L"DTrace\\";
    // The drive of the Program Files folder, e.g. "C:\".
    layout.m_sSystemDrive = programFiles.size() >= 3 ? programFiles.substr(0, 3) : L"C:\\";
    layout.m_sVictims = layout.m_sSystemDrive + L"Corvanta Victims\\";
    return layout;
}

std::wstring ServiceBinaryPath(const CProductLayout& layout, const CProductService& service,
                               const std::wstring& words)
{
    return L"\"" + layout.m_sInstall + service.m_szExe + L"\" " + words;
}
