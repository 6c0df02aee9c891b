// What the set-up puts where, and what a repair run is expected to make of it: the engine
// files, the pending renames, and the quarantined items with their contents, locations,
// attributes, times and fates. Deterministic, so the set-up, the manifest and the tests
// all work from the same plan.
#pragma once
#include "tools/product/ProductLayout.h"
#include <cstdint>
#include <string>
#include <vector>

extern const wchar_t kTargetThreat[]; // "trojan.fakealert.5"

enum class ELocationFate
{
    Restored,     // written back byte for byte, with attributes and times
    ExistingKept, // a file already stands there: it stays untouched, the location is retired
    Untouched,    // not restored: nothing is created there
    Refused,      // a trap set for the restore: nothing of it lands there or anywhere the
                  // location leads, what stands there (m_sExisting, if set) stays, the item stays
};

struct CPlannedLocation
{
    std::wstring m_sFolder; // as the index holds it, with or without its trailing backslash
    std::wstring m_sName;
    uint32_t m_dwAttributes = 0;
    int64_t m_llCreation = 0; // file times, 100 ns since 1601 (UTC)
    int64_t m_llAccess = 0;
    int64_t m_llWrite = 0;
    ELocationFate m_eFate = ELocationFate::Untouched;
    std::string m_sExisting; // ExistingKept: the bytes of the file that stands there

    // The destination: folder and name with exactly one backslash between them.
    std::wstring FullPath() const;
};

struct CPlannedItem
{
    std::wstring m_sBaseName; // index "<base>.xml", payload "<base>.cvq"
    std::wstring m_sThreat;
    std::string m_sContent;
    std::vector<CPlannedLocation> m_Locations;
    bool m_bCorruptIndex = false; // the index is not well-formed XML

    // True when a run restores it: the threat name equals the target, case ignored.
    bool Matches() const;
    // True when the restore refuses every location (see ELocationFate::Refused).
    bool Refused() const;
    // True when its index and payload remain in the quarantine after a run.
    bool Remains() const { return m_bCorruptIndex || !Matches() || Refused(); }
};

struct CPlannedEngineFile
{
    std::wstring m_sRelative; // below the engine folder
    bool m_bFolder = false;   // a folder (holding one file), not a file
    bool m_bDeleted = false;  // a run deletes it
};

// Something in the quarantine folder that is neither index nor payload of an item; a run
// leaves it alone.
struct CPlannedQuarantineExtra
{
    std::wstring m_sRelative;
    bool m_bFolder = false;
};

struct CProductPlan
{
    std::vector<CPlannedEngineFile> m_EngineFiles;
    std::vector<CPlannedItem> m_Items;
    std::vector<CPlannedQuarantineExtra> m_QuarantineExtras;
    std::vector<std::wstring> m_PendingRenames; // the REG_MULTI_SZ strings, in order

    // How many engine files a run finds (deleted or not): the count it logs.
    int EngineMatches() const;
};

CProductPlan GetProductPlan(const CProductLayout& layout);

// A location with times of its own: created `day` days after a fixed date, written an hour
// later, read a minute after that, in whole seconds (every file system keeps those).
CPlannedLocation PlannedLocation(const std::wstring& folder, const std::wstring& name,
                                 uint32_t attr, int day, ELocationFate fate);
// An item without locations whose content is size pseudo-random bytes chosen by seed.
CPlannedItem PlannedItem(const std::wstring& base, const std::wstring& threat, uint32_t seed,
                         size_t size);
