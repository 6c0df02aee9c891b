// The status and the report (see Report.h). Everything in them is read back from the
// machine; the plan only says where to look and what should be there.
#include "tools/product/Report.h"
#include "platform/Utf8.h"
#include "tools/common/FileTools.h"
#include "tools/product/Outcome.h"
#include "tools/product/ProcessTools.h"
#include "tools/product/ServiceTools.h"
#include <algorithm>

namespace {

const size_t kColumns = 5;
using CRow = std::vector<std::string>;

std::string Observe(const CPlannedLocation& location)
{
    std::string bytes;
    if (!ReadWholeFile(location.FullPath(), bytes))
        return "not restored";
    if (location.m_eFate == ELocationFate::ExistingKept && bytes == location.m_sExisting)
        return "already there, kept";
    return "restored";
}

// The location is checked before anything else reads it (see CheckLocation).
CRow Row(const CProductLayout& layout, const CPlannedItem& item, const CPlannedLocation& location,
         std::vector<std::string>& faults)
{
    std::wstring index = layout.m_sQuarantine + item.m_sBaseName + L".xml";
    std::string fault = CheckLocation(item, location);
    if (!fault.empty())
        faults.push_back(WideToUtf8(location.FullPath()) + ": " + fault);
    return {WideToUtf8(item.m_sBaseName) + (PathExists(index) ? " (index kept)" : ""),
            WideToUtf8(item.m_sThreat) + (item.m_bCorruptIndex ? " (corrupt index)" : ""),
            WideToUtf8(location.FullPath()), Observe(location), fault.empty() ? "yes" : fault};
}

std::string Pad(const std::string& text, size_t width)
{
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

std::string Table(const std::vector<CRow>& rows)
{
    size_t widths[kColumns] = {};
    for (const CRow& row : rows)
        for (size_t i = 0; i < kColumns; ++i)
            widths[i] = std::max(widths[i], row[i].size());
    std::string out;
    for (const CRow& row : rows) {
        for (size_t i = 0; i + 1 < kColumns; ++i)
            out += Pad(row[i], widths[i]) + "  ";
        out += row[kColumns - 1] + "\n";
    }
    return out;
}

} // namespace

std::string RenderStatus()
{
    std::string out;
    for (const CProductService& service : ProductServices())
        out += WideToUtf8(service.m_szName) + "\tstate=" +
               std::to_string(QueryServiceState(service.m_szName)) + "\t" +
               WideToUtf8(service.m_szExe) + " x" +
               std::to_string(CountProcesses(service.m_szExe)) + "\n";
    for (const std::wstring& app : ProductApps())
        out += WideToUtf8(app) + "\tx" + std::to_string(CountProcesses(app)) + "\n";
    return out;
}

std::string RenderReport(const CProductLayout& layout, const CProductPlan& plan)
{
    std::vector<CRow> rows = {{"item", "threat", "location", "result", "as planned"}};
    std::vector<std::string> faults;
    for (const CPlannedItem& item : plan.m_Items)
        for (const CPlannedLocation& location : item.m_Locations)
            rows.push_back(Row(layout, item, location, faults));
    std::string out = Table(rows) + "\n";
    std::vector<std::string> beside = CheckBesideLocations(layout, plan);
    faults.insert(faults.end(), beside.begin(), beside.end());
    if (faults.empty())
        return out + "outcome: as planned\n";
    for (const std::string& fault : faults)
        out += "outcome: " + fault + "\n";
    return out;
}
