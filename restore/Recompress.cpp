// Compresses a restored file again. The backup streams bring the data back but not the
// compressed state of the original, so a file that was compressed is compressed anew.
#include "restore/Writers.h"
#include "platform/Owners.h"
#include "quarantine/VaultkitTrace.h"

DWORD RecompressResoredFile(const wchar_t* path)
{
    CUniqueFile file(g_Sys.CreateFileW(path, GENERIC_ALL, FILE_SHARE_READ,
                                       /*lpSecurityAttributes=*/nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, /*hTemplateFile=*/nullptr));
    if (!file) {
        DWORD error = g_Sys.GetLastError();
        VaultkitTrace(L"[VAULTKIT] RecompressResoredFile ERROR reopening file [%d]", error);
        return error;
    }

    USHORT format = COMPRESSION_FORMAT_DEFAULT;
    DWORD returned = 0;
    DWORD error = ERROR_SUCCESS;
    if (g_Sys.DeviceIoControl(file.get(), FSCTL_SET_COMPRESSION, &format, sizeof(format),
                              /*lpOutBuffer=*/nullptr, /*nOutBufferSize=*/0, &returned,
                              /*lpOverlapped=*/nullptr)) {
        VaultkitTrace(L"[VAULTKIT] RecompressResoredFile OK");
    } else {
        error = g_Sys.GetLastError();
        VaultkitTrace(L"[VAULTKIT] RecompressResoredFile DeviceIoControl ERROR or pending [%d]",
                      error);
    }
    return error;
}
