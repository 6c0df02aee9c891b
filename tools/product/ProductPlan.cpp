// The planned content of the simulated product (see ProductPlan.h).
#include "tools/product/ProductPlan.h"
#include "tools/common/PseudoRandom.h"
#include <algorithm>
#include <cwctype>

const wchar_t kTargetThreat[] = L"trojan.fakealert.5";

namespace {

const int64_t kSecond = 10000000;
const int64_t kBaseTime = 129462267330000000; // 2011-04-02 14:05:33 UTC
const uint32_t kReadOnly = 0x1, kHidden = 0x2, kArchive = 0x20;

bool EqualsNoCaseAtoZ(const std::wstring& a, const std::wstring& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        wchar_t x = a[i], y = b[i];
        if (x >= L'A' && x <= L'Z')
            x = static_cast<wchar_t>(x - L'A' + L'a');
        if (y >= L'A' && y <= L'Z')
            y = static_cast<wchar_t>(y - L'A' + L'a');
        if (x != y)
            return false;
    }
    return true;
}

void PlanEngine(CProductPlan& plan)
{
    plan.m_EngineFiles = {
        {L"cvheur.xr0", false, true},
        {L"bases\\cvheur.xr0", false, true},
        {L"bases\\old\\CVHEUR.XR0", false, true},
        {L"cvheur.xr0.bak", false, false},
        {L"xcvheur.xr0", false, false},
        {L"cvbase.db", false, false},
        {L"plugins\\cvheur.xr0", true, false},
        {L"plugins\\cvheur.xr0\\readme.txt", false, false},
    };
}

void PlanItems(const CProductLayout& layout, CProductPlan& plan)
{
    const std::wstring v = layout.m_sVictims;
    const ELocationFate restored = ELocationFate::Restored;
    const ELocationFate untouched = ELocationFate::Untouched;

    CPlannedItem single = PlannedItem(L"A1", kTargetThreat, 1, 1000);
    single.m_Locations = {
        PlannedLocation(v + L"single\\", L"invoice.doc", kReadOnly | kArchive, 0, restored)};
    plan.m_Items.push_back(single);

    // A few MiB: a realistic size, many restore buffers per location.
    CPlannedItem triple = PlannedItem(L"A2", kTargetThreat, 2, 3 * 1024 * 1024 + 4321);
    triple.m_Locations = {
        PlannedLocation(v + L"multi\\a\\", L"setup.exe", kArchive, 1, restored),
        PlannedLocation(v + L"multi\\b\\", L"setup.exe", kHidden | kArchive, 2, restored),
        PlannedLocation(v + L"multi\\c\\", L"setup.exe", kReadOnly, 3, restored),
    };
    plan.m_Items.push_back(triple);

    // Threat name in other letter case, folder kept without its trailing backslash.
    CPlannedItem otherCase = PlannedItem(L"A3", L"Trojan.FakeAlert.5", 3, 4096);
    otherCase.m_Locations = {PlannedLocation(v + L"case", L"report.pdf", kArchive, 4, restored)};
    plan.m_Items.push_back(otherCase);

    CPlannedItem existing = PlannedItem(L"E1", kTargetThreat, 4, 2500);
    existing.m_Locations = {
        PlannedLocation(v + L"existing\\", L"budget.xls", kArchive, 5,
                        ELocationFate::ExistingKept),
        PlannedLocation(v + L"existing\\copy\\", L"budget.xls", kArchive, 6, restored),
    };
    existing.m_Locations[0].m_sExisting = "the user's own, newer budget\r\n";
    plan.m_Items.push_back(existing);

    CPlannedItem longer = PlannedItem(L"B1", L"trojan.fakealert.55", 5, 300);
    longer.m_Locations = {PlannedLocation(v + L"skipped\\", L"longer.exe", kArchive, 7, untouched)};
    plan.m_Items.push_back(longer);

    CPlannedItem other = PlannedItem(L"B2", L"Adware.Toolbar.2", 6, 800);
    other.m_Locations = {
        PlannedLocation(v + L"skipped\\", L"toolbar1.dll", kArchive, 8, untouched),
        PlannedLocation(v + L"skipped\\", L"toolbar2.dll", kArchive, 9, untouched),
    };
    plan.m_Items.push_back(other);

    CPlannedItem shorter = PlannedItem(L"B3", L"trojan.fakealert", 7, 200);
    shorter.m_Locations = {
        PlannedLocation(v + L"skipped\\", L"shorter.exe", kArchive, 10, untouched)};
    plan.m_Items.push_back(shorter);

    CPlannedItem corrupt = PlannedItem(L"C1", kTargetThreat, 8, 500);
    corrupt.m_Locations = {
        PlannedLocation(v + L"corrupt\\", L"broken.exe", kArchive, 11, untouched)};
    corrupt.m_bCorruptIndex = true;
    plan.m_Items.push_back(corrupt);
}

} // namespace

std::wstring CPlannedLocation::FullPath() const
{
    if (!m_sFolder.empty() && m_sFolder.back() != L'\\')
        return m_sFolder + L"\\" + m_sName;
    return m_sFolder + m_sName;
}

bool CPlannedItem::Matches() const
{
    return EqualsNoCaseAtoZ(m_sThreat, kTargetThreat);
}

bool CPlannedItem::Refused() const
{
    return !m_Locations.empty() &&
           std::all_of(m_Locations.begin(), m_Locations.end(), [](const CPlannedLocation& l) {
               return l.m_eFate == ELocationFate::Refused;
           });
}

int CProductPlan::EngineMatches() const
{
    return static_cast<int>(std::count_if(m_EngineFiles.begin(), m_EngineFiles.end(),
                                          [](const CPlannedEngineFile& f) { return f.m_bDeleted; }));
}

CPlannedLocation PlannedLocation(const std::wstring& folder, const std::wstring& name,
                                 uint32_t attr, int day, ELocationFate fate)
{
    CPlannedLocation location;
    location.m_sFolder = folder;
    location.m_sName = name;
    location.m_dwAttributes = attr;
    location.m_llCreation = kBaseTime + day * 86400 * kSecond;
    location.m_llWrite = location.m_llCreation + 3600 * kSecond;
    location.m_llAccess = location.m_llWrite + 60 * kSecond;
    location.m_eFate = fate;
    return location;
}

CPlannedItem PlannedItem(const std::wstring& base, const std::wstring& threat, uint32_t seed,
                         size_t size)
{
    CPlannedItem item;
    item.m_sBaseName = base;
    item.m_sThreat = threat;
    item.m_sContent = PseudoRandomBytes(size, seed);
    return item;
}

CProductPlan GetProductPlan(const CProductLayout& layout)
{
    CProductPlan plan;
    PlanEngine(plan);
    PlanItems(layout, plan);
    plan.m_QuarantineExtras = {
        {L"folder.xml", true},
        {L"folder.xml\\inner.txt", false},
        {L"notes.txt", false},
    };
    // Renames of files that do not exist, so that nothing happens should Wine's start-up
    // ever act on them.
    const std::wstring pending = L"\\??\\" + layout.m_sData + L"pending\\";
    plan.m_PendingRenames = {
        pending + L"cvheur.xr0.new", L"!\\??\\" + layout.m_sData + L"pending\\cvheur.xr0",
        pending + L"cvbase.tmp", L"",
    };
    return plan;
}
