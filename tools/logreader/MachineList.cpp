// Reading the list of expected machines.
#include "tools/logreader/MachineList.h"
#include "tools/logreader/LogFiles.h"
#include <fstream>
#include <iterator>
#include <sstream>
#include <unordered_set>

namespace {

void AppendUtf8(std::string& out, unsigned long code)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | code >> 6);
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | code >> 12);
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | code >> 18);
        out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// UTF-16 after its byte-order mark, in the order the mark gives, to UTF-8.
std::string Utf16ToUtf8(std::string_view bytes, bool bigEndian)
{
    std::string out;
    auto unit = [&](size_t i) {
        unsigned char a = static_cast<unsigned char>(bytes[i]);
        unsigned char b = static_cast<unsigned char>(bytes[i + 1]);
        return bigEndian ? (a << 8 | b) : (b << 8 | a);
    };
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
        unsigned long code = unit(i);
        if (code >= 0xD800 && code < 0xDC00 && i + 3 < bytes.size()) {
            unsigned long low = unit(i + 2);
            if (low >= 0xDC00 && low < 0xE000) {
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
                i += 2;
            }
        }
        AppendUtf8(out, code);
    }
    return out;
}

std::string_view Trim(std::string_view text)
{
    size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return {};
    size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

} // namespace

std::vector<std::string> ParseMachineList(std::string_view bytes)
{
    std::string text;
    if (bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 2) == "\xFE\xFF")
        text = Utf16ToUtf8(bytes, bytes[0] == '\xFE');
    else
        text = bytes.substr(0, 3) == "\xEF\xBB\xBF" ? bytes.substr(3) : bytes;
    std::vector<std::string> names;
    std::unordered_set<std::string> seen;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::string name(Trim(line));
        if (name.empty() || name[0] == '#')
            continue;
        if (seen.insert(MachineKey(name)).second)
            names.push_back(name);
    }
    return names;
}

bool ReadMachineList(const std::filesystem::path& path, std::vector<std::string>& names,
                     std::string& problem)
{
    std::ifstream file(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (!file.is_open() || file.bad()) {
        problem = "cannot read the machine list " + PathText(path);
        return false;
    }
    names = ParseMachineList(bytes);
    return true;
}
