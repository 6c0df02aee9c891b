// The table of "product_setup report" (see Report.h). Everything in it is read back from
// the disk; the plan only says where to look and what the original content was.
#include "tools/product/Report.h"
#include "platform/Utf8.h"
#include "restore/codecs/Md5Text.h"
#include "tools/product/FileTools.h"
#include "tools/product/Manifest.h"
#include <algorithm>
#include <cstdio>

namespace {

struct CRow
{
    std::string item, threat, location, result, digest;
};

std::string Observe(const CPlannedItem& item, const CPlannedLocation& location,
                    std::string& digest)
{
    std::string bytes;
    if (!ReadWholeFile(location.FullPath(), bytes)) {
        digest = "-";
        return "not restored";
    }
    if (location.m_eFate == ELocationFate::ExistingKept && bytes == location.m_sExisting) {
        digest = "-";
        return "already there, kept";
    }
    bool same = Md5Text(bytes) == Md5Text(item.m_sContent);
    digest = same ? "equal" : "DIFFERENT";
    return "restored";
}

std::string Pad(const std::string& text, size_t width)
{
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

} // namespace

std::string RenderReport(const CProductLayout& layout, const CProductPlan& plan)
{
    std::vector<CRow> rows = {{"item", "threat", "location", "result", "digest = original"}};
    for (const CPlannedItem& item : plan.m_Items) {
        std::wstring index = layout.m_sQuarantine + item.m_sBaseName + L".xml";
        std::string inQuarantine = PathExists(index) ? " (index kept)" : "";
        for (const CPlannedLocation& location : item.m_Locations) {
            CRow row;
            row.item = WideToUtf8(item.m_sBaseName) + inQuarantine;
            row.threat = WideToUtf8(item.m_sThreat) + (item.m_bCorruptIndex ? " (corrupt index)" : "");
            row.location = WideToUtf8(location.FullPath());
            row.result = Observe(item, location, row.digest);
            rows.push_back(row);
        }
    }
    size_t w[4] = {};
    for (const CRow& r : rows) {
        w[0] = std::max(w[0], r.item.size());
        w[1] = std::max(w[1], r.threat.size());
        w[2] = std::max(w[2], r.location.size());
        w[3] = std::max(w[3], r.result.size());
    }
    std::string out;
    for (const CRow& r : rows)
        out += Pad(r.item, w[0]) + "  " + Pad(r.threat, w[1]) + "  " + Pad(r.location, w[2]) +
               "  " + Pad(r.result, w[3]) + "  " + r.digest + "\n";
    return out;
}
