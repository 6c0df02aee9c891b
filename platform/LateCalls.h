// Functions that some Windows versions the program supports lack (early Windows 7 has no
// SetDefaultDllDirectories before KB2533623). Importing one would keep the program from
// starting there, so the table's default for such a row is one of these: it looks the
// real function up in kernel32 through the table and calls it, or fails with
// ERROR_PROC_NOT_FOUND when it is not there.
#pragma once
#include "platform/WinHeaders.h"

BOOL WINAPI LateSetDefaultDllDirectories(DWORD DirectoryFlags);
