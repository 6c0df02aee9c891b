// MD5UpdatePair, the two-lane MD5 of the restore's data path, must leave both contexts
// exactly as two plain MD5Update chains would: for every split of the input, lanes that
// start at different buffer fills, and a bit counter about to carry. The record loop's
// tests (tests/codecs) cover the pair as the writer drives it.
#include "restore/codecs/Md5Pair.h"
#include "restore/codecs/Md5Text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> RandomBytes(std::mt19937& rng, size_t n)
{
    std::vector<uint8_t> v(n);
    for (uint8_t& b : v)
        b = static_cast<uint8_t>(rng());
    return v;
}

// State, counter and the buffered bytes, so a wrong counter or a lost byte shows even
// where the final block would hide it. Buffer bytes past the fill are scratch.
void ExpectSameContext(MD5_CTX expected, MD5_CTX actual)
{
    EXPECT_EQ(0, std::memcmp(expected.state, actual.state, sizeof(expected.state)));
    EXPECT_EQ(expected.count[0], actual.count[0]);
    EXPECT_EQ(expected.count[1], actual.count[1]);
    EXPECT_EQ(0, std::memcmp(expected.buffer, actual.buffer, (expected.count[0] >> 3) & 0x3F));
    EXPECT_EQ(FinishDigestText(expected), FinishDigestText(actual));
}

// Both lanes start after a prefix of their own, then take the same splits; different data
// in the two lanes catches a lane reading the other's words.
void ExpectPairMatchesPlain(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b,
                            size_t prefixA, size_t prefixB, const std::vector<uint32_t>& splits)
{
    MD5_CTX pairA, pairB;
    MD5Init(&pairA);
    MD5Init(&pairB);
    MD5Update(&pairA, a.data(), static_cast<uint32_t>(prefixA));
    MD5Update(&pairB, b.data(), static_cast<uint32_t>(prefixB));
    MD5_CTX plainA = pairA, plainB = pairB;
    size_t posA = prefixA, posB = prefixB;
    for (uint32_t n : splits) {
        MD5UpdatePair(&pairA, a.data() + posA, &pairB, b.data() + posB, n);
        MD5Update(&plainA, a.data() + posA, n);
        MD5Update(&plainB, b.data() + posB, n);
        posA += n;
        posB += n;
    }
    ExpectSameContext(plainA, pairA);
    ExpectSameContext(plainB, pairB);
}

} // namespace

TEST(Md5Pair, MatchesTwoPlainChainsForEveryPrefixAndSplit)
{
    std::mt19937 rng(20261206);
    const std::vector<uint8_t> a = RandomBytes(rng, 300000);
    const std::vector<uint8_t> b = RandomBytes(rng, 300000);
    const std::vector<std::vector<uint32_t>> splitSets = {
        {1}, {63}, {64}, {65}, {128}, {200, 64, 1, 4096}, {65536}, {3, 61, 64, 127, 129, 1000}};
    for (size_t prefix = 0; prefix < 64; prefix += 7)
        for (const auto& splits : splitSets) {
            SCOPED_TRACE(::testing::Message() << "prefix " << prefix << " split " << splits[0]);
            ExpectPairMatchesPlain(a, b, prefix, prefix, splits);
        }
    // Out of step (5 and 17 bytes buffered), then in step again; fills equal mod 64.
    ExpectPairMatchesPlain(a, b, 5, 17, {1000, 300, 64});
    ExpectPairMatchesPlain(a, b, 5, 69, {1000, 300, 64});
    // Many short runs take the top-up path.
    for (int round = 0; round < 40; ++round) {
        std::vector<uint32_t> splits;
        size_t total = rng() % 200;
        const size_t prefix = total;
        for (uint32_t n = 0; total + n <= a.size(); n = rng() % 4 == 0 ? rng() % 70 : rng() % 9000) {
            splits.push_back(n);
            total += n;
        }
        ExpectPairMatchesPlain(a, b, prefix, prefix, splits);
    }
}

// The low word of the bit counter wraps after 512 MiB; the pair counts whole blocks on
// its own, so its carry has to agree with MD5Update's.
TEST(Md5Pair, BitCounterCarriesIntoTheHighWord)
{
    std::mt19937 rng(3);
    const std::vector<uint8_t> a = RandomBytes(rng, 8192);
    const std::vector<uint8_t> b = RandomBytes(rng, 8192);
    MD5_CTX pairA, pairB;
    MD5Init(&pairA);
    MD5Init(&pairB);
    pairA.count[0] = pairB.count[0] = 0xFFFFFE00u;  // 64 blocks short of the wrap
    pairA.count[1] = pairB.count[1] = 7;
    MD5_CTX plainA = pairA, plainB = pairB;
    MD5UpdatePair(&pairA, a.data(), &pairB, b.data(), 8192);
    MD5Update(&plainA, a.data(), 8192);
    MD5Update(&plainB, b.data(), 8192);
    EXPECT_EQ(pairA.count[1], 8u);
    ExpectSameContext(plainA, pairA);
    ExpectSameContext(plainB, pairB);
}
