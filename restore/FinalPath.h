// Where a file the restore holds open really is, as Windows reports it for the handle, and
// whether that is where the restore meant it to be. The report resolves every link on the
// way (junctions, symbolic links, mount points), so a folder that was turned into a link
// shows as another path; letter case, short 8.3 names and the long-path prefix are no
// difference. Asking the open handle cannot be raced: it names the file we hold, not
// whatever a path resolves to a moment later.
#pragma once
#include "platform/WinHeaders.h"
#include <string>

// The folder as the file system spells it (short names expanded), ending in "\". When it
// cannot be looked up (most often: it does not exist, so nothing gets created in it
// either), the text as given.
std::wstring IntendedFolder(const wchar_t* folder);

// The handle's final path (normalized, with the drive letter); false with the last error
// set when Windows cannot give one (a volume without a letter, a device).
bool FinalPathOf(HANDLE h, std::wstring& path);

// True when the two paths differ at most in letter case and the long-path prefix.
bool IsSamePath(const std::wstring& a, const std::wstring& b);
