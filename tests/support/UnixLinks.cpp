// Unix symbolic links from inside Wine (see UnixLinks.h).
#include "tests/support/UnixLinks.h"
#include "platform/Utf8.h"
#include <windows.h>

namespace {

// Wine's own export: the Unix name of a Windows path, on the process heap.
std::string UnixNameOf(const std::wstring& path)
{
    using Fn = char*(CDECL*)(LPCWSTR); // through void (*)() for -Wcast-function-type
    auto any = reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name"));
    auto fn = reinterpret_cast<Fn>(any);
    char* name = fn ? fn(path.c_str()) : nullptr;
    if (!name)
        return std::string();
    std::string unixName(name);
    HeapFree(GetProcessHeap(), 0, name);
    return unixName;
}

std::wstring Quoted(const std::string& utf8)
{
    return L"\"" + Utf8ToWide(utf8) + L"\"";
}

// Wine gives no handle worth waiting on for a Unix program: the outcome is watched for, 5 s at most.
bool RunUnix(const wchar_t* program, const std::wstring& arguments, bool (*done)(const std::wstring&),
             const std::wstring& path)
{
    std::wstring line = std::wstring(program) + L" " + arguments;
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    std::wstring exe = std::wstring(L"Z:") + program;
    for (wchar_t& c : exe)
        if (c == L'/')
            c = L'\\';
    if (!CreateProcessW(exe.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return false;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    for (int i = 0; i < 500 && !done(path); ++i)
        Sleep(10);
    return done(path);
}

bool Seen(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool Gone(const std::wstring& path)
{
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW(path.c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return true;
    FindClose(h);
    return false;
}

// Wine names only what exists: the folder's Unix name and the leaf.
std::string UnixNameOfNew(const std::wstring& path)
{
    size_t slash = path.find_last_of(L'\\');
    if (slash == std::wstring::npos)
        return std::string();
    std::string folder = UnixNameOf(path.substr(0, slash));
    return folder.empty() ? folder : folder + "/" + WideToUtf8(path.substr(slash + 1));
}

} // namespace

bool MakeUnixSymlink(const std::wstring& link, const std::wstring& target)
{
    std::string from = UnixNameOfNew(link);
    std::string to = UnixNameOf(target);
    if (from.empty() || to.empty())
        return false;
    return RunUnix(L"/bin/ln", L"-s -- " + Quoted(to) + L" " + Quoted(from), Seen, link);
}

bool RemoveUnixLink(const std::wstring& link)
{
    if (Gone(link))
        return true;
    std::string unixName = UnixNameOfNew(link);
    if (unixName.empty())
        return false;
    return RunUnix(L"/bin/rm", L"-f -- " + Quoted(unixName), Gone, link);
}

CUnixSymlink::CUnixSymlink(const std::wstring& link, const std::wstring& target)
    : m_sLink(link), m_bMade(MakeUnixSymlink(link, target))
{
}

CUnixSymlink::~CUnixSymlink()
{
    if (m_bMade)
        RemoveUnixLink(m_sLink);
}
