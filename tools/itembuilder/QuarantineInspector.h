// The quarantine inspector: for a quarantine folder copied from a machine, what this tool
// would make of every item (which ones it restores) and whether each payload would pass the
// restore's checks (record framing, size, both digest sets). It only reads: every file is
// opened for reading and shared with any writer.
#pragma once
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

enum class EItemVerdict
{
    Restorable,        // restored by this tool, and the payload verifies
    OtherThreat,       // another threat name: left alone (the payload verifies)
    IndexUnreadable,   // the index cannot be opened, or is no index: skipped by the tool
    NoIndex,           // a payload without its index: never looked at
    NoPayload,         // the index's payload is missing (restore result 7)
    PayloadUnreadable, // it cannot be opened or read (7)
    Truncated,         // it ends inside a record
    Corrupt,           // a digest differs (11 or 14), or a record header is impossible
    SizeMismatch,      // the main data's size differs from the index's size (12)
};
const char* ItemVerdictText(EItemVerdict verdict);

enum class ECheck
{
    NotChecked,
    Ok,
    Differs,
};

struct CInspectedItem
{
    std::wstring m_sIndex; // file name in the folder (the payload's, for NoIndex)
    bool m_bIndexRead = false;
    std::wstring m_sThreat;
    bool m_bRestore = false; // the threat is the one this tool restores
    bool m_bEfs = false;
    std::vector<std::wstring> m_locations; // folder and name
    int64_t m_llSize = -1;                 // as the index records it
    int64_t m_llPayloadBytes = -1;
    ECheck m_size = ECheck::NotChecked;
    ECheck m_crypted = ECheck::NotChecked;  // qhash
    ECheck m_original = ECheck::NotChecked; // hash
    EItemVerdict m_verdict = EItemVerdict::IndexUnreadable;
    std::string m_sNote;
};

// The threat name whose items the repair restores.
extern const wchar_t kRestoredThreat[];

// Every "*.xml" directly in the folder, in name order, then every ".cvq" without its index.
// False with problem set when the folder cannot be listed.
bool InspectQuarantine(const std::wstring& folder, std::vector<CInspectedItem>& items,
                       std::wstring& problem);

// A table (with a count of each verdict) or CSV records, UTF-8.
void WriteInspection(std::ostream& out, const std::vector<CInspectedItem>& items, bool csv,
                     char separator);
