// Runs of sanarix.exe and the checks of what they wrote (see E2e.h).
#include "tests/e2e/E2e.h"
#include "platform/Utf8.h"
#include "tools/common/FileTools.h"
#include "tools/logreader/LogLine.h"
#include "tools/logreader/LogText.h"
#include <algorithm>
#include <cstring>
#include <sstream>

namespace {

const DWORD kDebugBufferBytes = 4096;

std::wstring HostPathToWine(const std::string& hostPath)
{
    std::wstring path = L"Z:";
    for (char c : hostPath)
        path += c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(c));
    return path;
}

// Now, as the log reader spells a line's time, so that the two compare.
std::string LocalTimeText()
{
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    return CLogTime{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond}.FormatDateTime();
}

std::string WithoutLineFeed(std::string text)
{
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

CFaults CheckLogForm(const CRepairRun& run)
{
    if (!run.m_bLogFound)
        return {"no debug file"};
    CFaults faults;
    CTextCheck text = CheckLogText(run.m_sLog, false);
    if (text.m_problem != ETextProblem::None || !text.m_bBom ||
        run.m_sLog.find("\xEF\xBB\xBF", 1) != std::string::npos)
        faults.push_back("not UTF-8 with one byte-order mark at its start");
    std::vector<CNulRegion> nul;
    std::vector<std::string> lines;
    unsigned long tid = 0;
    for (const CTextLine& line : SplitLogLines(run.m_sLog, false, nul)) {
        std::string at = ": " + std::string(line.m_text);
        CLogLine parsed = ParseLogLine(line.m_text);
        if (run.m_sLog.compare(line.m_offset + line.m_text.size(), 2, "\r\n") != 0)
            faults.push_back("not ended by CR LF" + at);
        if (parsed.m_lineTag != kSanarixLineTag)
            faults.push_back("not a line of ours" + at);
        if (parsed.m_pid != run.m_Result.m_dwProcessId)
            faults.push_back("another process" + at);
        tid = tid ? tid : parsed.m_tid;
        if (parsed.m_tid != tid)
            faults.push_back("another thread" + at);
        std::string time = parsed.m_time.FormatDateTime();
        if (time < run.m_sFrom || time > run.m_sTo)
            faults.push_back("a time outside " + run.m_sFrom + " .. " + run.m_sTo + at);
        lines.push_back(std::string(line.m_text));
    }
    if (!nul.empty())
        faults.push_back("zero bytes in the log");
    std::vector<std::string> mirrored;
    for (const std::string& message : run.m_Debugger)
        if (ParseLogLine(WithoutLineFeed(message)).m_lineTag == kSanarixLineTag)
            mirrored.push_back(WithoutLineFeed(message));
    if (mirrored != lines)
        faults.push_back("the debugger got " + std::to_string(mirrored.size()) +
                         " log lines, the file holds " + std::to_string(lines.size()));
    return faults;
}

// The table's lines for the scenario, with the product's folders for the placeholders.
std::vector<std::string> ExpectedLines(const CProductLayout& layout, char scenario)
{
    const std::pair<const char*, std::wstring> folders[] = {
        {"{suite}", layout.m_sInstall.substr(0, layout.m_sInstall.size() - 1)},
        {"{kernel}", layout.m_sEngine},
        {"{quarantine}", layout.m_sQuarantine},
        {"{victims}", layout.m_sVictims},
        {"{dtrace}", layout.m_sDTrace}};
    std::string table;
    ReadWholeFile(HostPathToWine(E2E_EXPECTED_RUNS_HOST_PATH), table);
    std::istringstream rows(table);
    std::vector<std::string> lines;
    for (std::string row; std::getline(rows, row);) {
        size_t tab = row.find('\t');
        if (row.empty() || row[0] == '#' || tab == std::string::npos ||
            row.substr(0, tab).find(scenario) == std::string::npos)
            continue;
        std::string line = row.substr(tab + 1);
        for (const auto& [name, folder] : folders)
            for (size_t at; (at = line.find(name)) != std::string::npos;)
                line.replace(at, strlen(name), WideToUtf8(folder));
        lines.push_back(line);
    }
    return lines;
}

// A started command's handle is masked once both wait lines are seen to name the same one.
void MaskHandles(std::vector<std::string>& lines, CFaults& faults)
{
    const std::string mark = "WaitForSingleObject handle=0x";
    std::string last;
    for (std::string& line : lines) {
        size_t at = line.find(mark);
        std::string handle = at == std::string::npos ? "" : line.substr(at + mark.size(), 8);
        if (handle.size() != 8 || handle.find_first_not_of("0123456789ABCDEF") != std::string::npos)
            continue;
        if (line.size() > 3 && line.compare(line.size() - 3, 3, " ok") == 0 && handle != last)
            faults.push_back("the wait lines name two handles: " + line);
        last = handle;
        line.replace(at + mark.size(), 8, "{h}");
    }
}

// What a deletion or restore line names: these come in the file system's listing order.
std::string GroupKey(const std::string& line)
{
    static const std::pair<const char*, const char*> kMarks[] = {
        {"Found file ", ""}, {"Delete file ", " ok"}, {"Restoring: [", "]"},
        {"Skipping: [", "]"}, {"VaultkitDecryptAndRestore(|", "|"}};
    for (const auto& [mark, end] : kMarks) {
        size_t at = line.find(mark);
        if (at == std::string::npos)
            continue;
        std::string named = line.substr(at + strlen(mark));
        return *end ? named.substr(0, named.find(end)) : named;
    }
    return std::string();
}

// The library's trace of a restore and the "kept" line belong to the location before them.
bool BelongsToGroup(const std::string& line)
{
    return (line.rfind("[VAULTKIT] ", 0) == 0 && line.rfind("[VAULTKIT] QUARANTINE FOLDER", 0) != 0) ||
           line.find("File already there, kept: ") != std::string::npos;
}

// Runs of grouped lines sorted by name (each group keeps its order); a name coming back is a fault.
std::vector<std::string> InGroupOrder(const std::vector<std::string>& lines, CFaults& faults)
{
    std::vector<std::string> out;
    for (size_t i = 0; i < lines.size();) {
        if (GroupKey(lines[i]).empty()) {
            out.push_back(lines[i++]);
            continue;
        }
        std::vector<std::pair<std::string, std::vector<std::string>>> groups;
        for (; i < lines.size(); ++i) {
            std::string key = GroupKey(lines[i]);
            if (key.empty() && !BelongsToGroup(lines[i]))
                break;
            if (!key.empty() && (groups.empty() || groups.back().first != key)) {
                for (const auto& group : groups)
                    if (group.first == key)
                        faults.push_back("the lines of " + key + " are interleaved with others");
                groups.push_back({key, {}});
            }
            groups.back().second.push_back(lines[i]);
        }
        std::stable_sort(groups.begin(), groups.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        for (const auto& group : groups)
            out.insert(out.end(), group.second.begin(), group.second.end());
    }
    return out;
}

void Compare(const std::vector<std::string>& expected, const std::vector<std::string>& got, CFaults& faults)
{
    if (expected == got)
        return;
    size_t same = std::mismatch(expected.begin(), expected.end(), got.begin(), got.end()).first - expected.begin();
    std::string report = "output differs at line " + std::to_string(same + 1) + ", after:\n";
    for (size_t i = same > 3 ? same - 3 : 0; i < same; ++i)
        report += "            " + got[i] + "\n";
    report += "  expected: " + (same < expected.size() ? expected[same] : "(the end)") + "\n";
    faults.push_back(report + "  got:      " + (same < got.size() ? got[same] : "(the end)"));
}

} // namespace

std::string JoinFaults(const CFaults& faults)
{
    std::string text;
    for (const std::string& fault : faults)
        text += fault + "\n";
    return text;
}

std::wstring SanarixExe()
{
    return HostPathToWine(SANARIX_EXE_HOST_PATH);
}

CInstallOptions InstallFromBuildTree()
{
    CInstallOptions options;
    options.m_sBinFolder = HostPathToWine(PRODUCT_BIN_HOST_PATH) + L"\\";
    return options;
}

// The debugger output caught as a monitor does (DBWIN_BUFFER and its two events); the wait takes
// "data ready" before the process's end, so a message sent just before the end is not lost.
CRepairRun RunRepair(const CProductLayout& layout, unsigned long timeoutMs, bool deleteLog)
{
    CRepairRun run;
    if (deleteLog)
        RemoveOneFile(layout.DebugLog());
    CUniqueHandle bufferReady(CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY"));
    bool monitorElsewhere = GetLastError() == ERROR_ALREADY_EXISTS;
    CUniqueHandle dataReady(CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY"));
    CUniqueHandle mapping(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                             kDebugBufferBytes, L"DBWIN_BUFFER"));
    const char* view = mapping ? static_cast<const char*>(
        MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, kDebugBufferBytes)) : nullptr;
    run.m_bCaptured = bufferReady && !monitorElsewhere && dataReady && view;
    if (run.m_bCaptured)
        SetEvent(bufferReady.get());

    run.m_sFrom = LocalTimeText();
    ULONGLONG start = GetTickCount64();
    std::wstring exe = SanarixExe();
    CProcessInfo process;
    run.m_Result.m_bStarted = StartProgram(exe, L"\"" + exe + L"\"", process);
    run.m_Result.m_dwError = run.m_Result.m_bStarted ? 0 : GetLastError();
    run.m_Result.m_dwProcessId = process.m_dwProcessId;
    HANDLE waits[] = {dataReady.get(), process.m_hProcess.get()};
    while (run.m_Result.m_bStarted) {
        DWORD left = timeoutMs - std::min<ULONGLONG>(timeoutMs, GetTickCount64() - start);
        DWORD woke = run.m_bCaptured ? WaitForMultipleObjects(2, waits, FALSE, left)
                     : WaitForSingleObject(waits[1], left) == WAIT_OBJECT_0 ? WAIT_OBJECT_0 + 1
                                                                            : WAIT_TIMEOUT;
        if (woke != WAIT_OBJECT_0) {
            run.m_Result.m_bEnded = woke == WAIT_OBJECT_0 + 1;
            break;
        }
        DWORD pid = 0;
        memcpy(&pid, view, sizeof(pid));
        const char* text = view + sizeof(pid);
        if (pid == process.m_dwProcessId)
            run.m_Debugger.emplace_back(text, strnlen(text, kDebugBufferBytes - sizeof(pid)));
        SetEvent(bufferReady.get());
    }
    GetExitCodeProcess(process.m_hProcess.get(), &run.m_Result.m_dwExitCode);
    run.m_sTo = LocalTimeText();
    if (view)
        UnmapViewOfFile(view);
    run.m_bLogFound = ReadWholeFile(layout.DebugLog(), run.m_sLog);
    return run;
}

void KeepRunLog(const CRepairRun& run, const std::wstring& machine)
{
    std::wstring folder = HostPathToWine(E2E_LOGS_HOST_PATH) + L"\\" + machine;
    if (run.m_bLogFound && CreateFolderTree(folder))
        WriteWholeFile(folder + L"\\sanarix.dbg", run.m_sLog);
}

std::string MessageOf(std::string_view text)
{
    CLogLine line = ParseLogLine(text);
    if (line.m_lineTag != kSanarixLineTag)
        return std::string(text);
    return std::string(text.substr(line.m_lineTag.data() + line.m_lineTag.size() - text.data()));
}

std::vector<std::string> MessagesOfProcess(const std::string& log, unsigned long pid)
{
    std::vector<CNulRegion> nul;
    std::vector<std::string> messages;
    for (const CTextLine& line : SplitLogLines(log, false, nul))
        if (ParseLogLine(line.m_text).m_pid == pid)
            messages.push_back(MessageOf(line.m_text));
    return messages;
}

CFaults CheckRunOutput(const CRepairRun& run, const CProductLayout& layout, char scenario)
{
    if (!run.m_bCaptured)
        return {"the debugger output could not be captured"};
    CFaults faults = CheckLogForm(run);
    std::vector<std::string> got;
    for (const std::string& message : run.m_Debugger)
        got.push_back(MessageOf(WithoutLineFeed(message)));
    MaskHandles(got, faults);
    got = InGroupOrder(got, faults);
    Compare(InGroupOrder(ExpectedLines(layout, scenario), faults), got, faults);
    return faults;
}
