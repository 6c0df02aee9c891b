// The ordinary restore writer: creates the staging file, applies the item's security data,
// then hands every stream record of the payload to BackupWrite, deciphered, while both
// digests of each record are gathered. One backup context carries the security data and
// all streams, so they land on the file as one continuous backup restore.
#include "restore/Writers.h"
#include "platform/Owners.h"
#include "quarantine/VaultkitError.h"
#include "quarantine/VaultkitTrace.h"
#include "restore/codecs/Md5Text.h"
#include "restore/Impersonation.h"
#include "restore/StagingFile.h"
#include "restore/codecs/PayloadRecordLoop.h"
#include <memory>

namespace {

// Generic write, the system security list and all file rights: the security data needs
// the first two, the streams the last.
const DWORD kFullAccess = GENERIC_WRITE | ACCESS_SYSTEM_SECURITY | FILE_ALL_ACCESS;
// Without the rights for the security list: write, and what the staging file's own handle
// needs besides (reading its facts, renaming and removing it).
const DWORD kWriteAccess = GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES;

FILETIME ToFileTime(int64_t value)
{
    uint64_t bits = static_cast<uint64_t>(value);
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(bits & 0xFFFFFFFFu);
    ft.dwHighDateTime = static_cast<DWORD>(bits >> 32);
    return ft;
}

// Takes amount from what is left; false, leaving it, when amount is more.
bool Take(uint64_t& left, uint64_t amount)
{
    if (amount > left)
        return false;
    left -= amount;
    return true;
}

// The payload file and BackupWrite under the record loop (PayloadRecordLoop.h).
class CNormalWriter : private CPayloadRecordIo
{
public:
    CNormalWriter(CStagingFile& staged, HANDLE hPayload, DigestList& original,
                  DigestList& crypted, int64_t size)
        : m_Staged(staged), m_hPayload(hPayload), m_Original(original), m_Crypted(crypted),
          m_Buffer(new uint8_t[kPayloadBufferBytes]),
          m_ullMainLeft(size > 0 ? static_cast<uint64_t>(size) : 0),
          m_ullOtherLeft(m_ullMainLeft + kStreamAllowance)
    {
    }
    CNormalWriter(const CNormalWriter&) = delete;
    CNormalWriter& operator=(const CNormalWriter&) = delete;
    // A write that ended early releases the backup context too, so a failed restore leaks
    // nothing either.
    ~CNormalWriter() { ReleaseContext(); }

    // 0 with the staging file open, or 13 / 5 with nothing created.
    VaultkitError Create();
    // Everything after the create.
    VaultkitError Write(const uint8_t* security, int32_t securityLength, const FILETIME& crt,
                        const FILETIME& lat, const FILETIME& lwt);

private:
    VaultkitError WriteSecurity(const uint8_t* security, int32_t securityLength);
    VaultkitError WriteStreams();
    void ReleaseContext();

    bool Read(uint8_t* into, uint32_t count, uint32_t& got) override;
    bool Admit(const PayloadRecordHeader& header) override;
    bool Write(const uint8_t* run, uint32_t size) override;
    void Digested(MD5_CTX& original, MD5_CTX& crypted) override;

    CStagingFile& m_Staged;
    HANDLE m_hPayload;
    DigestList& m_Original;
    DigestList& m_Crypted;
    std::unique_ptr<uint8_t[]> m_Buffer;
    uint64_t m_ullMainLeft;   // main stream data the item's size still allows
    uint64_t m_ullOtherLeft;  // everything else
    bool m_bFullAccess = false;
    LPVOID m_pContext = nullptr;
    VaultkitError m_eWriteFailure = VAULTKIT_ERROR_SUCCESS;  // of the run that failed
};

VaultkitError CNormalWriter::Create()
{
    if (m_Staged.Create(kFullAccess)) {
        m_bFullAccess = true;
        return VAULTKIT_ERROR_SUCCESS;
    }
    if (g_Sys.GetLastError() == ERROR_FILE_EXISTS)
        return TraceResult(VAULTKIT_ERROR_OUTPUT_FILE_ALREADY_EXISTS);

    VaultkitTrace(L"[VAULTKIT] trying to impersonate user");
    StartImpersonatingUser();
    // Without the rights for the security list the file can still be written plainly; its
    // security then comes from the folder.
    TraceResult(VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION, L" !write DACL");
    if (m_Staged.Create(kWriteAccess))
        return VAULTKIT_ERROR_SUCCESS;
    if (g_Sys.GetLastError() == ERROR_FILE_EXISTS)
        return TraceResult(VAULTKIT_ERROR_OUTPUT_FILE_ALREADY_EXISTS);
    return TraceResult(VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION, L" give up");
}

VaultkitError CNormalWriter::Write(const uint8_t* security, int32_t securityLength,
                                   const FILETIME& crt, const FILETIME& lat, const FILETIME& lwt)
{
    VaultkitError result = VAULTKIT_ERROR_SUCCESS;
    if (m_bFullAccess) {
        result = WriteSecurity(security, securityLength);
        if (result == VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION)
            return result;
    }
    // A disk full in the security write is remembered, not acted on: the streams still go
    // out, so the caller sees 3 only once everything was tried.
    VaultkitError streams = WriteStreams();
    if (streams != VAULTKIT_ERROR_SUCCESS)
        return streams;
    ReleaseContext();
    g_Sys.SetFileTime(m_Staged.Handle(), &crt, &lat, &lwt);
    return result;
}

VaultkitError CNormalWriter::WriteSecurity(const uint8_t* security, int32_t securityLength)
{
    DWORD written = 0;
    DWORD length = securityLength > 0 ? static_cast<DWORD>(securityLength) : 0;
    if (g_Sys.BackupWrite(m_Staged.Handle(), const_cast<LPBYTE>(security), length,
                          &written, /*bAbort=*/FALSE, /*bProcessSecurity=*/TRUE, &m_pContext))
        return VAULTKIT_ERROR_SUCCESS;

    DWORD error = g_Sys.GetLastError();
    VaultkitTrace(L"[VAULTKIT] BackupWrite DACL error: GetlastError = %u", error);
    if (error == ERROR_DISK_FULL)
        return TraceResult(VAULTKIT_ERROR_NOT_ENOUGH_SPACE);
    StartImpersonatingUser();
    VaultkitTrace(L"[VAULTKIT] BackupWrite DACL: failed switching user impersonation");
    return VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION;
}

// A record whose header or name cannot be read whole, whose name does not fit the buffer
// or whose size is negative is unreadable source; one the size bound refuses ends the
// write with 12.
VaultkitError CNormalWriter::WriteStreams()
{
    switch (RunPayloadRecords(*this, m_Buffer.get())) {
    case ERecordLoop::Done:
        return VAULTKIT_ERROR_SUCCESS;
    case ERecordLoop::Unreadable:
        return TraceResult(VAULTKIT_ERROR_CANNOT_READ_SOURCE);
    case ERecordLoop::Refused:
        return TraceResult(VAULTKIT_ERROR_FILE_SIZE_MISMATCH);
    case ERecordLoop::WriteFailed:
        break;
    }
    return m_eWriteFailure;
}

bool CNormalWriter::Write(const uint8_t* run, uint32_t size)
{
    DWORD written = 0;
    if (g_Sys.BackupWrite(m_Staged.Handle(), const_cast<LPBYTE>(run), size, &written,
                          /*bAbort=*/FALSE, /*bProcessSecurity=*/TRUE, &m_pContext))
        return true;

    DWORD error = g_Sys.GetLastError();
    VaultkitTrace(L"[VAULTKIT] Eroare Belea la backupWrite: GetlastError = %u", error);
    if (error == ERROR_DISK_FULL)
        m_eWriteFailure = TraceResult(VAULTKIT_ERROR_NOT_ENOUGH_SPACE);
    else
        m_eWriteFailure = TraceResult(VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION, L" 4");
    return false;
}

// The item's size bounds what a payload can write, whatever its records claim: a record
// is refused before any of it is written when its data would take the main stream past
// the size, or the rest past the size and the allowance. The record's header and name
// count as the rest.
bool CNormalWriter::Admit(const PayloadRecordHeader& header)
{
    uint64_t data = static_cast<uint64_t>(header.dataSize);  // never negative here
    uint64_t framing = kPayloadHeaderBytes + uint64_t(header.nameSize);
    if (header.streamId == BACKUP_DATA)
        return Take(m_ullOtherLeft, framing) && Take(m_ullMainLeft, data);
    return Take(m_ullOtherLeft, framing) && Take(m_ullOtherLeft, data);
}

bool CNormalWriter::Read(uint8_t* into, uint32_t count, uint32_t& got)
{
    DWORD read = 0;
    BOOL ok = g_Sys.ReadFile(m_hPayload, into, count, &read, /*lpOverlapped=*/nullptr);
    got = read;
    return ok != FALSE;
}

void CNormalWriter::Digested(MD5_CTX& original, MD5_CTX& crypted)
{
    FinishDigestInto(original, m_Original);
    FinishDigestInto(crypted, m_Crypted);
}

// The abort call frees what BackupWrite keeps in its context.
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
// never land behind a link, not even for a moment. A failed write leaves the file to
// staged, which removes it (StagingFile.h).
int32_t RestoreNormalFile(CStagingFile& staged, HANDLE hPayload, DigestList& original,
                          DigestList& crypted, const uint8_t* security, int32_t securityLength,
                          int64_t crt, int64_t lwt, int64_t lat, int64_t size)
{
    CNormalWriter writer(staged, hPayload, original, crypted, size);
    VaultkitError result = writer.Create();
    if (result != VAULTKIT_ERROR_SUCCESS)
        return result;
    result = staged.CheckPlace(EPlace::Staging);
    if (result != VAULTKIT_ERROR_SUCCESS)
        return result;
    return writer.Write(security, securityLength, ToFileTime(crt), ToFileTime(lat),
                        ToFileTime(lwt));
}
