// What a repair run made of the planned quarantine, as a table: for every location of
// every item, what stands there now and whether its digest equals the original's.
#pragma once
#include "tools/product/ProductPlan.h"
#include <string>

std::string RenderReport(const CProductLayout& layout, const CProductPlan& plan);
