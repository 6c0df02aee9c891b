// Tests for the base64 codec.
#include "restore/codecs/Base64.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

// Decodes text, returning the bytes reported as written.
std::string DecodeText(const std::string& text, uint32_t* result = nullptr)
{
    CBase64 codec;
    std::vector<uint8_t> out(text.size() + 1, 0xCC);
    uint32_t n = codec.Decode(text.c_str(), static_cast<int32_t>(text.size()), out.data());
    if (result)
        *result = n;
    return std::string(out.begin(), out.begin() + n);
}

std::string EncodeBytes(const std::string& data, uint32_t* result)
{
    CBase64 codec;
    std::vector<char> out(4 * ((data.size() + 2) / 3) + 3, '#');
    *result = codec.Encode(reinterpret_cast<const uint8_t*>(data.data()),
                           static_cast<int32_t>(data.size()), out.data());
    return out.data();  // relies on Encode's NUL terminator
}

}  // namespace

TEST(Base64Decode, ValidTextWithLineBreaksAndPadding)
{
    uint32_t n = 0;
    EXPECT_EQ("abc", DecodeText("YWJj", &n));
    EXPECT_EQ(3u, n);
    EXPECT_EQ("abc", DecodeText("YW\r\nJj==", &n));
    EXPECT_EQ(3u, n);
    EXPECT_EQ("ab", DecodeText("Y=W=J=", &n));  // '=' is skipped anywhere
    std::string topBit = "YWJj";
    topBit[0] = static_cast<char>('Y' | 0x80);
    EXPECT_EQ("abc", DecodeText(topBit));
    // A NUL inside the given length ends the text.
    EXPECT_EQ("abc", DecodeText(std::string("YWJj\0YWJj", 9)));
}

TEST(Base64Decode, RejectsInvalidAndEmptyInput)
{
    CBase64 codec;
    uint8_t out[16];
    std::memset(out, 0xCC, sizeof(out));
    EXPECT_EQ(0u, codec.Decode("YWJj*YWJj", 9, out));
    // Bytes decoded before the bad char remain, the rest was cleared.
    EXPECT_EQ(0, std::memcmp(out, "abc\0\0\0\0\0\0\0", 10));
    EXPECT_EQ(0xCC, out[10]);

    std::memset(out, 0xCC, sizeof(out));
    EXPECT_EQ(0u, codec.Decode("", 0, out));
    EXPECT_EQ(0u, codec.Decode("\0AAA", 4, out));
    EXPECT_EQ(0xCC, out[0]);  // nothing cleared when there is no text
    EXPECT_EQ(0u, codec.Decode(nullptr, 4, out));
    EXPECT_EQ(0u, codec.Decode("YWJj", 4, nullptr));
}

TEST(Base64Encode, LineLengthAndPadding)
{
    uint32_t n = 0;
    CBase64 codec;
    const std::string block(codec.GetBlockSize(), '\x5A');
    std::string text = EncodeBytes(block, &n);
    EXPECT_EQ(78u, n);
    ASSERT_EQ(78u, text.size());
    EXPECT_EQ(std::string::npos, text.find('='));
    EXPECT_EQ(std::string::npos, text.substr(0, 76).find_first_of("\r\n"));
    EXPECT_EQ("\r\n", text.substr(76));

    text = EncodeBytes("12345678", &n);
    EXPECT_EQ(14u, n);
    EXPECT_EQ("MTIzNDU2Nzg=\r\n", text);

    EXPECT_EQ("Zg==\r\n", EncodeBytes("f", &n));
    EXPECT_EQ("Zm9vYg==\r\n", EncodeBytes("foob", &n));
    EXPECT_EQ("+/8=\r\n", EncodeBytes("\xFB\xFF", &n));
    EXPECT_EQ("\r\n", EncodeBytes("", &n));
    EXPECT_EQ(2u, n);

    char out[8] = "keep";
    EXPECT_EQ(0u, codec.Encode(nullptr, 3, out));
    EXPECT_STREQ("keep", out);
}

TEST(Base64, RoundTripRandomLengths)
{
    std::mt19937 rng(11);
    for (int i = 0; i < 200; ++i) {
        std::string data(rng() % 301, '\0');
        for (auto& c : data)
            c = static_cast<char>(rng());
        uint32_t n = 0;
        const std::string text = EncodeBytes(data, &n);
        ASSERT_EQ(4 * ((data.size() + 2) / 3) + 2, n);
        ASSERT_EQ(data, DecodeText(text)) << "length " << data.size();
    }
}
