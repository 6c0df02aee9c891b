// The final path of an open file on Wine, at any length (see the header).
#include "platform/FinalPathStandin.h"
#include "platform/SysCalls.h"
#include <cwchar>
#include <vector>

namespace {

const ULONG kObjectNameInformation = 1;
const ULONG kNameBytes = 32768 * sizeof(WCHAR);

struct CCountedName // UNICODE_STRING
{
    USHORT Length;
    USHORT MaximumLength;
    PWSTR Buffer;
};

using NtQueryObjectFn = LONG(NTAPI*)(HANDLE, ULONG, PVOID, ULONG, PULONG);
using RtlNtStatusToDosErrorFn = ULONG(NTAPI*)(LONG);

// Through a generic function pointer first, as -Wcast-function-type asks.
template <class Fn>
Fn NtdllExport(const char* name)
{
    HMODULE ntdll = g_Sys.GetModuleHandleW(L"ntdll.dll");
    auto any = reinterpret_cast<void (*)()>(ntdll ? g_Sys.GetProcAddress(ntdll, name) : nullptr);
    return reinterpret_cast<Fn>(any);
}

DWORD Fail(DWORD error)
{
    g_Sys.SetLastError(error);
    return 0;
}

} // namespace

DWORD WINAPI StandinGetFinalPathNameByHandleW(HANDLE hFile, LPWSTR lpszFilePath,
                                              DWORD cchFilePath, DWORD /*dwFlags*/)
{
    auto query = NtdllExport<NtQueryObjectFn>("NtQueryObject");
    auto toError = NtdllExport<RtlNtStatusToDosErrorFn>("RtlNtStatusToDosError");
    if (!query || !toError)
        return Fail(ERROR_CALL_NOT_IMPLEMENTED);
    std::vector<unsigned char> buffer(sizeof(CCountedName) + kNameBytes + sizeof(WCHAR));
    ULONG returned = 0;
    LONG status = query(hFile, kObjectNameInformation, buffer.data(),
                        static_cast<ULONG>(buffer.size()), &returned);
    if (status < 0)
        return Fail(toError(status));
    const auto* name = reinterpret_cast<const CCountedName*>(buffer.data());
    size_t length = name->Length / sizeof(WCHAR);
    const wchar_t dosPrefix[] = L"\\??\\";
    if (length < 4 || std::wmemcmp(name->Buffer, dosPrefix, 4) != 0)
        return Fail(ERROR_PATH_NOT_FOUND);
    if (length + 1 > cchFilePath || !lpszFilePath)
        return static_cast<DWORD>(length + 1);
    std::wmemcpy(lpszFilePath, L"\\\\?\\", 4);
    std::wmemcpy(lpszFilePath + 4, name->Buffer + 4, length - 4);
    lpszFilePath[length] = L'\0';
    return static_cast<DWORD>(length);
}
