// What stands under a name in a destination folder, found without following a link at the
// name itself, and where it really is. Both the restore's leftover clean-up and its
// "already there" answer rest on this: only a plain file at the intended place is either.
#pragma once
#include "platform/Owners.h"
#include <string>

enum class EStanding
{
    Absent,  // nothing under the name (or no such folder)
    Unknown, // the name could not be opened or its file not be read: no answer
    File,    // a plain file
    Folder,
    Link,    // a reparse point of any kind: junction, symbolic link, mount point, ...
};

struct CStanding
{
    EStanding m_eKind = EStanding::Unknown;
    DWORD m_dwError = 0;        // Unknown: the error of the failed call
    DWORD m_dwLinks = 0;        // names of the file (hard links)
    bool m_bFinalKnown = false; // m_sFinalPath could be had
    std::wstring m_sFinalPath;  // where the opened object really is
    CUniqueFile m_hFile;        // open for File, Folder and Link
};

// Opens path for access with FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
// shared with everyone, and reads what it is. Absent when the open fails with 2 or 3;
// Unknown (with the error) for any other failed open or a failed read of the file's facts.
// The handle stays open in the result, so that whatever is done to the object is done
// to the one that was looked at.
CStanding ProbeName(const wchar_t* path, DWORD access);
