// A valid index text and helpers to vary it, shared by the index tests.
#pragma once
#include "quarantine/QuarItem.h"
#include <string>

// One location; every required attribute present, no optional one.
const std::string kSampleIndex =
    "<?xml version=\"1.0\" ?>\n<signature>\n    <original size=\"1234\" hash=\"H1\">\n"
    "        <file sec_str=\"QUJD\" name=\"a.txt\" path=\"C:\\dir\" attr=\"32\" crt=\"1\""
    " lat=\"2\" lwt=\"3\" dtime=\"4\" />\n    </original>\n    <quar qname=\"q1\" qhash=\"Q1\" />\n"
    "    <data dvirus=\"trojan.fakealert.5\" dflags=\"8\" />\n</signature>\n";

// text with its first occurrence of from (which must occur) replaced by to.
inline std::string With(std::string text, const std::string& from, const std::string& to)
{
    return text.replace(text.find(from), from.size(), to);
}

inline std::string Repeat(const std::string& s, size_t n)
{
    std::string out;
    while (n--)
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
