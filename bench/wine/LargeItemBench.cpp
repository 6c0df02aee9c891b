// The big-item figure (see LargeItemBench.h).
#include "bench/wine/LargeItemBench.h"
#include "bench/wine/BenchClock.h"
#include "bench/wine/BenchFiles.h"
#include "bench/wine/BenchLibrary.h"
#include "platform/Owners.h"
#include "quarantine/QuarItem.h"
#include "quarantine/Vaultkit.h"
#include "restore/DecryptAndRestore.h"
#include "restore/codecs/Md5Text.h"
#include "restore/codecs/Md5.h"
#include "tools/itembuilder/ItemBuilder.h"
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

const DWORD kPieceBytes = 64 * 1024;

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::string RunList(const std::vector<double>& seconds)
{
    std::string text;
    for (double s : seconds)
        text += Printed("%s%.2f", text.empty() ? "" : ", ", s);
    return text + " s";
}

// Copies source to target in 64 KiB pieces with one MD5 pass; the seconds it took, or a
// negative value when a call failed or the digest is not the payload's.
double TimeYardstick(const std::wstring& source, const std::wstring& target,
                     const std::string& expectedDigest)
{
    std::unique_ptr<uint8_t[]> buffer(new uint8_t[kPieceBytes]);
    CStopwatch watch;
    CUniqueFile in(CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ,
                               /*lpSecurityAttributes=*/nullptr, OPEN_EXISTING,
                               FILE_FLAG_SEQUENTIAL_SCAN, /*hTemplateFile=*/nullptr));
    CUniqueFile out(CreateFileW(target.c_str(), GENERIC_WRITE, /*dwShareMode=*/0,
                                /*lpSecurityAttributes=*/nullptr, CREATE_NEW,
                                FILE_FLAG_SEQUENTIAL_SCAN, /*hTemplateFile=*/nullptr));
    if (!in || !out)
        return -1;
    MD5_CTX md5;
    MD5Init(&md5);
    for (;;) {
        DWORD got = 0;
        DWORD written = 0;
        if (!ReadFile(in.get(), buffer.get(), kPieceBytes, &got, /*lpOverlapped=*/nullptr))
            return -1;
        if (got == 0)
            break;
        MD5Update(&md5, buffer.get(), got);
        if (!WriteFile(out.get(), buffer.get(), got, &written, /*lpOverlapped=*/nullptr) ||
            written != got)
            return -1;
    }
    std::string text = FinishDigestText(md5);
    in.reset();
    out.reset();
    double seconds = watch.Seconds();
    return expectedDigest == text ? seconds : -1;
}

// One restore of a fresh quarantine copy; the seconds, or a negative value when the
// restore failed or left a file of the wrong size.
double TimeRestore(const CBigItem& item, const std::wstring& quarBase)
{
    if (!PlaceQuarantineCopy(item.masterBase, quarBase))
        return -1;
    std::wstring index = quarBase + L".xml";
    std::wstring destination = item.outFolder + item.name;
    TakeDebuggerCounts();
    CStopwatch watch;
    int32_t result = VaultkitDecryptAndRestore(index.c_str(), item.name.c_str(),
                                               item.outFolder.c_str());
    double seconds = watch.Seconds();
    CDebuggerCounts counts = TakeDebuggerCounts();
    bool ok = result == 0 && counts.successes == 1 && FileSizeOf(destination) == item.size;
    if (!ok)
        fprintf(stderr, "restore_bench: big restore: result %d, restored size %lld\n",
                int(result), static_cast<long long>(FileSizeOf(destination)));
    RemoveOneFile(destination);
    return ok ? seconds : -1;
}

} // namespace

std::string SizeLabel(uint64_t mib)
{
    if (mib >= 1024 && mib % 1024 == 0)
        return Printed("%llu GiB", static_cast<unsigned long long>(mib / 1024));
    return Printed("%llu MiB", static_cast<unsigned long long>(mib));
}

bool BuildBigItem(const CBenchOptions& options, CBigItem* item)
{
    std::wstring root = JoinPath(options.work, L"big");
    std::wstring master = JoinPath(root, L"master");
    std::wstring out = JoinPath(root, L"out");
    if (!CreateFolderTree(root) || !CreateFolderTree(master) || !CreateFolderTree(out) ||
        !CreateFolderTree(JoinPath(root, L"quar")))
        return false;
    item->masterBase = JoinPath(master, L"item");
    item->name = L"restored.bin";
    item->outFolder = out + L"\\";
    item->size = static_cast<int64_t>(options.payloadMiB) << 20;

    CStopwatch watch;
    CItemDescription desc;
    desc.content = PseudoRandomBytes(static_cast<size_t>(item->size), 1);
    desc.dvirus = kBenchThreat;
    desc.qname = L"item.cvq";
    desc.locations.push_back({item->name, item->outFolder});
    if (options.damaged)
        desc.damages.push_back({EItemDamage::WrongHash, std::nullopt});
    if (!BuildQuarItem(desc, item->masterBase))
        return false;
    // The index as written holds the payload's digest; it is what the copy must reproduce.
    QuarItem index;
    if (!index.LoadXml((item->masterBase + L".xml").c_str()) || !index.qhash)
        return false;
    item->qhash = std::string(index.qhash->begin(), index.qhash->end());
    fprintf(stderr, "restore_bench: built the %s item in %.1f s\n",
            SizeLabel(options.payloadMiB).c_str(), watch.Seconds());
    return true;
}

void MeasureBigRestore(const CBenchOptions& options, const CBigItem& item, CBenchTable& table)
{
    const std::string label = SizeLabel(options.payloadMiB);
    const std::string restoreFigure = "restore of one " + label +
                                      " single-stream item (`VaultkitDecryptAndRestore`)";
    std::wstring quarFolder = JoinPath(JoinPath(options.work, L"big"), L"quar");
    std::wstring copy = item.outFolder + L"copy.bin";
    SetBenchQuarantineFolder(quarFolder + L"\\");
    if (VaultkitInit() != 0) {
        table.Refuse(restoreFigure, "the quarantine library did not start");
        return;
    }
    std::vector<double> restores;
    std::vector<double> yardsticks;
    bool failed = false;
    for (unsigned run = 0; run < options.repeats && !failed; ++run) {
        // Every other round starts with the restore, so that neither side always runs
        // right after the other's writes.
        for (int side = 0; side < 2 && !failed; ++side) {
            bool restoreNow = (side == 0) == (run % 2 == 1);
            double s = restoreNow ? TimeRestore(item, JoinPath(quarFolder, L"item"))
                                  : TimeYardstick(item.masterBase + L".cvq", copy, item.qhash);
            RemoveOneFile(copy);
            failed = s < 0;
            (restoreNow ? restores : yardsticks).push_back(s);
            fprintf(stderr, "restore_bench: %s %s: %.2f s\n", label.c_str(),
                    restoreNow ? "restore" : "copy + MD5", s);
        }
    }
    VaultkitUninit();
    if (failed) {
        table.Refuse(restoreFigure, "a restore or the yardstick copy failed (see above)");
        return;
    }
    double restore = Median(restores);
    double yardstick = Median(yardsticks);
    double megabytes = double(item.size) / 1e6;
    table.Add({restoreFigure,
               Printed("%.2f s, %.0f MB/s (runs: %s)", restore, megabytes / restore,
                       RunList(restores).c_str()),
               Printed("%.2f", restore / yardstick), "<= 1.3"});
    table.Add({"yardstick: the same payload copied in 64 KiB ReadFile/WriteFile pieces, "
               "one MD5 pass",
               Printed("%.2f s, %.0f MB/s (runs: %s)", yardstick, megabytes / yardstick,
                       RunList(yardsticks).c_str()),
               "1.00", "-"});
}

void RemoveBigItem(const CBigItem& item)
{
    if (item.masterBase.empty())
        return;
    RemoveOneFile(item.masterBase + L".cvq");
    RemoveOneFile(item.masterBase + L".xml");
}
