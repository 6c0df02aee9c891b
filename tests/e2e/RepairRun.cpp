// One repair run (see RepairRun.h).
#include "tests/e2e/RepairRun.h"
#include "tests/e2e/DebugOutputCapture.h"
#include "tests/e2e/E2ePaths.h"
#include "tools/product/FileTools.h"
#include <cstdio>

std::string LocalTimeText()
{
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    char text[32];
    snprintf(text, sizeof(text), "%04u-%02u-%02u-%02u:%02u:%02u", now.wYear, now.wMonth,
             now.wDay, now.wHour, now.wMinute, now.wSecond);
    return text;
}

CRepairRun RunRepair(const CProductLayout& layout, unsigned long timeoutMs)
{
    CRepairRun run;
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
    run.m_bLogFound = ReadWholeFile(layout.DebugLog(), run.m_sLogBytes);
    run.m_Log = ParseDebugLog(run.m_sLogBytes);
    return run;
}

void KeepRunLog(const CRepairRun& run, const std::wstring& machine)
{
    std::wstring folder = E2eLogsFolder() + L"\\" + machine;
    if (run.m_bLogFound && CreateFolderTree(folder))
        WriteWholeFile(folder + L"\\sanarix.dbg", run.m_sLogBytes);
}

std::vector<std::string> TraceLines(const CRepairRun& run)
{
    std::vector<std::string> lines;
    for (std::string text : run.m_Debugger) {
        if (text.compare(0, 10, "[VAULTKIT]") != 0)
            continue;
        if (!text.empty() && text.back() == '\n')
            text.pop_back();
        lines.push_back(text);
    }
    return lines;
}
