// The expected messages of a repair run, in order, and the check of a run's messages
// against them. Most lines are exact texts; a few parts are looser where the run cannot
// know them in advance: the handle of a started command (the pair of wait lines must name
// the same one), a Windows error code, and blocks whose order follows the file system's
// listing order (each group keeps its own order, the groups come in any order).
#pragma once
#include <string>
#include <vector>

class CLogExpectation
{
public:
    void Line(const std::string& message);
    // A line matching an ECMAScript regular expression (whole text).
    void Pattern(const std::string& regex);
    // "[INFO]:   <tag> - WaitForSingleObject handle=0x%08X ..." and "... ok" with one handle.
    void WaitPair(const std::string& tag);
    void AnyOrder(const std::vector<std::vector<std::string>>& groups);

    // Empty when the messages are exactly the expected ones; otherwise where they part,
    // with the neighbourhood of the first difference.
    std::string Compare(const std::vector<std::string>& messages) const;

private:
    enum class EKind { Line, Pattern, WaitPair, AnyOrder };
    struct CElement
    {
        EKind m_eKind;
        std::string m_sText;
        std::vector<std::vector<std::string>> m_Groups;
    };
    bool MatchElement(const CElement& element, const std::vector<std::string>& messages,
                      size_t& at, std::string& why) const;
    std::vector<CElement> m_Elements;
};

// The level labels of the debug log, padded as the log writes them.
std::string All(const std::string& tag, const std::string& text);   // "[ALL]:    tag - text"
std::string Info(const std::string& tag, const std::string& text);  // "[INFO]:   tag - text"
std::string Error(const std::string& tag, const std::string& text); // "[ERROR]:  tag - text"

// Escapes a text for use inside a Pattern.
std::string RegexQuote(const std::string& text);
