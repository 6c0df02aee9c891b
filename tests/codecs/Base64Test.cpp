// Base64 of the index: decoding skips CR LF and '=', stops at a foreign character with 0.
#include "restore/codecs/Base64.h"

#include <gtest/gtest.h>

// The bytes Decode reports, and the output buffer of length + 2 bytes it wrote into.
static uint32_t Decoded(const std::string& text, std::vector<uint8_t>& out)
{
    out.assign(text.size() + 2, 0xCC);
    return CBase64().Decode(text.data(), static_cast<int32_t>(text.size()), out.data());
}

TEST(Base64, DecodesWhatTheIndexHoldsAndStopsAtForeignCharacters)
{
    const std::tuple<std::string, uint32_t, std::string> cases[] = {
        {"YWJj", 3, "abc"},
        {"YW\r\nJj==", 3, "abc"},
        {"Y=W=J=", 2, "ab"},                       // '=' is skipped anywhere
        {"\xD9WJj", 3, "abc"},                     // the top bit is ignored
        {std::string("YWJj\0YWJj", 9), 3, "abc"},  // a NUL ends the text
        {"YWJj*YWJj", 0, "abc"},                   // what came before stays, the rest cleared
    };
    std::vector<uint8_t> out;
    for (const auto& [text, result, written] : cases) {
        EXPECT_EQ(Decoded(text, out), result) << text;
        EXPECT_EQ(std::string(out.begin(), out.begin() + written.size()), written) << text;
        EXPECT_EQ(out[text.size()], 0) << text;         // cleared up to length + 1
        EXPECT_EQ(out[text.size() + 1], 0xCC) << text;  // and not beyond
    }
    EXPECT_EQ(Decoded("", out), 0u);
    EXPECT_EQ(out[0], 0xCC);  // no text: nothing cleared
    EXPECT_EQ(CBase64().Decode("YWJj", 4, nullptr), 0u);
}

TEST(Base64, EncodesOneLineWithPaddingAndRoundTrips)
{
    const std::pair<std::string, std::string> inputs[] = {
        {"", "\r\n"}, {"f", "Zg==\r\n"}, {"foob", "Zm9vYg==\r\n"}, {"\xFB\xFF", "+/8=\r\n"},
        {std::string(CBase64().GetBlockSize(), 'Z'), ""},  // a full 76-char line: the length is checked
    };
    for (const auto& [data, expected] : inputs) {
        std::vector<char> text(4 * ((data.size() + 2) / 3) + 3, '#');
        uint32_t n = CBase64().Encode(reinterpret_cast<const uint8_t*>(data.data()), int32_t(data.size()),
                                      text.data());
        ASSERT_EQ(n, text.size() - 1);  // the whole line and its CR LF, then a NUL
        EXPECT_EQ(text[n], '\0');
        if (!expected.empty()) {
            EXPECT_EQ(std::string(text.data(), n), expected);
        }
        std::vector<uint8_t> back;
        ASSERT_EQ(Decoded(std::string(text.data(), n), back), data.size());
        ASSERT_EQ(std::string(back.begin(), back.begin() + data.size()), data);
    }
}
