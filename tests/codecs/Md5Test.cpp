// MD5 against the reference digests of RFC 1321 and digests of lengths around the padding
// boundary and whole blocks, each taken whole and in pieces of several sizes; the bit
// counter's carry, which only a payload of 512 MiB would otherwise reach.
#include "restore/codecs/Md5Text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string DigestInPieces(const std::string& bytes, size_t piece)
{
    MD5_CTX ctx;
    MD5Init(&ctx);
    for (size_t at = 0; at < bytes.size(); at += piece)
        MD5Update(&ctx, reinterpret_cast<const uint8_t*>(bytes.data()) + at,
                  static_cast<uint32_t>(std::min(piece, bytes.size() - at)));
    return FinishDigestText(ctx);
}

} // namespace

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
        // 55 and 56 bytes fit one padding block or not; 64, 65, 119, 120 and 128 lie around
        // whole blocks.
        {counted.substr(0, 55), "8D24280288A696559FD8D5AA1B6D8C6E"},
        {counted.substr(0, 56), "EF2C72B7254C92459E498EDDD4ACE573"},
        {counted.substr(0, 57), "5E319059F1BA9373988437B589FB9F21"},
        {counted.substr(0, 63), "C4C8C6D513F4E1604EB18508A1769364"},
        {counted.substr(0, 64), "A2FCB39A253B9B785B1F97518FA37683"},
        {counted.substr(0, 65), "E49FE82D0BB12967A196C85DE313E446"},
        {counted.substr(0, 119), "1640DEEA49EBB258EC6EDE18D4B2D2D7"},
        {counted.substr(0, 120), "05F879F7B542A7EBF0605ADFF67D4423"},
        {counted.substr(0, 128), "FE942895E9AAE953F3E246E5FD00739D"},
        {counted, "DE809FF794E91B68F9E91A2B7030BCB0"},
    };
    for (const auto& [bytes, digest] : cases) {
        EXPECT_EQ(Md5Text(bytes), digest) << bytes.size() << " bytes";
        for (size_t piece : {1, 3, 55, 63, 64, 65})
            EXPECT_EQ(DigestInPieces(bytes, piece), digest) << bytes.size() << " by " << piece;
    }
}

TEST(Md5, BitCounterCarriesIntoTheHighWord)
{
    MD5_CTX ctx;
    MD5Init(&ctx);
    const uint8_t bytes[3] = {1, 2, 3};
    MD5Update(&ctx, bytes, 3);
    EXPECT_EQ(ctx.count[0], 24u);
    // As if 2^29 - 1 bytes had gone before: one more must carry.
    ctx.count[0] = 0xFFFFFFF8u;
    MD5Update(&ctx, bytes, 1);
    EXPECT_EQ(ctx.count[0], 0u);
    EXPECT_EQ(ctx.count[1], 1u);
}
