// The list of machines a roll-out was meant to reach (--expect): one name per line, as an
// endpoint tool or a spreadsheet exports it. UTF-8 with or without byte-order mark, or UTF-16
// with one (what Windows PowerShell writes by default); blanks around a name, empty lines and
// lines starting with '#' are passed over.
#pragma once
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

// The names in file order, each once (letter case of A-Z ignored). False with problem set
// when the file cannot be read.
bool ReadMachineList(const std::filesystem::path& path, std::vector<std::string>& names,
                     std::string& problem);

// The same from the file's bytes.
std::vector<std::string> ParseMachineList(std::string_view bytes);
