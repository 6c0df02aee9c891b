// MD5: reference digests and lengths around the padding, whole and in pieces (the counter's carry:
// tests/datapath).
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
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57EDF4A22BE3C955AC49DA2E2107B67A"},
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
