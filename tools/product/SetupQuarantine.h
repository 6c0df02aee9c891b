// The quarantine part of the set-up: the registry value naming the folder, one index and
// one payload per planned item (built with the item builder), the corrupt index, the
// extras, the destination folders, and the files that already stand at destinations.
#pragma once
#include "tools/product/ProductSetup.h"

void InstallQuarantine(const CProductLayout& layout, const CProductPlan& plan,
                       CSetupReport& report);
