// What one run of restore_bench measures, from its command line.
#pragma once
#include <cstdint>
#include <string>

struct CBenchOptions
{
    std::wstring work;          // scratch folder for items and outputs, no trailing backslash
    uint64_t payloadMiB = 1024; // the big item's content
    unsigned items = 10000;     // the many-items figure; its second run restores twice as many
    unsigned repeats = 3;       // runs of the big restore and of its baseline, alternated
    bool damaged = false;       // every item built with a wrong digest: nothing may be reported
    bool oneFolder = false;     // the many items restore into one folder, not folders of 100
    bool stage = false;         // only build the many items (the step before measuring)
    bool noFlush = false;       // files are not written through before their rename (the
                                // program's behaviour before the flush, for its cost)
};

// The threat name every benchmark item is detected as, and the driver is asked for.
extern const wchar_t kBenchThreat[];
