// Index files: the exact written form, what is read back, the limits of each attribute,
// the accepted encodings and line ends.
#include "platform/Utf8.h"
#include "quarantine/IndexFileFormat.h"
#include "quarantine/QuarItem.h"
#include "tests/quarantine/IndexSamples.h"
#include "tests/support/TestFiles.h"
#include <gtest/gtest.h>

namespace {

QuarItem TwoLocationItem()
{
    QuarItem item;
    item.size = 1234567890123;
    item.hash = L"0123ABCD";
    wcscpy(item.qname, L"A1.cvq");
    item.qhash = L"FEDC";
    wcscpy(item.dvirus, L"trojan.fakealert.5");
    item.dflags = 8;
    QuarFileEntry first = MakeLocation(L"r\u00e9sum\u00e9 & <notes>.txt", L"C:\\Users\\o'neil");
    first.sec_str = std::vector<uint8_t>{'A', 'Q', 0xE9, 0};
    first.sec_str_len = 4;
    first.attr = 0x80000820;
    first.crt = 130000000000000000;
    first.lat = -1;
    first.dtime = 42;
    first.sender = L"";
    first.subject = L"say \"hi\"\tnow";
    first.mailfname = L"&#x41;";
    item.m_Files.push_back(first);
    QuarFileEntry second = MakeLocation(L"b.bin", L"D:\\");
    second.receiver = L"r";
    item.m_Files.push_back(second);
    return item;
}

const std::string kTwoLocationFile =
    "\xEF\xBB\xBF<?xml version=\"1.0\" ?>\r\n"
    "<signature>\r\n"
    "    <original size=\"1234567890123\" hash=\"0123ABCD\">\r\n"
    "        <file sec_str=\"AQ\xC3\xA9\" name=\"r\xC3\xA9sum\xC3\xA9 &amp; &lt;notes&gt;.txt\""
    " path=\"C:\\Users\\o&apos;neil\" attr=\"2147485728\" crt=\"130000000000000000\""
    " lat=\"-1\" lwt=\"0\" dtime=\"42\" sender=\"\" subject='say &quot;hi&quot;&#x09;now'"
    " mailfname=\"&#x41;\" />\r\n"
    "        <file sec_str=\"\" name=\"b.bin\" path=\"D:\\\" attr=\"0\" crt=\"0\" lat=\"0\""
    " lwt=\"0\" dtime=\"0\" receiver=\"r\" />\r\n"
    "    </original>\r\n"
    "    <quar qname=\"A1.cvq\" qhash=\"FEDC\" />\r\n"
    "    <data dvirus=\"trojan.fakealert.5\" dflags=\"8\" />\r\n"
    "</signature>\r\n";

void ExpectSameLocation(const QuarFileEntry& a, const QuarFileEntry& b)
{
    EXPECT_STREQ(a.name, b.name);
    EXPECT_STREQ(a.path, b.path);
    EXPECT_EQ(a.sender, b.sender);
    EXPECT_EQ(a.receiver, b.receiver);
    EXPECT_EQ(a.subject, b.subject);
    EXPECT_EQ(a.mailfname, b.mailfname);
    EXPECT_EQ(a.attr, b.attr);
    EXPECT_EQ(a.crt, b.crt);
    EXPECT_EQ(a.lat, b.lat);
    EXPECT_EQ(a.lwt, b.lwt);
    EXPECT_EQ(a.dtime, b.dtime);
    EXPECT_EQ(a.sec_str, b.sec_str);
    EXPECT_EQ(a.sec_str_len, b.sec_str_len);
}

std::string Printed(const QuarItem& item)
{
    std::string bytes;
    EXPECT_TRUE(WriteIndexBytes(item, bytes));
    return bytes;
}

bool Reads(const std::string& text)
{
    QuarItem item;
    return ReadIndexBytes(text, item);
}

} // namespace

TEST(IndexFileSave, WritesTheExactForm)
{
    CTempDir dir;
    std::wstring path = dir.Join(L"A1.xml");
    QuarItem item = TwoLocationItem();
    ASSERT_TRUE(item.SaveXml(path.c_str()));
    EXPECT_EQ(ReadFileBytes(path), kTwoLocationFile);
}

TEST(IndexFileSave, WritesAnItemWithoutLocationsOrDigests)
{
    const std::string expected = "\xEF\xBB\xBF<?xml version=\"1.0\" ?>\r\n"
                                 "<signature>\r\n"
                                 "    <original size=\"0\" />\r\n"
                                 "    <quar qname=\"\" />\r\n"
                                 "    <data dvirus=\"\" dflags=\"0\" />\r\n"
                                 "</signature>\r\n";
    EXPECT_EQ(Printed(QuarItem()), expected);

    QuarItem item;
    ASSERT_TRUE(ReadIndexBytes(With(kSampleIndex, "<file ", "<!-- gone --><nofile "), item));
    EXPECT_EQ(item.GetFileCount(), 0u);
    EXPECT_NE(Printed(item).find("\r\n    <original size=\"1234\" hash=\"H1\" />\r\n"),
              std::string::npos);
}

TEST(IndexFileLoad, ReadsBackWhatWasSaved)
{
    CTempDir dir;
    std::wstring path = dir.Join(L"A1.xml");
    QuarItem saved = TwoLocationItem();
    saved.m_Files[0].mailfname = L"plain"; // a "&#x" reference would read back decoded
    QuarFileEntry third = MakeLocation(L"c", L"E:\\x");
    third.subject = std::wstring(2000, L'z');
    saved.m_Files.push_back(third);
    ASSERT_TRUE(saved.SaveXml(path.c_str()));

    QuarItem loaded;
    loaded.m_nSelected = 5; // a stale selection must not survive the load
    ASSERT_TRUE(loaded.LoadXml(path.c_str()));
    EXPECT_EQ(loaded.m_nSelected, -1);
    EXPECT_EQ(loaded.size, saved.size);
    EXPECT_EQ(loaded.hash, saved.hash);
    EXPECT_STREQ(loaded.qname, saved.qname);
    EXPECT_EQ(loaded.qhash, saved.qhash);
    EXPECT_STREQ(loaded.dvirus, saved.dvirus);
    EXPECT_EQ(loaded.dflags, saved.dflags);
    ASSERT_EQ(loaded.GetFileCount(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        // A missing sec_str is written empty and so reads back as just its NUL.
        if (!saved.m_Files[i].sec_str) {
            saved.m_Files[i].sec_str = std::vector<uint8_t>{0};
            saved.m_Files[i].sec_str_len = 1;
        }
        ExpectSameLocation(loaded.m_Files[i], saved.m_Files[i]);
    }
}

TEST(IndexFileLoad, LimitsCountUtf16Units)
{
    const std::string e = "\xC3\xA9";             // one unit, two bytes
    const std::string smile = "\xF0\x9F\x98\x80"; // two units, four bytes
    auto repeat = [](const std::string& s, int n) {
        std::string out;
        for (int i = 0; i < n; ++i)
            out += s;
        return out;
    };
    struct Case
    {
        std::string from, to;
        bool reads;
    } cases[] = {
        {"name=\"a.txt\"", "name=\"" + std::string(259, 'n') + "\"", true},
        {"name=\"a.txt\"", "name=\"" + std::string(260, 'n') + "\"", false},
        {"name=\"a.txt\"", "name=\"" + repeat(e, 259) + "\"", true},
        {"name=\"a.txt\"", "name=\"" + repeat(smile, 129) + "a\"", true},
        {"name=\"a.txt\"", "name=\"" + repeat(smile, 130) + "\"", false},
        {"path=\"C:\\dir\"", "path=\"" + std::string(260, 'p') + "\"", false},
        {"qname=\"q1\"", "qname=\"" + std::string(259, 'q') + "\"", true},
        {"qname=\"q1\"", "qname=\"" + std::string(260, 'q') + "\"", false},
        {"dvirus=\"trojan.fakealert.5\"", "dvirus=\"" + std::string(255, 'v') + "\"", true},
        {"dvirus=\"trojan.fakealert.5\"", "dvirus=\"" + std::string(256, 'v') + "\"", false},
        {"size=\"1234\"", "size=\"" + std::string(258, '0') + "7\"", true},
        {"size=\"1234\"", "size=\"" + std::string(259, '0') + "7\"", false},
        {"crt=\"1\"", "crt=\"" + std::string(260, '1') + "\"", false},
        {"hash=\"H1\"", "hash=\"" + std::string(5000, 'h') + "\"", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Reads(With(kSampleIndex, c.from, c.to)), c.reads) << c.to.substr(0, 12);
    QuarItem item;
    ASSERT_TRUE(ReadIndexBytes(With(kSampleIndex, "a.txt", repeat(smile, 129) + "a"), item));
    EXPECT_EQ(wcslen(item.m_Files[0].name), 259u);
}

TEST(IndexFileLoad, NumbersReadLikeScanf)
{
    struct Case
    {
        const char* attr;
        const char* value;
        bool reads;
        int64_t expected;
    } cases[] = {
        {"size", "12abc", true, 12},   {"size", " \t-5", true, -5}, {"size", "+7", true, 7},
        {"size", "", false, 0},        {"size", "abc", false, 0},   {"size", "-", false, 0},
        {"size", "0x10", true, 0},     {"lwt", "x1", false, 0},     {"dtime", "", false, 0},
        {"attr", "-1", true, 0xFFFFFFFF}, {"attr", "7z", true, 7},  {"attr", "z7", false, 0},
        {"dflags", "12x", true, 12},   {"dflags", "x", false, 0},   {"dflags", "", false, 0},
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
        int64_t got = std::string(c.attr) == "size"    ? item.size
                      : std::string(c.attr) == "attr"  ? item.m_Files[0].attr
                      : std::string(c.attr) == "dflags" ? item.dflags
                                                        : -999;
        EXPECT_EQ(got, c.expected) << c.attr << "=" << c.value;
    }
}

TEST(IndexFileLoad, RequiredPartsMissing)
{
    for (const char* attr : {" size=\"1234\"", " hash=\"H1\"", " sec_str=\"QUJD\"",
                             " name=\"a.txt\"", " path=\"C:\\dir\"", " attr=\"32\"", " crt=\"1\"",
                             " lat=\"2\"", " lwt=\"3\"", " dtime=\"4\"", " qname=\"q1\"",
                             " qhash=\"Q1\"", " dvirus=\"trojan.fakealert.5\"", " dflags=\"8\""})
        EXPECT_FALSE(Reads(With(kSampleIndex, attr, ""))) << attr;
    for (const char* element : {"signature", "original", "quar", "data"}) {
        std::string text = With(kSampleIndex, std::string("<") + element, "<x" + std::string(element));
        text = With(text, std::string("</") + element, "</x" + std::string(element));
        EXPECT_FALSE(Reads(text)) << element;
    }
    // Names are case-sensitive, and only the first signature counts.
    EXPECT_FALSE(Reads(With(kSampleIndex, " name=", " Name=")));
    EXPECT_FALSE(Reads("<signature/>\n" + kSampleIndex.substr(kSampleIndex.find("<signature>"))));
}

TEST(IndexFileLoad, OptionalStringsStayAbsentOrEmpty)
{
    std::string text = With(kSampleIndex, "dtime=\"4\"", "dtime=\"4\" subject=\"\" sender=\"s\"");
    text = With(text, "    </original>",
                "        <file sec_str=\"\" name=\"b\" path=\"p\" attr=\"0\" crt=\"0\" lat=\"0\""
                " lwt=\"0\" dtime=\"0\" />\n    </original>");
    QuarItem item;
    ASSERT_TRUE(ReadIndexBytes(text, item));
    ASSERT_EQ(item.GetFileCount(), 2u);
    EXPECT_EQ(item.m_Files[0].subject, std::wstring());
    EXPECT_EQ(item.m_Files[0].sender, std::wstring(L"s"));
    EXPECT_FALSE(item.m_Files[0].receiver.has_value());
    EXPECT_FALSE(item.m_Files[1].subject.has_value());
    EXPECT_FALSE(item.m_Files[1].sender.has_value());

    item.SelectFile(0);
    ASSERT_TRUE(item.RemoveFile(item));
    std::string printed = Printed(item);
    EXPECT_EQ(printed.find("subject"), std::string::npos);
    EXPECT_NE(printed.find("name=\"b\""), std::string::npos);
}

TEST(IndexFileLoad, CommentsAndUnknownElementsAreReadPastAndDropped)
{
    std::string text = With(kSampleIndex, "<signature>\n",
                            "<!DOCTYPE signature>\n<signature>\n<!-- kept? no -->\n"
                            "<extra a=\"1\"><deeper/>text</extra>\n<?pi x?>\n");
    text = With(text, "    </original>", "<unknown/><![CDATA[<file name=\"no\"/>]]></original>");
    QuarItem item;
    ASSERT_TRUE(ReadIndexBytes(text, item));
    QuarItem plain;
    ASSERT_TRUE(ReadIndexBytes(kSampleIndex, plain));
    EXPECT_EQ(Printed(item), Printed(plain));
}

TEST(IndexFileLoad, EncodingsAndLineEndsReadAlike)
{
    // A name outside the BMP, and a subject with a raw line break inside the value.
    std::string utf8 = With(kSampleIndex, "a.txt", "r\xC3\xA9sum\xF0\x9F\x98\x80.txt");
    utf8 = With(utf8, "dtime=\"4\"", "dtime=\"4\" subject=\"one\ntwo\"");
    auto lineEnds = [](std::string text, const std::string& end) {
        std::string out;
        for (char c : text)
            out += c == '\n' ? end : std::string(1, c);
        return out;
    };
    auto utf16 = [](const std::string& text, bool bigEndian, bool mark) {
        std::u16string units = Utf8ToUtf16(text.data(), text.size());
        if (mark)
            units.insert(units.begin(), u'\xFEFF');
        std::string out;
        for (char16_t u : units) {
            char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
            out += bigEndian ? std::string{hi, lo} : std::string{lo, hi};
        }
        return out;
    };
    const std::string crlf = lineEnds(utf8, "\r\n");
    const std::string variants[] = {utf8, "\xEF\xBB\xBF" + crlf, lineEnds(utf8, "\r"),
                                    utf16(crlf, false, true), utf16(utf8, true, true)};
    CTempDir dir;
    std::wstring path = dir.Join(L"i.xml");
    std::string reference;
    for (const std::string& bytes : variants) {
        ASSERT_TRUE(WriteFileBytes(path, bytes));
        QuarItem item;
        ASSERT_TRUE(item.LoadXml(path.c_str())) << bytes.substr(0, 8);
        EXPECT_STREQ(item.m_Files[0].name, L"r\u00e9sum\U0001F600.txt");
        EXPECT_EQ(item.m_Files[0].subject, std::wstring(L"one\ntwo"));
        if (reference.empty())
            reference = Printed(item);
        EXPECT_EQ(Printed(item), reference);
    }
    EXPECT_FALSE(Reads(utf16(utf8, false, false)));          // UTF-16 without its mark
    EXPECT_FALSE(Reads(utf16(utf8, false, true) + "\n"));    // cut inside a character
}
