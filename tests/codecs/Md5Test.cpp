// Tests for MD5 (reference vectors, chunking independence, bit counter) and
// the digest text format.
#include "restore/codecs/DigestText.h"
#include "restore/codecs/Md5Text.h"
#include "restore/codecs/Md5.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::string DigestText(const uint8_t* data, size_t n, const std::vector<size_t>& chunks = {})
{
    MD5_CTX ctx;
    MD5Init(&ctx);
    size_t pos = 0;
    for (size_t c : chunks) {
        size_t len = std::min(c, n - pos);
        MD5Update(&ctx, data + pos, static_cast<uint32_t>(len));
        pos += len;
    }
    MD5Update(&ctx, data + pos, static_cast<uint32_t>(n - pos));
    return FinishDigestText(ctx);
}

std::string DigestText(const char* s)
{
    return DigestText(reinterpret_cast<const uint8_t*>(s), std::strlen(s));
}

}  // namespace

TEST(Md5, ReferenceSuite)
{
    EXPECT_EQ("D41D8CD98F00B204E9800998ECF8427E", DigestText(""));
    EXPECT_EQ("0CC175B9C0F1B6A831C399E269772661", DigestText("a"));
    EXPECT_EQ("900150983CD24FB0D6963F7D28E17F72", DigestText("abc"));
    EXPECT_EQ("F96B697D7CB7938D525A2F31AAF161D0", DigestText("message digest"));
    EXPECT_EQ("C3FCD3D76192E4007DFB496CCA67E13B", DigestText("abcdefghijklmnopqrstuvwxyz"));
    EXPECT_EQ("D174AB98D277D9F5A5611C2C9F419D9F",
              DigestText("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"));
    EXPECT_EQ("57EDF4A22BE3C955AC49DA2E2107B67A",
              DigestText("1234567890123456789012345678901234567890"
                         "1234567890123456789012345678901234567890"));
}

TEST(Md5, PaddingBoundariesAndChunking)
{
    std::vector<uint8_t> data(1000);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 7);

    // Lengths around the padding boundary (55/56 fit one block or not) and
    // around whole blocks, each hashed whole and in differently cut pieces.
    struct Case { size_t n; const char* digest; };
    const Case cases[] = {
        {55, "8D24280288A696559FD8D5AA1B6D8C6E"}, {56, "EF2C72B7254C92459E498EDDD4ACE573"},
        {57, "5E319059F1BA9373988437B589FB9F21"}, {63, "C4C8C6D513F4E1604EB18508A1769364"},
        {64, "A2FCB39A253B9B785B1F97518FA37683"}, {65, "E49FE82D0BB12967A196C85DE313E446"},
        {119, "1640DEEA49EBB258EC6EDE18D4B2D2D7"}, {120, "05F879F7B542A7EBF0605ADFF67D4423"},
        {128, "FE942895E9AAE953F3E246E5FD00739D"}, {1000, "DE809FF794E91B68F9E91A2B7030BCB0"}};
    const std::vector<std::vector<size_t>> cuts = {
        {}, {0, 0}, {1}, {55, 0, 1}, {56}, {63, 1}, {64, 64}, {65, 0}, {3, 61, 7}};
    for (const Case& c : cases) {
        for (const auto& cut : cuts)
            EXPECT_EQ(c.digest, DigestText(data.data(), c.n, cut)) << "length " << c.n;
        std::vector<size_t> byteByByte(c.n, 1);
        EXPECT_EQ(c.digest, DigestText(data.data(), c.n, byteByByte)) << "length " << c.n;
    }
}

TEST(Md5, BitCounterCarriesIntoHighWord)
{
    MD5_CTX ctx;
    MD5Init(&ctx);
    const uint8_t bytes[3] = {1, 2, 3};
    MD5Update(&ctx, bytes, 3);
    EXPECT_EQ(24u, ctx.count[0]);
    EXPECT_EQ(0u, ctx.count[1]);

    // Pretend 2^29 - 1 bytes were hashed; one more must carry.
    ctx.count[0] = 0xFFFFFFF8u;
    MD5Update(&ctx, bytes, 1);
    EXPECT_EQ(0u, ctx.count[0]);
    EXPECT_EQ(1u, ctx.count[1]);
}

TEST(DigestText, UpperCaseHexInDigestOrder)
{
    // Every nibble value appears in both the high and the low position.
    const uint8_t digest[16] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF,
                                0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10};
    char out[33];
    std::memset(out, 'x', sizeof(out));
    FormatDigestText(digest, out);
    EXPECT_EQ('\0', out[32]);
    EXPECT_STREQ("0123456789ABCDEFFEDCBA9876543210", out);
}
