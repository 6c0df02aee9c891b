// BackupWrite for Wine: a record parser that keeps its place across calls (see the header).
#include "platform/BackupWriteStandin.h"
#include "platform/SysCalls.h"
#include <cstring>
#include <new>
#include <vector>

namespace {

const size_t kHeaderBytes = 20;
// A self-relative descriptor holds two SIDs and two ACLs of at most 64 KiB each; anything
// bigger is not a descriptor, and we do not buffer it.
const ULONGLONG kMaxSecurityBytes = 1 << 20;

enum class EPhase { Header, Name, Data };

struct CBackupWriteContext
{
    EPhase m_ePhase = EPhase::Header;
    BYTE m_Header[kHeaderBytes] = {};
    size_t m_nHeaderFill = 0;
    DWORD m_dwStreamId = 0;
    ULONGLONG m_ullNameLeft = 0;
    ULONGLONG m_ullDataLeft = 0;
    bool m_bKeepSecurity = false;      // this record's descriptor fits and is gathered
    std::vector<BYTE> m_Security;
};

long g_nOpenContexts = 0;

DWORD ReadU32(const BYTE* p)
{
    DWORD v;
    std::memcpy(&v, p, sizeof(v));
    return v;
}

WORD ReadU16(const BYTE* p)
{
    WORD v;
    std::memcpy(&v, p, sizeof(v));
    return v;
}

BOOL Fail(DWORD error)
{
    g_Sys.SetLastError(error);
    return FALSE;
}

// A SID at offset lies wholly inside the descriptor.
bool SidFits(const std::vector<BYTE>& sd, DWORD offset)
{
    if (offset < kHeaderBytes || offset + 8ull > sd.size())
        return false;
    return offset + 8ull + 4ull * sd[offset + 1] <= sd.size();
}

// An ACL at offset lies wholly inside the descriptor.
bool AclFits(const std::vector<BYTE>& sd, DWORD offset)
{
    if (offset < kHeaderBytes || offset + 8ull > sd.size())
        return false;
    return offset + ULONGLONG(ReadU16(&sd[offset + 2])) <= sd.size();
}

// The parts a self-relative descriptor carries, or 0 when it is not one we can hand to
// the system without it reading past our buffer.
SECURITY_INFORMATION SecurityPartsOf(const std::vector<BYTE>& sd)
{
    if (sd.size() < kHeaderBytes || sd[0] != SECURITY_DESCRIPTOR_REVISION)
        return 0;
    WORD control = ReadU16(&sd[2]);
    if (!(control & SE_SELF_RELATIVE))
        return 0;
    DWORD owner = ReadU32(&sd[4]), group = ReadU32(&sd[8]);
    DWORD sacl = ReadU32(&sd[12]), dacl = ReadU32(&sd[16]);
    SECURITY_INFORMATION parts = 0;
    if (owner) {
        if (!SidFits(sd, owner))
            return 0;
        parts |= OWNER_SECURITY_INFORMATION;
    }
    if (group) {
        if (!SidFits(sd, group))
            return 0;
        parts |= GROUP_SECURITY_INFORMATION;
    }
    if (control & SE_DACL_PRESENT) {
        if (dacl && !AclFits(sd, dacl))
            return 0;
        parts |= DACL_SECURITY_INFORMATION;
    }
    if (control & SE_SACL_PRESENT) {
        if (sacl && !AclFits(sd, sacl))
            return 0;
        parts |= SACL_SECURITY_INFORMATION;
    }
    return parts;
}

// Wine keeps a DACL only as Unix permissions and may refuse an owner it does not know;
// whatever it refuses is dropped, since the file itself is what the restore is about.
void ApplySecurity(HANDLE hFile, std::vector<BYTE>& sd)
{
    SECURITY_INFORMATION parts = SecurityPartsOf(sd);
    if (!parts)
        return;
    DWORD error = g_Sys.GetLastError();
    if (!g_Sys.SetKernelObjectSecurity(hFile, parts, sd.data()) &&
        (parts & DACL_SECURITY_INFORMATION) && parts != DACL_SECURITY_INFORMATION)
        g_Sys.SetKernelObjectSecurity(hFile, DACL_SECURITY_INFORMATION, sd.data());
    g_Sys.SetLastError(error);
}

bool WriteAll(HANDLE hFile, const BYTE* data, DWORD count)
{
    while (count > 0) {
        DWORD written = 0;
        if (!g_Sys.WriteFile(hFile, data, count, &written, /*lpOverlapped=*/nullptr))
            return false;
        if (written == 0 || written > count) {
            g_Sys.SetLastError(ERROR_WRITE_FAULT);
            return false;
        }
        data += written;
        count -= written;
    }
    return true;
}

void FinishRecord(CBackupWriteContext& ctx, HANDLE hFile, BOOL bProcessSecurity)
{
    if (ctx.m_dwStreamId == BACKUP_SECURITY_DATA && ctx.m_bKeepSecurity && bProcessSecurity)
        ApplySecurity(hFile, ctx.m_Security);
    ctx.m_Security.clear();
    ctx.m_bKeepSecurity = false;
    ctx.m_nHeaderFill = 0;
    ctx.m_ePhase = EPhase::Header;
}

void EnterData(CBackupWriteContext& ctx, HANDLE hFile, BOOL bProcessSecurity)
{
    if (ctx.m_ullDataLeft == 0) {
        FinishRecord(ctx, hFile, bProcessSecurity);
        return;
    }
    ctx.m_ePhase = EPhase::Data;
}

// The header is complete: learn the record's id and the sizes of its name and data.
bool StartRecord(CBackupWriteContext& ctx, HANDLE hFile, BOOL bProcessSecurity)
{
    LONGLONG size;
    std::memcpy(&size, &ctx.m_Header[8], sizeof(size));
    if (size < 0)
        return Fail(ERROR_INVALID_DATA);
    ctx.m_dwStreamId = ReadU32(&ctx.m_Header[0]);
    ctx.m_ullDataLeft = ULONGLONG(size);
    ctx.m_ullNameLeft = ReadU32(&ctx.m_Header[16]);
    ctx.m_bKeepSecurity = ctx.m_dwStreamId == BACKUP_SECURITY_DATA &&
                          ctx.m_ullDataLeft <= kMaxSecurityBytes;
    if (ctx.m_ullNameLeft > 0)
        ctx.m_ePhase = EPhase::Name;
    else
        EnterData(ctx, hFile, bProcessSecurity);
    return true;
}

// One run of data bytes of the current record. Only the main data reaches the file; the
// descriptor is gathered; named streams and every other kind are dropped.
bool TakeData(CBackupWriteContext& ctx, HANDLE hFile, const BYTE* data, DWORD count)
{
    if (ctx.m_dwStreamId == BACKUP_DATA)
        return WriteAll(hFile, data, count);
    if (ctx.m_bKeepSecurity)
        ctx.m_Security.insert(ctx.m_Security.end(), data, data + count);
    return true;
}

// Consumes what the current phase needs from the buffer; *used says how much.
bool ConsumeSome(CBackupWriteContext& ctx, HANDLE hFile, const BYTE* data, DWORD avail,
                 BOOL bProcessSecurity, DWORD* used)
{
    switch (ctx.m_ePhase) {
    case EPhase::Header: {
        size_t take = kHeaderBytes - ctx.m_nHeaderFill;
        if (take > avail)
            take = avail;
        std::memcpy(&ctx.m_Header[ctx.m_nHeaderFill], data, take);
        ctx.m_nHeaderFill += take;
        *used = DWORD(take); // at most 20
        if (ctx.m_nHeaderFill < kHeaderBytes)
            return true;
        return StartRecord(ctx, hFile, bProcessSecurity);
    }
    case EPhase::Name: {
        DWORD take = ctx.m_ullNameLeft < avail ? DWORD(ctx.m_ullNameLeft) : avail;
        ctx.m_ullNameLeft -= take;
        *used = take;
        if (ctx.m_ullNameLeft == 0)
            EnterData(ctx, hFile, bProcessSecurity);
        return true;
    }
    case EPhase::Data: {
        DWORD take = ctx.m_ullDataLeft < avail ? DWORD(ctx.m_ullDataLeft) : avail;
        if (!TakeData(ctx, hFile, data, take))
            return false;
        ctx.m_ullDataLeft -= take;
        *used = take;
        if (ctx.m_ullDataLeft == 0)
            FinishRecord(ctx, hFile, bProcessSecurity);
        return true;
    }
    }
    return true;
}

void ReleaseContext(LPVOID* lpContext)
{
    auto* ctx = static_cast<CBackupWriteContext*>(*lpContext);
    if (!ctx)
        return;
    delete ctx;
    *lpContext = nullptr;
    --g_nOpenContexts;
}

} // namespace

BOOL WINAPI StandinBackupWrite(HANDLE hFile, LPBYTE lpBuffer, DWORD nNumberOfBytesToWrite,
                               LPDWORD lpNumberOfBytesWritten, BOOL bAbort,
                               BOOL bProcessSecurity, LPVOID* lpContext)
{
    if (lpNumberOfBytesWritten)
        *lpNumberOfBytesWritten = 0;
    if (!lpContext)
        return Fail(ERROR_INVALID_PARAMETER);
    if (bAbort) {
        ReleaseContext(lpContext);
        return TRUE;
    }
    if (!lpBuffer && nNumberOfBytesToWrite > 0)
        return Fail(ERROR_INVALID_PARAMETER);
    auto* ctx = static_cast<CBackupWriteContext*>(*lpContext);
    if (!ctx) {
        ctx = new (std::nothrow) CBackupWriteContext;
        if (!ctx)
            return Fail(ERROR_NOT_ENOUGH_MEMORY);
        *lpContext = ctx;
        ++g_nOpenContexts;
    }
    DWORD done = 0;
    while (done < nNumberOfBytesToWrite) {
        DWORD used = 0;
        bool ok = ConsumeSome(*ctx, hFile, lpBuffer + done, nNumberOfBytesToWrite - done,
                              bProcessSecurity, &used);
        if (!ok) {
            if (lpNumberOfBytesWritten)
                *lpNumberOfBytesWritten = done;
            return FALSE;
        }
        done += used;
    }
    if (lpNumberOfBytesWritten)
        *lpNumberOfBytesWritten = nNumberOfBytesToWrite;
    return TRUE;
}

long StandinBackupWriteOpenContexts()
{
    return g_nOpenContexts;
}
