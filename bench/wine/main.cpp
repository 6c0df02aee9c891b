// restore_bench.exe: the restore measured under Wine with the real restore code, through
// its normal entry points. Run by `make bench` (scripts/wine-bench.sh); not a test.
//   restore_bench [--stage] <scratch folder> [--payload-mib N] [--items N] [--repeats N]
//                 [--one-folder] [--damaged] [--no-flush]
// With --stage it only builds the many items, which the script then moves into place.
// Otherwise it prints a table of the figures and exits 0, or 1 when any figure had to be
// refused because a restore failed (--damaged builds every item with a wrong digest to
// show that).
#include "bench/wine/BenchLibrary.h"
#include "bench/wine/BenchOptions.h"
#include "bench/wine/BenchTable.h"
#include "bench/wine/LargeItemBench.h"
#include "bench/wine/ManyItemsBench.h"
#include "bench/wine/WriterMemoryBench.h"
#include "platform/SysCalls.h"
#include <cstdio>
#include <cwchar>
#include <cwctype>

const wchar_t kBenchThreat[] = L"trojan.fakealert.5";

namespace {

bool ParseCount(const wchar_t* text, unsigned long long* value)
{
    if (!text || !std::iswdigit(*text))
        return false;
    wchar_t* end = nullptr;
    *value = std::wcstoull(text, &end, 10);
    return *end == L'\0' && *value > 0;
}

bool ParseOptions(int argc, wchar_t** argv, CBenchOptions* options)
{
    int at = 1;
    if (at < argc && std::wcscmp(argv[at], L"--stage") == 0) {
        options->stage = true;
        ++at;
    }
    if (at >= argc || argv[at][0] == L'-')
        return false;
    options->work = argv[at];
    while (!options->work.empty() && options->work.back() == L'\\')
        options->work.pop_back();
    for (int i = at + 1; i < argc; ++i) {
        std::wstring option = argv[i];
        unsigned long long value = 0;
        if (option == L"--damaged" || option == L"--one-folder" || option == L"--no-flush") {
            (option == L"--damaged"      ? options->damaged
             : option == L"--one-folder" ? options->oneFolder
                                         : options->noFlush) = true;
            continue;
        }
        if (i + 1 >= argc || !ParseCount(argv[i + 1], &value))
            return false;
        ++i;
        if (option == L"--payload-mib" && value <= (1ull << 16))
            options->payloadMiB = value;
        else if (option == L"--items" && value <= 50000)
            options->items = static_cast<unsigned>(value);
        else if (option == L"--repeats" && value <= 15)
            options->repeats = static_cast<unsigned>(value);
        else
            return false;
    }
    return true;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc == 5 && std::wcscmp(argv[1], L"--restore-one") == 0)
        return RestoreOneForMemory(argv[2], argv[3], argv[4]);
    CBenchOptions options;
    if (!ParseOptions(argc, argv, &options)) {
        fprintf(stderr, "usage: restore_bench [--stage] <scratch folder> [--payload-mib N] "
                        "[--items N] [--repeats N] [--one-folder] [--damaged] [--no-flush]\n");
        return 2;
    }
    if (options.stage)
        return StageManyItems(options) ? 0 : 1;
    InstallBenchRows();
    // The flush answered without flushing: what the restore costs without it. Single-
    // location items save no index, so the restored files' flushes are the only ones.
    if (options.noFlush)
        g_Sys.FlushFileBuffers = [](HANDLE) -> BOOL { return TRUE; };
    CBenchTable table;
    // The small items first: the big item's gigabytes would still be on their way to
    // the disk while they run.
    MeasureManyItems(options, table);
    CBigItem big;
    if (BuildBigItem(options, &big))
        MeasureBigRestore(options, big, table);
    else {
        table.Refuse("restore of the big item", "the item could not be built");
        big = CBigItem();
    }
    MeasureWriterMemory(options, big, table);
    RemoveBigItem(big);
    table.Print();
    return table.HasRefusals() ? 1 : 0;
}
