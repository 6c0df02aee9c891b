// The debug log a repair run must write, built from the product's plan and the situation
// the run meets: every line from the start marker to the stop marker, in order.
#pragma once
#include "tests/e2e/LogExpectation.h"
#include "tools/product/ProductPlan.h"

struct CRunSituation
{
    bool m_bInstalled = true;  // false: no service, no program, no quarantine value
    bool m_bFirstRun = true;   // false: engine files, pending renames and matching items gone
    std::wstring m_sIgnoringService; // a service that does not stop (kill fallback), or ""
};

CLogExpectation ExpectedRunLog(const CProductLayout& layout, const CProductPlan& plan,
                               const CRunSituation& situation);

// The repair run's own texts that the scenarios name directly.
std::string IndexPathText(const CProductLayout& layout, const CPlannedItem& item);
