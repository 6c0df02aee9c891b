// Files of the restore benchmark: numbered names and quarantine copies of a built item. The
// general file helpers are the tools' own (tools/common/FileTools.h), which call Windows
// directly: the table of calls belongs to the code being measured.
#pragma once
#include "tools/common/FileTools.h"
#include "tools/common/PseudoRandom.h"
#include <cstdint>
#include <string>

// prefix, n in five digits, suffix: "item", 7, ".bin" -> "item00007.bin".
std::wstring NumberedName(const wchar_t* prefix, unsigned n, const wchar_t* suffix);

// True when the folder holds no "*.xml": every index was retired.
bool NoIndexLeft(const std::wstring& folder);

// Puts the item built at masterBase (".cvq" and ".xml") into the quarantine at quarBase
// for one restore, which retires (deletes) both. The payload is a hard link, so that a big
// payload is neither copied again nor read into a colder cache than the first time; where
// links are refused it is copied.
bool PlaceQuarantineCopy(const std::wstring& masterBase, const std::wstring& quarBase);
