// UTF-8 <-> wide text where wchar_t is 32 bits: code points travel whole, and values a
// 16-bit wchar_t would hold as units (surrogates) come out as they do on Windows.
#include "platform/Utf8.h"
#include <gtest/gtest.h>

namespace {

const std::string kReplacement = "\xEF\xBF\xBD";

} // namespace

TEST(WideTextOnHost, CodePointsTravelWholeBothWays)
{
    const std::string utf8 = "a\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF";
    std::wstring wide = Utf8ToWide(utf8);
    EXPECT_EQ(wide, std::wstring(L"a\u00e9\u4e2d\U0001F600\U0010FFFF"));
    EXPECT_EQ(wide.size(), sizeof(wchar_t) == 2 ? 7u : 5u);
    EXPECT_EQ(WideToUtf8(wide), utf8);
    EXPECT_EQ(Utf8ToUtf16(utf8.data(), utf8.size()).size(), 7u);
}

TEST(WideTextOnHost, BrokenUtf8BecomesOneReplacementPerSequence)
{
    struct Case
    {
        std::string in, out;
    } cases[] = {
        {"\xC0\x80", kReplacement},                 // overlong NUL
        {"\xED\xA0\x80", kReplacement},             // a surrogate spelt in UTF-8
        {"\xF4\x90\x80\x80", kReplacement},         // beyond U+10FFFF
        {"\x80x", kReplacement + "x"},              // stray continuation byte
        {"\xE2\x82", kReplacement},                 // cut at the end
        {"\xE2" "A", kReplacement + "A"},           // cut by a plain character
        {"\xF8\x88\x80\x80\x80", kReplacement + kReplacement + kReplacement + kReplacement +
                                     kReplacement}, // five-byte forms were never UTF-8
    };
    for (const Case& c : cases) {
        EXPECT_EQ(WideToUtf8(Utf8ToWide(c.in)), c.out) << testing::PrintToString(c.in);
        std::u16string units = Utf8ToUtf16(c.in.data(), c.in.size());
        EXPECT_EQ(Utf16ToUtf8(units.data(), units.size()), c.out);
    }
}

TEST(WideTextOnHost, SurrogateValuesComeOutAsAWindowsStringWould)
{
    const std::u16string loneHigh = u"\xD800x";
    EXPECT_EQ(Utf16ToUtf8(loneHigh.data(), loneHigh.size()), kReplacement + "x");
    const std::u16string swapped = {0xDE00, 0xD83D};
    EXPECT_EQ(Utf16ToUtf8(swapped.data(), swapped.size()), kReplacement + kReplacement);

    // A 32-bit wchar_t can hold what a 16-bit one cannot: never let it out as invalid UTF-8.
    std::wstring wide;
    wide += static_cast<wchar_t>(0xD83D); // a pair split over two wide characters
    wide += static_cast<wchar_t>(0xDE00);
    wide += static_cast<wchar_t>(0xDC00); // a lone low half
    wide += static_cast<wchar_t>(0x110000);
    wide += static_cast<wchar_t>(-1);
    wide += L'z';
    EXPECT_EQ(WideToUtf8(wide), "\xF0\x9F\x98\x80" + kReplacement + kReplacement +
                                    kReplacement + "z");
}
