// The product set up and compared (see E2e.h).
#include "tests/e2e/E2e.h"
#include "platform/Utf8.h"
#include "restore/codecs/Md5Text.h"
#include "tools/common/FileTools.h"
#include "tools/product/Outcome.h"
#include "tools/product/RegistryTools.h"
#include "tools/product/Report.h"
#include <algorithm>

namespace {

std::string RegistryText(const std::wstring& key, const std::wstring& value)
{
    DWORD type = 0;
    std::wstring data;
    LSTATUS rc = ReadHklmValue(key, value, type, data);
    std::replace(data.begin(), data.end(), L'\0', L'|'); // a multi-string's separators, readable
    return "error " + std::to_string(rc) + " type " + std::to_string(type) + ": " + WideToUtf8(data);
}

} // namespace

CFaults CheckOutcome(const CProductLayout& layout, const CProductPlan& plan)
{
    CFaults faults;
    for (const CPlannedItem& item : plan.m_Items)
        for (const CPlannedLocation& location : item.m_Locations) {
            std::string fault = CheckLocation(item, location);
            if (!fault.empty())
                faults.push_back(WideToUtf8(location.FullPath()) + ": " + fault);
        }
    CFaults beside = CheckBesideLocations(layout, plan);
    faults.insert(faults.end(), beside.begin(), beside.end());
    return faults;
}

CFaults FreshProduct(const CProductLayout& layout, const CProductPlan& plan,
                     const CInstallOptions& install, const CStartOptions& start)
{
    CSetupReport report;
    for (int attempt = 1; attempt <= 2; ++attempt) {
        report = CSetupReport();
        UninstallProduct(layout, report);
        InstallProduct(layout, plan, install, report);
        StartProduct(layout, start, report);
        if (report.Ok())
            return {};
        printf("product set-up, attempt %d:\n%s", attempt, WideToUtf8(report.Text()).c_str());
    }
    return {WideToUtf8(report.Text())};
}

void AddLargeItems(const CProductLayout& layout, CProductPlan& plan, const wchar_t* prefix,
                   int count, size_t size, int locations)
{
    const uint32_t attributes[] = {FILE_ATTRIBUTE_ARCHIVE, FILE_ATTRIBUTE_READONLY,
                                   FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE};
    for (int i = 0; i < count; ++i) {
        CPlannedItem item = PlannedItem(prefix + std::to_wstring(i), kTargetThreat, 100 + i, size + 4099 * i);
        for (int j = 0; j < locations; ++j)
            item.m_Locations.push_back(PlannedLocation(
                layout.m_sVictims + prefix + L"\\" + std::wstring(1, L'a' + j) + L"\\",
                L"part" + std::to_wstring(i) + L".bin", attributes[j % 3], i + j, ELocationFate::Restored));
        plan.m_Items.push_back(item);
    }
}

void SnapshotTree(const std::wstring& folder, CSnapshot& out)
{
    for (const std::wstring& name : ListFolder(folder)) {
        std::wstring path = folder + name;
        if (name.back() == L'\\') {
            out[path] = "folder";
            SnapshotTree(path, out);
            continue;
        }
        CFileFacts facts;
        std::string bytes;
        ReadFileFacts(path, facts);
        ReadWholeFile(path, bytes);
        out[path] = "attr=" + std::to_string(facts.m_dwAttributes) + " lwt=" +
                    std::to_string(facts.m_llWrite) + " size=" + std::to_string(bytes.size()) +
                    " md5=" + Md5Text(bytes);
    }
}

CSnapshot SnapshotProduct(const CProductLayout& layout)
{
    CSnapshot snapshot;
    for (const std::wstring* folder : {&layout.m_sVendor, &layout.m_sEngineVendor,
                                       &layout.m_sQuarantine, &layout.m_sVictims})
        SnapshotTree(*folder, snapshot);
    snapshot[L"registry: pending renames"] = RegistryText(kSessionManagerKeyPath, kPendingRenamesValue);
    snapshot[L"registry: quarantine folder"] = RegistryText(kProductQuarantineKey, kProductQuarantineValue);
    snapshot[L"services and processes"] = RenderStatus();
    return snapshot;
}

CFaults CompareSnapshots(const CSnapshot& before, const CSnapshot& after, bool onlyKept)
{
    CFaults faults;
    for (const auto& [what, facts] : before) {
        auto now = after.find(what);
        if (now == after.end() && !onlyKept)
            faults.push_back(WideToUtf8(what) + " is gone");
        else if (now != after.end() && now->second != facts)
            faults.push_back(WideToUtf8(what) + ": " + now->second + ", was " + facts);
    }
    for (const auto& [what, facts] : after)
        if (!onlyKept && !before.count(what))
            faults.push_back(WideToUtf8(what) + " appeared: " + facts);
    return faults;
}

std::vector<std::wstring> StagingFiles(const std::wstring& folder)
{
    std::vector<std::wstring> found;
    for (const std::wstring& name : ListFolder(folder)) {
        if (name.back() == L'\\') {
            std::vector<std::wstring> below = StagingFiles(folder + name);
            found.insert(found.end(), below.begin(), below.end());
        } else if (name.compare(0, 3, L"~vk") == 0) {
            found.push_back(folder + name);
        }
    }
    return found;
}
