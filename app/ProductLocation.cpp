// Finding the product: the install folder from the main service's binary path (or a
// fixed folder below Program Files) and the scanning-engine folder below Common Files.
#include "app/Operations.h"
#include "app/PathText.h"
#include "app/ServiceConfig.h"
#include "diag/DebugLog.h"
#include "platform/Owners.h"

std::wstring g_sCVPath;
std::wstring g_sCVSKPath;

namespace {

const wchar_t kTag[] = L"GetServicePath";
const wchar_t kInstallTail[] = L"Corvanta\\Corvanta Suite\\";
const wchar_t kEngineTail[] = L"Corvanta\\Corvanta Scan Kernel\\";

// A shell folder joined with a tail. A folder that cannot be obtained leaves the
// string empty rather than pointing the repair at a folder relative to the current one.
void TakeShellFolder(int csidl, const wchar_t* tail, std::wstring& target)
{
    wchar_t folder[MAX_PATH] = {};
    HRESULT hr = g_Sys.SHGetFolderPathW(/*hwnd=*/nullptr, csidl, /*hToken=*/nullptr,
                                        /*dwFlags=*/0, folder);
    folder[MAX_PATH - 1] = L'\0';
    if (FAILED(hr) || folder[0] == L'\0')
        return;
    target = folder;
    AppendPath(target, tail);
}

} // namespace

bool GetServicePath(const wchar_t* szName, std::wstring& target)
{
    Log(DBG_ALL, kTag, L"szName=%s", szName);
    CUniqueService manager(g_Sys.OpenSCManagerW(/*lpMachineName=*/nullptr,
                                                /*lpDatabaseName=*/nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) {
        Log(DBG_ERROR, kTag, L"OpenSCManager() failed");
        return false;
    }
    CUniqueService service(g_Sys.OpenServiceW(manager.get(), szName, SERVICE_ALL_ACCESS));
    if (!service) {
        Log(DBG_ERROR, kTag, L"OpenService() failed");
        return false;
    }
    CServiceConfig config;
    if (!config.Query(service.get())) {
        Log(DBG_ERROR, kTag, L"QueryServiceConfig() failed");
        return false;
    }
    const wchar_t* binaryPath = config.BinaryPath();
    if (!binaryPath) {
        Log(DBG_ERROR, kTag, L"pSC->lpBinaryPathName is null");
        return false;
    }
    std::wstring executable;
    if (!UnquoteBinaryPath(binaryPath, MAX_PATH, executable)) {
        Log(DBG_ERROR, kTag, L"lpBinaryPathName too long: %s", binaryPath);
        return false;
    }
    target = FolderOfPath(executable);
    Log(DBG_ALL, kTag, L"s=%s, lpBinaryPathName=%s", target.c_str(), binaryPath);
    return true;
}

void InitGlobals()
{
    if (g_sCVPath.empty())
        GetServicePath(L"CVHOST", g_sCVPath);
    if (g_sCVPath.empty())
        TakeShellFolder(CSIDL_PROGRAM_FILES, kInstallTail, g_sCVPath);
    if (g_sCVSKPath.empty())
        TakeShellFolder(CSIDL_PROGRAM_FILES_COMMON, kEngineTail, g_sCVSKPath);
}
