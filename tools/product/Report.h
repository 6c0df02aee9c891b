// What the simulated product looks like now, as text for "product_setup status" and
// "product_setup report" (the demo prints both) and for the end-to-end tests: the services
// and processes, and what a repair run made of the planned quarantine.
#pragma once
#include "tools/product/ProductPlan.h"
#include <string>

// A line per service ("CVHOST<tab>state=4<tab>cvhostsvc.exe x1"; state 0: no such service)
// and per product executable ("cvtray.exe<tab>x1").
std::string RenderStatus();

// For every location of every item: what stands there now and whether that is as planned;
// then every difference from the plan (Outcome.h), or "outcome: as planned".
std::string RenderReport(const CProductLayout& layout, const CProductPlan& plan);
