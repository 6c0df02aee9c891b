// File helpers of the set-up and the end-to-end tests: whole-file reads and writes,
// folder trees made and removed (read-only and hidden entries included), attributes and
// times read back.
#pragma once
#include "platform/WinHeaders.h"
#include <cstdint>
#include <string>
#include <vector>

// Creates the folder and every missing parent; the path may end in a backslash.
bool CreateFolderTree(const std::wstring& folder);

bool WriteWholeFile(const std::wstring& path, const std::string& bytes);
bool ReadWholeFile(const std::wstring& path, std::string& bytes);
bool PathExists(const std::wstring& path);
bool IsFolder(const std::wstring& path);

// Deletes a file after clearing its attributes. True when it is gone (or never was).
bool RemoveOneFile(const std::wstring& path);
// Deletes a folder with everything below it. True when it is gone (or never was).
bool RemoveFolderTree(const std::wstring& folder);

// Names directly in a folder (no "." and ".."), sorted, folders marked by a trailing
// backslash.
std::vector<std::wstring> ListFolder(const std::wstring& folder);

struct CFileFacts
{
    DWORD m_dwAttributes = INVALID_FILE_ATTRIBUTES;
    int64_t m_llCreation = 0;
    int64_t m_llAccess = 0;
    int64_t m_llWrite = 0;
    int64_t m_llSize = 0;
};

// Attributes, times and size without opening the file (so the access time stays).
bool ReadFileFacts(const std::wstring& path, CFileFacts& facts);
