// The staging file and its one handle (see StagingFile.h).
#include "restore/StagingFile.h"
#include "quarantine/VaultkitError.h"
#include "quarantine/VaultkitTrace.h"
#include "restore/FinalPath.h"
#include "restore/StagingPath.h"
#include <algorithm>
#include <cstddef>
#include <cwchar>
#include <vector>

namespace {

const DWORD kCreateFlags = FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_SEQUENTIAL_SCAN;
// No data access and no delete access, so that the import's own open of the file meets
// no conflict; no delete sharing, so that nobody else can rename or delete it meanwhile.
const DWORD kClaimAccess = FILE_READ_ATTRIBUTES | SYNCHRONIZE;
const DWORD kClaimSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;
const DWORD kTakeBackAccess = DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE;
// What SetFileInformationByHandle takes as attributes of a file; the others (compressed,
// encrypted, sparse, ...) come from the file system's own state.
const DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                  FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                                  FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                                  FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

std::wstring LeafOf(const std::wstring& path)
{
    size_t slash = path.find_last_of(L'\\');
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

bool SameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b)
{
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

// A claimed file we cannot hold through a handle of ours goes by its path: that removes
// only the name, should someone have put a link there meanwhile, and changes nothing of
// what a link leads to.
VaultkitError Unreachable(const wchar_t* path, const wchar_t* call, DWORD error)
{
    g_Sys.DeleteFileW(path);
    return TraceCallResult(call, VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION, error);
}

// FILE_ATTRIBUTE_NORMAL when nothing else is set: 0 would mean "leave as it is".
BOOL SetHandleAttributes(HANDLE h, DWORD attributes)
{
    FILE_BASIC_INFO basic = {};
    basic.FileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
    return g_Sys.SetFileInformationByHandle(h, FileBasicInfo, &basic, sizeof(basic));
}

} // namespace

CStagingFile::CStagingFile(const wchar_t* staging, const wchar_t* folder, const wchar_t* name)
    : m_sPath(staging), m_sDestination(LongFormPath(std::wstring(folder) + name)),
      m_Folder(folder), m_sStagingLeaf(LeafOf(m_sPath)), m_sName(name)
{
}

CStagingFile::~CStagingFile()
{
    if (!m_bRenamed)
        Remove();
}

bool CStagingFile::IsAt(EPlace place, const std::wstring& finalPath) const
{
    return m_Folder.Holds(finalPath, place == EPlace::Staging ? m_sStagingLeaf : m_sName);
}

bool CStagingFile::Create(DWORD access)
{
    m_hFile.reset(g_Sys.CreateFileW(m_sPath.c_str(), access, /*dwShareMode=*/0,
                                    /*lpSecurityAttributes=*/nullptr, CREATE_NEW, kCreateFlags,
                                    /*hTemplateFile=*/nullptr));
    return static_cast<bool>(m_hFile);
}

// The claim's identity is taken at once: it is what TakeBack must find again.
VaultkitError CStagingFile::Claim()
{
    m_hFile.reset(g_Sys.CreateFileW(m_sPath.c_str(), kClaimAccess, kClaimSharing,
                                    /*lpSecurityAttributes=*/nullptr, CREATE_NEW,
                                    FILE_FLAG_BACKUP_SEMANTICS, /*hTemplateFile=*/nullptr));
    if (!m_hFile) {
        DWORD error = g_Sys.GetLastError();
        if (error == ERROR_FILE_EXISTS)
            return VAULTKIT_ERROR_OUTPUT_FILE_ALREADY_EXISTS;
        return TraceCallResult(L"CreateFile", VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION, error);
    }
    if (g_Sys.GetFileInformationByHandle(m_hFile.get(), &m_Claimed))
        return VAULTKIT_ERROR_SUCCESS;
    DWORD error = g_Sys.GetLastError();
    m_hFile.reset();
    return Unreachable(m_sPath.c_str(), L"GetFileInformationByHandle", error);
}

// Without following a link under the name. The data of an encrypted file cannot be opened
// for writing without its owner's key (inferred: the system account restores other users'
// files); it is then taken back without, and not flushed.
void CStagingFile::OpenAgain()
{
    const DWORD flags = FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS;
    m_hFile.reset(g_Sys.CreateFileW(m_sPath.c_str(), kTakeBackAccess | FILE_WRITE_DATA,
                                    /*dwShareMode=*/0, /*lpSecurityAttributes=*/nullptr,
                                    OPEN_EXISTING, flags, /*hTemplateFile=*/nullptr));
    m_bCanFlush = static_cast<bool>(m_hFile);
    if (!m_hFile && g_Sys.GetLastError() == ERROR_ACCESS_DENIED)
        m_hFile.reset(g_Sys.CreateFileW(m_sPath.c_str(), kTakeBackAccess, /*dwShareMode=*/0,
                                        /*lpSecurityAttributes=*/nullptr, OPEN_EXISTING, flags,
                                        /*hTemplateFile=*/nullptr));
}

// Whatever else may have taken the name meanwhile fails the identity check and is left
// alone.
VaultkitError CStagingFile::TakeBack()
{
    m_hFile.reset();
    OpenAgain();
    if (!m_hFile)
        return Unreachable(m_sPath.c_str(), L"CreateFile", g_Sys.GetLastError());
    BY_HANDLE_FILE_INFORMATION now;
    if (!g_Sys.GetFileInformationByHandle(m_hFile.get(), &now)) {
        DWORD error = g_Sys.GetLastError();
        m_hFile.reset();
        return Unreachable(m_sPath.c_str(), L"GetFileInformationByHandle", error);
    }
    if (SameFile(now, m_Claimed) && !(now.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return VAULTKIT_ERROR_SUCCESS;
    m_hFile.reset();
    return TraceResult(VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION, L" not our file |%s|",
                       m_sPath.c_str());
}

VaultkitError CStagingFile::CheckPlace(EPlace place) const
{
    std::wstring final;
    if (!FinalPathOf(m_hFile.get(), final))
        return TraceCallResult(L"GetFinalPathNameByHandle", VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION,
                               g_Sys.GetLastError());
    if (IsAt(place, final))
        return VAULTKIT_ERROR_SUCCESS;
    return TraceResult(VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION, L" redirected to |%s|",
                       final.c_str());
}

void CStagingFile::SetAttributes(uint32_t attr)
{
    SetHandleAttributes(m_hFile.get(), attr & kSettableAttributes);
}

bool CStagingFile::Size(int64_t& size) const
{
    LARGE_INTEGER bytes;
    if (!g_Sys.GetFileSizeEx(m_hFile.get(), &bytes))
        return false;
    size = bytes.QuadPart;
    return true;
}

VaultkitError CStagingFile::Flush()
{
    if (!m_bCanFlush || g_Sys.FlushFileBuffers(m_hFile.get()))
        return VAULTKIT_ERROR_SUCCESS;
    return TraceCallResult(L"FlushFileBuffers", VAULTKIT_ERROR_CANNOT_WRITE_DESTINATION,
                           g_Sys.GetLastError());
}

// The name goes in whole with its terminator (the call reads it as a path); the buffer is
// never smaller than the structure.
bool CStagingFile::Rename()
{
    size_t bytes = m_sDestination.size() * sizeof(wchar_t);
    size_t size = std::max(sizeof(FILE_RENAME_INFO),
                           offsetof(FILE_RENAME_INFO, FileName) + bytes + sizeof(wchar_t));
    std::vector<unsigned char> buffer(size, 0);
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->ReplaceIfExists = FALSE;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(bytes);  // a path, far below 4 GiB
    std::wmemcpy(info->FileName, m_sDestination.c_str(), m_sDestination.size() + 1);
    m_bRenamed = g_Sys.SetFileInformationByHandle(m_hFile.get(), FileRenameInfo, info,
                                                  static_cast<DWORD>(size)) != FALSE;
    return m_bRenamed;
}

bool CStagingFile::Remove()
{
    return RemoveOpenFile(m_hFile);
}

bool RemoveOpenFile(CUniqueFile& file)
{
    if (!file)
        return false;
    SetHandleAttributes(file.get(), FILE_ATTRIBUTE_NORMAL);
    FILE_DISPOSITION_INFO dispose = {TRUE};
    BOOL removed = g_Sys.SetFileInformationByHandle(file.get(), FileDispositionInfo, &dispose,
                                                    sizeof(dispose));
    file.reset();
    return removed != FALSE;
}
