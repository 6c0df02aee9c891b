// Leftover cleanup: every copy of the engine file below the engine folder, and the
// registry value of pending file renames.
#include "app/Cleanup.h"
#include "app/Operations.h"
#include "app/PathText.h"
#include "diag/DebugLog.h"
#include "platform/Owners.h"
#include <cwchar>

namespace {

const size_t kPathChars = 260;
// Folders nest far less than this on any real engine folder; the bound stops a link
// that leads back into the tree from recursing without end.
const int kMaxDepth = 64;

void ListFolder(std::vector<std::wstring>& files, const std::wstring& folder, int depth)
{
    if (depth > kMaxDepth || !AppendPathFits(folder, L"*"))
        return;
    std::wstring pattern = folder;
    AppendPath(pattern, L"*");
    WIN32_FIND_DATAW entry = {};
    CUniqueFind find(g_Sys.FindFirstFileW(pattern.c_str(), &entry));
    if (!find)
        return;
    do {
        if (wcscmp(entry.cFileName, L".") == 0 || wcscmp(entry.cFileName, L"..") == 0)
            continue;
        // A path that does not fit would be cut into another file's name: leave it out.
        if (!AppendPathFits(folder, entry.cFileName))
            continue;
        std::wstring full = folder;
        AppendPath(full, entry.cFileName);
        if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            files.push_back(full);
        else if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            ListFolder(files, full, depth + 1);
    } while (g_Sys.FindNextFileW(find.get(), &entry));
}

} // namespace

void ListFilesRec(std::vector<std::wstring>& files, const std::wstring& folder)
{
    ListFolder(files, folder, 0);
}

bool ShellDeleteFile(const std::wstring& path)
{
    // The listing hands over paths of up to 259 characters: the buffer holds one of those
    // and the source list's two terminating zeros.
    if (path.empty() || path.size() > kPathChars - 1)
        return false;
    wchar_t from[kPathChars + 1] = {};
    wcsncpy(from, path.c_str(), kPathChars - 1);
    size_t len = wcslen(from);
    if (len > 0 && (from[len - 1] == L'\\' || from[len - 1] == L'/'))
        from[--len] = L'\0';
    from[len + 1] = L'\0'; // the source list ends in two zeros
    if (len == 0)
        return false;
    for (size_t i = 0; i < len; ++i)
        if (from[i] == L'/')
            from[i] = L'\\';
    SHFILEOPSTRUCTW op = {};
    op.hwnd = nullptr;
    op.wFunc = FO_DELETE;
    op.pFrom = from;
    op.pTo = nullptr;
    op.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI;
    op.lpszProgressTitle = nullptr;
    return g_Sys.SHFileOperationW(&op) == 0;
}

int RemoveFileRec(const wchar_t* szFile, const std::wstring& szPath)
{
    const wchar_t* tag = L"RemoveFileRec";
    Log(DBG_ALL, tag, L"szFile=%s szPath=%s", szFile, szPath.c_str());
    // An empty folder would search "\*", the whole current drive. -1 is no count a search
    // can give, so the result line cannot be read as "searched, nothing found".
    if (szPath.empty()) {
        Log(DBG_ERROR, tag, L"Folder unknown, nothing searched");
        return -1;
    }
    std::vector<std::wstring> files;
    ListFilesRec(files, szPath);
    int count = 0;
    for (const std::wstring& path : files) {
        if (!NameEqualsNoCase(szFile, FileNameOfPath(path).c_str()))
            continue;
        Log(DBG_ALL, tag, L"Found file %s", path.c_str());
        if (ShellDeleteFile(path))
            Log(DBG_ALL, tag, L"Delete file %s ok", path.c_str());
        else
            Log(DBG_ALL, tag, L"Cannot delete file %s", path.c_str());
        ++count;
    }
    return count;
}

bool DeleteRegistryKey(HKEY hRoot, const wchar_t* szRegPath, const wchar_t* szRegValue)
{
    const wchar_t* tag = L"DeleteRegistryKey";
    Log(DBG_ALL, tag, L"szRegPath=%s szRegValue=%s", szRegPath, szRegValue);
    CUniqueKey key;
    LONG rc = g_Sys.RegOpenKeyExW(hRoot, szRegPath, /*ulOptions=*/0, KEY_ALL_ACCESS, key.put());
    if (rc != ERROR_SUCCESS) {
        Log(DBG_ERROR, tag, L"Cannot open registry key, error=%X", static_cast<unsigned>(rc));
        return false;
    }
    rc = g_Sys.RegDeleteValueW(key.get(), szRegValue);
    if (rc == ERROR_SUCCESS) {
        // This line has always been written at the error level.
        Log(DBG_ERROR, tag, L"Delete registry key ok");
        return true;
    }
    Log(DBG_ALL, tag, L"Cannot delete registry key, error=%X", static_cast<unsigned>(rc));
    return false;
}
