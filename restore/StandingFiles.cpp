// Leftovers under the staging name and files already at the destination (see
// StandingFiles.h).
#include "restore/StandingFiles.h"
#include "quarantine/VaultkitError.h"
#include "quarantine/VaultkitTrace.h"
#include "restore/NameProbe.h"
#include "restore/StagingFile.h"
#include <string>

namespace {

// Removing our own leftover needs delete and attribute access; the access alone changes
// nothing of a file that is not ours.
const DWORD kLeftoverAccess = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE;
const DWORD kLookAccess = FILE_READ_ATTRIBUTES | SYNCHRONIZE;

const VaultkitError kCannotWrite = VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION;

VaultkitError FinalPathUnknown(const CStanding& standing)
{
    return TraceCallResult(L"GetFinalPathNameByHandle", kCannotWrite, standing.m_dwError);
}

// Why a file under the staging name is not ours to remove; empty when it is.
std::wstring NotALeftover(const CStanding& standing, bool inPlace)
{
    if (standing.m_eKind == EStanding::Folder)
        return L"folder";
    if (standing.m_eKind == EStanding::Link)
        return L"link";
    if (standing.m_dwLinks != 1)
        return std::to_wstring(standing.m_dwLinks) + L" links";
    if (standing.m_bFinalKnown && !inPlace)
        return L"redirected to |" + standing.m_sFinalPath + L"|";
    return std::wstring();
}

} // namespace

VaultkitError ClearLeftover(const CStagingFile& staged)
{
    CStanding standing = ProbeName(staged.Path(), kLeftoverAccess);
    if (standing.m_eKind == EStanding::Absent || standing.m_eKind == EStanding::Unknown)
        return VAULTKIT_ERROR_SUCCESS;
    bool inPlace = standing.m_bFinalKnown && staged.IsAt(EPlace::Staging, standing.m_sFinalPath);
    std::wstring reason = NotALeftover(standing, inPlace);
    if (!reason.empty()) {
        VaultkitTrace(L"[VAULTKIT] Not an unfinished restore, left alone: %s [%s]", staged.Path(),
                      reason.c_str());
        return kCannotWrite;
    }
    if (!standing.m_bFinalKnown)
        return FinalPathUnknown(standing);
    if (RemoveOpenFile(standing.m_hFile)) {
        VaultkitTrace(L"[VAULTKIT] Removed unfinished restore %s", staged.Path());
        return VAULTKIT_ERROR_SUCCESS;
    }
    VaultkitTrace(L"[VAULTKIT] Cannot remove unfinished restore %s [%d]", staged.Path(),
                  g_Sys.GetLastError());
    return kCannotWrite;
}

// A folder of the item's name keeps its old answer and trace line.
VaultkitError CheckDestinationFree(const CStagingFile& staged)
{
    CStanding standing = ProbeName(staged.Destination(), kLookAccess);
    if (standing.m_eKind == EStanding::Absent || standing.m_eKind == EStanding::Unknown)
        return VAULTKIT_ERROR_SUCCESS;
    if (!standing.m_bFinalKnown)
        return FinalPathUnknown(standing);
    if (!staged.IsAt(EPlace::Destination, standing.m_sFinalPath))
        return TraceResult(kCannotWrite, L" redirected to |%s|", standing.m_sFinalPath.c_str());
    switch (standing.m_eKind) {
    case EStanding::File:
        return TraceResult(VAULTKIT_ERROR_OUTPUT_FILE_ALREADY_EXISTS);
    case EStanding::Folder:
        return TraceResult(kCannotWrite, L" give up");
    default:
        return TraceResult(kCannotWrite, L" not a plain file |%s|", staged.Destination());
    }
}

bool IsAlreadyThere(const CStagingFile& staged)
{
    CStanding standing = ProbeName(staged.Destination(), kLookAccess);
    return standing.m_eKind == EStanding::File && standing.m_bFinalKnown &&
           staged.IsAt(EPlace::Destination, standing.m_sFinalPath);
}
