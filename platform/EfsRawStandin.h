// Our own raw EFS import for Wine, which has none (OpenEncryptedFileRawW fails with 120).
// Wine cannot encrypt files, so in our world the raw export of an encrypted file is simply
// its content: the import writes the bytes it is given into a plain file.
// InstallWineStandins() puts these into the table of calls on Wine only.
#pragma once
#include "platform/WinHeaders.h"

// With CREATE_FOR_IMPORT: creates lpFileName for writing, replacing a file that stands
// there (as the real import does; callers check for one first), and stores a heap context
// holding the handle in *pvContext. Returns ERROR_SUCCESS, or the error of CreateFileW
// (also left as the last error) with *pvContext null. Without CREATE_FOR_IMPORT (export)
// or with CREATE_FOR_DIR: ERROR_CALL_NOT_IMPLEMENTED. A null pvContext or file name:
// ERROR_INVALID_PARAMETER.
DWORD WINAPI StandinOpenEncryptedFileRawW(LPCWSTR lpFileName, ULONG ulFlags, PVOID* pvContext);

// Asks pfImportCallback for data again and again, offering a 64 KiB buffer each time,
// and writes what it delivers to the file until it delivers 0 bytes: ERROR_SUCCESS. A
// non-zero callback result aborts the import and is returned as it is; a failed
// WriteFile returns its error (112 for a full disk); a callback that claims more bytes
// than it was offered gives ERROR_INVALID_DATA. Whatever was written before stays in the
// file. REQUIRES a context from StandinOpenEncryptedFileRawW (null: ERROR_INVALID_PARAMETER).
DWORD WINAPI StandinWriteEncryptedFileRaw(PFE_IMPORT_FUNC pfImportCallback,
                                          PVOID pvCallbackContext, PVOID pvContext);

// Closes the file and frees the context; a null context is ignored.
VOID WINAPI StandinCloseEncryptedFileRaw(PVOID pvContext);

// Contexts opened and not yet closed (the tests check for leaks).
long StandinEfsOpenContexts();
