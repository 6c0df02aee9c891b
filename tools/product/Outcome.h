// What a repair run must have made of the plan, read back from the machine: every engine
// file deleted or kept, the pending renames gone, every location restored (content,
// attributes, times), kept or left alone as its fate says, the quarantine folder holding
// exactly what remains, and no decoy run. The report of "product_setup report" (the demo)
// and the end-to-end tests judge a run by it.
#pragma once
#include "tools/product/ProductPlan.h"
#include <string>
#include <vector>

// How one location differs from its fate; empty when it is as planned.
std::string CheckLocation(const CPlannedItem& item, const CPlannedLocation& location);

// Every difference from the plan, one line each; empty after a run that did all it should.
std::vector<std::string> CheckOutcome(const CProductLayout& layout, const CProductPlan& plan);
