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
#include <random>

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

// A UTF-8 text as UTF-16 with its byte order mark.
std::string Utf16(const std::string& utf8, bool bigEndian = false)
{
    std::u16string units = u"\xFEFF" + Utf8ToUtf16(utf8.data(), utf8.size());
    std::string out;
    for (char16_t u : units) {
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
    item.size = 1234567890123;
    item.hash = L"0123ABCD";
    wcscpy(item.qname, L"A1.cvq");
    item.qhash = L"FEDC";
    wcscpy(item.dvirus, L"trojan.fakealert.5");
    item.dflags = 8;
    QuarFileEntry first =
        MakeLocation(Utf8ToWide("r\xC3\xA9sum\xC3\xA9 & <notes>" + kSmile + ".txt"), L"C:\\o'neil");
    first.sec_str = std::vector<uint8_t>{'A', 'Q', 0xE9, 0};
    first.sec_str_len = 4;
    first.attr = 0x80000820;
    first.crt = 130000000000000000;
    first.lat = -1;
    first.dtime = 42;
    first.sender = L"";
    first.subject = L"say \"hi\"\tnow";
    first.mailfname = L"&#x41;"; // a reference the format copies through unescaped
    item.m_Files.push_back(first);
    QuarFileEntry second = MakeLocation(L"b.bin", L"D:\\");
    second.receiver = L"r";
    second.dtime = INT64_MIN;
    item.m_Files.push_back(second);
    return item;
}

const std::string kRichFile =
    "\xEF\xBB\xBF<?xml version=\"1.0\" ?>\r\n"
    "<signature>\r\n"
    "    <original size=\"1234567890123\" hash=\"0123ABCD\">\r\n"
    "        <file sec_str=\"AQ\xC3\xA9\" name=\"r\xC3\xA9sum\xC3\xA9 &amp; &lt;notes&gt;" +
    kSmile + ".txt\" path=\"C:\\o&apos;neil\" attr=\"2147485728\" crt=\"130000000000000000\""
             " lat=\"-1\" lwt=\"0\" dtime=\"42\" sender=\"\" subject='say &quot;hi&quot;&#x09;now'"
             " mailfname=\"&#x41;\" />\r\n"
             "        <file sec_str=\"\" name=\"b.bin\" path=\"D:\\\" attr=\"0\" crt=\"0\" lat=\"0\""
             " lwt=\"0\" dtime=\"-9223372036854775808\" receiver=\"r\" />\r\n"
             "    </original>\r\n"
             "    <quar qname=\"A1.cvq\" qhash=\"FEDC\" />\r\n"
             "    <data dvirus=\"trojan.fakealert.5\" dflags=\"8\" />\r\n"
             "</signature>\r\n";

void ExpectSameItem(const QuarItem& a, const QuarItem& b)
{
    EXPECT_EQ(a.size, b.size);
    EXPECT_EQ(a.hash, b.hash);
    EXPECT_STREQ(a.qname, b.qname);
    EXPECT_EQ(a.qhash, b.qhash);
    EXPECT_STREQ(a.dvirus, b.dvirus);
    EXPECT_EQ(a.dflags, b.dflags);
    ASSERT_EQ(a.m_Files.size(), b.m_Files.size());
    for (size_t i = 0; i < a.m_Files.size(); ++i) {
        const QuarFileEntry &x = a.m_Files[i], &y = b.m_Files[i];
        SCOPED_TRACE(i);
        EXPECT_STREQ(x.name, y.name);
        EXPECT_STREQ(x.path, y.path);
        EXPECT_EQ(x.sender, y.sender);
        EXPECT_EQ(x.receiver, y.receiver);
        EXPECT_EQ(x.subject, y.subject);
        EXPECT_EQ(x.mailfname, y.mailfname);
        EXPECT_EQ(std::vector<int64_t>({x.attr, x.crt, x.lat, x.lwt, x.dtime}),
                  std::vector<int64_t>({y.attr, y.crt, y.lat, y.lwt, y.dtime}));
        EXPECT_EQ(x.sec_str, y.sec_str);
        EXPECT_EQ(x.sec_str_len, y.sec_str_len);
    }
}

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

// Written, read (also as UTF-16 in either byte order) and written again, byte for byte.
TEST(IndexFormat, EveryFieldSurvivesARoundTrip)
{
    QuarItem saved = RichItem();
    saved.size = INT64_MIN;
    saved.dflags = INT_MIN;
    QuarFileEntry& first = saved.m_Files[0];
    first.mailfname = L"plain"; // a "&#x" reference would read back decoded
    first.attr = UINT32_MAX;
    first.crt = INT64_MAX;
    first.sec_str = std::vector<uint8_t>();
    for (int b = 1; b <= 256; ++b)
        first.sec_str->push_back(static_cast<uint8_t>(b)); // 1..255, then the NUL
    first.sec_str_len = 256;
    // A missing sec_str is written empty and so reads back as just its NUL.
    saved.m_Files[1].sec_str = std::vector<uint8_t>{0};
    saved.m_Files[1].sec_str_len = 1;
    const std::string bytes = Written(saved);
    for (const std::string& form : {bytes, Utf16(bytes.substr(3)), Utf16(bytes.substr(3), true)}) {
        QuarItem loaded;
        loaded.m_nSelected = 5; // a stale selection must not survive the read
        ASSERT_TRUE(ReadIndexBytes(form, loaded));
        EXPECT_EQ(loaded.m_nSelected, -1);
        ExpectSameItem(loaded, saved);
        EXPECT_EQ(Written(loaded), bytes);
    }
}

// One change to the sample each: where it still reads and where it must not. The limits
// count UTF-16 units whatever the width of wchar_t.
TEST(IndexFormat, RequiredPartsAndLimits)
{
    const std::string e = "\xC3\xA9"; // one unit, two bytes
    struct Case
    {
        std::string from, to;
        bool reads;
    };
    const Case cases[] = {
        {"a.txt", std::string(259, 'n'), true},
        {"a.txt", std::string(260, 'n'), false},
        {"a.txt", Repeat(e, 259), true},
        {"a.txt", Repeat(kSmile, 129) + "a", true},
        {"a.txt", Repeat(kSmile, 130), false},
        {"C:\\dir", Repeat(kSmile, 129) + "p", true},
        {"C:\\dir", "p" + Repeat(kSmile, 130), false},
        {"\"q1\"", "\"" + Repeat(kSmile, 129) + "q\"", true},
        {"\"q1\"", "\"" + std::string(260, 'q') + "\"", false},
        {"trojan.fakealert.5", Repeat(kSmile, 127) + "v", true},
        {"trojan.fakealert.5", Repeat(kSmile, 128), false},
        {"H1", std::string(5000, 'h'), true},
        {" name=", " Name=", false}, // names are case-sensitive
        {"<signature>\n", "<signature/>\n<signature>\n", false}, // only the first counts
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.to.substr(0, 16));
        QuarItem item;
        ASSERT_EQ(ReadIndexBytes(With(kSampleIndex, c.from, c.to), item), c.reads);
        // What was read is whole and writes back to the very same value.
        if (c.reads) {
            EXPECT_NE(Written(item).find(c.to), std::string::npos);
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

TEST(IndexFormat, NumbersReadLikeScanf)
{
    struct Case
    {
        const char* attr;
        std::string value;
        bool reads;
        int64_t expected;
    };
    const Case cases[] = {
        {"size", "12abc", true, 12}, {"size", " \t-5", true, -5},   {"size", "+7", true, 7},
        {"size", "", false, 0},      {"size", "abc", false, 0},     {"size", "-", false, 0},
        {"size", "0x10", true, 0},   {"lwt", "x1", false, 0},       {"dtime", "", false, 0},
        {"attr", "-1", true, 0xFFFFFFFF}, {"attr", "7z", true, 7},  {"attr", "z7", false, 0},
        {"dflags", "12x", true, 12}, {"dflags", "x", false, 0},     {"lat", "-2", true, -2},
        {"size", std::string(258, '0') + "7", true, 7}, // 259 characters at most
        {"size", std::string(259, '0') + "7", false, 0},
        {"crt", std::string(260, '1'), false, 0},
    };
    for (const Case& c : cases) {
        std::string key = std::string(" ") + c.attr + "=\"";
        size_t at = kSampleIndex.find(key) + key.size();
        std::string text = kSampleIndex;
        text.replace(at, text.find('"', at) - at, c.value);
        QuarItem item;
        ASSERT_EQ(ReadIndexBytes(text, item), c.reads) << c.attr << "=" << c.value;
        if (!c.reads)
            continue;
        const std::string attr = c.attr;
        int64_t got = attr == "size"     ? item.size
                      : attr == "attr"   ? item.m_Files[0].attr
                      : attr == "dflags" ? item.dflags
                                         : item.m_Files[0].lat;
        EXPECT_EQ(got, c.expected) << c.attr << "=" << c.value;
    }
}

// Absent and empty optional strings stay apart; comments, unknown elements and the like
// are read past and not written again.
TEST(IndexFormat, OptionalStringsAndUnknownMarkup)
{
    std::string text = With(kSampleIndex, "dtime=\"4\"", "dtime=\"4\" subject=\"\" sender=\"s\"");
    QuarItem item;
    ASSERT_TRUE(ReadIndexBytes(text, item));
    EXPECT_EQ(item.m_Files[0].subject, std::wstring());
    EXPECT_EQ(item.m_Files[0].sender, std::wstring(L"s"));
    EXPECT_FALSE(item.m_Files[0].receiver.has_value());
    EXPECT_FALSE(item.m_Files[0].mailfname.has_value());
    EXPECT_NE(Written(item).find("dtime=\"4\" sender=\"s\" subject=\"\" />"), std::string::npos);

    text = With(kSampleIndex, "<signature>\n",
                "<!DOCTYPE signature>\n<signature>\n<!-- no -->\n<extra a=\"1\"><deeper/>text"
                "</extra>\n<?pi x?>\n");
    text = With(text, "    </original>", "<unknown/><![CDATA[<file name=\"no\"/>]]></original>");
    ASSERT_TRUE(ReadIndexBytes(text, item));
    QuarItem plain;
    ASSERT_TRUE(ReadIndexBytes(kSampleIndex, plain));
    EXPECT_EQ(Written(item), Written(plain));
    ASSERT_TRUE(ReadIndexBytes(With(kSampleIndex, "<file ", "<!-- gone --><nofile "), item));
    EXPECT_EQ(item.GetFileCount(), 0u);
    EXPECT_NE(Written(item).find("\r\n    <original size=\"1234\" hash=\"H1\" />\r\n"),
              std::string::npos);
}

TEST(IndexFormat, EncodingsAndLineEndsReadAlike)
{
    // A name beyond the BMP, and a subject with a raw line break inside the value.
    std::string lf = With(kSampleIndex, "a.txt", "r\xC3\xA9sum" + kSmile + ".txt");
    lf = With(lf, "dtime=\"4\"", "dtime=\"4\" subject=\"one\ntwo\"");
    auto lineEnds = [](const std::string& text, const std::string& end) {
        std::string out;
        for (char c : text)
            out += c == '\n' ? end : std::string(1, c);
        return out;
    };
    const std::string crlf = lineEnds(lf, "\r\n");
    std::string reference;
    for (const std::string& bytes : {lf, "\xEF\xBB\xBF" + crlf, lineEnds(lf, "\r"), Utf16(crlf),
                                     Utf16(lf, true)}) {
        QuarItem item;
        ASSERT_TRUE(ReadIndexBytes(bytes, item)) << bytes.substr(0, 8);
        EXPECT_EQ(std::wstring(item.m_Files[0].name), Utf8ToWide("r\xC3\xA9sum" + kSmile + ".txt"));
        EXPECT_EQ(item.m_Files[0].subject, std::wstring(L"one\ntwo"));
        if (reference.empty())
            reference = Written(item);
        EXPECT_EQ(Written(item), reference);
    }
    EXPECT_FALSE(Reads(Utf16(lf).substr(2))); // UTF-16 without its mark
    EXPECT_FALSE(Reads(Utf16(lf) + "\n"));    // cut inside a character
}

// Broken UTF-8, surrogates and references beyond Unicode become U+FFFD, so what is written
// again is valid UTF-8; sec_str keeps the low eight bits of each UTF-16 unit.
TEST(IndexFormat, BrokenCharactersAreReplacedAndSecurityBytesAreUnitLowBits)
{
    const std::wstring r = L"\uFFFD";
    const std::pair<std::string, std::wstring> cases[] = {
        {"a\xC0\x80" "b", L"a" + r + L"b"}, {"\xED\xA0\x80", r},  {"x\xF0\x9F\x98", L"x" + r},
        {"&#xD800;", r},                    {"&#x110000;", r},    {"a&#x200000;b", L"ab"},
        {"&#x1F600;&#128512;", L"\U0001F600\U0001F600"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.first));
        QuarItem item;
        ASSERT_TRUE(ReadIndexBytes(
            With(kSampleIndex, "dtime=\"4\"", "dtime=\"4\" subject=\"" + c.first + "\""), item));
        EXPECT_EQ(item.m_Files[0].subject, c.second);
        ASSERT_TRUE(ReadIndexBytes(Written(item), item));
        EXPECT_EQ(item.m_Files[0].subject, c.second);
    }
    // A lone surrogate in a UTF-16 file.
    std::string utf16 = Utf16(With(kSampleIndex, "a.txt", "a#b"));
    utf16.replace(utf16.find(std::string("#\0", 2)), 2, std::string("\0\xD8", 2));
    QuarItem item;
    ASSERT_TRUE(ReadIndexBytes(utf16, item));
    EXPECT_EQ(std::wstring(item.m_Files[0].name), L"a" + r + L"b");

    // U+1F600 is D83D DE00: bytes 0x3D and 0x00; U+0141 gives 0x41, U+00E9 0xE9.
    ASSERT_TRUE(ReadIndexBytes(With(kSampleIndex, "QUJD", kSmile + "\xC5\x81\xC3\xA9" "B"), item));
    EXPECT_EQ(item.m_Files[0].sec_str, (std::vector<uint8_t>{0x3D, 0x00, 0x41, 0xE9, 'B', 0}));
    EXPECT_EQ(item.m_Files[0].sec_str_len, 6);
}

TEST(IndexFormat, EveryCutAndNoiseIsRefused)
{
    const std::string whole = Written(RichItem());
    const size_t closed = whole.rfind("</signature>") + std::string("</signature>").size();
    for (size_t n = 0; n < closed; ++n)
        ASSERT_FALSE(Reads(whole.substr(0, n))) << n;
    EXPECT_TRUE(Reads(whole.substr(0, closed)));
    const std::string utf16 = Utf16(whole.substr(3));
    for (size_t n = 0; n < utf16.size() - 4; ++n) // up to the final CR LF
        ASSERT_FALSE(Reads(utf16.substr(0, n))) << n;
    for (const char* bytes : {"\xEF\xBB\xBF", "\xFF\xFE", "   \r\n"})
        EXPECT_FALSE(Reads(bytes));

    std::mt19937 rng(20110402);
    const char* marks[] = {"", "\xFF\xFE", "\xFE\xFF", "<signature>"};
    for (int round = 0; round < 300; ++round) {
        std::string noise(1 + rng() % 4096, '\0');
        for (char& c : noise)
            c = static_cast<char>(rng());
        EXPECT_FALSE(Reads(marks[round % 4] + noise)) << round;
    }
}

// TinyXML recurses per level and checks each attribute against all earlier ones: the walk
// before parsing refuses what would overflow the stack or take minutes.
TEST(IndexFormat, NestingAndCountsBeyondTheBoundsAreRefused)
{
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
