// The quarantine part of the set-up (see SetupQuarantine.h). The item builder writes each
// payload and index as the product would; the locations then get their own attributes and
// times, which the builder gives every location alike.
#include "tools/product/SetupQuarantine.h"
#include "tools/common/FileTools.h"
#include "tools/common/SecurityText.h"
#include "tools/product/RegistryTools.h"

// Everyone may do everything: a descriptor that any file system, Wine's included, can
// take back without locking the tests out of the restored file.
static const wchar_t kSecurity[] = L"D:(A;;FA;;;WD)";

CItemDescription DescribeItem(const CPlannedItem& item, bool withSecurity)
{
    CItemDescription description;
    description.content = item.m_sContent;
    description.dvirus = item.m_sThreat;
    description.qname = item.m_sBaseName + L".cvq";
    description.dtime = item.m_Locations.empty() ? 0 : item.m_Locations[0].m_llWrite;
    if (withSecurity)
        description.security = SecurityDescriptorBytes(kSecurity);
    for (const CPlannedLocation& location : item.m_Locations)
        description.locations.push_back({location.m_sName, location.m_sFolder});
    return description;
}

namespace {

bool WriteItem(const std::wstring& base, const CPlannedItem& item, bool withSecurity)
{
    CItemDescription description = DescribeItem(item, withSecurity);
    CItemPayload payload = BuildItemPayload(description);
    QuarItem record = BuildItemRecord(description, payload);
    for (size_t i = 0; i < item.m_Locations.size() && i < record.m_Files.size(); ++i) {
        const CPlannedLocation& location = item.m_Locations[i];
        record.m_Files[i].attr = location.m_dwAttributes;
        record.m_Files[i].crt = location.m_llCreation;
        record.m_Files[i].lat = location.m_llAccess;
        record.m_Files[i].lwt = location.m_llWrite;
    }
    return WriteWholeFile(base + L".cvq", payload.bytes) && record.SaveXml((base + L".xml").c_str());
}

// Cuts the index in the middle of its first `file` element: a document whose elements are
// never closed is not well-formed.
bool BreakIndex(const std::wstring& xmlPath)
{
    std::string text;
    if (!ReadWholeFile(xmlPath, text))
        return false;
    size_t cut = text.find("<file");
    if (cut == std::string::npos)
        return false;
    return WriteWholeFile(xmlPath, text.substr(0, cut + 12));
}

// The folders the files were taken from are still there (the restore creates none), and
// where planned, a file already stands at the destination.
void PrepareDestinations(const CPlannedItem& item, CSetupReport& report)
{
    for (const CPlannedLocation& location : item.m_Locations) {
        if (!CreateFolderTree(location.m_sFolder))
            report.Fail(L"folder " + location.m_sFolder, GetLastError());
        else if (location.m_eFate == ELocationFate::ExistingKept &&
                 !WriteWholeFile(location.FullPath(), location.m_sExisting))
            report.Fail(L"existing file " + location.FullPath(), GetLastError());
    }
}

void WriteExtras(const CProductLayout& layout, const CProductPlan& plan, CSetupReport& report)
{
    for (const CPlannedQuarantineExtra& extra : plan.m_QuarantineExtras) {
        std::wstring path = layout.m_sQuarantine + extra.m_sRelative;
        bool ok = extra.m_bFolder ? CreateFolderTree(path)
                                  : WriteWholeFile(path, "not a quarantine index\r\n");
        if (!ok)
            report.Fail(L"quarantine extra " + path, GetLastError());
    }
}

} // namespace

void InstallQuarantine(const CProductLayout& layout, const CProductPlan& plan,
                       CSetupReport& report)
{
    const std::wstring& folder = layout.m_sQuarantine;
    LSTATUS rc = SetHklmValue(kProductQuarantineKey, kProductQuarantineValue, REG_SZ,
                              folder.c_str(), (folder.size() + 1) * sizeof(wchar_t));
    if (rc != ERROR_SUCCESS)
        report.Fail(L"QuarantineFolder", static_cast<unsigned long>(rc));

    bool first = true;
    for (const CPlannedItem& item : plan.m_Items) {
        std::wstring base = folder + item.m_sBaseName;
        // The first item carries security data, so that its record is written back too.
        if (!WriteItem(base, item, first))
            report.Fail(L"quarantine item " + base, GetLastError());
        else if (item.m_bCorruptIndex && !BreakIndex(base + L".xml"))
            report.Fail(L"breaking index " + base, GetLastError());
        PrepareDestinations(item, report);
        first = false;
    }
    WriteExtras(layout, plan, report);
}
