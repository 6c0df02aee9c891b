// Wine lacks a few calls the program needs (BackupWrite, the raw EFS import, private
// namespaces, the final path of a file deeper than MAX_PATH). At start-up the program detects
// Wine and puts our own stand-ins into the table of calls; on Windows the real calls stay.
#pragma once
#include "platform/WinHeaders.h"

// True when ntdll exports wine_get_version.
bool IsRunningOnWine();
// On Wine: installs the stand-ins and notes it on the debugger output. Elsewhere: nothing.
void InstallWineStandins();
