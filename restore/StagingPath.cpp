// The staging name of a restore (see StagingPath.h).
#include "restore/StagingPath.h"
#include <cstdint>
#include <cwchar>

namespace {

const size_t kMaxPlainPathChars = 259;  // MAX_PATH without the terminator

// FNV-1a over the UTF-16 units of the name.
uint32_t HashName(const wchar_t* name)
{
    uint32_t hash = 2166136261u;
    for (const wchar_t* c = name; *c; ++c) {
        hash ^= static_cast<uint16_t>(*c);
        hash *= 16777619u;
    }
    return hash;
}

void HexInto(uint32_t value, wchar_t* out)
{
    const wchar_t digits[] = L"0123456789ABCDEF";
    for (int i = 7; i >= 0; --i, value >>= 4)
        out[i] = digits[value & 0xF];
}

// The prefix that lifts the MAX_PATH limit, and how much of the folder it replaces.
const wchar_t* LongPrefix(const wchar_t* folder, size_t& skip)
{
    skip = 0;
    if (folder[0] == L'\\' && folder[1] == L'\\') {
        if (folder[2] == L'?' || folder[2] == L'.')
            return L"";  // already a device or long path
        skip = 2;
        return L"\\\\?\\UNC\\";
    }
    return L"\\\\?\\";
}

} // namespace

bool MakeStagingPath(const wchar_t* folder, const wchar_t* name, wchar_t* out, size_t capacity)
{
    if (!out || capacity == 0)
        return false;
    out[0] = L'\0';
    if (!folder || !name)
        return false;

    wchar_t file[16] = L"~vk00000000.tmp";
    HexInto(HashName(name), file + 3);
    size_t folderLength = std::wcslen(folder);
    size_t fileLength = std::wcslen(file);

    const wchar_t* prefix = L"";
    size_t skip = 0;
    if (folderLength + fileLength > kMaxPlainPathChars)
        prefix = LongPrefix(folder, skip);
    size_t prefixLength = std::wcslen(prefix);
    size_t total = prefixLength + folderLength - skip + fileLength;
    if (total > capacity - 1)
        return false;

    std::wmemcpy(out, prefix, prefixLength);
    std::wmemcpy(out + prefixLength, folder + skip, folderLength - skip);
    std::wmemcpy(out + prefixLength + folderLength - skip, file, fileLength);
    out[total] = L'\0';
    return true;
}

std::wstring LongFormPath(const std::wstring& path)
{
    if (path.size() <= kMaxPlainPathChars)
        return path;
    size_t skip = 0;
    const wchar_t* prefix = LongPrefix(path.c_str(), skip);
    return prefix + path.substr(skip);
}
