// Checks of what a run wrote (see RunOutput.h).
#include "tests/e2e/RunOutput.h"
#include "platform/Utf8.h"
#include "tools/common/FileTools.h"
#include "tools/logreader/LogLine.h"
#include "tools/logreader/LogText.h"
#include <algorithm>
#include <cstring>
#include <sstream>

#ifndef E2E_EXPECTED_RUNS_HOST_PATH
#error "CMake names the table of expected runs"
#endif

namespace {

const char kBom[] = "\xEF\xBB\xBF";

bool IsOurs(const CLogLine& line)
{
    return line.m_kind != ELineKind::Foreign && line.m_kind != ELineKind::OtherProgram;
}

std::string WithoutLineFeed(std::string text)
{
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

// The table's lines for the scenario, the product's folders put in for their placeholders.
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

// A started command's handle is the run's own: it is masked, once the two wait lines are
// seen to name the same one.
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

// What a line of an engine file's deletion or of a location's restore names. Those lines
// come in the order the file system lists the files, which nothing can know beforehand.
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

// Each run of grouped lines sorted by what the groups name (a group keeps its own order),
// so that the listing order drops out; a name that comes back later is a fault.
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

// Where the two sequences part, with the lines before it.
CFaults Compare(const std::vector<std::string>& expected, const std::vector<std::string>& got)
{
    size_t same = 0;
    while (same < expected.size() && same < got.size() && expected[same] == got[same])
        ++same;
    if (same == expected.size() && same == got.size())
        return {};
    std::string report = "output differs at line " + std::to_string(same + 1) + ", after:\n";
    for (size_t i = same > 3 ? same - 3 : 0; i < same; ++i)
        report += "            " + got[i] + "\n";
    report += "  expected: " + (same < expected.size() ? expected[same] : "(the end)") + "\n";
    report += "  got:      " + (same < got.size() ? got[same] : "(the end)");
    return {report};
}

} // namespace

std::string MessageOf(std::string_view text)
{
    CLogLine line = ParseLogLine(text);
    if (!IsOurs(line))
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

CFaults CheckLogForm(const CRepairRun& run)
{
    if (!run.m_bLogFound)
        return {"no debug file"};
    CFaults faults;
    CTextCheck text = CheckLogText(run.m_sLog, false);
    if (text.m_problem != ETextProblem::None || !text.m_bBom || run.m_sLog.find(kBom, 1) != std::string::npos)
        faults.push_back("not UTF-8 with one byte-order mark at its start");
    std::vector<CNulRegion> nul;
    std::vector<std::string> lines;
    unsigned long tid = 0;
    for (const CTextLine& line : SplitLogLines(run.m_sLog, false, nul)) {
        std::string at = ": " + std::string(line.m_text);
        CLogLine parsed = ParseLogLine(line.m_text);
        if (run.m_sLog.compare(line.m_offset + line.m_text.size(), 2, "\r\n") != 0)
            faults.push_back("not ended by CR LF" + at);
        if (!IsOurs(parsed) || parsed.m_lineTag != kSanarixLineTag)
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
        if (IsOurs(ParseLogLine(WithoutLineFeed(message))))
            mirrored.push_back(WithoutLineFeed(message));
    if (mirrored != lines)
        faults.push_back("the debugger got " + std::to_string(mirrored.size()) +
                         " log lines, the file holds " + std::to_string(lines.size()));
    return faults;
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
    CFaults differences = Compare(InGroupOrder(ExpectedLines(layout, scenario), faults), got);
    faults.insert(faults.end(), differences.begin(), differences.end());
    return faults;
}
