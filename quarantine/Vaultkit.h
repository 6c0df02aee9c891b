// Start-up and stop of the quarantine library: the start count, its locks, the quarantine
// folder from the registry and the backup and restore privileges.
#pragma once
#include "platform/WinHeaders.h"
#include "quarantine/VaultkitError.h"

extern int32_t g_nVaultkitInit;       // start count; started while positive
extern wchar_t g_sQuarFolder[260];    // quarantine folder read at start-up
extern CRITICAL_SECTION g_csEfsRead;  // around each payload read of the raw EFS import
extern CRITICAL_SECTION g_csUserPid;  // while the user's process id is read
extern CRITICAL_SECTION g_csQuarFolder; // while the folder is read from the registry

extern const wchar_t kQuarantineKey[];   // "SOFTWARE\Corvanta\Corvanta Quarantine\"
extern const wchar_t kQuarantineValue[]; // "QuarantineFolder"

// 0 (also when already started), VAULTKIT_ERROR_NO_QUAR_FOLDER or
// VAULTKIT_ERROR_CANNOT_OPEN_PROCESS.
int32_t VaultkitInit();
// Deletes the locks when the count returns to 0. A stop without a start does nothing.
void VaultkitUninit();

// Reads the quarantine folder into buffer (capacity 260). False when there is no buffer
// or the registry cannot be read; failures go to the debug log under "GetQuarFolderPath".
// The text is always terminated: a value that fills all 260 characters without a NUL is
// refused as too long, an odd last byte is dropped.
bool GetQuarFolderPath(wchar_t* buffer);
