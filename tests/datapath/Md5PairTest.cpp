// MD5UpdatePair, the data path's two-lane MD5, leaves both contexts as two MD5Update chains would.
#include "restore/codecs/Md5Pair.h"
#include "restore/codecs/Md5Text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

// Each lane after a prefix of its own, with different data, then the same splits; state, counter
// and buffered bytes are compared, so a lost byte shows even where the final block would hide it.
static void ExpectPairMatchesPlain(size_t prefixA, size_t prefixB, const std::vector<uint32_t>& splits,
                            uint32_t countLow = 0)
{
    static std::vector<uint8_t> data[2];
    for (int l = 0; l < 2 && data[l].empty(); ++l) {
        std::mt19937 rng(l);
        data[l].resize(300000);
        for (uint8_t& b : data[l])
            b = static_cast<uint8_t>(rng());
    }
    MD5_CTX pair[2], plain[2];
    size_t pos[2] = {prefixA, prefixB};
    for (int l = 0; l < 2; ++l) {
        MD5Init(&pair[l]);
        pair[l].count[0] = countLow;
        MD5Update(&pair[l], data[l].data(), static_cast<uint32_t>(pos[l]));
        plain[l] = pair[l];
    }
    for (uint32_t n : splits) {
        MD5UpdatePair(&pair[0], data[0].data() + pos[0], &pair[1], data[1].data() + pos[1], n);
        for (int l = 0; l < 2; ++l) {
            MD5Update(&plain[l], data[l].data() + pos[l], n);
            pos[l] += n;
        }
    }
    for (int l = 0; l < 2; ++l) {
        EXPECT_EQ(0, std::memcmp(plain[l].state, pair[l].state, sizeof(pair[l].state))) << l;
        EXPECT_EQ(plain[l].count[0], pair[l].count[0]) << l;
        EXPECT_EQ(plain[l].count[1], pair[l].count[1]) << l;
        EXPECT_EQ(0, std::memcmp(plain[l].buffer, pair[l].buffer, (plain[l].count[0] >> 3) & 0x3F)) << l;
        EXPECT_EQ(FinishDigestText(plain[l]), FinishDigestText(pair[l])) << l;
    }
}

TEST(Md5Pair, MatchesTwoPlainChainsForEveryPrefixAndSplit)
{
    const std::vector<std::vector<uint32_t>> splitSets = {
        {1}, {63}, {64}, {65}, {128}, {200, 64, 1, 4096}, {65536}, {3, 61, 64, 127, 129, 1000}};
    for (size_t prefix = 0; prefix < 64; prefix += 7)
        for (const auto& splits : splitSets) {
            SCOPED_TRACE(::testing::Message() << "prefix " << prefix << " split " << splits[0]);
            ExpectPairMatchesPlain(prefix, prefix, splits);
        }
    ExpectPairMatchesPlain(5, 17, {1000, 300, 64});  // lanes out of step
    ExpectPairMatchesPlain(5, 69, {1000, 300, 64});  // fills equal mod 64
    // The counter's low word wraps after 512 MiB: the pair's carry agrees with MD5Update's.
    ExpectPairMatchesPlain(0, 0, {8192}, 0xFFFFFE00u);
}
