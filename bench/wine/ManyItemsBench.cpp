// The many-items figure (see ManyItemsBench.h).
#include "bench/wine/ManyItemsBench.h"
#include "app/Operations.h"
#include "bench/wine/BenchClock.h"
#include "bench/wine/BenchFiles.h"
#include "bench/wine/BenchLibrary.h"
#include "diag/DebugLog.h"
#include "platform/Owners.h"
#include "tools/itembuilder/ItemBuilder.h"
#include <cstdio>
#include <vector>

namespace {

const size_t kItemBytes = 4096;
const unsigned kPerFolder = 100;

enum class ELogging
{
    Counted,   // the log runs without a file; debugger strings are counted, not sent
    AsProgram, // the log appends to its file and every debugger string is sent
};

struct CItemSet
{
    const wchar_t* tag;
    unsigned count;
    ELogging logging;
};

std::vector<CItemSet> SetsOf(const CBenchOptions& options)
{
    return {{L"items1", options.items, ELogging::Counted},
            {L"items2", 2 * options.items, ELogging::Counted},
            {L"items3", options.items, ELogging::AsProgram}};
}

std::wstring RootOf(const CBenchOptions& options, const CItemSet& set)
{
    return JoinPath(options.work, set.tag);
}

std::wstring QuarantineOf(const CBenchOptions& options, const CItemSet& set)
{
    return JoinPath(RootOf(options, set), L"quar");
}

// Item i's location folder, without its trailing backslash: 100 items to a folder, as
// files come from many folders, or all in one with --one-folder.
std::wstring DestinationOf(const CBenchOptions& options, const CItemSet& set, unsigned i)
{
    std::wstring out = JoinPath(RootOf(options, set), L"out");
    return options.oneFolder ? out : JoinPath(out, NumberedName(L"d", i / kPerFolder, L""));
}

std::wstring RestoredPath(const CBenchOptions& options, const CItemSet& set, unsigned i)
{
    return JoinPath(DestinationOf(options, set, i), NumberedName(L"file", i, L".bin"));
}

bool StageItem(const CBenchOptions& options, const CItemSet& set, unsigned i,
               const std::wstring& group)
{
    CItemDescription desc;
    desc.content = PseudoRandomBytes(kItemBytes, 1000 + i);
    desc.dvirus = kBenchThreat;
    desc.qname = NumberedName(L"item", i, L".cvq");
    desc.locations.push_back(
        {NumberedName(L"file", i, L".bin"), DestinationOf(options, set, i) + L"\\"});
    if (options.damaged)
        desc.damages.push_back({EItemDamage::WrongHash, std::nullopt});
    return BuildQuarItem(desc, JoinPath(group, NumberedName(L"item", i, L"")));
}

bool StageSet(const CBenchOptions& options, const CItemSet& set)
{
    std::wstring root = RootOf(options, set);
    std::wstring stage = JoinPath(root, L"stage");
    if (!CreateFolderTree(root) || !CreateFolderTree(stage) ||
        !CreateFolderTree(QuarantineOf(options, set)) || !CreateFolderTree(JoinPath(root, L"out")))
        return false;
    CStopwatch watch;
    std::wstring group;
    for (unsigned i = 0; i < set.count; ++i) {
        if (i % kPerFolder == 0) {
            group = JoinPath(stage, NumberedName(L"g", i / kPerFolder, L""));
            if (!CreateFolderTree(group) || !CreateFolderTree(DestinationOf(options, set, i)))
                return false;
        }
        if (!StageItem(options, set, i, group))
            return false;
    }
    fprintf(stderr, "restore_bench: built %u items in %.1f s\n", set.count, watch.Seconds());
    return true;
}

unsigned IndexCount(const std::wstring& folder)
{
    WIN32_FIND_DATAW entry;
    CUniqueFind find(FindFirstFileW(JoinPath(folder, L"*.xml").c_str(), &entry));
    unsigned count = 0;
    if (find)
        do
            ++count;
        while (FindNextFileW(find.get(), &entry));
    return count;
}

// Every item restored whole and retired, and the trace and log agree.
bool AllRestored(const CBenchOptions& options, const CItemSet& set, const CDebuggerCounts& counts)
{
    if (counts.errors != 0 || counts.successes != long(set.count)) {
        fprintf(stderr, "restore_bench: %ld restores traced as successful, %ld error lines\n",
                counts.successes, counts.errors);
        return false;
    }
    for (unsigned i = 0; i < set.count; ++i)
        if (FileSizeOf(RestoredPath(options, set, i)) != int64_t(kItemBytes)) {
            fprintf(stderr, "restore_bench: item %u was not restored whole\n", i);
            return false;
        }
    return NoIndexLeft(QuarantineOf(options, set));
}

struct CDriverTime
{
    double seconds = -1;    // negative when any item was not restored
    double sentSeconds = 0; // of which in the real OutputDebugStringW
    long sentLines = 0;
};

// One RestoreQuarantine call over the set's quarantine.
CDriverTime TimeDriver(const CBenchOptions& options, const CItemSet& set)
{
    SetBenchQuarantineFolder(QuarantineOf(options, set) + L"\\");
    g_DebugLog.Start(L"[SANARIX]");
    if (set.logging == ELogging::AsProgram)
        g_DebugLog.SetDebugFile(JoinPath(options.work, L"sanarix.dbg").c_str());
    SetDebuggerPassThrough(set.logging == ELogging::AsProgram);
    TakeDebuggerCounts();
    CStopwatch watch;
    RestoreQuarantine(kBenchThreat);
    double seconds = watch.Seconds();
    CDebuggerCounts counts = TakeDebuggerCounts();
    SetDebuggerPassThrough(false);
    g_DebugLog.Start(L"[SANARIX]"); // leaves the file
    fprintf(stderr, "restore_bench: %u items restored in %.1f s\n", set.count, seconds);
    CDriverTime time;
    if (AllRestored(options, set, counts))
        time.seconds = seconds;
    time.sentSeconds = counts.sentSeconds;
    time.sentLines = counts.lines;
    return time;
}

std::string FigureOf(const CBenchOptions& options, const CItemSet& set)
{
    std::string where = options.oneFolder ? "all restored into one folder"
                                          : "restored into folders of 100";
    if (set.logging == ELogging::AsProgram)
        return Printed("%u items of 4 KiB as the program runs (debug log in its file, "
                       "debugger output sent), %s", set.count, where.c_str());
    return Printed("%u items of 4 KiB, one `RestoreQuarantine` call, %s", set.count,
                   where.c_str());
}

CDriverTime MeasureSet(const CBenchOptions& options, const CItemSet& set, CBenchTable& table)
{
    unsigned found = IndexCount(QuarantineOf(options, set));
    if (found != set.count) {
        table.Refuse(FigureOf(options, set),
                     Printed("the quarantine holds %u of %u items (stage them first: "
                             "scripts/wine-bench.sh)", found, set.count));
        return CDriverTime();
    }
    CDriverTime time = TimeDriver(options, set);
    if (time.seconds < 0)
        table.Refuse(FigureOf(options, set), "not every item was restored (see above)");
    return time;
}

std::string RateText(unsigned count, double seconds)
{
    return Printed("%.0f items/s, %.0f us per item (%.1f s)", count / seconds,
                   seconds / count * 1e6, seconds);
}

std::string SentText(unsigned count, const CDriverTime& time)
{
    return Printed("; of that, %.0f us per item in %ld OutputDebugStringW calls",
                   time.sentSeconds / count * 1e6, time.sentLines);
}

} // namespace

bool StageManyItems(const CBenchOptions& options)
{
    for (const CItemSet& set : SetsOf(options))
        if (!StageSet(options, set))
            return false;
    return true;
}

void MeasureManyItems(const CBenchOptions& options, CBenchTable& table)
{
    std::vector<CItemSet> sets = SetsOf(options);
    std::vector<CDriverTime> times;
    for (const CItemSet& set : sets)
        times.push_back(MeasureSet(options, set, table));
    const double perItem = times[0].seconds / sets[0].count;
    if (times[0].seconds > 0)
        table.Add({FigureOf(options, sets[0]), RateText(sets[0].count, times[0].seconds), "-",
                   "-"});
    if (times[0].seconds > 0 && times[1].seconds > 0)
        table.Add({FigureOf(options, sets[1]), RateText(sets[1].count, times[1].seconds),
                   Printed("%.2f (per item, against %u items)",
                           times[1].seconds / sets[1].count / perItem, sets[0].count),
                   "about 1 (linear)"});
    if (times[0].seconds > 0 && times[2].seconds > 0)
        table.Add({FigureOf(options, sets[2]),
                   RateText(sets[2].count, times[2].seconds) + SentText(sets[2].count, times[2]),
                   Printed("%.2f (per item, against the first row)",
                           times[2].seconds / sets[2].count / perItem),
                   "-"});
}
