// Index bytes <-> QuarItem where wchar_t is 32 bits: every text survives a round trip,
// the limits still count UTF-16 units, broken characters never pass through, and any cut
// of a file is refused.
#include "platform/Utf8.h"
#include "quarantine/IndexFileFormat.h"
#include "quarantine/QuarItem.h"
#include "tests/quarantine/IndexSamples.h"
#include <gtest/gtest.h>
#include <climits>
#include <cwchar>

namespace {

const std::string kSmile = "\xF0\x9F\x98\x80"; // U+1F600: two UTF-16 units

std::string Repeat(const std::string& s, size_t n)
{
    std::string out;
    for (size_t i = 0; i < n; ++i)
        out += s;
    return out;
}

std::wstring Wide(const std::string& utf8)
{
    return Utf8ToWide(utf8);
}

template <size_t N>
void SetFixed(wchar_t (&dst)[N], const std::wstring& text)
{
    ASSERT_LT(text.size(), N);
    std::wmemcpy(dst, text.data(), text.size());
    dst[text.size()] = L'\0';
}

QuarItem AstralItem()
{
    QuarItem item;
    item.size = INT64_MIN;
    item.hash = L"\U0001F600H";
    SetFixed(item.qname, L"q\U00010348");
    item.qhash = L"\U0010FFFF";
    SetFixed(item.dvirus, L"trojan.\u4e2d\U0001F600");
    item.dflags = INT_MIN;
    QuarFileEntry first;
    SetFixed(first.name, L"\U0001F600 & <x>.txt");
    SetFixed(first.path, L"C:\\\u00e9t\u00e9\\\U0001D11E");
    first.sender = L"\U0001F600\"";
    first.receiver = L"";
    first.subject = L"line\nbreak\ttab\U0001F4A9";
    first.mailfname = L"'\U0001F600'";
    first.attr = UINT32_MAX;
    first.crt = INT64_MAX;
    first.lat = -1;
    first.lwt = 0;
    first.dtime = INT64_MIN;
    std::vector<uint8_t> security;
    for (int b = 1; b < 256; ++b)
        security.push_back(static_cast<uint8_t>(b));
    security.push_back(0);
    first.sec_str_len = static_cast<int32_t>(security.size());
    first.sec_str = security;
    item.m_Files.push_back(first);
    QuarFileEntry second;
    SetFixed(second.name, L"b");
    SetFixed(second.path, L"\U0001F600");
    second.sec_str = std::vector<uint8_t>{0};
    second.sec_str_len = 1;
    item.m_Files.push_back(second);
    return item;
}

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
        const QuarFileEntry& x = a.m_Files[i];
        const QuarFileEntry& y = b.m_Files[i];
        SCOPED_TRACE(i);
        EXPECT_STREQ(x.name, y.name);
        EXPECT_STREQ(x.path, y.path);
        EXPECT_EQ(x.sender, y.sender);
        EXPECT_EQ(x.receiver, y.receiver);
        EXPECT_EQ(x.subject, y.subject);
        EXPECT_EQ(x.mailfname, y.mailfname);
        EXPECT_EQ(x.attr, y.attr);
        EXPECT_EQ(x.crt, y.crt);
        EXPECT_EQ(x.lat, y.lat);
        EXPECT_EQ(x.lwt, y.lwt);
        EXPECT_EQ(x.dtime, y.dtime);
        EXPECT_EQ(x.sec_str, y.sec_str);
        EXPECT_EQ(x.sec_str_len, y.sec_str_len);
    }
}

std::string Written(const QuarItem& item)
{
    std::string bytes;
    EXPECT_TRUE(WriteIndexBytes(item, bytes));
    return bytes;
}

bool Reads(const std::string& bytes)
{
    QuarItem item;
    return ReadIndexBytes(bytes, item);
}

// The UTF-16 form of a UTF-8 text, with its byte order mark.
std::string Utf16Le(const std::string& utf8)
{
    std::u16string units = Utf8ToUtf16(utf8.data(), utf8.size());
    std::string out = "\xFF\xFE";
    for (char16_t u : units) {
        out += static_cast<char>(u & 0xFF);
        out += static_cast<char>(u >> 8);
    }
    return out;
}

} // namespace

TEST(IndexBytesOnHost, EveryFieldSurvivesARoundTrip)
{
    const QuarItem saved = AstralItem();
    const std::string bytes = Written(saved);
    QuarItem loaded;
    ASSERT_TRUE(ReadIndexBytes(bytes, loaded));
    ExpectSameItem(loaded, saved);
    EXPECT_EQ(Written(loaded), bytes);
    // Characters beyond the BMP are written as four UTF-8 bytes, never as two halves.
    EXPECT_NE(bytes.find(kSmile), std::string::npos);
    EXPECT_EQ(bytes.find("\xED\xA0"), std::string::npos);

    QuarItem fromUtf16;
    ASSERT_TRUE(ReadIndexBytes(Utf16Le(bytes.substr(3)), fromUtf16));
    ExpectSameItem(fromUtf16, saved);
}

TEST(IndexBytesOnHost, WritesTheSameBytesAsTheWindowsBuild)
{
    QuarItem item;
    ASSERT_TRUE(ReadIndexBytes(With(kSampleIndex, "a.txt", kSmile + "\xC3\xA9"), item));
    item.m_Files[0].sec_str = std::vector<uint8_t>{'A', 0xE9, 0};
    const std::string expected =
        "\xEF\xBB\xBF<?xml version=\"1.0\" ?>\r\n"
        "<signature>\r\n"
        "    <original size=\"1234\" hash=\"H1\">\r\n"
        "        <file sec_str=\"A\xC3\xA9\" name=\"" + kSmile + "\xC3\xA9\" path=\"C:\\dir\""
        " attr=\"32\" crt=\"1\" lat=\"2\" lwt=\"3\" dtime=\"4\" />\r\n"
        "    </original>\r\n"
        "    <quar qname=\"q1\" qhash=\"Q1\" />\r\n"
        "    <data dvirus=\"trojan.fakealert.5\" dflags=\"8\" />\r\n"
        "</signature>\r\n";
    EXPECT_EQ(Written(item), expected);
}

TEST(IndexBytesOnHost, LimitsCountUtf16UnitsNotWideCharacters)
{
    struct Case
    {
        const char* from;
        const char* attr;
        std::string value;
        bool reads;
    } cases[] = {
        {"name=\"a.txt\"", "name", Repeat(kSmile, 129) + "a", true},    // 259 units
        {"name=\"a.txt\"", "name", Repeat(kSmile, 130), false},         // 260 units
        {"path=\"C:\\dir\"", "path", Repeat(kSmile, 129) + "p", true},
        {"path=\"C:\\dir\"", "path", "p" + Repeat(kSmile, 130), false},
        {"qname=\"q1\"", "qname", Repeat(kSmile, 129) + "q", true},
        {"qname=\"q1\"", "qname", Repeat(kSmile, 130), false},
        {"dvirus=\"trojan.fakealert.5\"", "dvirus", Repeat(kSmile, 127) + "v", true}, // 255
        {"dvirus=\"trojan.fakealert.5\"", "dvirus", Repeat(kSmile, 128), false},      // 256
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.attr);
        std::string text = With(kSampleIndex, c.from, std::string(c.attr) + "=\"" + c.value + "\"");
        QuarItem item;
        ASSERT_EQ(ReadIndexBytes(text, item), c.reads);
        if (!c.reads)
            continue;
        // What was read is whole and writes back to the very same value.
        std::string attr = " " + std::string(c.attr) + "=\"" + c.value + "\"";
        EXPECT_NE(Written(item).find(attr), std::string::npos);
    }
    QuarItem item;
    ASSERT_TRUE(ReadIndexBytes(With(kSampleIndex, "a.txt", Repeat(kSmile, 129) + "a"), item));
    EXPECT_EQ(std::wcslen(item.m_Files[0].name), sizeof(wchar_t) == 2 ? 259u : 130u);
    EXPECT_EQ(std::wstring(item.m_Files[0].name), Wide(Repeat(kSmile, 129) + "a"));
}

TEST(IndexBytesOnHost, SecurityBytesAreTheLowBitsOfUtf16Units)
{
    QuarItem item;
    ASSERT_TRUE(ReadIndexBytes(With(kSampleIndex, "QUJD", kSmile + "\xC5\x81\xC3\xA9" "B"), item));
    // U+1F600 is D83D DE00: two bytes, 0x3D and 0x00; U+0141 gives 0x41, U+00E9 0xE9.
    const std::vector<uint8_t> expected = {0x3D, 0x00, 0x41, 0xE9, 'B', 0};
    EXPECT_EQ(item.m_Files[0].sec_str, expected);
    EXPECT_EQ(item.m_Files[0].sec_str_len, 6);
}

TEST(IndexBytesOnHost, BrokenCharactersAreReplacedOnReading)
{
    const std::wstring r = L"\uFFFD";
    struct Case
    {
        std::string value;
        std::wstring expected;
    } cases[] = {
        {"a\xC0\x80" "b", L"a" + r + L"b"},
        {"\xED\xA0\x80", r},
        {"x\xF0\x9F\x98", L"x" + r},
        {"&#xD800;", r},                    // a surrogate by reference
        {"&#x110000;", r},                  // beyond Unicode
        {"a&#x200000;b", L"ab"},            // TinyXML drops what it cannot encode
        {"&#x1F600;&#128512;", L"\U0001F600\U0001F600"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.value));
        QuarItem item;
        ASSERT_TRUE(ReadIndexBytes(With(kSampleIndex, "dtime=\"4\"",
                                        "dtime=\"4\" subject=\"" + c.value + "\""),
                                   item));
        EXPECT_EQ(item.m_Files[0].subject, c.expected);
        QuarItem again;
        ASSERT_TRUE(ReadIndexBytes(Written(item), again));
        EXPECT_EQ(again.m_Files[0].subject, c.expected);
    }
    // A lone surrogate in a UTF-16 file reads as the replacement as well.
    std::string utf16 = Utf16Le(With(kSampleIndex, "a.txt", "a#b"));
    size_t hash = utf16.find(std::string("#\0", 2));
    ASSERT_NE(hash, std::string::npos);
    utf16[hash] = '\x00';
    utf16[hash + 1] = '\xD8';
    QuarItem item;
    ASSERT_TRUE(ReadIndexBytes(utf16, item));
    EXPECT_EQ(std::wstring(item.m_Files[0].name), L"a" + r + L"b");
}

TEST(IndexBytesOnHost, EveryCutOfAFileIsRefused)
{
    const std::string whole = Written(AstralItem());
    const size_t closed = whole.rfind("</signature>") + std::string("</signature>").size();
    for (size_t n = 0; n < closed; ++n)
        ASSERT_FALSE(Reads(whole.substr(0, n))) << n;
    EXPECT_TRUE(Reads(whole.substr(0, closed)));

    const std::string utf16 = Utf16Le(whole.substr(3));
    const size_t closed16 = utf16.size() - 4; // before the final CR LF
    for (size_t n = 0; n < closed16; ++n)
        ASSERT_FALSE(Reads(utf16.substr(0, n))) << n;
    EXPECT_TRUE(Reads(utf16));
}
