// Operations of the repair run that are not built yet: each reports failure.
#include "app/Operations.h"

std::wstring g_sCVPath;
std::wstring g_sCVSKPath;

void InitGlobals() {}
bool GetServicePath(const wchar_t*, std::wstring&) { return false; }
bool StopCVApp(const wchar_t*, DWORD) { return false; }
bool StartCVApp(const wchar_t*, DWORD) { return false; }
bool KillProcess(const wchar_t*) { return false; }
bool MyStopService(const wchar_t*, DWORD) { return false; }
bool MyStartService(const wchar_t*, DWORD) { return false; }
int RemoveFileRec(const wchar_t*, const std::wstring&) { return 0; }
bool DeleteRegistryKey(HKEY, const wchar_t*, const wchar_t*) { return false; }
bool RestoreQuarantine(const wchar_t*) { return false; }
