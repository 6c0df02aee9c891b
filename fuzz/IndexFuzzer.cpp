// Fuzzes index loading the way LoadXml and SaveXml do it, without the file: any bytes
// either fail to read or give an item that saves, reads back equal and saves to the very
// same bytes again. Besides, wherever the walk before parsing lets a text through, the
// tree TinyXML builds from it (even when it stops with an error) keeps to the walk's
// bounds: the walk exists so that TinyXML's recursion and its attribute checks stay small.
//
// Two things the format itself does not carry through a save, so they are only required
// not to crash: a text holding "&#x" (the writer copies such a reference unescaped, and
// the next read decodes or refuses it), and a sec_str with a NUL byte before its end (a
// character whose low eight bits are 0; the writer stops at the first NUL).
#include "fuzz/FuzzCheck.h"
#include "quarantine/IndexFileFormat.h"
#include "quarantine/IndexFileGuard.h"
#include "quarantine/IndexFileText.h"
#include "quarantine/QuarItem.h"
#include "tinyxml.h"
#include <algorithm>
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

struct CTreeSize
{
    int depth = 0;            // deepest element nesting
    size_t nodes = 0;         // nodes of every kind
    size_t tagAttributes = 0; // most attributes on one element
};

void Measure(const TiXmlNode* node, int depth, CTreeSize& size)
{
    for (const TiXmlNode* child = node->FirstChild(); child; child = child->NextSibling()) {
        ++size.nodes;
        const TiXmlElement* e = child->ToElement();
        if (!e)
            continue;
        size.depth = std::max(size.depth, depth + 1);
        size_t attributes = 0;
        for (const TiXmlAttribute* a = e->FirstAttribute(); a; a = a->Next())
            ++attributes;
        size.tagAttributes = std::max(size.tagAttributes, attributes);
        Measure(child, depth + 1, size);
    }
}

void CheckGuard(const std::string& bytes)
{
    std::string text;
    if (!DecodeIndexBytes(bytes, text) || !IndexTextIsTame(text))
        return;
    TiXmlDocument doc;
    doc.Parse(text.c_str(), /*prevData=*/nullptr, TIXML_ENCODING_UTF8);
    CTreeSize size;
    Measure(&doc, 0, size);
    // An element cut off by the end of the text or by an error is built one level deeper
    // than the walk counts open elements; TinyXML gives up right there.
    int depthBound = kIndexMaxDepth + (doc.Error() ? 1 : 0);
    FuzzCheck(size.depth <= depthBound, "a tame text nests no deeper than the bound");
    FuzzCheck(size.nodes <= kIndexMaxNodes, "a tame text has no more nodes than the bound");
    FuzzCheck(size.tagAttributes <= kIndexMaxTagAttributes,
              "a tame text has no element with more attributes than the bound");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    CheckGuard(bytes);
    QuarItem item;
    if (!ReadIndexBytes(bytes, item))
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
