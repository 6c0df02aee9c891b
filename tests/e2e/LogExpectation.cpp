// Expected log messages and their comparison (see LogExpectation.h).
#include "tests/e2e/LogExpectation.h"
#include <regex>

void CLogExpectation::Line(const std::string& message)
{
    m_Elements.push_back({EKind::Line, message, {}});
}

void CLogExpectation::Pattern(const std::string& regex)
{
    m_Elements.push_back({EKind::Pattern, regex, {}});
}

void CLogExpectation::WaitPair(const std::string& tag)
{
    m_Elements.push_back({EKind::WaitPair, tag, {}});
}

void CLogExpectation::AnyOrder(const std::vector<std::vector<std::string>>& groups)
{
    m_Elements.push_back({EKind::AnyOrder, std::string(), groups});
}

bool CLogExpectation::MatchElement(const CElement& element,
                                   const std::vector<std::string>& messages, size_t& at,
                                   std::string& why) const
{
    auto next = [&](std::string& out) {
        if (at >= messages.size())
            return false;
        out = messages[at++];
        return true;
    };
    std::string got;
    switch (element.m_eKind) {
    case EKind::Line:
        why = "expected \"" + element.m_sText + "\"";
        return next(got) && got == element.m_sText;
    case EKind::Pattern:
        why = "expected a line matching /" + element.m_sText + "/";
        return next(got) && std::regex_match(got, std::regex(element.m_sText));
    case EKind::WaitPair: {
        why = "expected the wait lines of " + element.m_sText;
        std::smatch match;
        std::regex first(RegexQuote(Info(element.m_sText, "WaitForSingleObject handle=0x")) +
                         "([0-9A-F]{8}) \\.\\.\\.");
        if (!next(got) || !std::regex_match(got, match, first))
            return false;
        std::string second =
            Info(element.m_sText, "WaitForSingleObject handle=0x" + match[1].str() + " ok");
        why = "expected \"" + second + "\"";
        return next(got) && got == second;
    }
    case EKind::AnyOrder: {
        std::vector<bool> used(element.m_Groups.size(), false);
        for (size_t done = 0; done < element.m_Groups.size(); ++done) {
            size_t g = 0;
            while (g < element.m_Groups.size() &&
                   (used[g] || at >= messages.size() || messages[at] != element.m_Groups[g][0]))
                ++g;
            if (g == element.m_Groups.size()) {
                why = "expected the first line of one of the " +
                      std::to_string(element.m_Groups.size() - done) + " groups left, e.g. \"";
                for (size_t k = 0; k < used.size(); ++k)
                    if (!used[k]) {
                        why += element.m_Groups[k][0] + "\"";
                        break;
                    }
                return false;
            }
            used[g] = true;
            for (const std::string& line : element.m_Groups[g]) {
                why = "expected \"" + line + "\" (in a group)";
                if (!next(got) || got != line)
                    return false;
            }
        }
        return true;
    }
    }
    return false;
}

std::string CLogExpectation::Compare(const std::vector<std::string>& messages) const
{
    size_t at = 0;
    for (const CElement& element : m_Elements) {
        size_t start = at;
        std::string why;
        if (MatchElement(element, messages, at, why)) {
            continue;
        }
        std::string report = "log line " + std::to_string(at) + ": " + why + "\nlog around it:\n";
        size_t from = start >= 3 ? start - 3 : 0;
        for (size_t i = from; i < messages.size() && i < at + 3; ++i)
            report += (i + 1 == at ? "  >> " : "     ") + messages[i] + "\n";
        if (at > messages.size() || start >= messages.size())
            report += "     (end of log)\n";
        return report;
    }
    if (at != messages.size())
        return "log has " + std::to_string(messages.size() - at) +
               " more lines than expected, from: " + messages[at];
    return std::string();
}

std::string All(const std::string& tag, const std::string& text)
{
    return "[ALL]:    " + tag + " - " + text;
}

std::string Info(const std::string& tag, const std::string& text)
{
    return "[INFO]:   " + tag + " - " + text;
}

std::string Error(const std::string& tag, const std::string& text)
{
    return "[ERROR]:  " + tag + " - " + text;
}

std::string RegexQuote(const std::string& text)
{
    static const std::string special = R"(\^$.|?*+()[]{}/)";
    std::string quoted;
    for (char c : text) {
        if (special.find(c) != std::string::npos)
            quoted += '\\';
        quoted += c;
    }
    return quoted;
}
