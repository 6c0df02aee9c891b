// What a location of an index may name before a restore writes anything for it. The
// program runs with rights the owner of the destination folder lacks, so a name or folder
// that could reach another place than the one it spells out is refused, not interpreted.
// Free of Windows headers so that it also builds for the host tests.
#pragma once
#include <string>

// True for a plain file name: not empty; no "\", "/" or ":" (no path, no drive, no
// alternate stream); no character Windows refuses in names (control characters and
// < > " | ? *); not ending in a dot or a blank (Windows drops those, so "a.txt " and
// "CON." would name something else); not "." or ".."; not a reserved device name in any
// letter case, with or without an extension (CON, PRN, AUX, NUL, COM0-COM9, LPT0-LPT9,
// the superscript COM and LPT digits, CONIN$, CONOUT$).
bool IsPlainFileName(const wchar_t* name);

// True for a fully qualified folder: "X:\" or "\\server\share" followed by plain names,
// each ended by a backslash except perhaps the last; the same behind "\\?\" ("\\?\X:\",
// "\\?\UNC\server\share"). No empty, "." or ".." component, no "/" and no component that
// IsPlainFileName refuses. The device namespace ("\\.\") is refused.
bool IsFullFolderPath(const wchar_t* path);

// A path as Win32 spells it without the long-path prefix: "\\?\C:\a" gives "C:\a",
// "\\?\UNC\server\share\a" gives "\\server\share\a"; anything else stays as it is.
std::wstring WithoutLongPrefix(const std::wstring& path);
