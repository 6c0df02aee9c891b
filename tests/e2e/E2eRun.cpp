// One repair run (see E2eRun.h).
#include "tests/e2e/E2eRun.h"
#include "tests/e2e/DebugOutputCapture.h"
#include "tools/common/FileTools.h"
#include <cstdio>

#if !defined(SANARIX_EXE_HOST_PATH) || !defined(PRODUCT_BIN_HOST_PATH) || !defined(E2E_LOGS_HOST_PATH)
#error "CMake names sanarix.exe, the product's programs and the folder for the scenarios' logs"
#endif

std::string JoinFaults(const CFaults& faults)
{
    std::string text;
    for (const std::string& fault : faults)
        text += fault + "\n";
    return text;
}

std::wstring HostPathToWine(const std::string& hostPath)
{
    std::wstring path = L"Z:";
    for (char c : hostPath)
        path += c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c));
    return path;
}

std::wstring SanarixExe()
{
    return HostPathToWine(SANARIX_EXE_HOST_PATH);
}

std::wstring ProductBinFolder()
{
    return HostPathToWine(PRODUCT_BIN_HOST_PATH) + L"\\";
}

std::string LocalTimeText()
{
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    char text[32];
    snprintf(text, sizeof(text), "%04u-%02u-%02u %02u:%02u:%02u", now.wYear, now.wMonth,
             now.wDay, now.wHour, now.wMinute, now.wSecond);
    return text;
}

CRepairRun RunRepair(const CProductLayout& layout, unsigned long timeoutMs, bool deleteLog)
{
    CRepairRun run;
    if (deleteLog)
        RemoveOneFile(layout.DebugLog());
    CDebugOutputCapture capture;
    run.m_bCaptured = capture.Start();
    run.m_sFrom = LocalTimeText();
    ULONGLONG start = GetTickCount64();
    std::wstring exe = SanarixExe();
    run.m_Result = RunProgram(exe, L"\"" + exe + L"\"", timeoutMs);
    run.m_ullMs = GetTickCount64() - start;
    run.m_sTo = LocalTimeText();
    capture.Stop();
    run.m_Debugger = capture.MessagesOf(run.m_Result.m_dwProcessId);
    run.m_bLogFound = ReadWholeFile(layout.DebugLog(), run.m_sLog);
    return run;
}

void KeepRunLog(const CRepairRun& run, const std::wstring& machine)
{
    std::wstring folder = HostPathToWine(E2E_LOGS_HOST_PATH) + L"\\" + machine;
    if (run.m_bLogFound && CreateFolderTree(folder))
        WriteWholeFile(folder + L"\\sanarix.dbg", run.m_sLog);
}
