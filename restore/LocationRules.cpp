// The rules of what a location may name (see LocationRules.h).
#include "restore/LocationRules.h"
#include <cwchar>

namespace {

const wchar_t kLongPrefix[] = L"\\\\?\\";

// Letters that Windows folds onto A-Z when it compares names: the ASCII ones, and the
// dotless i and the long s, which upper-case to I and S.
wchar_t Folded(wchar_t c)
{
    if (c >= L'a' && c <= L'z')
        return static_cast<wchar_t>(c - L'a' + L'A');
    if (c == L'\x0131')
        return L'I';
    if (c == L'\x017F')
        return L'S';
    return c;
}

bool SameLetters(const wchar_t* text, size_t length, const wchar_t* upper)
{
    if (std::wcslen(upper) != length)
        return false;
    for (size_t i = 0; i < length; ++i)
        if (Folded(text[i]) != upper[i])
            return false;
    return true;
}

bool IsPortDigit(wchar_t c)
{
    return (c >= L'0' && c <= L'9') || c == L'\x00B9' || c == L'\x00B2' || c == L'\x00B3';
}

// The part before the first dot, without the blanks that end it, names a device.
bool IsDeviceName(const wchar_t* name)
{
    size_t length = std::wcscspn(name, L".");
    while (length > 0 && name[length - 1] == L' ')
        --length;
    for (const wchar_t* device : {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"})
        if (SameLetters(name, length, device))
            return true;
    if (length != 4 || !IsPortDigit(name[3]))
        return false;
    return SameLetters(name, 3, L"COM") || SameLetters(name, 3, L"LPT");
}

bool IsRefusedCharacter(wchar_t c)
{
    return c < 0x20 || std::wcschr(L"\\/:<>\"|?*", c) != nullptr;
}

// A name of length characters at text, checked like a file name.
bool IsPlainComponent(const wchar_t* text, size_t length)
{
    std::wstring name(text, length);
    return IsPlainFileName(name.c_str());
}

// Backslash-separated plain names; the text may end in one backslash.
bool ArePlainComponents(const wchar_t* rest)
{
    while (*rest) {
        size_t length = std::wcscspn(rest, L"\\");
        if (!IsPlainComponent(rest, length))
            return false;
        rest += length;
        if (*rest == L'\\')
            ++rest;
    }
    return true;
}

bool IsDriveFolder(const wchar_t* path)
{
    wchar_t letter = Folded(path[0]);
    if (letter < L'A' || letter > L'Z' || path[1] != L':' || path[2] != L'\\')
        return false;
    return ArePlainComponents(path + 3);
}

// "server\share", then nothing or a backslash and plain names.
bool IsShareFolder(const wchar_t* path)
{
    for (int part = 0; part < 2; ++part) {
        size_t length = std::wcscspn(path, L"\\");
        if (!IsPlainComponent(path, length))
            return false;
        path += length;
        if (part == 0 && *path++ != L'\\')
            return false;
    }
    return *path == L'\0' || (path[0] == L'\\' && ArePlainComponents(path + 1));
}

bool StartsWith(const wchar_t* text, const wchar_t* prefix)
{
    return std::wcsncmp(text, prefix, std::wcslen(prefix)) == 0;
}

bool StartsWithUnc(const wchar_t* text)
{
    return SameLetters(text, 3, L"UNC") && text[3] == L'\\';
}

} // namespace

bool IsPlainFileName(const wchar_t* name)
{
    if (!name || !*name)
        return false;
    for (const wchar_t* c = name; *c; ++c)
        if (IsRefusedCharacter(*c))
            return false;
    wchar_t last = name[std::wcslen(name) - 1];
    if (last == L'.' || last == L' ')
        return false;  // also "." and ".."
    return !IsDeviceName(name);
}

bool IsFullFolderPath(const wchar_t* path)
{
    if (!path)
        return false;
    if (StartsWith(path, kLongPrefix)) {
        const wchar_t* rest = path + 4;
        return StartsWithUnc(rest) ? IsShareFolder(rest + 4) : IsDriveFolder(rest);
    }
    if (StartsWith(path, L"\\\\"))
        return IsShareFolder(path + 2);
    return IsDriveFolder(path);
}

std::wstring WithoutLongPrefix(const std::wstring& path)
{
    if (!StartsWith(path.c_str(), kLongPrefix))
        return path;
    if (StartsWithUnc(path.c_str() + 4))
        return L"\\\\" + path.substr(8);
    return path.substr(4);
}
