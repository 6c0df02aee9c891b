// A valid index text and small helpers to vary it, shared by the index and location tests.
#pragma once
#include "quarantine/QuarItem.h"
#include <string>

// One location; every required attribute present, no optional one.
const std::string kSampleIndex =
    "<?xml version=\"1.0\" ?>\n"
    "<signature>\n"
    "    <original size=\"1234\" hash=\"H1\">\n"
    "        <file sec_str=\"QUJD\" name=\"a.txt\" path=\"C:\\dir\" attr=\"32\" crt=\"1\""
    " lat=\"2\" lwt=\"3\" dtime=\"4\" />\n"
    "    </original>\n"
    "    <quar qname=\"q1\" qhash=\"Q1\" />\n"
    "    <data dvirus=\"trojan.fakealert.5\" dflags=\"8\" />\n"
    "</signature>\n";

// text with its first occurrence of from replaced by to (from must occur).
inline std::string With(std::string text, const std::string& from, const std::string& to)
{
    size_t at = text.find(from);
    if (at != std::string::npos)
        text.replace(at, from.size(), to);
    return text;
}

inline std::string Repeat(const std::string& s, size_t n)
{
    std::string out;
    out.reserve(s.size() * n);
    for (size_t i = 0; i < n; ++i)
        out += s;
    return out;
}

inline QuarFileEntry MakeLocation(const std::wstring& name, const std::wstring& path)
{
    QuarFileEntry entry;
    name.copy(entry.name, QuarFileEntry::kNameChars - 1);
    path.copy(entry.path, QuarFileEntry::kNameChars - 1);
    return entry;
}
