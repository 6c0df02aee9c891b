// Our own BackupWrite for Wine, which has none (its BackupWrite fails with 50). It takes
// the same backup stream records as the real call, in pieces of any size, and puts back
// what Wine's file system can hold: the main data and, where Wine lets it, the security
// descriptor. InstallWineStandins() puts it into the table of calls on Wine only.
#pragma once
#include "platform/WinHeaders.h"

// BackupWrite's contract: parses WIN32_STREAM_ID records (20-byte header, name, data)
// across calls; a header, a name or data may be split anywhere between calls. The parse
// state lives in a heap context stored in *lpContext: made by the first call, released by
// a call with bAbort TRUE (which then ignores the buffer; with no context it does nothing
// and succeeds) and set back to null.
//   BACKUP_DATA: written to hFile through WriteFile, records one after the other.
//   BACKUP_SECURITY_DATA: with bProcessSecurity, a self-relative security descriptor set
//     on hFile with SetKernelObjectSecurity once the record is complete (owner, group,
//     DACL and SACL as present; when Wine refuses that, the DACL alone). Wine maps DACLs to
//     Unix permissions and cannot store every descriptor, so a refusal, a malformed
//     descriptor or one above 1 MiB is consumed and dropped, never a failure.
//   BACKUP_ALTERNATE_DATA: Wine's file system has no named streams: consumed and dropped.
//   BACKUP_EA_DATA, BACKUP_LINK, BACKUP_OBJECT_ID, BACKUP_REPARSE_DATA,
//   BACKUP_SPARSE_BLOCK, BACKUP_TXFS_DATA and any other id: consumed and dropped.
// On success *lpNumberOfBytesWritten is the whole buffer count and the result TRUE. On
// failure the result is FALSE with the last error set and *lpNumberOfBytesWritten holds
// the bytes consumed before the failure: a failed WriteFile keeps its own error (112 for a
// full disk), a record header with a negative data size gives ERROR_INVALID_DATA, a null
// lpContext or a null buffer with a count gives ERROR_INVALID_PARAMETER. The context stays
// until the caller's abort call.
BOOL WINAPI StandinBackupWrite(HANDLE hFile, LPBYTE lpBuffer, DWORD nNumberOfBytesToWrite,
                               LPDWORD lpNumberOfBytesWritten, BOOL bAbort,
                               BOOL bProcessSecurity, LPVOID* lpContext);

// Contexts made and not yet released by an abort call (the tests check for leaks).
long StandinBackupWriteOpenContexts();
