// Path and name helpers of the repair run. Platform-free: plain wide strings.
#pragma once
#include <string>

// Joins a folder and a tail with exactly one backslash, in a 260-character work buffer:
// drops one trailing separator of the folder (when not empty), skips one leading
// separator of the tail, turns every slash into a backslash. The tail's own trailing
// separator stays. Stores the result in str and returns it. A result that does not fit
// 259 characters is cut there.
std::wstring& AppendPath(std::wstring& str, const wchar_t* tail);

// The text after the last backslash or slash (the first character never counts as a
// separator); the whole path when there is none; empty when the path ends in one.
std::wstring FileNameOfPath(const std::wstring& path);

// The text before that same separator, without it; empty when there is none.
std::wstring FolderOfPath(const std::wstring& path);

// Whole-text comparison that folds only the letters A to Z.
bool NameEqualsNoCase(const wchar_t* a, const wchar_t* b);

// True when AppendPath(folder, tail) fits the 259 characters of its work buffer.
bool AppendPathFits(const std::wstring& folder, const wchar_t* tail);
