// File helpers for the Windows tests (see TestFiles.h).
#include "tests/support/TestFiles.h"
#include "tests/support/UnixLinks.h"
#include <algorithm>
#include <cstdio>

CTempDir::CTempDir()
{
    wchar_t base[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, base);
    static unsigned s_counter = 0;
    for (;;) {
        wchar_t name[MAX_PATH];
        _snwprintf(name, MAX_PATH, L"%ssanarix-test-%lu-%lu-%u", base, GetCurrentProcessId(),
                   GetTickCount(), ++s_counter);
        name[MAX_PATH - 1] = L'\0';
        if (CreateDirectoryW(name, nullptr)) {
            m_sPath = name;
            return;
        }
    }
}

CTempDir::~CTempDir()
{
    RemoveFolderTree(m_sPath, RemoveUnixLink); // links go by themselves
}

std::string ReadFileBytes(const std::wstring& path, bool* ok)
{
    std::string bytes;
    bool read = ReadWholeFile(path, bytes);
    if (ok)
        *ok = read;
    return bytes;
}

std::vector<std::wstring> FilesIn(const std::wstring& folder)
{
    std::vector<std::wstring> names = ListFolder(folder);
    for (std::wstring& name : names)
        if (!name.empty() && name.back() == L'\\')
            name.pop_back();
    std::sort(names.begin(), names.end());
    return names;
}
