// File helpers of the restore benchmark (see BenchFiles.h).
#include "bench/wine/BenchFiles.h"
#include "platform/WinHeaders.h"

std::wstring NumberedName(const wchar_t* prefix, unsigned n, const wchar_t* suffix)
{
    wchar_t digits[16];
    _snwprintf(digits, 16, L"%05u", n);
    digits[15] = L'\0';
    return std::wstring(prefix) + digits + suffix;
}

bool NoIndexLeft(const std::wstring& folder)
{
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW(JoinPath(folder, L"*.xml").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    FindClose(find);
    return false;
}

bool PlaceQuarantineCopy(const std::wstring& masterBase, const std::wstring& quarBase)
{
    std::wstring payload = quarBase + L".cvq";
    std::wstring master = masterBase + L".cvq";
    if (!RemoveOneFile(payload))
        return false;
    if (!CreateHardLinkW(payload.c_str(), master.c_str(), /*lpSecurityAttributes=*/nullptr) &&
        !CopyFileW(master.c_str(), payload.c_str(), /*bFailIfExists=*/TRUE))
        return false;
    return CopyFileW((masterBase + L".xml").c_str(), (quarBase + L".xml").c_str(),
                     /*bFailIfExists=*/FALSE) != FALSE;
}
