// File helpers for the Windows tests: a private temporary folder per test and whole-file
// reads and writes (through the C runtime, not the table, so hooks do not disturb them).
#pragma once
#include <string>
#include <vector>

class CTempDir
{
public:
    CTempDir();
    ~CTempDir();
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;
    const std::wstring& Path() const { return m_sPath; } // ends without a backslash
    std::wstring Join(const std::wstring& name) const { return m_sPath + L"\\" + name; }

private:
    std::wstring m_sPath;
};

std::string ReadFileBytes(const std::wstring& path, bool* ok = nullptr);
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
bool FileExists(const std::wstring& path);
void RemoveTree(const std::wstring& path);
// The names in a folder (files and folders, without "." and ".."), sorted.
std::vector<std::wstring> FilesIn(const std::wstring& folder);
