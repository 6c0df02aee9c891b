// Base64 as the index's security text uses it: decoding skips line breaks and '=' and
// stops at the first foreign character with 0; encoding writes one CR LF line per call.
#include "restore/codecs/Base64.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

// The bytes Decode reports, and the output buffer of length + 2 bytes it wrote into.
uint32_t Decoded(const std::string& text, std::vector<uint8_t>& out)
{
    out.assign(text.size() + 2, 0xCC);
    return CBase64().Decode(text.data(), static_cast<int32_t>(text.size()), out.data());
}

} // namespace

TEST(Base64, DecodesWhatTheIndexHoldsAndStopsAtForeignCharacters)
{
    struct Case
    {
        std::string text;
        uint32_t result;
        std::string written;
    };
    const Case cases[] = {
        {"YWJj", 3, "abc"},
        {"YW\r\nJj==", 3, "abc"},
        {"Y=W=J=", 2, "ab"},                       // '=' is skipped anywhere
        {"\xD9WJj", 3, "abc"},                     // the top bit is ignored
        {std::string("YWJj\0YWJj", 9), 3, "abc"},  // a NUL ends the text
        {"YWJj*YWJj", 0, "abc"},                   // what came before stays, the rest cleared
    };
    std::vector<uint8_t> out;
    for (const Case& c : cases) {
        EXPECT_EQ(Decoded(c.text, out), c.result) << c.text;
        EXPECT_EQ(std::string(out.begin(), out.begin() + c.written.size()), c.written) << c.text;
        EXPECT_EQ(out[c.text.size()], 0) << c.text;         // cleared up to length + 1
        EXPECT_EQ(out[c.text.size() + 1], 0xCC) << c.text;  // and not beyond
    }
    EXPECT_EQ(Decoded("", out), 0u);
    EXPECT_EQ(out[0], 0xCC);  // no text: nothing cleared
    EXPECT_EQ(CBase64().Decode("YWJj", 4, nullptr), 0u);
}

TEST(Base64, EncodesOneLineWithPaddingAndRoundTrips)
{
    std::string line;
    for (int i = 0; i < 19; ++i)
        line += "Wlpa";
    std::vector<std::pair<std::string, std::string>> inputs = {
        {"", "\r\n"}, {"f", "Zg==\r\n"}, {"foob", "Zm9vYg==\r\n"}, {"\xFB\xFF", "+/8=\r\n"},
        {std::string(CBase64().GetBlockSize(), 'Z'), line + "\r\n"},  // a full 76-char line
    };
    std::mt19937 rng(11);
    for (int i = 0; i < 200; ++i) {
        std::string data(rng() % 301, '\0');
        for (char& c : data)
            c = static_cast<char>(rng());
        inputs.push_back({data, ""});
    }
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
