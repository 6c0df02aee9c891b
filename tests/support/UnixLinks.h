// Links as a user of the machine would plant them, for the tests of link handling under
// Wine. Wine makes no Windows links (CreateSymbolicLinkW returns TRUE and makes nothing),
// but a Unix symbolic link inside the prefix is followed like one, so these are made and
// removed from the Linux side: ln and rm, run through Wine's Z: drive.
#pragma once
#include <string>

// A symbolic link at link to target (both Windows paths in the prefix; target should
// exist). True once the link can be seen.
bool MakeUnixSymlink(const std::wstring& link, const std::wstring& target);

// Removes the link itself, never what it points to. True once it is gone.
bool RemoveUnixLink(const std::wstring& link);

// A link for the length of a scope: declared after the folders it lies in, it is removed
// before they are (RemoveTree would clear the attributes of a file link's target).
class CUnixSymlink
{
public:
    CUnixSymlink(const std::wstring& link, const std::wstring& target);
    ~CUnixSymlink();
    CUnixSymlink(const CUnixSymlink&) = delete;
    CUnixSymlink& operator=(const CUnixSymlink&) = delete;
    bool Made() const { return m_bMade; }

private:
    std::wstring m_sLink;
    bool m_bMade;
};
