// Security data for the tests, written the readable way: the tools' own (see there).
#pragma once
#include "tools/common/SecurityText.h"
