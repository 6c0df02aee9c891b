// Where the programs under test lie: the build tree's paths, given by CMake as host paths
// and seen from Wine through its drive Z:.
#pragma once
#include <string>

std::wstring SanarixExe();        // sanarix.exe
std::wstring ProductBinFolder();  // folder of product_setup.exe and the product's programs, with "\"
std::wstring ProductSetupExe();   // product_setup.exe
std::wstring E2eLogsFolder();     // where the scenarios keep the logs of their runs

// "/a/b" -> "Z:\a\b".
std::wstring HostPathToWine(const std::string& hostPath);
