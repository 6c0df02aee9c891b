// Stopping and starting the product's services through the service control manager,
// polling once a second up to the time-out; a service that will not stop is killed.
#include "app/Operations.h"
#include "app/PathText.h"
#include "app/ServiceConfig.h"
#include "diag/DebugLog.h"
#include "platform/Owners.h"

namespace {

const DWORD kPollInterval = 1000;
const size_t kBinaryPathChars = 1024;
const DWORD kStopServiceAccess = 0xF003F; // required rights, config, status, start, stop

// Time-out fallback of a stop: kill the service's executable by its file name.
bool KillServiceExecutable(const wchar_t* tag, SC_HANDLE service)
{
    CServiceConfig config;
    if (!config.Query(service)) {
        Log(DBG_ERROR, tag, L"QueryServiceConfig() failed");
        return false;
    }
    const wchar_t* binaryPath = config.BinaryPath();
    if (!binaryPath || !*binaryPath) {
        Log(DBG_ERROR, tag, L"No binary path name founded\n");
        return false;
    }
    std::wstring copy;
    if (!UnquoteBinaryPath(binaryPath, kBinaryPathChars, copy)) {
        Log(DBG_ERROR, tag, L"Binary path name too long: %s", binaryPath);
        return false;
    }
    std::wstring exe = copy.empty() ? std::wstring() : FileNameOfPath(copy);
    Log(DBG_INFO, tag, L"KillProcess %s", exe.c_str());
    bool killed = KillProcess(exe.c_str());
    Log(DBG_INFO, tag, L"KillProcess %s result=%s", exe.c_str(), killed ? L"ok" : L"fail");
    return false;
}

} // namespace

bool MyStopService(const wchar_t* szName, DWORD dwTimeout)
{
    const wchar_t* tag = L"MyStopService";
    Log(DBG_ALL, tag, L"szName=%s", szName);
    CUniqueService manager(g_Sys.OpenSCManagerW(/*lpMachineName=*/nullptr,
                                                /*lpDatabaseName=*/nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) {
        Log(DBG_ERROR, tag, L"OpenSCManager() failed");
        return false;
    }
    CUniqueService service(g_Sys.OpenServiceW(manager.get(), szName, kStopServiceAccess));
    if (!service) {
        Log(DBG_ERROR, tag, L"OpenService() failed, name=%s", szName);
        return false;
    }
    SERVICE_STATUS status = {};
    if (!g_Sys.QueryServiceStatus(service.get(), &status)) {
        Log(DBG_ERROR, tag, L"QueryServiceStatus() failed");
        return false;
    }
    if (status.dwCurrentState == SERVICE_STOPPED)
        return true;
    if (!g_Sys.ControlService(service.get(), SERVICE_CONTROL_STOP, &status))
        Log(DBG_ERROR, tag, L"ControlService() failed");
    if (status.dwCurrentState == SERVICE_STOPPED)
        return true;
    for (int32_t remaining = static_cast<int32_t>(dwTimeout); remaining > 0;) {
        g_Sys.Sleep(kPollInterval);
        remaining -= static_cast<int32_t>(kPollInterval);
        if (!g_Sys.QueryServiceStatus(service.get(), &status)) {
            Log(DBG_ERROR, tag, L"QueryServiceStatus() failed");
            return false;
        }
        if (status.dwCurrentState == SERVICE_STOPPED)
            return true;
    }
    return KillServiceExecutable(tag, service.get());
}

bool MyStartService(const wchar_t* szName, DWORD dwTimeout)
{
    const wchar_t* tag = L"MyStartService";
    Log(DBG_ALL, tag, L"szName=%s", szName);
    CUniqueService manager(g_Sys.OpenSCManagerW(/*lpMachineName=*/nullptr,
                                                /*lpDatabaseName=*/nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) {
        Log(DBG_ERROR, tag, L"OpenSCManager() failed");
        return false;
    }
    CUniqueService service(g_Sys.OpenServiceW(manager.get(), szName, SERVICE_ALL_ACCESS));
    if (!service) {
        Log(DBG_ERROR, tag, L"OpenService() failed");
        return false;
    }
    SERVICE_STATUS status = {};
    if (!g_Sys.QueryServiceStatus(service.get(), &status)) {
        Log(DBG_ERROR, tag, L"- QueryServiceStatus() failed");
        return false;
    }
    if (status.dwCurrentState == SERVICE_RUNNING)
        return true;
    if (!g_Sys.StartServiceW(service.get(), /*dwNumServiceArgs=*/0,
                             /*lpServiceArgVectors=*/nullptr)) {
        Log(DBG_ERROR, tag, L"StartService() failed");
        return false;
    }
    for (int32_t remaining = static_cast<int32_t>(dwTimeout); remaining > 0;) {
        g_Sys.Sleep(kPollInterval);
        remaining -= static_cast<int32_t>(kPollInterval);
        if (!g_Sys.QueryServiceStatus(service.get(), &status)) {
            Log(DBG_ERROR, tag, L"- QueryServiceStatus() failed");
            return false;
        }
        if (status.dwCurrentState == SERVICE_RUNNING)
            return true;
    }
    // Still starting after the time-out counts as started.
    return true;
}
