// The index format, bytes <-> QuarItem: the exact written form, what reads back, the limits
// of each attribute, encodings and line ends, broken characters and hostile input. Built
// into the Windows tests and into the host tests (ASan/UBSan, wchar_t 32 bits wide), so the
// same cases show that both builds read and write the same bytes.
#include "platform/Utf8.h"
#include "quarantine/IndexFileFormat.h"
#include "quarantine/IndexFileGuard.h"
#include "tests/quarantine/IndexSamples.h"
#include <gtest/gtest.h>
#include <climits>
#include <cwchar>

namespace {

const std::string kSmile = "\xF0\x9F\x98\x80"; // U+1F600: two UTF-16 units, one host wchar_t

bool Reads(const std::string& bytes)
{
    QuarItem item;
    return ReadIndexBytes(bytes, item);
}

std::string Written(const QuarItem& item)
{
    std::string bytes;
    EXPECT_TRUE(WriteIndexBytes(item, bytes));
    return bytes;
}

// What an index text reads as, written again; empty when it does not read.
std::string Rewritten(const std::string& bytes)
{
    QuarItem item;
    return ReadIndexBytes(bytes, item) ? Written(item) : std::string();
}

// A UTF-8 text as UTF-16 with its byte order mark.
std::string Utf16(const std::string& utf8, bool bigEndian = false)
{
    std::string out;
    for (char16_t u : u"\xFEFF" + Utf8ToUtf16(utf8.data(), utf8.size())) {
        char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
        out += bigEndian ? std::string{hi, lo} : std::string{lo, hi};
    }
    return out;
}

// Escapes, a character beyond the BMP, absent, empty and present optional strings, and
// numbers at the edges of their types.
QuarItem RichItem()
{
    QuarItem item;
    item.size = INT64_MIN;
    item.hash = L"0123ABCD";
    wcscpy(item.qname, L"A1.cvq");
    item.qhash = L"FEDC";
    wcscpy(item.dvirus, L"trojan.fakealert.5");
    item.dflags = INT_MIN;
    QuarFileEntry first =
        MakeLocation(Utf8ToWide("r\xC3\xA9sum\xC3\xA9 & <notes>" + kSmile), L"C:\\o'neil");
    first.sec_str = std::vector<uint8_t>{'A', 'Q', 0xE9, 0};
    first.attr = 0x80000820;
    first.crt = INT64_MAX;
    first.lat = -1;
    first.dtime = 42;
    first.sender = L"";
    first.subject = L"say \"hi\"\tnow";
    first.mailfname = L"&#x41;"; // a reference the format copies through unescaped
    item.m_Files = {first, MakeLocation(L"b.bin", L"D:\\")};
    item.m_Files[1].receiver = L"r";
    return item;
}

const std::string kRichFile =
    "\xEF\xBB\xBF<?xml version=\"1.0\" ?>\r\n"
    "<signature>\r\n"
    "    <original size=\"-9223372036854775808\" hash=\"0123ABCD\">\r\n"
    "        <file sec_str=\"AQ\xC3\xA9\" name=\"r\xC3\xA9sum\xC3\xA9 &amp; &lt;notes&gt;" +
    kSmile +
    "\" path=\"C:\\o&apos;neil\" attr=\"2147485728\" crt=\"9223372036854775807\""
    " lat=\"-1\" lwt=\"0\" dtime=\"42\" sender=\"\" subject='say &quot;hi&quot;&#x09;now'"
    " mailfname=\"&#x41;\" />\r\n"
    "        <file sec_str=\"\" name=\"b.bin\" path=\"D:\\\" attr=\"0\" crt=\"0\" lat=\"0\""
    " lwt=\"0\" dtime=\"0\" receiver=\"r\" />\r\n"
    "    </original>\r\n"
    "    <quar qname=\"A1.cvq\" qhash=\"FEDC\" />\r\n"
    "    <data dvirus=\"trojan.fakealert.5\" dflags=\"-2147483648\" />\r\n"
    "</signature>\r\n";

} // namespace

TEST(IndexFormat, WritesTheExactForm)
{
    EXPECT_EQ(Written(RichItem()), kRichFile);
    EXPECT_EQ(Written(QuarItem()), "\xEF\xBB\xBF<?xml version=\"1.0\" ?>\r\n"
                                   "<signature>\r\n"
                                   "    <original size=\"0\" />\r\n"
                                   "    <quar qname=\"\" />\r\n"
                                   "    <data dvirus=\"\" dflags=\"0\" />\r\n"
                                   "</signature>\r\n");
}

// The writer is pinned above, so a file that reads and writes back to the same bytes was
// read field by field; also from UTF-16 in either byte order, and with every byte value in
// sec_str (written as characters U+0001..U+00FF).
TEST(IndexFormat, WhatIsWrittenReadsBackWhole)
{
    const std::string rich = With(kRichFile, "&#x41;", "plain"); // a reference reads decoded
    for (const std::string& form : {rich, Utf16(rich.substr(3)), Utf16(rich.substr(3), true)})
        EXPECT_EQ(Rewritten(form), rich);
    QuarItem item = RichItem();
    item.m_Files[0].sec_str = std::vector<uint8_t>();
    for (int b = 1; b <= 256; ++b)
        item.m_Files[0].sec_str->push_back(static_cast<uint8_t>(b)); // 1..255, then the NUL
    QuarItem loaded;
    loaded.m_nSelected = 5; // a stale selection must not survive the read
    ASSERT_TRUE(ReadIndexBytes(Written(item), loaded));
    EXPECT_EQ(loaded.m_nSelected, -1);
    EXPECT_EQ(loaded.m_Files[0].sec_str, item.m_Files[0].sec_str);
    EXPECT_EQ(loaded.m_Files[0].sec_str_len, 256);
    EXPECT_EQ(loaded.m_Files[1].sec_str, std::vector<uint8_t>{0}); // written empty
}

// One change to the sample each, and the attribute as it is written back ("" where the
// file must not read). Limits count UTF-16 units whatever the width of wchar_t; numbers
// read as msvcrt's scanf reads them.
TEST(IndexFormat, LimitsNumbersAndRequiredParts)
{
    const std::string e = "\xC3\xA9", n259(259, 'n');
    struct Case
    {
        std::string from, to, written;
    };
    const Case cases[] = {
        {"a.txt", n259, "name=\"" + n259 + "\""},
        {"a.txt", n259 + "n", ""},
        {"a.txt", Repeat(e, 259), "name=\"" + Repeat(e, 259) + "\""},
        {"a.txt", Repeat(kSmile, 129) + "a", "name=\"" + Repeat(kSmile, 129) + "a\""},
        {"a.txt", Repeat(kSmile, 130), ""},
        {"C:\\dir", Repeat(kSmile, 129) + "p", "path=\"" + Repeat(kSmile, 129) + "p\""},
        {"C:\\dir", "p" + Repeat(kSmile, 130), ""},
        {"\"q1\"", "\"" + Repeat(kSmile, 129) + "q\"", "qname=\"" + Repeat(kSmile, 129) + "q\""},
        {"\"q1\"", "\"" + n259 + "q\"", ""},
        {"trojan.fakealert.5", Repeat(kSmile, 127) + "v",
         "dvirus=\"" + Repeat(kSmile, 127) + "v\""},
        {"trojan.fakealert.5", Repeat(kSmile, 128), ""},
        {"H1", std::string(5000, 'h'), "hash=\"" + std::string(5000, 'h') + "\""},
        {"\"1234\"", "\"12abc\"", "size=\"12\""},
        {"\"1234\"", "\" \t-5\"", "size=\"-5\""},
        {"\"1234\"", "\"+7\"", "size=\"7\""},
        {"\"1234\"", "\"0x10\"", "size=\"0\""},
        {"\"1234\"", "\"" + std::string(258, '0') + "7\"", "size=\"7\""},
        {"\"1234\"", "\"" + std::string(259, '0') + "7\"", ""},
        {"\"1234\"", "\"\"", ""},
        {"\"1234\"", "\"-\"", ""},
        {"attr=\"32\"", "attr=\"-1\"", "attr=\"4294967295\""},
        {"attr=\"32\"", "attr=\"7z\"", "attr=\"7\""},
        {"attr=\"32\"", "attr=\"z7\"", ""},
        {"lat=\"2\"", "lat=\"-2\"", "lat=\"-2\""},
        {"lwt=\"3\"", "lwt=\"x1\"", ""},
        {"crt=\"1\"", "crt=\"" + std::string(260, '1') + "\"", ""},
        {"dflags=\"8\"", "dflags=\"12x\"", "dflags=\"12\""},
        {"dflags=\"8\"", "dflags=\"x\"", ""},
        {" name=", " Name=", ""},                             // names are case-sensitive
        {"<signature>\n", "<signature/>\n<signature>\n", ""}, // only the first counts
    };
    for (const Case& c : cases) {
        const std::string written = Rewritten(With(kSampleIndex, c.from, c.to));
        if (c.written.empty()) {
            EXPECT_EQ(written, "") << c.to.substr(0, 16);
        } else {
            EXPECT_NE(written.find(" " + c.written), std::string::npos) << c.to.substr(0, 16);
        }
    }
    for (const char* attr : {" size=\"1234\"", " hash=\"H1\"", " sec_str=\"QUJD\"",
                             " name=\"a.txt\"", " path=\"C:\\dir\"", " attr=\"32\"", " crt=\"1\"",
                             " lat=\"2\"", " lwt=\"3\"", " dtime=\"4\"", " qname=\"q1\"",
                             " qhash=\"Q1\"", " dvirus=\"trojan.fakealert.5\"", " dflags=\"8\""})
        EXPECT_FALSE(Reads(With(kSampleIndex, attr, ""))) << attr;
    for (std::string element : {"signature", "original", "quar", "data"})
        EXPECT_FALSE(Reads(With(With(kSampleIndex, "<" + element, "<x" + element), "</" + element,
                                "</x" + element)))
            << element;
}

// Line ends and encodings read alike; comments, unknown elements and the like are read
// past and not written again.
TEST(IndexFormat, EncodingsLineEndsAndUnknownMarkupReadAlike)
{
    const std::string lf = With(kSampleIndex, "dtime=\"4\"", "dtime=\"4\" subject=\"one\ntwo\"");
    auto lineEnds = [](const std::string& text, const std::string& end) {
        std::string out;
        for (char c : text)
            out += c == '\n' ? end : std::string(1, c);
        return out;
    };
    const std::string crlf = lineEnds(lf, "\r\n"), reference = Rewritten(lf);
    EXPECT_NE(reference.find("subject=\"one&#x0A;two\""), std::string::npos);
    for (const std::string& bytes : {"\xEF\xBB\xBF" + crlf, lineEnds(lf, "\r"), Utf16(crlf),
                                     Utf16(lf, true)})
        EXPECT_EQ(Rewritten(bytes), reference);
    EXPECT_FALSE(Reads(Utf16(lf).substr(2))); // UTF-16 without its mark
    EXPECT_FALSE(Reads(Utf16(lf) + "\n"));    // cut inside a character

    std::string extras = With(lf, "<signature>\n",
                              "<!DOCTYPE signature>\n<signature>\n<!-- no -->\n<extra a=\"1\">"
                              "<deeper/>text</extra>\n<?pi x?>\n");
    extras =
        With(extras, "    </original>", "<unknown/><![CDATA[<file name=\"no\"/>]]></original>");
    EXPECT_EQ(Rewritten(extras), reference);
    EXPECT_NE(Rewritten(With(kSampleIndex, "<file ", "<!-- gone --><nofile "))
                  .find("\r\n    <original size=\"1234\" hash=\"H1\" />\r\n"),
              std::string::npos);
}

// Broken UTF-8, surrogates and references beyond Unicode become U+FFFD, so what is written
// again is valid UTF-8; sec_str keeps the low eight bits of each UTF-16 unit.
TEST(IndexFormat, BrokenCharactersAreReplacedAndSecurityBytesAreUnitLowBits)
{
    const std::string r = "\xEF\xBF\xBD";
    const std::pair<std::string, std::string> cases[] = {
        {"a\xC0\x80" "b", "a" + r + "b"}, {"\xED\xA0\x80", r},   {"x\xF0\x9F\x98", "x" + r},
        {"&#xD800;", r},                  {"&#x110000;", r},     {"a&#x200000;b", "ab"},
        {"&#x1F600;&#128512;", kSmile + kSmile},
    };
    for (const auto& c : cases) {
        const std::string once = Rewritten(With(kSampleIndex, "a.txt", c.first));
        EXPECT_NE(once.find("name=\"" + c.second + "\""), std::string::npos) << c.second;
        EXPECT_EQ(Rewritten(once), once);
    }
    // A lone surrogate in a UTF-16 file.
    std::string utf16 = Utf16(With(kSampleIndex, "a.txt", "a#b"));
    utf16.replace(utf16.find(std::string("#\0", 2)), 2, std::string("\0\xD8", 2));
    EXPECT_NE(Rewritten(utf16).find("name=\"a" + r + "b\""), std::string::npos);

    // U+1F600 is D83D DE00: bytes 0x3D and 0x00; U+0141 gives 0x41, U+00E9 0xE9.
    QuarItem item;
    ASSERT_TRUE(ReadIndexBytes(With(kSampleIndex, "QUJD", kSmile + "\xC5\x81\xC3\xA9" "B"), item));
    EXPECT_EQ(item.m_Files[0].sec_str, (std::vector<uint8_t>{0x3D, 0x00, 0x41, 0xE9, 'B', 0}));
    EXPECT_EQ(item.m_Files[0].sec_str_len, 6);
}

// Every cut of a written file is refused, in UTF-8 and in UTF-16. TinyXML recurses per level
// and checks each attribute against all earlier ones: the walk before parsing refuses what
// would overflow the stack or take minutes.
TEST(IndexFormat, CutsAndHostileMarkupAreRefused)
{
    const std::string whole = Written(RichItem()), utf16 = Utf16(whole.substr(3));
    const size_t closed = whole.rfind("</signature>") + std::string("</signature>").size();
    for (size_t n = 0; n < closed; ++n)
        ASSERT_FALSE(Reads(whole.substr(0, n))) << n;
    for (size_t n = 0; n < utf16.size() - 4; ++n) // up to the final CR LF
        ASSERT_FALSE(Reads(utf16.substr(0, n))) << n;
    EXPECT_TRUE(Reads(whole.substr(0, closed)));

    auto inside = [](const std::string& more) {
        return With(kSampleIndex, "<signature>\n", "<signature>\n" + more);
    };
    auto nested = [](int levels) { return Repeat("<x>", levels) + Repeat("</x>", levels) + "\n"; };
    auto element = [](size_t attributes) {
        std::string e = "<x";
        for (size_t i = 0; i < attributes; ++i)
            e += " a" + std::to_string(i) + "=''";
        return e + "/>\n";
    };
    // The signature is one level; kIndexMaxDepth - 1 more still reads.
    EXPECT_TRUE(Reads(inside(nested(kIndexMaxDepth - 1))));
    EXPECT_FALSE(Reads(inside(nested(kIndexMaxDepth))));
    EXPECT_FALSE(Reads(inside(nested(100000))));
    EXPECT_FALSE(Reads(Repeat("<x>", 1000000)));
    // Markup hidden in values, comments or sections neither opens nor closes elements.
    const std::string hiding = "<x a='</x></x>' b=\"/>\"><!-- </x> --><![CDATA[</x>]]>";
    EXPECT_TRUE(Reads(inside(hiding + nested(kIndexMaxDepth - 2) + "</x>")));
    EXPECT_FALSE(Reads(inside(hiding + nested(kIndexMaxDepth - 1) + "</x>")));
    // An unfinished reference could carry markup past the walk.
    EXPECT_FALSE(Reads(With(kSampleIndex, "a.txt", "&#x\"/></x>x41;")));
    EXPECT_FALSE(Reads(With(kSampleIndex, "a.txt", "a&#65")));
    EXPECT_TRUE(Reads(inside(element(kIndexMaxTagAttributes))));
    EXPECT_FALSE(Reads(inside(element(kIndexMaxTagAttributes + 1))));
    EXPECT_FALSE(Reads(inside(element(100000))));
    EXPECT_FALSE(Reads(inside(Repeat("<y/>", kIndexMaxNodes))));
}
