// Finding the runs in a debug log. The log is appended to across runs, so one file holds
// many; each run is the lines of one process from its start marker to its stop marker. Lines
// are grouped by process id rather than by position, so two runs started at the same time,
// whose lines interleave in the file, still come apart.
#pragma once
#include "tools/logreader/LogText.h"
#include "tools/logreader/RunSummary.h"
#include <string>
#include <string_view>
#include <vector>

struct CLogAnalysis
{
    CTextCheck m_text;
    bool m_bHeadCut = false;             // only the tail of the file was read
    std::vector<CNulRegion> m_nulRegions;
    std::vector<CRunSummary> m_runs;     // in the order of their first lines
    size_t m_nOurLines = 0;              // lines of our format and line tag
    size_t m_nOtherProgramLines = 0;     // our format, another program's line tag
    size_t m_nForeignLines = 0;          // non-empty lines in no known format
    std::string m_sOtherTag;             // the first other program's line tag seen
    bool m_bTrimmed = false;             // the file begins inside a run: its head was dropped

    // Readable text that is, for the most part, our own lines.
    bool IsOurLog() const
    {
        return m_text.m_problem == ETextProblem::None && m_nOurLines > 0 &&
               m_nOurLines >= m_nForeignLines;
    }
};

// bytes: the file's content, or with headCut its tail.
CLogAnalysis AnalyseLog(std::string_view bytes, bool headCut);
