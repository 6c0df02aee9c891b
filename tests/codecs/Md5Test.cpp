// MD5 against the reference digests of RFC 1321 and digests of lengths around the padding
// boundary and a whole block, each taken whole and in pieces; the bit counter's carry,
// which only a payload of 512 MiB would otherwise reach.
#include "restore/codecs/Md5Text.h"

#include <gtest/gtest.h>

TEST(Md5, ReferenceDigestsWholeAndInPieces)
{
    std::string counted(1000, '\0');
    for (size_t i = 0; i < counted.size(); ++i)
        counted[i] = static_cast<char>(i * 7);
    const std::pair<std::string, const char*> cases[] = {
        {"", "D41D8CD98F00B204E9800998ECF8427E"},
        {"a", "0CC175B9C0F1B6A831C399E269772661"},
        {"abc", "900150983CD24FB0D6963F7D28E17F72"},
        {"message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
        {"abcdefghijklmnopqrstuvwxyz", "C3FCD3D76192E4007DFB496CCA67E13B"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "D174AB98D277D9F5A5611C2C9F419D9F"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57EDF4A22BE3C955AC49DA2E2107B67A"},
        // 55 and 56 bytes fit one padding block or not.
        {counted.substr(0, 55), "8D24280288A696559FD8D5AA1B6D8C6E"},
        {counted.substr(0, 56), "EF2C72B7254C92459E498EDDD4ACE573"},
        {counted.substr(0, 64), "A2FCB39A253B9B785B1F97518FA37683"},
        {counted.substr(0, 65), "E49FE82D0BB12967A196C85DE313E446"},
        {counted, "DE809FF794E91B68F9E91A2B7030BCB0"},
    };
    for (const auto& [bytes, digest] : cases) {
        EXPECT_EQ(Md5Text(bytes), digest) << bytes.size() << " bytes";
        for (size_t piece : {1, 63, 64, 65}) {
            MD5_CTX ctx;
            MD5Init(&ctx);
            for (size_t at = 0; at < bytes.size(); at += piece)
                MD5Update(&ctx, reinterpret_cast<const uint8_t*>(bytes.data()) + at,
                          static_cast<uint32_t>(std::min(piece, bytes.size() - at)));
            EXPECT_EQ(FinishDigestText(ctx), digest) << bytes.size() << " bytes by " << piece;
        }
    }
}

TEST(Md5, BitCounterCarriesIntoTheHighWord)
{
    MD5_CTX ctx;
    MD5Init(&ctx);
    const uint8_t bytes[3] = {1, 2, 3};
    MD5Update(&ctx, bytes, 3);
    EXPECT_EQ(ctx.count[0], 24u);
    ctx.count[0] = 0xFFFFFFF8u;  // as if 2^29 - 1 bytes had gone before: one more carries
    MD5Update(&ctx, bytes, 1);
    EXPECT_EQ(ctx.count[0], 0u);
    EXPECT_EQ(ctx.count[1], 1u);
}
