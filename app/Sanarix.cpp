// The repair run: start-up and the fixed sequence of repair steps. Every step is logged
// before and after it runs; no outcome changes what runs next.
#include "app/Sanarix.h"
#include "app/Operations.h"
#include "app/RunLock.h"
#include "diag/DebugLog.h"
#include "diag/TextBuffer.h"
#include "platform/LibrarySearch.h"
#include "platform/Owners.h"
#include <cwchar>

namespace {

const wchar_t kTag[] = L"DoSanarix";
const DWORD kTimeout = 60000;
const DWORD kPauseAfterStart = 10000;
const wchar_t kLogTail[] = L"\\Corvanta\\DTrace\\sanarix.dbg";
const wchar_t kEngineFile[] = L"cvheur.xr0";
const wchar_t kSessionManagerKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const wchar_t kPendingRenames[] = L"PendingFileRenameOperations";
const wchar_t kVirusName[] = L"trojan.fakealert.5";

const wchar_t* Word(bool ok)
{
    return ok ? L"ok" : L"fail";
}

// The debug file below the common application data folder. Empty (debugger output only)
// when the folder cannot be obtained or the whole path would not fit 259 characters:
// a relative or cut path would put the log somewhere nobody looks.
void GetLogPath(wchar_t (&path)[MAX_PATH])
{
    wchar_t folder[MAX_PATH] = {};
    HRESULT hr = g_Sys.SHGetFolderPathW(/*hwnd=*/nullptr, CSIDL_COMMON_APPDATA,
                                        /*hToken=*/nullptr, /*dwFlags=*/0, folder);
    path[0] = L'\0';
    folder[MAX_PATH - 1] = L'\0';
    if (FAILED(hr) || folder[0] == L'\0')
        return;
    if (wcslen(folder) + wcslen(kLogTail) > MAX_PATH - 1)
        return;
    CopyInto(path, MAX_PATH, folder);
    AppendInto(path, MAX_PATH, kLogTail);
}

void StopApp(const wchar_t* name)
{
    Log(DBG_ALL, kTag, L"StopCVApp(%s) ...", name);
    bool ok = StopCVApp(name, kTimeout);
    Log(DBG_ALL, kTag, L"StopCVApp(%s) result=%s", name, Word(ok));
}

void StartApp(const wchar_t* name)
{
    Log(DBG_ALL, kTag, L"StartCVApp(%s) ...", name);
    bool ok = StartCVApp(name, kTimeout);
    Log(DBG_ALL, kTag, L"StartCVApp(%s) result=%s", name, Word(ok));
}

void StopService(const wchar_t* name)
{
    Log(DBG_ALL, kTag, L"MyStopService(%s) ...", name);
    bool ok = MyStopService(name, kTimeout);
    Log(DBG_ALL, kTag, L"MyStopService(%s) result=%s", name, Word(ok));
}

void StartService(const wchar_t* name)
{
    Log(DBG_ALL, kTag, L"MyStartService(%s) ...", name);
    bool ok = MyStartService(name, kTimeout);
    Log(DBG_ALL, kTag, L"MyStartService(%s) result=%s", name, Word(ok));
}

void RunSequence()
{
    Log(DBG_ALL, kTag, L"InitGlobals() ...");
    InitGlobals();
    Log(DBG_ALL, kTag, L"InitGlobals() ok");
    Log(DBG_ALL, kTag, L"g_sCVPath=%s", g_sCVPath.c_str());
    Log(DBG_ALL, kTag, L"g_sCVSKPath=%s", g_sCVSKPath.c_str());

    StopApp(L"cvhost.exe");
    StopApp(L"cvtray.exe");
    StopApp(L"cvconsole.exe");
    StopService(L"CVUPDATE");
    StopService(L"CVPROBE");
    StopService(L"CVMSG");

    Log(DBG_ALL, kTag, L"RemoveFileRec(%s) ...", kEngineFile);
    int count = RemoveFileRec(kEngineFile, g_sCVSKPath);
    Log(DBG_ALL, kTag, L"RemoveFileRec(%s) result=%d", kEngineFile, count);

    Log(DBG_ALL, kTag, L"RemovePendingFileROp() ...");
    bool removed = DeleteRegistryKey(HKEY_LOCAL_MACHINE, kSessionManagerKey, kPendingRenames);
    Log(DBG_ALL, kTag, L"RemovePendingFileROp() result=%s", Word(removed));

    Log(DBG_ALL, kTag, L"RestoreQuarantine(%s) ...", kVirusName);
    bool restored = RestoreQuarantine(kVirusName);
    Log(DBG_ALL, kTag, L"RestoreQuarantine(%s) result=%s", kVirusName, Word(restored));

    StartService(L"CVMSG");
    g_Sys.Sleep(kPauseAfterStart);
    StartService(L"CVUPDATE");
    g_Sys.Sleep(kPauseAfterStart);

    StartApp(L"cvhost.exe");
    StartApp(L"cvtray.exe");
    Log(DBG_ALL, kTag, L"ok");
}

} // namespace

void EnablePrivilege(const wchar_t* name)
{
    LUID luid = {};
    if (!g_Sys.LookupPrivilegeValueW(/*lpSystemName=*/nullptr, name, &luid))
        return;
    CUniqueHandle token;
    if (!g_Sys.OpenProcessToken(g_Sys.GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, token.put()))
        return;
    TOKEN_PRIVILEGES tp = {};
    tp.PrivilegeCount = 1;
    tp.Privileges[0].Luid = luid;
    tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    g_Sys.AdjustTokenPrivileges(token.get(), /*DisableAllPrivileges=*/FALSE, &tp,
                                /*BufferLength=*/0, /*PreviousState=*/nullptr,
                                /*ReturnLength=*/nullptr);
}

void DoSanarix()
{
    // Before the shell is asked for the log's folder: that may load libraries already.
    RestrictLibrarySearch();
    wchar_t logPath[MAX_PATH];
    GetLogPath(logPath);
    g_DebugLog.Start(L"[SANARIX]");
    g_DebugLog.SetDebugFile(logPath);
    CRunLock lock;
    switch (lock.Take()) {
    case ERunLock::Taken:
        break;
    case ERunLock::Busy:
        Log(DBG_ERROR, kTag, L"Another run is in progress, nothing done");
        return;
    case ERunLock::Untrusted:
        // Running unguarded is better than letting whoever made that object block the
        // repair for good.
        Log(DBG_ERROR, kTag, L"Cannot take a safe run lock, going on without it");
        break;
    }
    Log(DBG_ALL, kTag, L"");
    EnablePrivilege(L"SeShutdownPrivilege");
    EnablePrivilege(L"SeDebugPrivilege");
    RunSequence();
}
