// File helpers (see FileTools.h).
#include "tools/product/FileTools.h"
#include "platform/Owners.h"
#include <algorithm>

namespace {

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

} // namespace

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

bool WriteWholeFile(const std::wstring& path, const std::string& bytes)
{
    CUniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, /*dwShareMode=*/0,
                                 /*lpSecurityAttributes=*/nullptr, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, /*hTemplateFile=*/nullptr));
    if (!file)
        return false;
    DWORD written = 0;
    return WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                     /*lpOverlapped=*/nullptr) &&
           written == bytes.size();
}

bool ReadWholeFile(const std::wstring& path, std::string& bytes)
{
    bytes.clear();
    // Shared for writing too: a log being read while its program appends to it must not
    // make that program lose a line.
    CUniqueFile file(CreateFileW(path.c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 /*lpSecurityAttributes=*/nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, /*hTemplateFile=*/nullptr));
    if (!file)
        return false;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file.get(), buffer, sizeof(buffer), &read, /*lpOverlapped=*/nullptr) &&
           read > 0)
        bytes.append(buffer, read);
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

bool RemoveOneFile(const std::wstring& path)
{
    if (!PathExists(path))
        return true;
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    return DeleteFileW(path.c_str()) || !PathExists(path);
}

bool RemoveFolderTree(const std::wstring& folder)
{
    std::wstring path = WithoutTrailingSeparator(folder);
    if (!PathExists(path))
        return true;
    for (const std::wstring& name : ListFolder(path)) {
        std::wstring child = path + L"\\" + name;
        if (!name.empty() && name.back() == L'\\')
            RemoveFolderTree(child);
        else
            RemoveOneFile(child);
    }
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    return RemoveDirectoryW(path.c_str()) || !PathExists(path);
}

std::vector<std::wstring> ListFolder(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry = {};
    CUniqueFind find(FindFirstFileW((WithoutTrailingSeparator(folder) + L"\\*").c_str(), &entry));
    if (!find)
        return names;
    do {
        std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..")
            continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            name += L'\\';
        names.push_back(name);
    } while (FindNextFileW(find.get(), &entry));
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
