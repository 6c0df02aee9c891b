// Fuzzes index loading the way LoadXml and SaveXml do it, without the file: any bytes
// either fail to read or give an item that saves, reads back equal and saves to the very
// same bytes again.
//
// Two things the format itself does not carry through a save, so they are only required
// not to crash: a text holding "&#x" (the writer copies such a reference unescaped, and
// the next read decodes or refuses it), and a sec_str with a NUL byte before its end (a
// character whose low eight bits are 0; the writer stops at the first NUL).
#include "fuzz/FuzzCheck.h"
#include "quarantine/IndexFileFormat.h"
#include "quarantine/QuarItem.h"
#include <cstring>
#include <cwchar>
#include <string>

namespace {

bool HasReference(const wchar_t* text)
{
    return std::wcsstr(text, L"&#x") != nullptr;
}

bool HasReference(const std::optional<std::wstring>& text)
{
    return text && HasReference(text->c_str());
}

// The bytes the writer will print, up to the first NUL.
bool SecurityIsPrintedWhole(const QuarFileEntry& f)
{
    if (!f.sec_str)
        return true;
    const std::vector<uint8_t>& bytes = *f.sec_str;
    size_t nul = 0;
    while (nul < bytes.size() && bytes[nul] != 0)
        ++nul;
    if (nul + 1 != bytes.size())
        return false;
    std::string printed(bytes.begin(), bytes.begin() + nul);
    return printed.find("&#x") == std::string::npos;
}

bool SavesFaithfully(const QuarItem& item)
{
    if (HasReference(item.hash) || HasReference(item.qname) || HasReference(item.qhash) ||
        HasReference(item.dvirus))
        return false;
    for (const QuarFileEntry& f : item.m_Files) {
        if (HasReference(f.name) || HasReference(f.path) || HasReference(f.sender) ||
            HasReference(f.receiver) || HasReference(f.subject) || HasReference(f.mailfname) ||
            !SecurityIsPrintedWhole(f))
            return false;
    }
    return true;
}

bool SameLocation(const QuarFileEntry& a, const QuarFileEntry& b)
{
    return std::wcscmp(a.name, b.name) == 0 && std::wcscmp(a.path, b.path) == 0 &&
           a.sender == b.sender && a.receiver == b.receiver && a.subject == b.subject &&
           a.mailfname == b.mailfname && a.attr == b.attr && a.crt == b.crt &&
           a.lat == b.lat && a.lwt == b.lwt && a.dtime == b.dtime && a.sec_str == b.sec_str &&
           a.sec_str_len == b.sec_str_len;
}

bool SameItem(const QuarItem& a, const QuarItem& b)
{
    if (a.size != b.size || a.hash != b.hash || std::wcscmp(a.qname, b.qname) != 0 ||
        a.qhash != b.qhash || std::wcscmp(a.dvirus, b.dvirus) != 0 || a.dflags != b.dflags ||
        a.m_Files.size() != b.m_Files.size())
        return false;
    for (size_t i = 0; i < a.m_Files.size(); ++i)
        if (!SameLocation(a.m_Files[i], b.m_Files[i]))
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QuarItem item;
    if (!ReadIndexBytes(std::string(reinterpret_cast<const char*>(data), size), item))
        return 0;
    std::string saved;
    FuzzCheck(WriteIndexBytes(item, saved), "a read item can be written");

    QuarItem again;
    bool reads = ReadIndexBytes(saved, again);
    if (!SavesFaithfully(item))
        return 0;
    FuzzCheck(reads, "a saved item reads back");
    FuzzCheck(SameItem(item, again), "a saved item reads back equal");
    std::string savedAgain;
    FuzzCheck(WriteIndexBytes(again, savedAgain) && savedAgain == saved,
              "a reread item saves to the same bytes");
    return 0;
}
