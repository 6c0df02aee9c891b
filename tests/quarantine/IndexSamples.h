// A valid index text and small helpers to vary it, shared by the index file tests.
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

inline QuarFileEntry MakeLocation(const wchar_t* name, const wchar_t* path)
{
    QuarFileEntry entry;
    wcsncpy(entry.name, name, QuarFileEntry::kNameChars - 1);
    wcsncpy(entry.path, path, QuarFileEntry::kNameChars - 1);
    return entry;
}
