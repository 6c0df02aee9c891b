// File helpers of the restore benchmark (see BenchFiles.h).
#include "bench/wine/BenchFiles.h"
#include "platform/WinHeaders.h"
#include <cstring>

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

namespace {

// splitmix64: fast, and every seed gives its own sequence.
uint64_t NextRandom(uint64_t& state)
{
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

} // namespace

std::string PseudoRandomBytes(size_t n, uint64_t seed)
{
    std::string bytes(n, '\0');
    uint64_t state = seed;
    size_t at = 0;
    for (; at + 8 <= n; at += 8) {
        uint64_t z = NextRandom(state);
        std::memcpy(&bytes[at], &z, 8);
    }
    uint64_t tail = NextRandom(state);
    std::memcpy(&bytes[at], &tail, n - at);
    return bytes;
}
