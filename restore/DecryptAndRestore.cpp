// The quarantine library's restore operation for one location of a quarantined item: find
// the location, write the payload back with the right writer, check size and digests, and
// retire the location from the quarantine. Until the location is retired, every failure
// leaves index and payload as they were and no file of ours at the destination.
//
// The writers work on a staging file in the destination folder, which is renamed to the
// item's name only once size and digests are proven. A run cut short (killed, crashed)
// thus never leaves a partial file under the item's name, where the next run would take
// it for the user's own file and retire the quarantined copy.
#include "restore/DecryptAndRestore.h"
#include "diag/TextBuffer.h"
#include "platform/Owners.h"
#include "quarantine/QuarItem.h"
#include "quarantine/Vaultkit.h"
#include "quarantine/VaultkitError.h"
#include "quarantine/VaultkitTrace.h"
#include "restore/Impersonation.h"
#include "restore/PayloadPath.h"
#include "restore/StagingPath.h"
#include "restore/Writers.h"
#include "restore/codecs/Base64.h"
#include <algorithm>
#include <cwchar>
#include <vector>

namespace {

const size_t kPathChars = 262;           // folder or destination, terminator included
const size_t kMaxDestinationChars = 260; // folder and name together
const uint64_t kSpaceSlack = 1024;

const wchar_t* TextOf(const wchar_t* text)
{
    return text ? text : L"";
}

int32_t Fail(int32_t result, const wchar_t* line)
{
    VaultkitTrace(line);
    return result;
}

// Free space of exactly size + 1024 bytes is enough. The sum is never formed, so a size
// near the 64-bit limit cannot wrap round into "fits".
bool FreeSpaceSuffices(uint64_t freeBytes, int64_t size)
{
    if (size < 0) {
        int64_t need = size + static_cast<int64_t>(kSpaceSlack);
        return need <= 0 || freeBytes >= static_cast<uint64_t>(need);
    }
    uint64_t bytes = static_cast<uint64_t>(size);
    return freeBytes >= bytes && freeBytes - bytes >= kSpaceSlack;
}

// A failed query skips the check; the writer then meets whatever the volume holds.
bool HasRoomFor(const wchar_t* folder, int64_t size)
{
    ULARGE_INTEGER available;
    ULARGE_INTEGER total;
    ULARGE_INTEGER free;
    if (!g_Sys.GetDiskFreeSpaceExW(folder, &available, &total, &free))
        return true;
    return FreeSpaceSuffices(free.QuadPart, size);
}

// Copies out the first location with exactly this name and path (case-sensitive).
bool FindLocation(QuarItem& item, const wchar_t* name, const wchar_t* path,
                  QuarItemInfo& selected)
{
    for (uint32_t i = 0; i < item.GetFileCount(); ++i) {
        selected = item.SelectFile(i);
        if (std::wcscmp(selected.name, name) == 0 && std::wcscmp(selected.path, path) == 0)
            return true;
    }
    return false;
}

// The impersonation fallback: a failed action is traced with its error, the user attempt
// runs (and fails), and the action is given up without a second try.
bool WithUserFallback(bool done, const wchar_t* message)
{
    if (done)
        return true;
    DWORD error = g_Sys.GetLastError();
    VaultkitTrace(message, error);
    StartImpersonatingUser();
    VaultkitTrace(L"[VAULTKIT] Failed switching user impersonation");
    return false;
}

// Our restored file carries the item's attributes by now; a read-only one would refuse
// the delete and stay behind, so the attributes go first.
bool DeleteRestoredFile(const wchar_t* path)
{
    g_Sys.SetFileAttributesW(path, FILE_ATTRIBUTE_NORMAL);
    return g_Sys.DeleteFileW(path) != FALSE;
}

bool ListMatches(const DigestList& list, const std::optional<std::wstring>& expected)
{
    std::vector<uint8_t> joined;
    list.Concatenate(joined);
    return DigestTextMatches(joined.data(), joined.size(), expected ? expected->c_str() : nullptr);
}

// What stands at the destination, as far as its attributes tell.
enum class DestinationState { Absent, File, Folder, Unknown };

DestinationState ProbeDestination(const wchar_t* destination)
{
    DWORD attributes = g_Sys.GetFileAttributesW(destination);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD error = g_Sys.GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                   ? DestinationState::Absent
                   : DestinationState::Unknown;
    }
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? DestinationState::Folder
                                                   : DestinationState::File;
}

// A file standing at the destination is left alone and answered with 13 before anything
// is written. A folder of the item's name is no file of the user's: retiring the item
// for it would lose the content, so that is a write failure. When the question cannot
// be answered the restore goes on; the rename at the end never replaces anything.
int32_t CheckDestinationFree(const wchar_t* destination)
{
    switch (ProbeDestination(destination)) {
    case DestinationState::File:
        return Fail(VAULTKIT_ERROR_OUTPUT_FILE_ALREADY_EXISTS,
                    L"[VAULTKIT] VAULTKIT_ERROR_OUTPUT_FILE_ALREADY_EXISTS");
    case DestinationState::Folder:
        return Fail(VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION,
                    L"[VAULTKIT] VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION give up");
    default:
        return VAULTKIT_ERROR_SUCCESS;
    }
}

// A file under the staging name is what an interrupted run left: never verified, never
// anybody else's. It goes before the writer creates the staging file anew.
int32_t ClearStaging(const wchar_t* staging)
{
    if (g_Sys.GetFileAttributesW(staging) == INVALID_FILE_ATTRIBUTES) {
        DWORD error = g_Sys.GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return VAULTKIT_ERROR_SUCCESS;
    }
    if (DeleteRestoredFile(staging)) {
        VaultkitTrace(L"[VAULTKIT] Removed unfinished restore %s", staging);
        return VAULTKIT_ERROR_SUCCESS;
    }
    VaultkitTrace(L"[VAULTKIT] Cannot remove unfinished restore %s [%d]", staging,
                  g_Sys.GetLastError());
    return VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION;
}

int32_t RestoreEfs(const wchar_t* staging, HANDLE hPayload, DigestList& original,
                   DigestList& crypted)
{
    CUniqueEfsContext context;
    if (g_Sys.OpenEncryptedFileRawW(staging, CREATE_FOR_IMPORT, context.put()) != ERROR_SUCCESS) {
        VaultkitTrace(L"[VAULTKIT] OpenEncryptedFileRaw [VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION (%d)]",
                      g_Sys.GetLastError());
        return VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION;
    }
    return RestoreEfsFile(staging, hPayload, original, crypted, context.release());
}

int32_t RestoreNormal(const QuarItemInfo& item, const wchar_t* staging, HANDLE hPayload,
                      DigestList& original, DigestList& crypted)
{
    std::vector<uint8_t> security;
    uint32_t securityLength = 0;
    if (item.sec_str_len > 0 && item.sec_str && !item.sec_str->empty()) {
        // The text is sec_str_len - 1 characters; Decode wants room for one byte more.
        int32_t textLength = std::min<int32_t>(item.sec_str_len,
                                               static_cast<int32_t>(item.sec_str->size())) - 1;
        security.resize(static_cast<size_t>(item.sec_str_len));
        CBase64 base64;
        securityLength = base64.Decode(reinterpret_cast<const char*>(item.sec_str->data()),
                                       textLength, security.data());
    }
    return RestoreNormalFile(staging, hPayload, original, crypted, security.data(),
                             static_cast<int32_t>(securityLength), item.crt, item.lwt, item.lat);
}

// Opens the payload and lets the item's writer put it under the staging name, unless a
// file already stands at the destination. The payload is closed again before the
// restored file is looked at.
int32_t WriteStaging(const QuarItemInfo& item, const wchar_t* destination, const wchar_t* staging,
                     const wchar_t* payloadPath, DigestList& original, DigestList& crypted)
{
    CUniqueFile payload(g_Sys.CreateFileW(payloadPath, GENERIC_READ, FILE_SHARE_READ,
                                          /*lpSecurityAttributes=*/nullptr, OPEN_EXISTING,
                                          FILE_FLAG_SEQUENTIAL_SCAN, /*hTemplateFile=*/nullptr));
    if (!payload)
        return Fail(VAULTKIT_ERROR_CANNOT_READ_SOURCE, L"[VAULTKIT] VAULTKIT_ERROR_CANNOT_READ_SOURCE");
    bool efs = (item.dflags & QUAR_DFLAG_EFS) != 0;
    VaultkitTrace(efs ? L"[VAULTKIT] Restore EFS file" : L"[VAULTKIT] Restore normal file");
    int32_t result = ClearStaging(staging);
    if (result == VAULTKIT_ERROR_SUCCESS)
        result = CheckDestinationFree(destination);
    if (result != VAULTKIT_ERROR_SUCCESS)
        return result;
    result = efs ? RestoreEfs(staging, payload.get(), original, crypted)
                 : RestoreNormal(item, staging, payload.get(), original, crypted);
    // Only the staging name was refused here; the destination itself is still free.
    if (result == VAULTKIT_ERROR_OUTPUT_FILE_ALREADY_EXISTS)
        return Fail(VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION,
                    L"[VAULTKIT] VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION give up");
    return result;
}

// The verified file takes the item's name. The rename never replaces: a file that turned
// up at the destination meanwhile stays, and the answer is 13 as if it had been there
// from the start. Whatever fails, no staging file of ours stays behind.
int32_t MoveIntoPlace(const wchar_t* staging, const wchar_t* destination)
{
    if (g_Sys.MoveFileExW(staging, destination, MOVEFILE_WRITE_THROUGH))
        return VAULTKIT_ERROR_SUCCESS;
    DWORD error = g_Sys.GetLastError();
    DeleteRestoredFile(staging);
    if (ProbeDestination(destination) == DestinationState::File)
        return Fail(VAULTKIT_ERROR_OUTPUT_FILE_ALREADY_EXISTS,
                    L"[VAULTKIT] VAULTKIT_ERROR_OUTPUT_FILE_ALREADY_EXISTS");
    VaultkitTrace(L"[VAULTKIT] MoveFileEx [VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION (%d)]", error);
    return VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION;
}

// On the staging file: attributes first (compression before them), then size, original
// and crypted digests.
int32_t CheckRestored(const QuarItemInfo& item, const wchar_t* staging,
                      const DigestList& original, const DigestList& crypted)
{
    if (item.attr & QUAR_ATTR_COMPRESSED)
        RecompressResoredFile(staging);
    g_Sys.SetFileAttributesW(staging, item.attr);

    WIN32_FILE_ATTRIBUTE_DATA data;
    if (g_Sys.GetFileAttributesExW(staging, GetFileExInfoStandard, &data)) {
        uint64_t size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
        if (static_cast<int64_t>(size) != item.size) {
            DeleteRestoredFile(staging);
            return Fail(VAULTKIT_ERROR_FILE_SIZE_MISMATCH, L"[VAULTKIT] VAULTKIT_ERROR_FILE_SIZE_MISMATCH");
        }
    }
    if (!ListMatches(original, item.hash)) {
        DeleteRestoredFile(staging);
        return Fail(VAULTKIT_ERROR_ORIGINAL_MD5_MISMATCH, L"[VAULTKIT] VAULTKIT_ERROR_ORIGINAL_MD5_MISMATCH");
    }
    if (!ListMatches(crypted, item.qhash)) {
        DeleteRestoredFile(staging);
        return Fail(VAULTKIT_ERROR_CRYPTED_MD5_MISMATCH, L"[VAULTKIT] VAULTKIT_ERROR_CRYPTED_MD5_MISMATCH");
    }
    return VAULTKIT_ERROR_SUCCESS;
}

// The index could not be updated, so the location stays in the quarantine and the file we
// wrote goes. After 13 the file at the destination was there before us: it stays.
int32_t UndoRestore(const wchar_t* destination, int32_t result)
{
    if (result != VAULTKIT_ERROR_OUTPUT_FILE_ALREADY_EXISTS && !DeleteRestoredFile(destination))
        StartImpersonatingUser();
    return Fail(VAULTKIT_ERROR_CANNOT_SAVE_XML, L"[VAULTKIT] VAULTKIT_ERROR_CANNOT_SAVE_XML");
}

// The last location takes index and payload with it (best effort); any other is removed
// from the index, which must then be written, or the restore is undone.
//
// The payload goes only once its index is gone. An index left behind still lists the
// location; with its payload beside it a later run meets the restored file, answers 13 and
// retires the location cleanly, where without it every later run would fail with 7.
int32_t RetireLocation(QuarItem& item, const QuarItemInfo& selected, const wchar_t* indexPath,
                       const wchar_t* payloadPath, const wchar_t* destination, int32_t result)
{
    VaultkitTrace(L"[VAULTKIT] Deleting original file");
    if (item.GetFileCount() == 1) {
        VaultkitTrace(L"[VAULTKIT] No duplicates, deleting xml & cvq");
        if (WithUserFallback(g_Sys.DeleteFileW(indexPath) != FALSE,
                             L"[VAULTKIT] Failed deleting xml file [%d]"))
            WithUserFallback(g_Sys.DeleteFileW(payloadPath) != FALSE,
                             L"[VAULTKIT] Failed deleting cvq file [%d]");
        return result;
    }
    if (WithUserFallback(item.RemoveFile(selected), L"[VAULTKIT] Failed removing duplicates [%d]") &&
        WithUserFallback(item.SaveXml(indexPath), L"[VAULTKIT] Failed saving xml [%d]"))
        return result;
    return UndoRestore(destination, result);
}

} // namespace

int32_t VaultkitDecryptAndRestore(const wchar_t* indexPath, const wchar_t* name,
                                  const wchar_t* path)
{
    VaultkitTrace(L"[VAULTKIT] VaultkitDecryptAndRestore(|%s|, |%s|, |%s|, |%s|, %d, %d)",
                  indexPath, name, path, static_cast<const wchar_t*>(nullptr), 0, 0);
    // Stopped while the count is 0 or below (more stops than starts).
    if (g_nVaultkitInit <= 0)
        return VAULTKIT_ERROR_NOT_INITIALIZED;
    name = TextOf(name);
    path = TextOf(path);

    QuarItem item;
    if (!item.LoadXml(indexPath))
        return VAULTKIT_ERROR_CANNOT_READ_XML;
    if (item.GetFileCount() == 0)
        return VAULTKIT_ERROR_XML_NO_FILES;
    QuarItemInfo selected;
    if (!FindLocation(item, name, path, selected))
        return Fail(VAULTKIT_ERROR_XML_DUPLICATE_ENTRY_NOT_FOUND,
                    L"[VAULTKIT] VAULTKIT_ERROR_XML_DUPLICATE_ENTRY_NOT_FOUND");
    if (std::wcslen(path) + std::wcslen(name) > kMaxDestinationChars)
        return Fail(VAULTKIT_ERROR_DEST_PATH_TO_BIG, L"[VAULTKIT] VAULTKIT_ERROR_DEST_PATH_TO_BIG");

    wchar_t folder[kPathChars];
    size_t folderLength = CopyInto(folder, kPathChars, path);
    if (folderLength == 0 || folder[folderLength - 1] != L'\\')
        AppendInto(folder, kPathChars, L"\\");
    if (!HasRoomFor(folder, selected.size))
        return Fail(VAULTKIT_ERROR_NOT_ENOUGH_SPACE, L"[VAULTKIT] VAULTKIT_ERROR_NOT_ENOUGH_SPACE");

    wchar_t destination[kPathChars];
    CopyInto(destination, kPathChars, folder);
    AppendInto(destination, kPathChars, name);
    wchar_t payloadPath[kPayloadPathChars];
    if (!MakePayloadPath(indexPath, payloadPath, kPayloadPathChars))
        return Fail(VAULTKIT_ERROR_CANNOT_READ_SOURCE, L"[VAULTKIT] VAULTKIT_ERROR_CANNOT_READ_SOURCE");

    wchar_t staging[kStagingPathChars];
    if (!MakeStagingPath(folder, name, staging, kStagingPathChars))
        return Fail(VAULTKIT_ERROR_DEST_PATH_TO_BIG, L"[VAULTKIT] VAULTKIT_ERROR_DEST_PATH_TO_BIG");

    DigestList original;
    DigestList crypted;
    int32_t result = WriteStaging(selected, destination, staging, payloadPath, original, crypted);
    if (result == VAULTKIT_ERROR_SUCCESS)
        result = CheckRestored(selected, staging, original, crypted);
    if (result == VAULTKIT_ERROR_SUCCESS)
        result = MoveIntoPlace(staging, destination);
    if (result == VAULTKIT_ERROR_SUCCESS || result == VAULTKIT_ERROR_OUTPUT_FILE_ALREADY_EXISTS)
        result = RetireLocation(item, selected, indexPath, payloadPath, destination, result);
    if (result == VAULTKIT_ERROR_SUCCESS)
        VaultkitTrace(L"[VAULTKIT] VAULTKIT_ERROR_SUCCESS");
    return result;
}
