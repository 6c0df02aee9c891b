// The ordinary restore writer: creates the staging file, applies the item's security data,
// then hands every stream record of the payload to BackupWrite, deciphered, while both
// digests of each record are gathered. One backup context carries the security data and
// all streams, so they land on the file as one continuous backup restore.
#include "restore/Writers.h"
#include "platform/Owners.h"
#include "quarantine/VaultkitError.h"
#include "quarantine/VaultkitTrace.h"
#include "restore/FinishDigest.h"
#include "restore/Impersonation.h"
#include "restore/StagingFile.h"
#include "restore/codecs/PayloadCipher.h"
#include "restore/codecs/PayloadRecords.h"
#include "restore/codecs/RestoreDataPath.h"
#include <algorithm>
#include <memory>

namespace {

// Generic write, the system security list and all file rights: the security data needs
// the first two, the streams the last.
const DWORD kFullAccess = GENERIC_WRITE | ACCESS_SYSTEM_SECURITY | FILE_ALL_ACCESS;
// Without the rights for the security list: write, and what the staging file's own handle
// needs besides (reading its facts, renaming and removing it).
const DWORD kWriteAccess = GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES;
const DWORD kBufferBytes = kPayloadBufferBytes;
const DWORD kHeaderBytes = kPayloadHeaderBytes;

FILETIME ToFileTime(int64_t value)
{
    uint64_t bits = static_cast<uint64_t>(value);
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(bits & 0xFFFFFFFFu);
    ft.dwHighDateTime = static_cast<DWORD>(bits >> 32);
    return ft;
}

int32_t SourceUnreadable()
{
    VaultkitTrace(L"[VAULTKIT] VAULTKIT_ERROR_CANNOT_READ_SOURCE");
    return VAULTKIT_ERROR_CANNOT_READ_SOURCE;
}

int32_t AlreadyExists()
{
    VaultkitTrace(L"[VAULTKIT] VAULTKIT_ERROR_OUTPUT_FILE_ALREADY_EXISTS");
    return VAULTKIT_ERROR_OUTPUT_FILE_ALREADY_EXISTS;
}

int32_t SizeExceeded()
{
    VaultkitTrace(L"[VAULTKIT] VAULTKIT_ERROR_FILE_SIZE_MISMATCH");
    return VAULTKIT_ERROR_FILE_SIZE_MISMATCH;
}

// Takes amount from what is left; false, leaving it, when amount is more.
bool Take(uint64_t& left, uint64_t amount)
{
    if (amount > left)
        return false;
    left -= amount;
    return true;
}

class CNormalWriter
{
public:
    CNormalWriter(CStagingFile& staged, HANDLE hPayload, DigestList& original,
                  DigestList& crypted, int64_t size)
        : m_Staged(staged), m_hPayload(hPayload), m_Original(original), m_Crypted(crypted),
          m_Buffer(new uint8_t[kBufferBytes]),
          m_ullMainLeft(size > 0 ? static_cast<uint64_t>(size) : 0),
          m_ullOtherLeft(m_ullMainLeft + kStreamAllowance)
    {
    }
    CNormalWriter(const CNormalWriter&) = delete;
    CNormalWriter& operator=(const CNormalWriter&) = delete;

    // 0 with the staging file open, or 13 / 5 with nothing created.
    int32_t Create();
    // Everything after the create; the caller removes the file on a non-zero result.
    int32_t Write(const uint8_t* security, int32_t securityLength, const FILETIME& crt,
                  const FILETIME& lat, const FILETIME& lwt);
    // Ends the backup restore, when one is under way.
    void ReleaseContext();

private:
    int32_t WriteSecurity(const uint8_t* security, int32_t securityLength);
    int32_t WriteRecord(bool& payloadDone);
    int32_t WriteRun(DWORD fill);
    bool Read(uint8_t* into, DWORD count, DWORD& got);
    bool Admit(const PayloadRecordHeader& header);

    CStagingFile& m_Staged;
    HANDLE m_hPayload;
    DigestList& m_Original;
    DigestList& m_Crypted;
    std::unique_ptr<uint8_t[]> m_Buffer;
    PayloadCipher m_Cipher;
    uint64_t m_ullMainLeft;   // main stream data the item's size still allows
    uint64_t m_ullOtherLeft;  // everything else
    bool m_bFullAccess = false;
    LPVOID m_pContext = nullptr;
};

int32_t CNormalWriter::Create()
{
    if (m_Staged.Create(kFullAccess)) {
        m_bFullAccess = true;
        return VAULTKIT_ERROR_SUCCESS;
    }
    if (g_Sys.GetLastError() == ERROR_FILE_EXISTS)
        return AlreadyExists();

    VaultkitTrace(L"[VAULTKIT] trying to impersonate user");
    StartImpersonatingUser();
    // Without the rights for the security list the file can still be written plainly; its
    // security then comes from the folder.
    VaultkitTrace(L"[VAULTKIT] VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION !write DACL");
    if (m_Staged.Create(kWriteAccess))
        return VAULTKIT_ERROR_SUCCESS;
    if (g_Sys.GetLastError() == ERROR_FILE_EXISTS)
        return AlreadyExists();
    VaultkitTrace(L"[VAULTKIT] VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION give up");
    return VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION;
}

int32_t CNormalWriter::Write(const uint8_t* security, int32_t securityLength,
                             const FILETIME& crt, const FILETIME& lat, const FILETIME& lwt)
{
    int32_t result = VAULTKIT_ERROR_SUCCESS;
    if (m_bFullAccess) {
        result = WriteSecurity(security, securityLength);
        if (result == VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION)
            return result;
    }
    // A disk full in the security write is remembered, not acted on: the streams still go
    // out, so the caller sees 3 only once everything was tried.
    for (bool payloadDone = false; !payloadDone;) {
        int32_t streams = WriteRecord(payloadDone);
        if (streams != VAULTKIT_ERROR_SUCCESS)
            return streams;
    }
    ReleaseContext();
    g_Sys.SetFileTime(m_Staged.Handle(), &crt, &lat, &lwt);
    return result;
}

int32_t CNormalWriter::WriteSecurity(const uint8_t* security, int32_t securityLength)
{
    DWORD written = 0;
    DWORD length = securityLength > 0 ? static_cast<DWORD>(securityLength) : 0;
    if (g_Sys.BackupWrite(m_Staged.Handle(), const_cast<LPBYTE>(security), length,
                          &written, /*bAbort=*/FALSE, /*bProcessSecurity=*/TRUE, &m_pContext))
        return VAULTKIT_ERROR_SUCCESS;

    DWORD error = g_Sys.GetLastError();
    VaultkitTrace(L"[VAULTKIT] BackupWrite DACL error: GetlastError = %u", error);
    if (error == ERROR_DISK_FULL) {
        VaultkitTrace(L"[VAULTKIT] VAULTKIT_ERROR_NOT_ENOUGH_SPACE");
        return VAULTKIT_ERROR_NOT_ENOUGH_SPACE;
    }
    StartImpersonatingUser();
    VaultkitTrace(L"[VAULTKIT] BackupWrite DACL: failed switching user impersonation");
    return VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION;
}

// One stream record: header and name in the first run with as much data as fits, the rest
// of the data in further runs. The cipher restarts per record and runs on across runs;
// header and name are never deciphered. A payload that ends inside a record's data ends
// that record: the size and digest checks that follow the write reject such a file. A
// record whose header or name cannot be read whole, whose name does not fit the buffer
// or whose size is negative is unreadable source.
int32_t CNormalWriter::WriteRecord(bool& payloadDone)
{
    MD5_CTX crypted;
    MD5_CTX original;
    MD5Init(&crypted);
    MD5Init(&original);
    m_Cipher.Reset();

    uint8_t* buffer = m_Buffer.get();
    DWORD got = 0;
    if (!Read(buffer, kHeaderBytes, got))
        return SourceUnreadable();
    if (got == 0) {
        payloadDone = true;
        return VAULTKIT_ERROR_SUCCESS;
    }
    if (got < kHeaderBytes)
        return SourceUnreadable();
    PayloadRecordHeader header;
    if (ReadPayloadRecordHeader(buffer, header) != PayloadCheck::Ok)
        return SourceUnreadable();
    if (!Read(buffer + kHeaderBytes, header.nameSize, got) || got != header.nameSize)
        return SourceUnreadable();
    if (!Admit(header))
        return SizeExceeded();

    DWORD fill = kHeaderBytes + header.nameSize;
    DWORD decipherFrom = fill;
    uint64_t total = fill + static_cast<uint64_t>(header.dataSize);
    uint64_t consumed = fill;
    do {
        DWORD want = static_cast<DWORD>(std::min<uint64_t>(kBufferBytes - fill, total - consumed));
        if (!Read(buffer + fill, want, got))
            return SourceUnreadable();
        if (got == 0 && fill == 0)
            break;
        consumed += got;
        fill += got;
        // Crypted digest of the run as read, decipher its data, original digest of the
        // result: both digests computed in one interleaved pass.
        DigestAndDecipherRun(buffer, fill, decipherFrom, &crypted, &original, m_Cipher);
        int32_t result = WriteRun(fill);
        if (result != VAULTKIT_ERROR_SUCCESS)
            return result;
        fill = 0;
        decipherFrom = 0;
    } while (consumed < total);

    FinishDigestInto(original, m_Original);
    FinishDigestInto(crypted, m_Crypted);
    return VAULTKIT_ERROR_SUCCESS;
}

int32_t CNormalWriter::WriteRun(DWORD fill)
{
    DWORD written = 0;
    if (g_Sys.BackupWrite(m_Staged.Handle(), m_Buffer.get(), fill, &written,
                          /*bAbort=*/FALSE, /*bProcessSecurity=*/TRUE, &m_pContext))
        return VAULTKIT_ERROR_SUCCESS;

    DWORD error = g_Sys.GetLastError();
    VaultkitTrace(L"[VAULTKIT] Eroare Belea la backupWrite: GetlastError = %u", error);
    if (error == ERROR_DISK_FULL) {
        VaultkitTrace(L"[VAULTKIT] VAULTKIT_ERROR_NOT_ENOUGH_SPACE");
        return VAULTKIT_ERROR_NOT_ENOUGH_SPACE;
    }
    VaultkitTrace(L"[VAULTKIT] VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION 4");
    return VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION;
}

// The item's size bounds what a payload can write, whatever its records claim: a record
// is refused before any of it is written when its data would take the main stream past
// the size, or the rest past the size and the allowance. The record's header and name
// count as the rest.
bool CNormalWriter::Admit(const PayloadRecordHeader& header)
{
    uint64_t data = static_cast<uint64_t>(header.dataSize);  // never negative here
    uint64_t framing = kHeaderBytes + uint64_t(header.nameSize);
    if (header.streamId == BACKUP_DATA)
        return Take(m_ullOtherLeft, framing) && Take(m_ullMainLeft, data);
    return Take(m_ullOtherLeft, framing) && Take(m_ullOtherLeft, data);
}

bool CNormalWriter::Read(uint8_t* into, DWORD count, DWORD& got)
{
    got = 0;
    return g_Sys.ReadFile(m_hPayload, into, count, &got, /*lpOverlapped=*/nullptr) != FALSE;
}

// The abort call frees what BackupWrite keeps in its context. A write that ended early
// releases it too, so a failed restore leaks nothing either.
void CNormalWriter::ReleaseContext()
{
    if (!m_pContext)
        return;
    DWORD written = 0;
    g_Sys.BackupWrite(m_Staged.Handle(), /*lpBuffer=*/nullptr, /*nNumberOfBytesToWrite=*/0,
                      &written, /*bAbort=*/TRUE, /*bProcessSecurity=*/TRUE, &m_pContext);
    m_pContext = nullptr;
}

} // namespace

// Where the new file lies is checked before anything is written into it: content must
// never land behind a link, not even for a moment.
int32_t RestoreNormalFile(CStagingFile& staged, HANDLE hPayload, DigestList& original,
                          DigestList& crypted, const uint8_t* security, int32_t securityLength,
                          int64_t crt, int64_t lwt, int64_t lat, int64_t size)
{
    CNormalWriter writer(staged, hPayload, original, crypted, size);
    int32_t result = writer.Create();
    if (result != VAULTKIT_ERROR_SUCCESS)
        return result;

    result = staged.CheckPlace(EPlace::Staging);
    if (result == VAULTKIT_ERROR_SUCCESS)
        result = writer.Write(security, securityLength, ToFileTime(crt), ToFileTime(lat),
                              ToFileTime(lwt));
    writer.ReleaseContext();
    // Only this call's own, new file is ever removed here: Create made it with CREATE_NEW.
    if (result != VAULTKIT_ERROR_SUCCESS)
        staged.Remove();
    return result;
}
