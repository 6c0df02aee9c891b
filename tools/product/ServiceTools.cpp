// Service helpers (see ServiceTools.h).
#include "tools/product/ServiceTools.h"
#include "platform/Owners.h"
#include "tools/product/ProcessTools.h"
#include <vector>

namespace {

const DWORD kPollMs = 100;

CUniqueService OpenManager()
{
    return CUniqueService(OpenSCManagerW(/*lpMachineName=*/nullptr,
                                         /*lpDatabaseName=*/nullptr, SC_MANAGER_ALL_ACCESS));
}

// A service's own handle stays valid once the manager's handle is closed.
CUniqueService OpenNamedService(const std::wstring& name, DWORD access)
{
    CUniqueService manager = OpenManager();
    if (!manager)
        return CUniqueService();
    return CUniqueService(OpenServiceW(manager.get(), name.c_str(), access));
}

bool WaitForState(SC_HANDLE service, DWORD wanted, DWORD timeoutMs)
{
    for (DWORD waited = 0;; waited += kPollMs) {
        SERVICE_STATUS status = {};
        if (!QueryServiceStatus(service, &status))
            return false;
        if (status.dwCurrentState == wanted)
            return true;
        if (waited >= timeoutMs)
            return false;
        Sleep(kPollMs);
    }
}

} // namespace

bool CreateProductService(const std::wstring& name, const std::wstring& display,
                          const std::wstring& binaryPath)
{
    CUniqueService manager = OpenManager();
    if (!manager)
        return false;
    CUniqueService service(CreateServiceW(
        manager.get(), name.c_str(), display.c_str(), SERVICE_ALL_ACCESS,
        SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
        binaryPath.c_str(), /*lpLoadOrderGroup=*/nullptr, /*lpdwTagId=*/nullptr,
        /*lpDependencies=*/nullptr, /*lpServiceStartName=*/nullptr, /*lpPassword=*/nullptr));
    return static_cast<bool>(service);
}

DWORD QueryServiceState(const std::wstring& name)
{
    CUniqueService service = OpenNamedService(name, SERVICE_QUERY_STATUS);
    SERVICE_STATUS status = {};
    if (!service || !QueryServiceStatus(service.get(), &status))
        return 0;
    return status.dwCurrentState;
}

bool ServiceExists(const std::wstring& name)
{
    CUniqueService service = OpenNamedService(name, SERVICE_QUERY_STATUS);
    return static_cast<bool>(service);
}

std::wstring QueryServiceBinaryPath(const std::wstring& name)
{
    CUniqueService service = OpenNamedService(name, SERVICE_QUERY_CONFIG);
    if (!service)
        return std::wstring();
    std::vector<BYTE> buffer(8192);
    DWORD needed = 0;
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (!QueryServiceConfigW(service.get(), config, static_cast<DWORD>(buffer.size()), &needed))
        return std::wstring();
    return config->lpBinaryPathName ? config->lpBinaryPathName : L"";
}

bool StartProductService(const std::wstring& name, DWORD timeoutMs)
{
    CUniqueService service = OpenNamedService(name, SERVICE_ALL_ACCESS);
    if (!service)
        return false;
    if (!StartServiceW(service.get(), /*dwNumServiceArgs=*/0, /*lpServiceArgVectors=*/nullptr) &&
        GetLastError() != ERROR_SERVICE_ALREADY_RUNNING)
        return false;
    return WaitForState(service.get(), SERVICE_RUNNING, timeoutMs);
}

bool StopProductService(const std::wstring& name, DWORD timeoutMs)
{
    CUniqueService service = OpenNamedService(name, SERVICE_ALL_ACCESS);
    if (!service)
        return false;
    SERVICE_STATUS status = {};
    ControlService(service.get(), SERVICE_CONTROL_STOP, &status);
    return WaitForState(service.get(), SERVICE_STOPPED, timeoutMs);
}

bool StopAndDeleteService(const std::wstring& name, const std::wstring& exeName,
                          DWORD timeoutMs)
{
    if (!ServiceExists(name))
        return true;
    // A service that ignores the request (or was killed and is reported as running by
    // Wine) gets a short grace period; its process is killed either way.
    StopProductService(name, 2000);
    TerminateProcesses(exeName);
    {
        CUniqueService service = OpenNamedService(name, DELETE);
        if (service && !DeleteService(service.get()) &&
            GetLastError() != ERROR_SERVICE_MARKED_FOR_DELETE)
            return false;
    }
    for (DWORD waited = 0;; waited += kPollMs) {
        if (!ServiceExists(name))
            return true;
        if (waited >= timeoutMs)
            return false;
        Sleep(kPollMs);
    }
}
