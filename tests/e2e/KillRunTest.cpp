// The kill test: the real sanarix.exe restoring a large quarantine is terminated at random
// moments, run after run, and finally run to its end. Nothing may be lost: every location
// holds its complete original, every item that stays is byte for byte as it was, and no
// unfinished file is left anywhere. What a kill may leave in the quarantine folder that
// costs nothing (a payload whose index is already gone, an index copy that was being
// written) is reported and removed before the quarantine is compared.
//
// SANARIX_KILL_SEED, SANARIX_KILL_ROUNDS and SANARIX_KILLS change the seed, the number of
// fresh products and the most kills per product (defaults: time-based, 1, 4); a product's
// kills end early once a killed run got to the end of the restore.
#include "platform/Utf8.h"
#include "tests/e2e/E2ePaths.h"
#include "tests/e2e/KillRun.h"
#include "tests/e2e/ProductChecks.h"
#include "tests/e2e/RepairRun.h"
#include "tools/product/FileTools.h"
#include "tools/product/ProductSetup.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>

namespace {

const unsigned long kKillTimeoutMs = 120000;
const unsigned long kFinalRunTimeoutMs = 240000;
const unsigned long kMaxDelayMs = 40;  // about the time an 8 MiB location takes
const int64_t kDay = 864000000000;

unsigned long EnvNumber(const char* name, unsigned long fallback)
{
    const char* text = std::getenv(name);
    return text && *text ? std::strtoul(text, nullptr, 10) : fallback;
}

// Eight items of 8 MiB with three locations each, and a dozen small ones: most of a run's
// time goes into writing large files, where a kill leaves the most behind.
void AddLargeItems(const CProductLayout& layout, CProductPlan& plan)
{
    const CPlannedLocation model = plan.m_Items.front().m_Locations.front();
    auto location = [&](const std::wstring& folder, const std::wstring& name, uint32_t attr,
                        int day) {
        CPlannedLocation at = model;
        at.m_sFolder = layout.m_sVictims + folder;
        at.m_sName = name;
        at.m_dwAttributes = attr;
        at.m_llCreation += day * kDay;
        at.m_llWrite += day * kDay;
        at.m_llAccess += day * kDay;
        at.m_eFate = ELocationFate::Restored;
        at.m_sExisting.clear();
        return at;
    };
    const uint32_t attributes[] = {FILE_ATTRIBUTE_ARCHIVE, FILE_ATTRIBUTE_READONLY,
                                   FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE};
    for (int i = 0; i < 20; ++i) {
        bool large = i < 8;
        CPlannedItem item;
        item.m_sBaseName = L"K" + std::to_wstring(i);
        item.m_sThreat = kTargetThreat;
        item.m_sContent = PlannedContent(100 + i, large ? (8u << 20) + 777 * i : 65536 + i);
        std::wstring name = L"part" + std::to_wstring(i) + L".bin";
        for (int j = 0; j < (large ? 3 : 1); ++j)
            item.m_Locations.push_back(location(L"large\\" + std::wstring(1, L'a' + j) + L"\\",
                                                name, attributes[j], i + j));
        plan.m_Items.push_back(item);
    }
}

int RestorableLocations(const CProductPlan& plan)
{
    int count = 0;
    for (const CPlannedItem& item : plan.m_Items)
        if (item.Matches() && !item.m_bCorruptIndex)
            count += static_cast<int>(item.m_Locations.size());
    return count;
}

// Files under folder (recursively) whose name starts with prefix.
void FindNamed(const std::wstring& folder, const std::wstring& prefix,
               std::vector<std::wstring>& found)
{
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((folder + L"*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return;
    do {
        std::wstring name = fd.cFileName;
        if (name == L"." || name == L"..")
            continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            FindNamed(folder + name + L"\\", prefix, found);
        else if (name.compare(0, prefix.size(), prefix) == 0)
            found.push_back(folder + name);
    } while (FindNextFileW(h, &fd));
    FindClose(h);
}

std::vector<std::wstring> StagingFiles(const CProductLayout& layout)
{
    std::vector<std::wstring> found;
    FindNamed(layout.m_sVictims, L"~vk", found);
    return found;
}

// Removes what a kill may leave in the quarantine that holds nothing of value: the copy
// of an index being saved, and the payload of an item whose last location was retired
// (its index deleted) just before the kill. Returns what it removed.
std::vector<std::wstring> RemoveQuarantineLitter(const CProductLayout& layout,
                                                 const CProductPlan& plan)
{
    std::vector<std::wstring> litter;
    for (const CPlannedItem& item : plan.m_Items) {
        std::wstring base = layout.m_sQuarantine + item.m_sBaseName;
        // The save's temporary file has one fixed name; the item's next save removes it,
        // but after its last location there is no next save.
        if (PathExists(base + L".xml.tmp"))
            litter.push_back(base + L".xml.tmp");
        if (!item.Remains() && !PathExists(base + L".xml") && PathExists(base + L".cvq"))
            litter.push_back(base + L".cvq");
    }
    for (const std::wstring& path : litter)
        RemoveOneFile(path);
    return litter;
}

// A fresh product, installed and running. Under load Wine now and then fails to start one
// of the product's programs; that is the simulation's trouble, not the run's, so the
// set-up is tried once more before the test gives up.
bool FreshProduct(const CProductLayout& layout, const CProductPlan& plan,
                  const CInstallOptions& install)
{
    for (int attempt = 1;; ++attempt) {
        CSetupReport report;
        UninstallProduct(layout, report);
        InstallProduct(layout, plan, install, report);
        StartProduct(layout, CStartOptions(), report);
        if (report.Ok())
            return true;
        std::printf("product set-up, attempt %d: %s\n", attempt, WideToUtf8(report.Text()).c_str());
        if (attempt == 2)
            return false;
    }
}

// The product goes again whatever the test's outcome: its running programs would keep
// the test runner's output open.
class KillRun : public ::testing::Test
{
protected:
    void TearDown() override
    {
        CSetupReport report;
        UninstallProduct(GetProductLayout(), report);
    }
};

} // namespace

TEST_F(KillRun, KilledAtRandomMomentsThenRunToTheEndLosesNothing)
{
    const unsigned long seed = EnvNumber("SANARIX_KILL_SEED", GetTickCount());
    const unsigned long rounds = EnvNumber("SANARIX_KILL_ROUNDS", 1);
    const unsigned long kills = EnvNumber("SANARIX_KILLS", 4);
    std::printf("kill test: seed %lu, %lu round(s) of %lu kills\n", seed, rounds, kills);
    std::mt19937 random(seed);

    CProductLayout layout = GetProductLayout();
    CProductPlan plan = GetProductPlan(layout);
    AddLargeItems(layout, plan);
    const int locations = RestorableLocations(plan);
    CInstallOptions install;
    install.m_sBinFolder = ProductBinFolder();

    std::map<std::string, int> phases;
    int leftStaging = 0;
    int litterRemoved = 0;
    for (unsigned long round = 0; round < rounds; ++round) {
        ASSERT_TRUE(FreshProduct(layout, plan, install)) << "the product could not be set up";
        std::map<std::wstring, std::string> before = ReadQuarantine(layout);

        // Each kill aims at a location among those the previous runs left, so that the
        // kills spread over the whole restore rather than piling up after its end.
        int remaining = locations;
        for (unsigned long k = 0; k < kills; ++k) {
            int at = std::uniform_int_distribution<int>(1, std::max(remaining, 1))(random);
            unsigned long delay = std::uniform_int_distribution<unsigned long>(0, kMaxDelayMs)(random);
            CKillRun run = KillRepairDuringLocation(layout, at, delay, kKillTimeoutMs);
            ASSERT_NE(run.m_ePhase, EKillPhase::NotStarted) << "sanarix.exe did not start";
            remaining -= run.m_nLocationsEnded;
            size_t staging = StagingFiles(layout).size();
            leftStaging += staging > 0;
            ++phases[KillPhaseName(run.m_ePhase)];
            std::printf("round %lu kill %lu: location %d + %lu ms: %s, %d begun, %d ended, "
                        "exit %lu, %zu staging file(s)\n",
                        round + 1, k + 1, at, delay, KillPhaseName(run.m_ePhase),
                        run.m_nLocationsBegun, run.m_nLocationsEnded, run.m_dwExitCode, staging);
            if (run.m_ePhase == EKillPhase::AfterRestore)
                break;  // nothing left to interrupt
        }

        CRepairRun last = RunRepair(layout, kFinalRunTimeoutMs);
        ASSERT_TRUE(last.m_Result.m_bEnded) << "the final run did not end in time";
        EXPECT_EQ(last.m_Result.m_dwExitCode, 0u);
        for (const std::wstring& path : RemoveQuarantineLitter(layout, plan)) {
            std::printf("round %lu: removed litter %s\n", round + 1, WideToUtf8(path).c_str());
            ++litterRemoved;
        }
        CFaults faults = CheckDestinations(plan);
        CFaults quarantine = CheckQuarantine(layout, plan, before);
        faults.insert(faults.end(), quarantine.begin(), quarantine.end());
        for (const std::wstring& path : StagingFiles(layout))
            faults.push_back("unfinished file left: " + WideToUtf8(path));
        EXPECT_TRUE(faults.empty()) << "round " << round + 1 << ":\n" << JoinFaults(faults);
    }

    std::printf("kills by phase:\n");
    for (const auto& p : phases)
        std::printf("  %-20s %d\n", p.first.c_str(), p.second);
    std::printf("kills that left an unfinished staging file: %d; litter removed: %d\n",
                leftStaging, litterRemoved);
}
