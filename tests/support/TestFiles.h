// A private temporary folder per test, and two shorthands over the tools' file helpers (which call
// Windows directly, past any hooks).
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

// The file's bytes ("" when it cannot be read).
std::string ReadFileBytes(const std::wstring& path, bool* ok = nullptr);
// The names in a folder (files and folders, without "." and ".."), sorted.
std::vector<std::wstring> FilesIn(const std::wstring& folder);
