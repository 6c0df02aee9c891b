// The quarantine restore driver: every location of every quarantined item detected under
// the given virus name is handed to the restore operation. Always reports success; each
// outcome is only logged.
#include "app/Operations.h"
#include "app/PathText.h"
#include "diag/DebugLog.h"
#include "diag/TextBuffer.h"
#include "platform/Owners.h"
#include "quarantine/QuarItem.h"
#include "quarantine/Vaultkit.h"
#include "restore/DecryptAndRestore.h"
#include <cwchar>

namespace {

const wchar_t kTag[] = L"RestoreQuarantine";
const size_t kPathChars = 260;

void RestoreLocations(QuarItem& item, const wchar_t* indexPath, const wchar_t* szVirusName)
{
    for (uint32_t i = 0; i < item.GetFileCount(); ++i) {
        QuarItemInfo& info = item.SelectFile(i);
        if (!NameEqualsNoCase(info.dvirus, szVirusName)) {
            Log(DBG_ALL, kTag, L"Skipping: [%s]", indexPath);
            continue;
        }
        Log(DBG_ALL, kTag, L"Restoring: [%s]", indexPath);
        int32_t result = VaultkitDecryptAndRestore(indexPath, info.name, info.path);
        if (result == VAULTKIT_ERROR_SUCCESS) {
            Log(DBG_ALL, kTag, L"Restoring: [%s] ok", indexPath);
            continue;
        }
        Log(DBG_ERROR, kTag, L"Restoring: [%s] failed", indexPath);
        // The one failure that leaves nothing to do: the location is retired and the file
        // that stands there is the user's. Said in the log so that a reader of collected
        // logs can tell it from a restore that did not happen.
        if (result == VAULTKIT_ERROR_OUTPUT_FILE_ALREADY_EXISTS)
            Log(DBG_INFO, kTag, L"File already there, kept: name=%s path=%s", info.name, info.path);
    }
}

void RestoreFolder(const wchar_t* folder, const wchar_t* szVirusName)
{
    wchar_t pattern[kPathChars];
    CopyInto(pattern, kPathChars, folder);
    AppendInto(pattern, kPathChars, L"*.xml");
    WIN32_FIND_DATAW entry = {};
    CUniqueFind find(g_Sys.FindFirstFileW(pattern, &entry));
    Log(DBG_ALL, kTag, L"Pattern : [%s]", pattern);
    if (!find)
        return;
    QuarItem item;
    do {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        // A folder and name that do not fit would be cut into another file's name.
        if (wcslen(folder) + wcslen(entry.cFileName) > kPathChars - 1) {
            Log(DBG_ERROR, kTag, L"Index path too long: %s%s", folder, entry.cFileName);
            continue;
        }
        wchar_t indexPath[kPathChars];
        CopyInto(indexPath, kPathChars, folder);
        AppendInto(indexPath, kPathChars, entry.cFileName);
        if (!item.LoadXml(indexPath))
            continue;
        RestoreLocations(item, indexPath, szVirusName);
    } while (g_Sys.FindNextFileW(find.get(), &entry));
}

} // namespace

bool RestoreQuarantine(const wchar_t* szVirusName)
{
    Log(DBG_ALL, kTag, L"szVirusName=%s", szVirusName);
    if (VaultkitInit() != VAULTKIT_ERROR_SUCCESS) {
        Log(DBG_ERROR, kTag, L"Could not init vaultkit!");
        Log(DBG_ALL, kTag, L"ok");
        return true;
    }
    Log(DBG_ALL, kTag, L"Inited vaultkit!");
    wchar_t folder[kPathChars] = {};
    GetQuarFolderPath(folder);
    Log(DBG_ALL, kTag, L"quarFolderPath=%s", folder);
    RestoreFolder(folder, szVirusName);
    VaultkitUninit();
    Log(DBG_ALL, kTag, L"ok");
    return true;
}
