// The manifest text (see Manifest.h).
#include "tools/product/Manifest.h"
#include "platform/Utf8.h"
#include "restore/codecs/Md5Text.h"
#include <cinttypes>
#include <cstdio>

namespace {

const char* FateWord(ELocationFate fate)
{
    switch (fate) {
    case ELocationFate::Restored:
        return "restored";
    case ELocationFate::ExistingKept:
        return "existing-kept";
    case ELocationFate::Refused:
        return "refused";
    default:
        return "untouched";
    }
}

const char* ItemWord(const CPlannedItem& item)
{
    if (item.m_bCorruptIndex)
        return "corrupt";
    if (item.Refused())
        return "refused";
    return item.Matches() ? "restored" : "skipped";
}

std::string Location(const std::string& index, const CPlannedLocation& location)
{
    char numbers[160];
    snprintf(numbers, sizeof(numbers), "attr=0x%" PRIX32 "\tcrt=%" PRId64 "\tlat=%" PRId64
             "\tlwt=%" PRId64,
             location.m_dwAttributes, location.m_llCreation, location.m_llAccess,
             location.m_llWrite);
    return "location\t" + index + "\t" + WideToUtf8(location.FullPath()) + "\t" + numbers +
           "\t" + FateWord(location.m_eFate) + "\n";
}

} // namespace

std::vector<std::wstring> RemainingQuarantineEntries(const CProductPlan& plan)
{
    std::vector<std::wstring> entries;
    for (const CPlannedItem& item : plan.m_Items) {
        if (!item.Remains())
            continue;
        entries.push_back(item.m_sBaseName + L".xml");
        entries.push_back(item.m_sBaseName + L".cvq");
    }
    for (const CPlannedQuarantineExtra& extra : plan.m_QuarantineExtras)
        entries.push_back(extra.m_sRelative);
    return entries;
}

std::string RenderManifest(const CProductLayout& layout, const CProductPlan& plan)
{
    std::string text = "# simulated Corvanta product: what the set-up installs, what a run makes of it\n";
    text += "install\t" + WideToUtf8(layout.m_sInstall) + "\n";
    for (const CPlannedEngineFile& file : plan.m_EngineFiles)
        text += "engine\t" + WideToUtf8(layout.m_sEngine + file.m_sRelative) + "\t" +
                (file.m_bFolder ? "folder" : file.m_bDeleted ? "deleted" : "kept") + "\n";
    text += "engine-count\t" + std::to_string(plan.EngineMatches()) + "\n";
    for (const std::wstring& rename : plan.m_PendingRenames)
        text += "pending\t" + WideToUtf8(rename) + "\n";
    for (const CPlannedItem& item : plan.m_Items) {
        std::string index = WideToUtf8(layout.m_sQuarantine + item.m_sBaseName + L".xml");
        text += "item\t" + index + "\t" + WideToUtf8(item.m_sThreat) + "\t" +
                std::to_string(item.m_sContent.size()) + "\t" + Md5Text(item.m_sContent) +
                "\t" + ItemWord(item) + "\n";
        for (const CPlannedLocation& location : item.m_Locations)
            text += Location(index, location);
    }
    for (const std::wstring& entry : RemainingQuarantineEntries(plan))
        text += "remains\t" + WideToUtf8(layout.m_sQuarantine + entry) + "\n";
    return text;
}
