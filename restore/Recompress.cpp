// Compresses a restored file again. The backup streams bring the data back but not the
// compressed state of the original, so a file that was compressed is compressed anew,
// through the handle the restore holds it by.
#include "restore/Writers.h"
#include "platform/Owners.h"
#include "quarantine/VaultkitTrace.h"

DWORD RecompressResoredFile(HANDLE hFile)
{
    USHORT format = COMPRESSION_FORMAT_DEFAULT;
    DWORD returned = 0;
    if (g_Sys.DeviceIoControl(hFile, FSCTL_SET_COMPRESSION, &format, sizeof(format),
                              /*lpOutBuffer=*/nullptr, /*nOutBufferSize=*/0, &returned,
                              /*lpOverlapped=*/nullptr)) {
        VaultkitTrace(L"[VAULTKIT] RecompressResoredFile OK");
        return ERROR_SUCCESS;
    }
    DWORD error = g_Sys.GetLastError();
    VaultkitTrace(L"[VAULTKIT] RecompressResoredFile DeviceIoControl ERROR or pending [%d]", error);
    return error;
}
