// A private temporary folder per test, and the tools' file helpers (which call Windows directly,
// past any hooks) under the tests' names.
#pragma once
#include "tools/common/FileTools.h"
#include <string>
#include <vector>

class CTempDir
{
public:
    CTempDir();
    ~CTempDir();
    CTempDir(const CTempDir&) = delete;
    const std::wstring& Path() const { return m_sPath; } // ends without a backslash
    std::wstring Join(const std::wstring& name) const { return JoinPath(m_sPath, name); }

private:
    std::wstring m_sPath;
};

std::string ReadFileBytes(const std::wstring& path, bool* ok = nullptr);
inline bool WriteFileBytes(const std::wstring& path, const std::string& bytes)
{
    return WriteWholeFile(path, bytes);
}
inline bool FileExists(const std::wstring& path)
{
    return PathExists(path);
}
// The names in a folder (files and folders, without "." and ".."), sorted.
std::vector<std::wstring> FilesIn(const std::wstring& folder);
