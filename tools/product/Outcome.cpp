// The outcome of a run against the plan (see Outcome.h).
#include "tools/product/Outcome.h"
#include "platform/Utf8.h"
#include "platform/WineStandins.h"
#include "tools/common/FileTools.h"
#include "tools/product/Manifest.h"
#include "tools/product/RegistryTools.h"
#include <algorithm>
#include <cstdio>

namespace {

std::string Hex(unsigned long value)
{
    char text[16];
    snprintf(text, sizeof(text), "0x%lX", value);
    return text;
}

// Wine reports every regular file as archived, whatever was set ("attrib -a" included);
// Windows gives back exactly the bits set.
DWORD ExpectedAttributes(DWORD planned)
{
    return IsRunningOnWine() ? planned | FILE_ATTRIBUTE_ARCHIVE : planned;
}

std::string CheckRestored(const CPlannedItem& item, const CPlannedLocation& location,
                          const CFileFacts& facts, const std::string& bytes)
{
    if (bytes != item.m_sContent)
        return "content differs (" + std::to_string(bytes.size()) + " bytes, " +
               std::to_string(item.m_sContent.size()) + " planned)";
    if (facts.m_dwAttributes != ExpectedAttributes(location.m_dwAttributes))
        return "attributes " + Hex(facts.m_dwAttributes) + ", not " +
               Hex(ExpectedAttributes(location.m_dwAttributes));
    if (facts.m_llWrite != location.m_llWrite)
        return "last-write time " + std::to_string(facts.m_llWrite) + ", not " +
               std::to_string(location.m_llWrite);
    if (facts.m_llAccess != location.m_llAccess)
        return "last-access time " + std::to_string(facts.m_llAccess) + ", not " +
               std::to_string(location.m_llAccess);
    return std::string();
}

// Every entry below folder, relative, folders with their trailing backslash.
void ListTree(const std::wstring& folder, const std::wstring& below,
              std::vector<std::wstring>& entries)
{
    for (const std::wstring& name : ListFolder(folder + below)) {
        entries.push_back(below + name);
        if (name.back() == L'\\')
            ListTree(folder, below + name, entries);
    }
}

void CheckQuarantine(const CProductLayout& layout, const CProductPlan& plan,
                     std::vector<std::string>& faults)
{
    std::vector<std::wstring> wanted = RemainingQuarantineEntries(plan);
    std::vector<std::wstring> found;
    ListTree(layout.m_sQuarantine, L"", found);
    for (std::wstring& entry : found)
        if (entry.back() == L'\\')
            entry.pop_back();
    for (const std::wstring& entry : found)
        if (std::find(wanted.begin(), wanted.end(), entry) == wanted.end())
            faults.push_back(WideToUtf8(layout.m_sQuarantine + entry) + " is still in the quarantine");
    for (const std::wstring& entry : wanted)
        if (std::find(found.begin(), found.end(), entry) == found.end())
            faults.push_back(WideToUtf8(layout.m_sQuarantine + entry) + " is gone from the quarantine");
}

void CheckCleanup(const CProductLayout& layout, const CProductPlan& plan,
                  std::vector<std::string>& faults)
{
    for (const CPlannedEngineFile& file : plan.m_EngineFiles) {
        std::wstring path = layout.m_sEngine + file.m_sRelative;
        if (PathExists(path) == file.m_bDeleted)
            faults.push_back(WideToUtf8(path) + (file.m_bDeleted ? " is still there" : " is gone"));
    }
    DWORD type = 0;
    std::wstring data;
    if (ReadHklmValue(kSessionManagerKeyPath, kPendingRenamesValue, type, data) != ERROR_FILE_NOT_FOUND)
        faults.push_back("PendingFileRenameOperations is still there");
}

} // namespace

std::string CheckLocation(const CPlannedItem& item, const CPlannedLocation& location)
{
    // Attributes and times first: reading the content moves the access time.
    CFileFacts facts;
    bool exists = ReadFileFacts(location.FullPath(), facts);
    std::string bytes;
    if (exists)  // a device name is never read: it could wait for input
        ReadWholeFile(location.FullPath(), bytes);
    switch (location.m_eFate) {
    case ELocationFate::Untouched:
        return exists ? "created, though not to be restored" : "";
    case ELocationFate::Refused:
        if (exists && location.m_sExisting.empty())
            return "created, though refused";
        return exists && bytes != location.m_sExisting ? "what stood there was changed" : "";
    case ELocationFate::ExistingKept:
        if (!exists)
            return "missing";
        return bytes != location.m_sExisting ? "the file that stood there was changed" : "";
    case ELocationFate::Restored:
        return exists ? CheckRestored(item, location, facts, bytes) : "missing";
    }
    return "unknown fate";
}

std::vector<std::string> CheckBesideLocations(const CProductLayout& layout, const CProductPlan& plan)
{
    std::vector<std::string> faults;
    CheckCleanup(layout, plan, faults);
    CheckQuarantine(layout, plan, faults);
    std::string decoy;
    if (ReadWholeFile(layout.DecoyRecord(), decoy))
        faults.push_back("a decoy ran: " + decoy);
    return faults;
}
