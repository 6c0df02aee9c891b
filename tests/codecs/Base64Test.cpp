// Base64 as the index's security text uses it: decoding skips line breaks and '=' and
// stops at the first foreign character with 0; encoding writes one CR LF line per call.
#include "restore/codecs/Base64.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

namespace {

std::string Encoded(const std::string& data, uint32_t* length = nullptr)
{
    CBase64 codec;
    std::vector<char> out(4 * ((data.size() + 2) / 3) + 3, '#');
    uint32_t n = codec.Encode(reinterpret_cast<const uint8_t*>(data.data()),
                              static_cast<int32_t>(data.size()), out.data());
    if (length)
        *length = n;
    return out.data();  // relies on Encode's NUL
}

} // namespace

TEST(Base64, DecodesWhatTheIndexHoldsAndStopsAtForeignCharacters)
{
    std::string topBit = "YWJj";
    topBit[0] = static_cast<char>('Y' | 0x80);
    const std::pair<std::string, std::optional<std::string>> cases[] = {
        {"YWJj", "abc"},
        {"YW\r\nJj==", "abc"},
        {"Y=W=J=", "ab"},                      // '=' is skipped anywhere
        {topBit, "abc"},                       // the top bit is ignored
        {std::string("YWJj\0YWJj", 9), "abc"}, // a NUL ends the text
        {"YWJj*YWJj", std::nullopt},           // 0, but "abc" stays, the rest cleared
        {"", std::nullopt},
    };
    for (const auto& [text, bytes] : cases) {
        std::vector<uint8_t> out(text.size() + 2, 0xCC);
        CBase64 codec;
        uint32_t n = codec.Decode(text.data(), static_cast<int32_t>(text.size()), out.data());
        EXPECT_EQ(n, bytes ? bytes->size() : 0u) << text;
        std::string kept = bytes ? *bytes : text.empty() ? "" : "abc";
        EXPECT_EQ(std::string(out.begin(), out.begin() + kept.size()), kept) << text;
        if (!text.empty())
            EXPECT_EQ(out[text.size()], 0) << text;          // cleared up to length + 1
        EXPECT_EQ(out[text.size() + 1], 0xCC) << text;       // and not beyond
    }
    CBase64 codec;
    uint8_t out[4];
    EXPECT_EQ(codec.Decode(nullptr, 4, out), 0u);
    EXPECT_EQ(codec.Decode("YWJj", 4, nullptr), 0u);
}

TEST(Base64, EncodesOneLineWithPaddingAndRoundTrips)
{
    std::string line;
    for (int i = 0; i < 19; ++i)
        line += "Wlpa";
    const std::pair<std::string, std::string> cases[] = {
        {"", "\r\n"},
        {"f", "Zg==\r\n"},
        {"foob", "Zm9vYg==\r\n"},
        {"12345678", "MTIzNDU2Nzg=\r\n"},
        {"\xFB\xFF", "+/8=\r\n"},
        {std::string(CBase64().GetBlockSize(), 'Z'), line + "\r\n"},  // a full 76-char line
    };
    for (const auto& [data, text] : cases) {
        uint32_t n = 0;
        EXPECT_EQ(Encoded(data, &n), text);
        EXPECT_EQ(n, text.size());
    }
    std::mt19937 rng(11);
    for (int i = 0; i < 200; ++i) {
        std::string data(rng() % 301, '\0');
        for (char& c : data)
            c = static_cast<char>(rng());
        std::string text = Encoded(data);
        std::vector<uint8_t> back(text.size() + 1);
        CBase64 codec;
        uint32_t n = codec.Decode(text.data(), static_cast<int32_t>(text.size()), back.data());
        ASSERT_EQ(std::string(back.begin(), back.begin() + n), data) << data.size();
    }
    char out[8] = "keep";
    EXPECT_EQ(CBase64().Encode(nullptr, 3, out), 0u);
    EXPECT_STREQ(out, "keep");
}
