// The writer-memory figure (see WriterMemoryBench.h).
#include "bench/wine/WriterMemoryBench.h"
#include "bench/wine/BenchFiles.h"
#include "bench/wine/BenchLibrary.h"
#include "quarantine/Vaultkit.h"
#include "restore/DecryptAndRestore.h"
#include "tools/itembuilder/ItemBuilder.h"
#include "tools/product/ProcessTools.h"
#include <psapi.h>
#include <cstdio>
#include <cwchar>

namespace {

const int64_t kSmallBytes = 1 << 20;
const int64_t kMiB = 1 << 20;

struct CChildRestore
{
    std::wstring index;
    std::wstring name;
    std::wstring folder; // with its trailing backslash, as the index holds it
    int64_t size = 0;
};

// A trailing backslash would escape the closing quote: it is doubled.
std::wstring Quoted(const std::wstring& arg)
{
    std::wstring text = L"\"" + arg;
    if (!arg.empty() && arg.back() == L'\\')
        text += L'\\';
    return text + L"\"";
}

// Starts this program as "--restore-one" for the location, with its stdout on a pipe; the
// peak working set it reported, or -1 when it did not restore the file whole.
int64_t PeakOfChildRestore(const CChildRestore& restore)
{
    wchar_t self[MAX_PATH];
    if (!GetModuleFileNameW(/*hModule=*/nullptr, self, MAX_PATH))
        return -1;
    std::wstring commandLine = Quoted(self) + L" --restore-one " + Quoted(restore.index) + L" " +
                               Quoted(restore.name) + L" " + Quoted(restore.folder);
    CRunResult child = RunProgram(self, commandLine, INFINITE, /*catchOutput=*/true);
    if (!child.m_bStarted)
        return -1;
    const DWORD exitCode = child.m_dwExitCode;
    const std::string& report = child.m_sOutput;
    int result = -1;
    unsigned long long peak = 0;
    std::wstring destination = restore.folder + restore.name;
    int64_t restored = FileSizeOf(destination);
    RemoveOneFile(destination);
    if (exitCode != 0 || sscanf(report.c_str(), "result=%d peak=%llu", &result, &peak) != 2 ||
        result != 0 || restored != restore.size) {
        fprintf(stderr, "restore_bench: child restore: exit %lu, report \"%s\", size %lld\n",
                exitCode, report.c_str(), static_cast<long long>(restored));
        return -1;
    }
    return static_cast<int64_t>(peak);
}

bool BuildSmallItem(const CBenchOptions& options, CChildRestore* restore)
{
    std::wstring root = JoinPath(options.work, L"memory");
    std::wstring out = JoinPath(root, L"out");
    if (!CreateFolderTree(root) || !CreateFolderTree(out))
        return false;
    restore->name = L"small.bin";
    restore->folder = out + L"\\";
    restore->index = JoinPath(root, L"small.xml");
    restore->size = kSmallBytes;
    CItemDescription desc;
    desc.content = PseudoRandomBytes(kSmallBytes, 2);
    desc.dvirus = kBenchThreat;
    desc.qname = L"small.cvq";
    desc.locations.push_back({restore->name, restore->folder});
    if (options.damaged)
        desc.damages.push_back({EItemDamage::WrongHash, std::nullopt});
    return BuildQuarItem(desc, JoinPath(root, L"small"));
}

bool PlaceBigItem(const CBenchOptions& options, const CBigItem& big, CChildRestore* restore)
{
    std::wstring root = JoinPath(options.work, L"memory");
    restore->name = big.name;
    restore->folder = big.outFolder;
    restore->index = JoinPath(root, L"big.xml");
    restore->size = big.size;
    return CreateFolderTree(root) && PlaceQuarantineCopy(big.masterBase, JoinPath(root, L"big"));
}

std::string MiBText(int64_t bytes)
{
    return Printed("%.2f MiB", double(bytes) / kMiB);
}

} // namespace

void MeasureWriterMemory(const CBenchOptions& options, const CBigItem& big, CBenchTable& table)
{
    const std::string label = SizeLabel(options.payloadMiB);
    const std::string bigFigure =
        "peak working set of a child that restores one " + label + " item";
    const std::string smallFigure = "peak working set of a child that restores one 1 MiB item";
    CChildRestore bigRestore;
    CChildRestore smallRestore;
    if (big.masterBase.empty() || !PlaceBigItem(options, big, &bigRestore) ||
        !BuildSmallItem(options, &smallRestore)) {
        table.Refuse(bigFigure, "the items could not be built");
        return;
    }
    int64_t bigPeak = PeakOfChildRestore(bigRestore);
    int64_t smallPeak = PeakOfChildRestore(smallRestore);
    if (bigPeak < 0 || smallPeak < 0) {
        table.Refuse(bigFigure, "a child's restore failed (see above)");
        return;
    }
    int64_t difference = bigPeak - smallPeak;
    table.Add({bigFigure, MiBText(bigPeak),
               Printed("%+.0f KiB against 1 MiB", double(difference) / 1024),
               "within 1 MiB"});
    table.Add({smallFigure, MiBText(smallPeak), "-", "-"});
}

int RestoreOneForMemory(const wchar_t* indexPath, const wchar_t* name, const wchar_t* folder)
{
    InstallBenchRows();
    std::wstring quarantine = indexPath;
    quarantine.erase(quarantine.find_last_of(L'\\') + 1);
    SetBenchQuarantineFolder(quarantine);
    int32_t result = VaultkitInit();
    if (result == 0)
        result = VaultkitDecryptAndRestore(indexPath, name, folder);
    VaultkitUninit();
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    if (!K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters)))
        return 2;
    printf("result=%d peak=%llu\n", int(result),
           static_cast<unsigned long long>(counters.PeakWorkingSetSize));
    fflush(stdout);
    return result == 0 ? 0 : 1;
}
