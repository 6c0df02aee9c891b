// Quarantine items that would turn the restore against the machine, as an ordinary user of
// it could prepare them: a folder on an item's path made a link to the system folder,
// links under the staging name to protected files (a symbolic and a hard one), names that
// are paths, an empty and a relative folder, device names, and a declared size smaller
// than the payload. Laid beside an installed product, whose own items show in the same
// run that the restore still restores. The links are Unix symbolic links in the prefix
// (Wine follows them like Windows links) and a hard link. The reason each location is
// refused for is in the run's trace (expected-runs.txt).
#pragma once
#include "tests/e2e/ProductState.h"
#include <string>
#include <vector>

class CHostileQuarantine
{
public:
    explicit CHostileQuarantine(const CProductLayout& layout);
    // Takes the links away before anything else, then the files of the attacks.
    ~CHostileQuarantine();
    CHostileQuarantine(const CHostileQuarantine&) = delete;
    CHostileQuarantine& operator=(const CHostileQuarantine&) = delete;

    // Writes the items into the quarantine and lays the traps; one line per failure.
    CFaults Prepare();
    // The items for the run's plan: every location refused, every item kept.
    const std::vector<CPlannedItem>& Items() const { return m_Items; }
    // The folder the run must start in, for the relative folder to aim at the system.
    const std::wstring& WorkingFolder() const { return m_sWorking; }
    // After the run: every file outside the named folders as it was (the protected files,
    // the system folders' names), nothing new in the named folders, the traps in place.
    CFaults Check() const;

private:
    void Plan();
    void Clear();
    CSnapshot Outside() const;

    std::wstring m_sRoot;         // C:\sanarix-attack\, the folders the items name
    std::wstring m_sSystem;       // C:\windows\system32
    std::wstring m_sWorking;
    std::wstring m_sLinkedFolder; // a folder on an item's path, made a link to system32
    std::wstring m_sStagingLink;  // a staging name made a link to a protected file
    std::wstring m_sStagingHard;  // a staging name made a hard link to another one
    std::wstring m_sProtected;    // the files they lead to, read-only, in C:\windows
    std::wstring m_sHardTarget;
    std::wstring m_sQuarantine;
    std::vector<CPlannedItem> m_Items;
    CSnapshot m_Before;
};
