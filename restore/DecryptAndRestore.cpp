// The quarantine library's restore operation for one location of a quarantined item: find
// the location, write the payload back with the right writer, check size and digests, and
// retire the location from the quarantine. Until the location is retired, every failure
// leaves index and payload as they were and no file of ours at the destination.
//
// The writers work on a staging file in the destination folder, which is renamed to the
// item's name only once size and digests are proven. A run cut short (killed, crashed)
// thus never leaves a partial file under the item's name, where the next run would take
// it for the user's own file and retire the quarantined copy.
//
// The program runs with rights the owner of a destination folder lacks, and that owner
// may have set traps there. So a location whose name or folder could lead anywhere else
// is refused outright; the staging file is checked, on its own handle, to lie where it
// was meant to, and is held by that handle until it has the item's name; and nothing
// found under either name is touched unless it is plainly ours (StandingFiles.h).
#include "restore/DecryptAndRestore.h"
#include "diag/TextBuffer.h"
#include "platform/Owners.h"
#include "quarantine/QuarItem.h"
#include "quarantine/Vaultkit.h"
#include "quarantine/VaultkitError.h"
#include "quarantine/VaultkitTrace.h"
#include "restore/Impersonation.h"
#include "restore/LocationRules.h"
#include "restore/PayloadPath.h"
#include "restore/StagingFile.h"
#include "restore/StagingPath.h"
#include "restore/StandingFiles.h"
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

bool ListMatches(const DigestList& list, const std::optional<std::wstring>& expected)
{
    std::vector<uint8_t> joined;
    list.Concatenate(joined);
    return DigestTextMatches(joined.data(), joined.size(), expected ? expected->c_str() : nullptr);
}

// The location names a plain file in a fully qualified folder, or nothing is written.
VaultkitError CheckLocationText(const wchar_t* name, const wchar_t* path)
{
    if (!IsPlainFileName(name))
        return TraceResult(VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION, L" not a file name |%s|", name);
    if (!IsFullFolderPath(path))
        return TraceResult(VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION, L" not a full folder path |%s|",
                           path);
    return VAULTKIT_ERROR_SUCCESS;
}

VaultkitError RestoreNormal(const QuarItemInfo& item, CStagingFile& staged, HANDLE hPayload,
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
    // The writer's entry point keeps the library's plain result type; its values are codes.
    return static_cast<VaultkitError>(
        RestoreNormalFile(staged, hPayload, original, crypted, security.data(),
                          static_cast<int32_t>(securityLength), item.crt, item.lwt, item.lat,
                          item.size));
}

// Opens the payload and lets the item's writer put it under the staging name, unless a
// file already stands at the destination. The payload is closed again before the
// restored file is looked at.
VaultkitError WriteStaging(const QuarItemInfo& item, CStagingFile& staged, const wchar_t* payloadPath,
                     DigestList& original, DigestList& crypted)
{
    CUniqueFile payload(g_Sys.CreateFileW(payloadPath, GENERIC_READ, FILE_SHARE_READ,
                                          /*lpSecurityAttributes=*/nullptr, OPEN_EXISTING,
                                          FILE_FLAG_SEQUENTIAL_SCAN, /*hTemplateFile=*/nullptr));
    if (!payload)
        return TraceResult(VAULTKIT_ERROR_CANNOT_READ_SOURCE);
    bool efs = (item.dflags & QUAR_DFLAG_EFS) != 0;
    VaultkitTrace(efs ? L"[VAULTKIT] Restore EFS file" : L"[VAULTKIT] Restore normal file");
    VaultkitError result = ClearLeftover(staged);
    if (result == VAULTKIT_ERROR_SUCCESS)
        result = CheckDestinationFree(staged);
    if (result != VAULTKIT_ERROR_SUCCESS)
        return result;
    result = efs ? RestoreEfsStaging(staged, payload.get(), original, crypted, item.size)
                 : RestoreNormal(item, staged, payload.get(), original, crypted);
    // Only the staging name was refused here; the destination itself is still free.
    if (result == VAULTKIT_ERROR_OUTPUT_FILE_ALREADY_EXISTS)
        return TraceResult(VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION, L" give up");
    return result;
}

// On the staging file: attributes first (compression before them), then size, original
// and crypted digests. A file that fails them is left to staged, which removes it.
VaultkitError CheckRestored(const QuarItemInfo& item, CStagingFile& staged,
                      const DigestList& original, const DigestList& crypted)
{
    if (item.attr & QUAR_ATTR_COMPRESSED)
        RecompressResoredFile(staged.Handle());
    staged.SetAttributes(item.attr);

    int64_t size = 0;
    if (staged.Size(size) && size != item.size)
        return TraceResult(VAULTKIT_ERROR_FILE_SIZE_MISMATCH);
    if (!ListMatches(original, item.hash))
        return TraceResult(VAULTKIT_ERROR_ORIGINAL_MD5_MISMATCH);
    if (!ListMatches(crypted, item.qhash))
        return TraceResult(VAULTKIT_ERROR_CRYPTED_MD5_MISMATCH);
    return VAULTKIT_ERROR_SUCCESS;
}

// The verified file reaches the disk, then takes the item's name through its own handle.
// The rename never replaces: a file that turned up at the destination meanwhile stays,
// and the answer is 13 as if it had been there from the start. The rename resolves the
// destination by its path, so where the file landed is checked once more. Whatever
// fails, no staging file of ours stays behind: before the rename, staged removes it;
// after a failed rename it goes at once, before a 13 retires the location, so that a run
// cut short there cannot leave a file no later run would come back for; after the rename
// it is taken back here. The attributes are set again at the end: a rename may set the
// archive bit.
//
// A failed rename keeps the trace line of the move it replaced, which the operators'
// guide lists.
VaultkitError MoveIntoPlace(const QuarItemInfo& item, CStagingFile& staged)
{
    if (VaultkitError unflushed = staged.Flush())
        return unflushed;
    if (!staged.Rename()) {
        DWORD error = g_Sys.GetLastError();
        staged.Remove();
        if (IsAlreadyThere(staged))
            return TraceResult(VAULTKIT_ERROR_OUTPUT_FILE_ALREADY_EXISTS);
        return TraceCallResult(L"MoveFileEx", VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION, error);
    }
    if (VaultkitError misplaced = staged.CheckPlace(EPlace::Destination)) {
        staged.Remove();
        return misplaced;
    }
    staged.SetAttributes(item.attr);
    return VAULTKIT_ERROR_SUCCESS;
}

// The index could not be updated, so the location stays in the quarantine and the file we
// wrote goes, through the handle we still hold it by. After 13 the file at the
// destination was there before us: it stays.
VaultkitError UndoRestore(CStagingFile& staged, VaultkitError result)
{
    if (result != VAULTKIT_ERROR_OUTPUT_FILE_ALREADY_EXISTS && !staged.Remove())
        StartImpersonatingUser();
    return TraceResult(VAULTKIT_ERROR_CANNOT_SAVE_XML);
}

// The last location takes index and payload with it (best effort); any other is removed
// from the index, which must then be written, or the restore is undone.
//
// The payload goes only once its index is gone. An index left behind still lists the
// location; with its payload beside it a later run meets the restored file, answers 13 and
// retires the location cleanly, where without it every later run would fail with 7.
VaultkitError RetireLocation(QuarItem& item, const QuarItemInfo& selected,
                             const wchar_t* indexPath, const wchar_t* payloadPath,
                             CStagingFile& staged, VaultkitError result)
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
    return UndoRestore(staged, result);
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
        return TraceResult(VAULTKIT_ERROR_XML_DUPLICATE_ENTRY_NOT_FOUND);
    if (std::wcslen(path) + std::wcslen(name) > kMaxDestinationChars)
        return TraceResult(VAULTKIT_ERROR_DEST_PATH_TO_BIG);
    if (VaultkitError refused = CheckLocationText(name, path))
        return refused;

    wchar_t folder[kPathChars];
    size_t folderLength = CopyInto(folder, kPathChars, path);
    if (folderLength == 0 || folder[folderLength - 1] != L'\\')
        AppendInto(folder, kPathChars, L"\\");
    if (!HasRoomFor(folder, selected.size))
        return TraceResult(VAULTKIT_ERROR_NOT_ENOUGH_SPACE);

    wchar_t payloadPath[kPayloadPathChars];
    if (!MakePayloadPath(indexPath, payloadPath, kPayloadPathChars))
        return TraceResult(VAULTKIT_ERROR_CANNOT_READ_SOURCE);

    wchar_t staging[kStagingPathChars];
    if (!MakeStagingPath(folder, name, staging, kStagingPathChars))
        return TraceResult(VAULTKIT_ERROR_DEST_PATH_TO_BIG);

    // Held from the staging file's creation until the location is retired (or undone);
    // a file it did not put in place goes when it does.
    CStagingFile staged(staging, folder, name);
    DigestList original;
    DigestList crypted;
    VaultkitError result = WriteStaging(selected, staged, payloadPath, original, crypted);
    if (result == VAULTKIT_ERROR_SUCCESS)
        result = CheckRestored(selected, staged, original, crypted);
    if (result == VAULTKIT_ERROR_SUCCESS)
        result = MoveIntoPlace(selected, staged);
    if (result == VAULTKIT_ERROR_SUCCESS || result == VAULTKIT_ERROR_OUTPUT_FILE_ALREADY_EXISTS)
        result = RetireLocation(item, selected, indexPath, payloadPath, staged, result);
    if (result == VAULTKIT_ERROR_SUCCESS)
        TraceResult(VAULTKIT_ERROR_SUCCESS);
    return result;
}
