// Index file bytes <-> QuarItem (see IndexFileFormat.h). TinyXML parses and builds the
// document; it is a UTF-8 build, so every text is converted at this boundary.
#include "quarantine/IndexFileFormat.h"
#include "platform/Utf8.h"
#include "quarantine/FixedText.h"
#include "quarantine/IndexFileGuard.h"
#include "quarantine/IndexFilePrinter.h"
#include "quarantine/IndexFileText.h"
#include "tinyxml.h"
#include <cstring>
#include <memory>
#include <new>

namespace {

// The record's limits count UTF-16 units, whatever the width of wchar_t.
std::u16string Units(const char* utf8)
{
    return Utf8ToUtf16(utf8, std::strlen(utf8));
}

std::wstring Wide(const std::u16string& units)
{
    if (sizeof(wchar_t) == sizeof(char16_t))
        return std::wstring(units.begin(), units.end());
    return Utf8ToWide(Utf16ToUtf8(units.data(), units.size()));
}

template <size_t N>
bool ReadFixed(const TiXmlElement* e, const char* name, size_t maxChars, wchar_t (&dst)[N])
{
    const char* value = e->Attribute(name);
    if (!value)
        return false;
    std::u16string units = Units(value);
    if (units.size() > maxChars)
        return false;
    CopyFixed(dst, Wide(units));
    return true;
}

std::optional<std::wstring> ReadOwned(const TiXmlElement* e, const char* name)
{
    const char* value = e->Attribute(name);
    if (!value)
        return std::nullopt;
    return Wide(Units(value));
}

// As msvcrt's scanf reads "%lld" and "%u": white space skipped, one sign, then digits up
// to the first other character, wrapping beyond 64 bits. False unless a digit comes.
bool ScanDecimal(const char* p, uint64_t& value)
{
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        ++p;
    bool negative = *p == '-';
    if (*p == '-' || *p == '+')
        ++p;
    if (*p < '0' || *p > '9')
        return false;
    uint64_t n = 0;
    for (; *p >= '0' && *p <= '9'; ++p)
        n = n * 10 + static_cast<uint64_t>(*p - '0');
    value = negative ? 0 - n : n;
    return true;
}

bool ReadNumber(const TiXmlElement* e, const char* name, uint64_t& value)
{
    const char* text = e->Attribute(name);
    return text && Units(text).size() <= kIndexMaxChars && ScanDecimal(text, value);
}

bool ReadInt64(const TiXmlElement* e, const char* name, int64_t& out)
{
    uint64_t value = 0;
    if (!ReadNumber(e, name, value))
        return false;
    out = static_cast<int64_t>(value); // two's complement, as scanf stores it
    return true;
}

bool ReadUInt32(const TiXmlElement* e, const char* name, uint32_t& out)
{
    uint64_t value = 0;
    if (!ReadNumber(e, name, value))
        return false;
    out = static_cast<uint32_t>(value); // "%u" keeps the low 32 bits
    return true;
}

// One byte per character (its low eight bits), then the NUL.
void ReadSecurity(const char* text, QuarFileEntry& entry)
{
    std::u16string units = Units(text);
    std::vector<uint8_t> bytes;
    bytes.reserve(units.size() + 1);
    for (char16_t unit : units)
        bytes.push_back(static_cast<uint8_t>(unit & 0xFF));
    bytes.push_back(0);
    // The file is at most 64 MiB, so the count fits.
    entry.sec_str_len = static_cast<int32_t>(bytes.size());
    entry.sec_str = std::move(bytes);
}

bool ReadLocation(const TiXmlElement* e, QuarFileEntry& entry)
{
    const char* security = e->Attribute("sec_str");
    if (!security)
        return false;
    ReadSecurity(security, entry);
    if (!ReadFixed(e, "name", kIndexMaxChars, entry.name) ||
        !ReadFixed(e, "path", kIndexMaxChars, entry.path))
        return false;
    if (!ReadUInt32(e, "attr", entry.attr) || !ReadInt64(e, "crt", entry.crt) ||
        !ReadInt64(e, "lat", entry.lat) || !ReadInt64(e, "lwt", entry.lwt) ||
        !ReadInt64(e, "dtime", entry.dtime))
        return false;
    entry.sender = ReadOwned(e, "sender");
    entry.receiver = ReadOwned(e, "receiver");
    entry.subject = ReadOwned(e, "subject");
    entry.mailfname = ReadOwned(e, "mailfname");
    return true;
}

bool ReadOriginal(const TiXmlElement* original, QuarItem& item)
{
    if (!ReadInt64(original, "size", item.size))
        return false;
    std::optional<std::wstring> hash = ReadOwned(original, "hash");
    if (!hash)
        return false;
    item.hash = std::move(hash);
    for (const TiXmlElement* f = original->FirstChildElement("file"); f;
         f = f->NextSiblingElement("file")) {
        QuarFileEntry entry;
        if (!ReadLocation(f, entry))
            return false;
        item.m_Files.push_back(std::move(entry));
    }
    return true;
}

bool ReadSignature(const TiXmlDocument& doc, QuarItem& item)
{
    const TiXmlElement* signature = doc.FirstChildElement("signature");
    if (!signature)
        return false;
    const TiXmlElement* original = signature->FirstChildElement("original");
    if (!original || !ReadOriginal(original, item))
        return false;
    const TiXmlElement* quar = signature->FirstChildElement("quar");
    if (!quar || !ReadFixed(quar, "qname", kIndexMaxChars, item.qname))
        return false;
    std::optional<std::wstring> qhash = ReadOwned(quar, "qhash");
    if (!qhash)
        return false;
    item.qhash = std::move(qhash);
    const TiXmlElement* data = signature->FirstChildElement("data");
    if (!data || !ReadFixed(data, "dvirus", kIndexMaxVirusChars, item.dvirus))
        return false;
    int flags = 0;
    if (data->QueryIntAttribute("dflags", &flags) != TIXML_SUCCESS)
        return false;
    item.dflags = flags;
    return true;
}

template <size_t N>
std::string Utf8Of(const wchar_t (&text)[N])
{
    return WideToUtf8(std::wstring(text, FixedLength(text)));
}

// Each stored byte as the character of that value, up to the terminating NUL.
std::string SecurityText(const QuarFileEntry& entry)
{
    std::string out;
    if (!entry.sec_str)
        return out;
    for (uint8_t b : *entry.sec_str) {
        if (b == 0)
            break;
        if (b < 0x80) {
            out += static_cast<char>(b);
        } else {
            out += static_cast<char>(0xC0 | (b >> 6));
            out += static_cast<char>(0x80 | (b & 0x3F));
        }
    }
    return out;
}

void SetOptional(TiXmlElement& e, const char* name, const std::optional<std::wstring>& value)
{
    if (value)
        e.SetAttribute(name, WideToUtf8(*value));
}

// TinyXML deletes a child it refuses.
bool Link(TiXmlNode& parent, std::unique_ptr<TiXmlNode> child)
{
    return parent.LinkEndChild(child.release()) != nullptr;
}

std::unique_ptr<TiXmlNode> LocationElement(const QuarFileEntry& f)
{
    auto e = std::make_unique<TiXmlElement>("file");
    e->SetAttribute("sec_str", SecurityText(f));
    e->SetAttribute("name", Utf8Of(f.name));
    e->SetAttribute("path", Utf8Of(f.path));
    e->SetAttribute("attr", std::to_string(f.attr));
    e->SetAttribute("crt", std::to_string(f.crt));
    e->SetAttribute("lat", std::to_string(f.lat));
    e->SetAttribute("lwt", std::to_string(f.lwt));
    e->SetAttribute("dtime", std::to_string(f.dtime));
    SetOptional(*e, "sender", f.sender);
    SetOptional(*e, "receiver", f.receiver);
    SetOptional(*e, "subject", f.subject);
    SetOptional(*e, "mailfname", f.mailfname);
    return e;
}

bool BuildDocument(const QuarItem& item, TiXmlDocument& doc)
{
    auto original = std::make_unique<TiXmlElement>("original");
    original->SetAttribute("size", std::to_string(item.size));
    SetOptional(*original, "hash", item.hash);
    for (const QuarFileEntry& f : item.m_Files)
        if (!Link(*original, LocationElement(f)))
            return false;
    auto quar = std::make_unique<TiXmlElement>("quar");
    quar->SetAttribute("qname", Utf8Of(item.qname));
    SetOptional(*quar, "qhash", item.qhash);
    auto data = std::make_unique<TiXmlElement>("data");
    data->SetAttribute("dvirus", Utf8Of(item.dvirus));
    data->SetAttribute("dflags", item.dflags);
    auto signature = std::make_unique<TiXmlElement>("signature");
    return Link(*signature, std::move(original)) && Link(*signature, std::move(quar)) &&
           Link(*signature, std::move(data)) &&
           Link(doc, std::make_unique<TiXmlDeclaration>("1.0", "", "")) &&
           Link(doc, std::move(signature));
}

// The file is written as the runtime's UTF-8 text mode would: every LF becomes CR LF.
std::string WithCrLf(const std::string& text)
{
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (char c : text) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

} // namespace

bool ReadIndexBytes(const std::string& bytes, QuarItem& item)
{
    item.m_Files.clear();
    item.m_nSelected = -1;
    try {
        std::string text;
        if (!DecodeIndexBytes(bytes, text) || !IndexTextIsTame(text))
            return false;
        TiXmlDocument doc;
        doc.Parse(text.c_str(), /*prevData=*/nullptr, TIXML_ENCODING_UTF8);
        return !doc.Error() && ReadSignature(doc, item);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool WriteIndexBytes(const QuarItem& item, std::string& bytes)
{
    try {
        TiXmlDocument doc;
        if (!BuildDocument(item, doc))
            return false;
        CIndexPrinter printer;
        doc.Accept(&printer);
        bytes = "\xEF\xBB\xBF" + WithCrLf(printer.Text());
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}
