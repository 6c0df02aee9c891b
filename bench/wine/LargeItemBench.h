// The big item: one location, one data record of the whole content. Its restore through
// VaultkitDecryptAndRestore is timed against the yardstick of a plain copy of the same
// payload bytes in 64 KiB pieces with one MD5 pass over them.
#pragma once
#include "bench/wine/BenchOptions.h"
#include "bench/wine/BenchTable.h"
#include <cstdint>
#include <string>

struct CBigItem
{
    std::wstring masterBase;  // "<work>\big\master\item": ".cvq" and ".xml" kept for copies
    std::wstring name;        // the location's file name
    std::wstring outFolder;   // the location's folder, with its trailing backslash
    int64_t size = 0;         // content bytes
    std::string qhash;        // MD5 text of the whole .cvq (one record: its crypted digest)
};

// Builds the item in the parent process (the content and its payload are in memory only
// while it is built). False when it could not be written.
bool BuildBigItem(const CBenchOptions& options, CBigItem* item);

// Alternated runs of the yardstick and the restore, median of each, and their ratio.
void MeasureBigRestore(const CBenchOptions& options, const CBigItem& item, CBenchTable& table);

// Deletes the kept payload and index.
void RemoveBigItem(const CBigItem& item);

// "1 GiB" or "64 MiB".
std::string SizeLabel(uint64_t mib);
