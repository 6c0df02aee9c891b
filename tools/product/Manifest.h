// The manifest: the plan of the simulated product as text, one fact per line, fields
// separated by tabs. Written by "product_setup expect" for the demo and for anyone checking
// a run by hand; the tests read the plan itself.
//   install    <folder>
//   engine     <path>        deleted|kept|folder
//   engine-count <n>         how many engine files a run finds
//   pending    <string>      one line per string of the pending renames value
//   item       <index path>  <threat>  <size>  <md5>  restored|skipped|corrupt
//   location   <index path>  <full path>  attr=0x..  crt=..  lat=..  lwt=..  <fate>
//   remains    <path>        what the quarantine folder holds after a run
#pragma once
#include "tools/product/ProductPlan.h"
#include <string>

std::string RenderManifest(const CProductLayout& layout, const CProductPlan& plan);

// What the quarantine folder holds after a run, relative names in plan order.
std::vector<std::wstring> RemainingQuarantineEntries(const CProductPlan& plan);
