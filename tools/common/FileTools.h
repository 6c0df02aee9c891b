// The one set of file helpers of the tools, the tests and the benchmarks: whole-file reads
// and writes, folder trees made, listed and removed, attributes and times read back. They
// call Windows directly, not through the table of calls, so that a test's hook on a row
// sees only the calls of the code under test, not those of its own set-up. The item builder
// alone writes and deletes through the table (see below).
#pragma once
#include "platform/SysCalls.h"
#include <cstdint>
#include <string>
#include <vector>

// folder + "\" + name, with one backslash between them whether folder ends in one or not.
std::wstring JoinPath(const std::wstring& folder, const std::wstring& name);

// Creates the folder and every missing parent; the path may end in a backslash.
bool CreateFolderTree(const std::wstring& folder);

// Replaces the file with bytes. False with the last error set when it could not. With a
// table, the calls go through it: the item builder passes g_Sys, since it writes the
// product's side of the quarantine and a test fails those writes as it fails the product's.
bool WriteWholeFile(const std::wstring& path, const std::string& bytes,
                    const CSysCalls* table = nullptr);
// Reads the whole file, shared with writers (a log may be read while its program appends).
bool ReadWholeFile(const std::wstring& path, std::string& bytes);
bool PathExists(const std::wstring& path);
bool IsFolder(const std::wstring& path);
// Size in bytes, or -1 when there is no such file.
int64_t FileSizeOf(const std::wstring& path);

// Deletes a file, a read-only one too. True when it is gone (or never was); otherwise false
// with the last error of the delete. The table as for WriteWholeFile.
bool RemoveOneFile(const std::wstring& path, const CSysCalls* table = nullptr);

// Removes a link itself, never what it leads to; true when it is gone.
using CLinkRemover = bool (*)(const std::wstring& link);
// Deletes a folder with everything below it. A link below it (a reparse point) is never
// followed or deleted through, since deleting through one can reach its target: it goes to
// removeLink, or without one it stays and the removal fails. True when the folder is gone
// (or never was).
bool RemoveFolderTree(const std::wstring& folder, CLinkRemover removeLink = nullptr);

// Names directly in a folder (no "." and ".."), sorted, folders marked by a trailing
// backslash.
std::vector<std::wstring> ListFolder(const std::wstring& folder);

struct CFileFacts
{
    DWORD m_dwAttributes = INVALID_FILE_ATTRIBUTES;
    int64_t m_llCreation = 0; // 100 ns since 1601 (UTC)
    int64_t m_llAccess = 0;
    int64_t m_llWrite = 0;
    int64_t m_llSize = 0;
};

// Attributes, times and size without opening the file (so the access time stays).
bool ReadFileFacts(const std::wstring& path, CFileFacts& facts);
