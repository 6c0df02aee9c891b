// The index format, bytes <-> QuarItem: exact form, limits, encodings, hostile input. Also built
// by the host tests (32-bit wchar_t), so both builds read and write alike.
#include "platform/Utf8.h"
#include "quarantine/IndexFileFormat.h"
#include "quarantine/IndexFileGuard.h"
#include "tests/quarantine/IndexSamples.h"
#include <gtest/gtest.h>

namespace {

const std::string kSmile = "\xF0\x9F\x98\x80"; // U+1F600: two UTF-16 units, one host wchar_t

bool Reads(const std::string& bytes)
{
    QuarItem item;
    return ReadIndexBytes(bytes, item);
}

// What an index text reads as, written again; empty when it does not read.
std::string Rewritten(const std::string& bytes)
{
    QuarItem item;
    std::string out;
    return ReadIndexBytes(bytes, item) && WriteIndexBytes(item, out) ? out : std::string();
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

// Escapes, a non-BMP character, absent/empty/present optional strings, numbers at their edges.
const std::string kRichFile =
    "\xEF\xBB\xBF<?xml version=\"1.0\" ?>\r\n<signature>\r\n"
    "    <original size=\"-9223372036854775808\" hash=\"0123ABCD\">\r\n"
    "        <file sec_str=\"AQ\xC3\xA9\" name=\"\xC3\xA9 &amp; &lt;n&gt;" + kSmile +
    "\" path=\"C:\\o&apos;neil\" attr=\"2147485728\" crt=\"9223372036854775807\" lat=\"-1\""
    " lwt=\"7\" dtime=\"0\" sender=\"\" subject='say &quot;hi&quot;&#x09;now' />\r\n"
    "        <file sec_str=\"\" name=\"b.bin\" path=\"D:\\\" attr=\"0\" crt=\"0\" lat=\"0\""
    " lwt=\"0\" dtime=\"0\" />\r\n    </original>\r\n    <quar qname=\"A1.cvq\" qhash=\"FEDC\" />\r\n"
    "    <data dvirus=\"trojan.fakealert.5\" dflags=\"-2147483648\" />\r\n</signature>\r\n";

} // namespace

// Written back byte for byte from UTF-8, UTF-16 of either order, LF or CR ends; comments and
// unknown markup read past; every byte value of sec_str survives.
TEST(IndexFormat, WritesTheExactFormAndReadsItBack)
{
    EXPECT_EQ(Rewritten(kRichFile), kRichFile);
    auto lineEnds = [](const std::string& text, const char* end) {
        std::string out;
        for (char c : text)
            out += c == '\n' ? std::string(end) : c == '\r' ? std::string() : std::string(1, c);
        return out;
    };
    std::string lf = With(lineEnds(kRichFile, "\n"), "<signature>", "<signature><!-- c --><x a='1'>t</x>");
    lf = With(lf, "    </original>", "<![CDATA[<file name=\"no\"/>]]></original>");
    const std::string noBom = kRichFile.substr(3);
    for (const std::string& form : {Utf16(noBom), Utf16(noBom, true), lf})
        EXPECT_EQ(Rewritten(form), kRichFile);
    EXPECT_EQ(Rewritten(lineEnds(kSampleIndex, "\r")), Rewritten(kSampleIndex));
    EXPECT_FALSE(Reads(Utf16(noBom).substr(2))); // UTF-16 without its mark
    EXPECT_FALSE(Reads(Utf16(noBom) + "\n"));    // cut inside a character

    QuarItem item, loaded;
    std::string bytes;
    ASSERT_TRUE(ReadIndexBytes(kRichFile, item));
    item.m_Files[0].sec_str = std::vector<uint8_t>();
    for (int b = 1; b <= 256; ++b)
        item.m_Files[0].sec_str->push_back(static_cast<uint8_t>(b)); // 1..255, then the NUL
    loaded.m_nSelected = 5; // a stale selection must not survive the read
    ASSERT_TRUE(WriteIndexBytes(item, bytes) && ReadIndexBytes(bytes, loaded));
    EXPECT_EQ(loaded.m_nSelected, -1);
    EXPECT_EQ(loaded.m_Files[0].sec_str, item.m_Files[0].sec_str);
    EXPECT_EQ(loaded.m_Files[1].sec_str, std::vector<uint8_t>{0}); // written empty
}

// One change each and the attribute written back ("": refused). Limits count UTF-16 units;
// numbers read as msvcrt's scanf; broken characters become U+FFFD.
TEST(IndexFormat, LimitsNumbersCharactersAndRequiredParts)
{
    const std::string n259(259, 'n'), r = "\xEF\xBF\xBD", smiles = Repeat(kSmile, 129);
    struct Case
    {
        std::string from, to, written;
    };
    const Case cases[] = {
        {"a.txt", n259, "name=\"" + n259 + "\""},
        {"a.txt", n259 + "n", ""},
        {"a.txt", smiles + "a", "name=\"" + smiles + "a\""},
        {"a.txt", smiles + kSmile, ""},
        {"a.txt", "a\xC0\x80" "b", "name=\"a" + r + "b\""},
        {"a.txt", "&#xD800;&#x110000;", "name=\"" + r + r + "\""},
        {"a.txt", "&#x1F600;&#128512;", "name=\"" + kSmile + kSmile + "\""},
        {"\"1234\"", "\"12abc\"", "size=\"12\""},
        {"\"1234\"", "\" \t-5\"", "size=\"-5\""},
        {"\"1234\"", "\"0x10\"", "size=\"0\""},
        {"\"1234\"", "\"" + std::string(258, '0') + "7\"", "size=\"7\""},
        {"\"1234\"", "\"" + std::string(259, '0') + "7\"", ""},
        {"\"1234\"", "\"-\"", ""},
        {"attr=\"32\"", "attr=\"-1\"", "attr=\"4294967295\""},
        {"attr=\"32\"", "attr=\"z7\"", ""},
        {"lat=\"2\"", "lat=\"-2\"", "lat=\"-2\""},
        {" name=", " Name=", ""}, // names are case-sensitive
    };
    for (const Case& c : cases) {
        const std::string written = Rewritten(With(kSampleIndex, c.from, c.to));
        EXPECT_EQ(written.empty(), c.written.empty()) << c.to.substr(0, 16);
        if (!c.written.empty()) {
            EXPECT_NE(written.find(" " + c.written), std::string::npos) << c.written;
        }
    }
    for (const char* part : {" size=\"1234\"", " hash=\"H1\"", " sec_str=\"QUJD\"", " name=\"a.txt\"",
                             " path=\"C:\\dir\"", " attr=\"32\"", " crt=\"1\"", " lat=\"2\"",
                             " lwt=\"3\"", " dtime=\"4\"", " qname=\"q1\"", " qhash=\"Q1\"", " dflags=\"8\"",
                             " dvirus=\"trojan.fakealert.5\"", "<quar", "<data"})
        EXPECT_FALSE(Reads(With(kSampleIndex, part, part[0] == '<' ? part + std::string("x") : "")))
            << part;
}

// Every cut is refused; so is nesting, attribute or node counts the parser would choke on,
// markup hidden in values and comments included.
TEST(IndexFormat, CutsAndHostileMarkupAreRefused)
{
    const size_t closed = kRichFile.rfind('>') + 1;
    for (size_t n = 0; n < closed; ++n)
        ASSERT_FALSE(Reads(kRichFile.substr(0, n))) << n;
    EXPECT_TRUE(Reads(kRichFile.substr(0, closed)));

    auto inside = [](const std::string& more) {
        return With(kSampleIndex, "<signature>\n", "<signature>\n" + more);
    };
    auto nested = [](int levels) { return Repeat("<x>", levels) + Repeat("</x>", levels); };
    auto element = [](size_t attributes) {
        std::string e = "<x";
        for (size_t i = 0; i < attributes; ++i)
            e += " a" + std::to_string(i) + "=''";
        return e + "/>";
    };
    const std::string hiding = "<x a='</x></x>' b=\"/>\"><!-- </x> --><![CDATA[</x>]]>";
    EXPECT_TRUE(Reads(inside(hiding + nested(kIndexMaxDepth - 2) + "</x>")));
    EXPECT_FALSE(Reads(inside(hiding + nested(kIndexMaxDepth - 1) + "</x>")));
    EXPECT_FALSE(Reads(Repeat("<x>", 1000000)));
    EXPECT_FALSE(Reads(With(kSampleIndex, "a.txt", "&#x\"/></x>x41;")));
    EXPECT_TRUE(Reads(inside(element(kIndexMaxTagAttributes))));
    EXPECT_FALSE(Reads(inside(element(kIndexMaxTagAttributes + 1))));
    EXPECT_FALSE(Reads(inside(Repeat("<y/>", kIndexMaxNodes))));
}
