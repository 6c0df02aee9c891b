// What a repair run must have made of the plan, read back from the machine: every engine
// file deleted or kept, the pending renames gone, every location restored (content,
// attributes, times), kept or left alone as its fate says, the quarantine folder holding
// exactly what remains, and no decoy run. The report of "product_setup report" (the demo)
// and the end-to-end tests judge a run by these checks.
#pragma once
#include "tools/product/ProductPlan.h"
#include <string>
#include <vector>

// How one location differs from its fate; empty when it is as planned. Its attributes and
// times are read before its content, and the first read after a restore moves the access
// time: a location can be checked once only.
std::string CheckLocation(const CPlannedItem& item, const CPlannedLocation& location);

// The differences outside the locations: engine files, pending renames, the quarantine
// folder, a decoy that ran. One line each.
std::vector<std::string> CheckBesideLocations(const CProductLayout& layout, const CProductPlan& plan);

