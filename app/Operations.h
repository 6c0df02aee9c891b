// The operations of the repair run, in the order the sequence calls them, and the
// process-wide folders of the installed product.
#pragma once
#include "platform/WinHeaders.h"
#include <string>

extern std::wstring g_sCVPath;   // install folder
extern std::wstring g_sCVSKPath; // scanning-engine folder

// Product location
void InitGlobals();
bool GetServicePath(const wchar_t* szName, std::wstring& target);

// Product processes
bool StopCVApp(const wchar_t* szCVApp, DWORD dwTimeout);
bool StartCVApp(const wchar_t* szCVApp, DWORD dwTimeout);
bool KillProcess(const wchar_t* szProcess);

// Services
bool MyStopService(const wchar_t* szName, DWORD dwTimeout);
bool MyStartService(const wchar_t* szName, DWORD dwTimeout);

// Leftover cleanup
int RemoveFileRec(const wchar_t* szFile, const std::wstring& szPath);
bool DeleteRegistryKey(HKEY hRoot, const wchar_t* szRegPath, const wchar_t* szRegValue);

// Quarantine restore driver
bool RestoreQuarantine(const wchar_t* szVirusName);
