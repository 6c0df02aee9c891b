// Temporary: the restore driver until the quarantine library is in the tree.
#include "app/Operations.h"
bool RestoreQuarantine(const wchar_t*) { return false; }
