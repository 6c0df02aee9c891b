// The stand-in for sanarix.exe in the fleet tests: windowless, and after a pause (a wrapper that
// does not wait reads the log too early) it appends the file named by FLEET_RUN_LOG to the log.
// Like the real program it creates no folder, writes nothing without a run log, and ends with 0.
#include <windows.h>
#include <cstdio>
#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    Sleep(1000);
    wchar_t source[MAX_PATH] = {}, data[MAX_PATH] = {};
    if (!GetEnvironmentVariableW(L"FLEET_RUN_LOG", source, MAX_PATH) ||
        !GetEnvironmentVariableW(L"ProgramData", data, MAX_PATH))
        return 0;
    FILE* in = _wfopen(source, L"rb");
    FILE* out = _wfopen((std::wstring(data) + L"\\Corvanta\\DTrace\\sanarix.dbg").c_str(), L"ab");
    char buffer[65536];
    for (size_t n; in && out && (n = fread(buffer, 1, sizeof buffer, in)) > 0;)
        fwrite(buffer, 1, n, out);
    for (FILE* file : {in, out})
        if (file)
            fclose(file);
    return 0;
}
