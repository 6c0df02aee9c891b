// The file helpers (see FileTools.h).
#include "tools/common/FileTools.h"
#include <algorithm>
#include <functional>

namespace {

// Larger writes are cut into slices, so that every count fits a DWORD.
const DWORD kWriteSlice = 1u << 20;

// The real functions, for the helpers called without a table.
const CSysCalls& Direct()
{
    static const CSysCalls direct = [] {
        CSysCalls calls = {};
        calls.GetLastError = ::GetLastError;
        calls.SetLastError = ::SetLastError;
        calls.CreateFileW = ::CreateFileW;
        calls.WriteFile = ::WriteFile;
        calls.CloseHandle = ::CloseHandle;
        calls.DeleteFileW = ::DeleteFileW;
        calls.GetFileAttributesW = ::GetFileAttributesW;
        calls.SetFileAttributesW = ::SetFileAttributesW;
        return calls;
    }();
    return direct;
}

int64_t Ticks(const FILETIME& time)
{
    return static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) |
                                time.dwLowDateTime);
}

std::wstring WithoutTrailingSeparator(const std::wstring& path)
{
    std::wstring text = path;
    while (text.size() > 3 && (text.back() == L'\\' || text.back() == L'/'))
        text.pop_back();
    return text;
}

// Calls visit for every entry of the folder but "." and "..".
void ForEachEntry(const std::wstring& folder,
                  const std::function<void(const WIN32_FIND_DATAW&)>& visit)
{
    WIN32_FIND_DATAW entry = {};
    HANDLE find = FindFirstFileW(JoinPath(WithoutTrailingSeparator(folder), L"*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        if (wcscmp(entry.cFileName, L".") != 0 && wcscmp(entry.cFileName, L"..") != 0)
            visit(entry);
    } while (FindNextFileW(find, &entry));
    FindClose(find);
}

bool WriteAll(const CSysCalls& calls, HANDLE file, const std::string& bytes)
{
    for (size_t at = 0; at < bytes.size();) {
        DWORD slice = static_cast<DWORD>(std::min<size_t>(kWriteSlice, bytes.size() - at));
        DWORD written = 0;
        if (!calls.WriteFile(file, bytes.data() + at, slice, &written, /*lpOverlapped=*/nullptr))
            return false;
        if (written == 0) {
            calls.SetLastError(ERROR_WRITE_FAULT);
            return false;
        }
        at += written;
    }
    return true;
}

} // namespace

std::wstring JoinPath(const std::wstring& folder, const std::wstring& name)
{
    if (!folder.empty() && folder.back() == L'\\')
        return folder + name;
    return folder + L"\\" + name;
}

bool CreateFolderTree(const std::wstring& folder)
{
    std::wstring path = WithoutTrailingSeparator(folder);
    if (path.empty() || IsFolder(path))
        return true;
    size_t slash = path.find_last_of(L"\\/");
    if (slash != std::wstring::npos && slash > 2 && !CreateFolderTree(path.substr(0, slash)))
        return false;
    return CreateDirectoryW(path.c_str(), /*lpSecurityAttributes=*/nullptr) ||
           GetLastError() == ERROR_ALREADY_EXISTS;
}

bool WriteWholeFile(const std::wstring& path, const std::string& bytes, const CSysCalls* table)
{
    const CSysCalls& calls = table ? *table : Direct();
    HANDLE file = calls.CreateFileW(path.c_str(), GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    /*lpSecurityAttributes=*/nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, /*hTemplateFile=*/nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bool ok = WriteAll(calls, file, bytes);
    DWORD error = calls.GetLastError();
    ok = calls.CloseHandle(file) && ok;
    calls.SetLastError(error);
    return ok;
}

bool ReadWholeFile(const std::wstring& path, std::string& bytes)
{
    bytes.clear();
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              /*lpSecurityAttributes=*/nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, /*hTemplateFile=*/nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &read, /*lpOverlapped=*/nullptr) && read > 0)
        bytes.append(buffer, read);
    CloseHandle(file);
    return true;
}

bool PathExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsFolder(const std::wstring& path)
{
    DWORD attributes = GetFileAttributesW(WithoutTrailingSeparator(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

int64_t FileSizeOf(const std::wstring& path)
{
    CFileFacts facts;
    return ReadFileFacts(path, facts) ? facts.m_llSize : -1;
}

bool RemoveOneFile(const std::wstring& path, const CSysCalls* table)
{
    const CSysCalls& calls = table ? *table : Direct();
    if (calls.DeleteFileW(path.c_str()))
        return true;
    DWORD error = calls.GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
        return true;
    // Only a read-only file is tried again, after its attribute is cleared.
    DWORD attributes = calls.GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
        calls.SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL) &&
        calls.DeleteFileW(path.c_str()))
        return true;
    calls.SetLastError(error);
    return false;
}

bool RemoveFolderTree(const std::wstring& folder, CLinkRemover removeLink)
{
    std::wstring path = WithoutTrailingSeparator(folder);
    if (!PathExists(path))
        return true;
    ForEachEntry(path, [&](const WIN32_FIND_DATAW& entry) {
        std::wstring child = JoinPath(path, entry.cFileName);
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            if (removeLink)
                removeLink(child);
        } else if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            RemoveFolderTree(child, removeLink);
        } else {
            RemoveOneFile(child);
        }
    });
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    return RemoveDirectoryW(path.c_str()) || !PathExists(path);
}

std::vector<std::wstring> ListFolder(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    ForEachEntry(folder, [&](const WIN32_FIND_DATAW& entry) {
        bool isFolder = entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
        names.push_back(std::wstring(entry.cFileName) + (isFolder ? L"\\" : L""));
    });
    std::sort(names.begin(), names.end());
    return names;
}

bool ReadFileFacts(const std::wstring& path, CFileFacts& facts)
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return false;
    facts.m_dwAttributes = data.dwFileAttributes;
    facts.m_llCreation = Ticks(data.ftCreationTime);
    facts.m_llAccess = Ticks(data.ftLastAccessTime);
    facts.m_llWrite = Ticks(data.ftLastWriteTime);
    facts.m_llSize = static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) |
                                          data.nFileSizeLow);
    return true;
}
