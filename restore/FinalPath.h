// Where a file the restore holds open really is, as Windows reports it for the handle, and
// whether that is where the restore meant it to be. The report resolves every link on the
// way (junctions, symbolic links, mount points), so a folder that was turned into a link
// shows as another path; letter case, short 8.3 names and the long-path prefix are no
// difference. Asking the open handle cannot be raced: it names the file we hold, not
// whatever a path resolves to a moment later.
#pragma once
#include "platform/WinHeaders.h"
#include <string>

// A folder a restore means its files to be in, as the index spells it (ending in "\").
class CIntendedFolder
{
public:
    explicit CIntendedFolder(const wchar_t* folder) : m_sFolder(folder) {}
    // True when finalPath is the folder followed by leaf, as spelt or with the folder's
    // short 8.3 names expanded. The long spelling is looked up only when the given one
    // does not match, once: on Wine the lookup reads every folder on the way.
    bool Holds(const std::wstring& finalPath, const std::wstring& leaf) const;

private:
    std::wstring m_sFolder;
    mutable std::wstring m_sLongFolder;  // empty until looked up; the folder when not found
};

// The handle's final path (normalized, with the drive letter); false with the last error
// set when Windows cannot give one (a volume without a letter, a device).
bool FinalPathOf(HANDLE h, std::wstring& path);

// True when the two paths differ at most in letter case and the long-path prefix.
bool IsSamePath(const std::wstring& a, const std::wstring& b);
