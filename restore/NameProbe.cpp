// Probing a name without following it (see NameProbe.h).
#include "restore/NameProbe.h"
#include "restore/FinalPath.h"

namespace {

const DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

EStanding KindOf(DWORD attributes)
{
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return EStanding::Link;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? EStanding::Folder : EStanding::File;
}

} // namespace

CStanding ProbeName(const wchar_t* path, DWORD access)
{
    CStanding standing;
    standing.m_hFile.reset(g_Sys.CreateFileW(path, access, kShareAll,
                                             /*lpSecurityAttributes=*/nullptr, OPEN_EXISTING,
                                             FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                                             /*hTemplateFile=*/nullptr));
    if (!standing.m_hFile) {
        standing.m_dwError = g_Sys.GetLastError();
        if (standing.m_dwError == ERROR_FILE_NOT_FOUND || standing.m_dwError == ERROR_PATH_NOT_FOUND)
            standing.m_eKind = EStanding::Absent;
        return standing;
    }
    BY_HANDLE_FILE_INFORMATION facts;
    if (!g_Sys.GetFileInformationByHandle(standing.m_hFile.get(), &facts)) {
        standing.m_dwError = g_Sys.GetLastError();
        standing.m_hFile.reset();
        return standing;
    }
    standing.m_eKind = KindOf(facts.dwFileAttributes);
    standing.m_dwLinks = facts.nNumberOfLinks;
    standing.m_bFinalKnown = FinalPathOf(standing.m_hFile.get(), standing.m_sFinalPath);
    if (!standing.m_bFinalKnown)
        standing.m_dwError = g_Sys.GetLastError();
    return standing;
}
