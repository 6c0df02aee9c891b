// Grouping the lines of a debug log into runs. A run that has lost its start marker (the log's
// trim dropped it, or damage ate it) begins at its first surviving line; a run whose process
// starts again under the same id is left unfinished.
#include "tools/logreader/LogAnalysis.h"
#include <algorithm>
#include <unordered_map>

namespace {

class CRunCollector
{
public:
    explicit CRunCollector(CLogAnalysis& analysis) : m_analysis(analysis) {}

    void Take(const CLogLine& line, const CTextLine& text)
    {
        auto open = m_open.find(line.m_pid);
        if (line.m_kind == ELineKind::Started || open == m_open.end()) {
            bool headTrimmed = line.m_kind != ELineKind::Started && !m_bSeenRunLine;
            m_analysis.m_bTrimmed = m_analysis.m_bTrimmed || headTrimmed;
            m_analysis.m_runs.emplace_back();
            m_analysis.m_runs.back().m_bHeadTrimmed = headTrimmed;
            open = m_open.insert_or_assign(line.m_pid, m_analysis.m_runs.size() - 1).first;
        }
        m_bSeenRunLine = true;
        m_analysis.m_runs[open->second].Add(line, text.m_offset, text.m_number);
        if (line.m_kind == ELineKind::Stopped)
            m_open.erase(open);
    }

private:
    CLogAnalysis& m_analysis;
    // Process id -> index of its run. A map, since a foreign file in our format may carry a
    // new id on every line.
    std::unordered_map<unsigned long, size_t> m_open;
    bool m_bSeenRunLine = false;
};

// A run with zero bytes or foreign text between its first and last line may have lost lines
// there; its results cannot be trusted to be all there is.
void MarkDamagedRuns(CLogAnalysis& analysis, std::vector<size_t>& damage)
{
    std::sort(damage.begin(), damage.end());
    for (CRunSummary& run : analysis.m_runs) {
        auto next = std::upper_bound(damage.begin(), damage.end(), run.m_firstOffset);
        run.m_bDamaged = next != damage.end() && *next < run.m_lastOffset;
    }
}

} // namespace

CLogAnalysis AnalyseLog(std::string_view bytes, bool headCut)
{
    CLogAnalysis analysis;
    analysis.m_bHeadCut = headCut;
    analysis.m_text = CheckLogText(bytes, headCut);
    if (analysis.m_text.m_problem != ETextProblem::None)
        return analysis;
    std::vector<CTextLine> lines = SplitLogLines(bytes, headCut, analysis.m_nulRegions);
    std::vector<size_t> damage;
    for (const CNulRegion& region : analysis.m_nulRegions)
        damage.push_back(region.m_offset);
    CRunCollector collector(analysis);
    for (const CTextLine& text : lines) {
        if (text.m_text.empty())
            continue;
        CLogLine line = ParseLogLine(text.m_text);
        if (line.m_kind == ELineKind::Foreign) {
            ++analysis.m_nForeignLines;
            damage.push_back(text.m_offset);
            continue;
        }
        if (line.m_kind == ELineKind::OtherProgram) {
            if (analysis.m_nOtherProgramLines++ == 0)
                analysis.m_sOtherTag = std::string(line.m_lineTag);
            continue;
        }
        ++analysis.m_nOurLines;
        if (line.m_kind != ELineKind::Fields)
            collector.Take(line, text);
    }
    MarkDamagedRuns(analysis, damage);
    return analysis;
}
