// Wine makes no Windows links but follows a Unix symbolic link in the prefix like one: these are
// made and removed with ln and rm through Wine's Z: drive.
#pragma once
#include <string>

// A link to an existing target (Windows paths); true once it can be seen.
bool MakeUnixSymlink(const std::wstring& link, const std::wstring& target);

// Removes the link itself, never its target; true once it is gone.
bool RemoveUnixLink(const std::wstring& link);

// A link for a scope: declared after its folders, it goes before them.
class CUnixSymlink
{
public:
    CUnixSymlink(const std::wstring& link, const std::wstring& target);
    ~CUnixSymlink();
    CUnixSymlink(const CUnixSymlink&) = delete;
    bool Made() const { return m_bMade; }

private:
    std::wstring m_sLink;
    bool m_bMade;
};
