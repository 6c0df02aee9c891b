// The product as the scenarios set it up and compare it: a fresh installed product, plans
// with large items, and snapshots of what a run could change.
#pragma once
#include "tests/e2e/E2eRun.h"
#include "tools/product/ProductSetup.h"
#include <map>

using CSnapshot = std::map<std::wstring, std::string>;

// Uninstalls, installs and starts the product. Under load Wine now and then fails to start
// one of its programs; that is the simulation's trouble, not the run's, so it is tried once
// more. The problems of the last attempt, or none.
CFaults FreshProduct(const CProductLayout& layout, const CProductPlan& plan,
                     const CInstallOptions& install, const CStartOptions& start = CStartOptions());

// count items "<prefix>0", "<prefix>1", ... of the target threat, of size + i * 4099 bytes,
// each at `locations` places below "<victims>\<folder>\a\", "b\", ...: restored, with
// attributes and times of their own.
void AddLargeItems(const CProductLayout& layout, CProductPlan& plan, const wchar_t* prefix,
                   int count, size_t size, int locations);

// Every file below the folder (attributes, last-write time, size, digest) and folder.
void SnapshotTree(const std::wstring& folder, CSnapshot& out);
// Everything a run could change: the files below the product's and the victims' folders,
// the registry values, the services' states and process counts.
CSnapshot SnapshotProduct(const CProductLayout& layout);
// What differs; with onlyKept, only what is in both (an entry may go, none may change).
CFaults CompareSnapshots(const CSnapshot& before, const CSnapshot& after, bool onlyKept = false);

// Files below the folder whose name starts with "~vk": a restore's unfinished staging file.
std::vector<std::wstring> StagingFiles(const std::wstring& folder);
