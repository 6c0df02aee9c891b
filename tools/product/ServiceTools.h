// Service helpers of the set-up and the end-to-end tests, through the local service control
// manager: create, start, stop, delete, and read a service's state and binary path.
// Wine's manager keeps reporting a killed service's last state; StopAndDeleteService
// copes with that by killing the executable and deleting the service all the same.
#pragma once
#include "platform/WinHeaders.h"
#include <string>

// Creates an own-process, demand-start service. False when it exists or cannot be made.
bool CreateProductService(const std::wstring& name, const std::wstring& display,
                          const std::wstring& binaryPath);

// The service's current state (SERVICE_STOPPED, SERVICE_RUNNING, ...), or 0 when the
// service cannot be opened or queried.
DWORD QueryServiceState(const std::wstring& name);
bool ServiceExists(const std::wstring& name);
std::wstring QueryServiceBinaryPath(const std::wstring& name);

// Starts the service and waits up to timeoutMs for SERVICE_RUNNING.
bool StartProductService(const std::wstring& name, DWORD timeoutMs);

// Sends the stop request and waits up to timeoutMs for SERVICE_STOPPED.
bool StopProductService(const std::wstring& name, DWORD timeoutMs);

// Stops the service (briefly), kills exeName's processes whatever the outcome, deletes the
// service and waits up to timeoutMs until the manager no longer knows it. True when it is
// gone (also when it never existed).
bool StopAndDeleteService(const std::wstring& name, const std::wstring& exeName,
                          DWORD timeoutMs);
