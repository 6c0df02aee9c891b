// A decoy planted where an unquoted program path with blanks would be cut short
// ("C:\Program Files\Corvanta\Corvanta.exe", "C:\Program.exe"). It must never run: if it
// does, it appends its own path and command line to <ProgramData>\Corvanta\decoy-ran.txt
// (UTF-8, one line per run) for the tests to find, and exits.
#include "platform/WinHeaders.h"
#include "platform/Utf8.h"
#include <string>

int WINAPI wWinMain(HINSTANCE /*hInstance*/, HINSTANCE /*hPrevInstance*/, LPWSTR /*lpCmdLine*/,
                    int /*nShowCmd*/)
{
    wchar_t folder[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(/*hwnd=*/nullptr, CSIDL_COMMON_APPDATA, /*hToken=*/nullptr,
                                /*dwFlags=*/0, folder)))
        return 1;
    std::wstring data = std::wstring(folder) + L"\\Corvanta";
    CreateDirectoryW(data.c_str(), /*lpSecurityAttributes=*/nullptr);
    std::wstring record = data + L"\\decoy-ran.txt";

    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(/*hModule=*/nullptr, self, MAX_PATH);
    std::string line = WideToUtf8(std::wstring(self) + L" | " + GetCommandLineW()) + "\r\n";

    HANDLE file = CreateFileW(record.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              /*lpSecurityAttributes=*/nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, /*hTemplateFile=*/nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    DWORD written = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written,
              /*lpOverlapped=*/nullptr);
    CloseHandle(file);
    return 3;
}
