// Log helpers of the repair-run tests (see AppTestSupport.h).
#include "tests/app/AppTestSupport.h"
#include "diag/DebugLog.h"
#include "platform/Utf8.h"
#include "tools/logreader/LogLine.h"
#include "tools/logreader/LogText.h"

namespace {

// The text after the line tag of one of the run's lines; nothing for any other line.
std::optional<std::wstring> MessageOfLine(std::string_view line)
{
    CLogLine parsed = ParseLogLine(line);
    if (parsed.m_lineTag != kSanarixLineTag)
        return std::nullopt;
    size_t tagEnd = parsed.m_lineTag.data() + parsed.m_lineTag.size() - line.data();
    return Utf8ToWide(std::string(line.substr(tagEnd)));
}

} // namespace

std::vector<std::wstring> MessagesOfFile(const std::string& bytes)
{
    std::vector<CNulRegion> nulRegions;
    std::vector<std::wstring> messages;
    for (const CTextLine& line : SplitLogLines(bytes, /*headCut=*/false, nulRegions))
        messages.push_back(MessageOfLine(line.m_text).value_or(L"?"));
    return messages;
}

void AppTest::Reset()
{
    g_DebugLog.Start(L"[SANARIX]"); // drops any debug file a test pointed the log at
    g_sCVPath.clear();
    g_sCVSKPath.clear();
}

std::vector<std::wstring> AppTest::Messages() const
{
    std::vector<std::wstring> messages;
    for (const std::wstring& line : m_Debugger.Lines())
        if (!line.empty() && line.back() == L'\n')
            if (auto message = MessageOfLine(WideToUtf8(line.substr(0, line.size() - 1))))
                messages.push_back(*message);
    return messages;
}
