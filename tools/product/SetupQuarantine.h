// The quarantine part of the set-up: the registry value naming the folder, one index and
// one payload per planned item (built with the item builder), the corrupt index, the
// extras, the destination folders, and the files that already stand at destinations.
#pragma once
#include "tools/itembuilder/ItemBuilder.h"
#include "tools/product/ProductSetup.h"

void InstallQuarantine(const CProductLayout& layout, const CProductPlan& plan,
                       CSetupReport& report);

// The item builder's description of a planned item: content, threat, payload name, a location
// per planned location; with withSecurity, a security descriptor anyone may take back.
CItemDescription DescribeItem(const CPlannedItem& item, bool withSecurity);
