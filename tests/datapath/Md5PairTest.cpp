// Tests for MD5UpdatePair: every split of the input and every starting state must give
// exactly the contexts two separate MD5Update chains give.
#include "restore/codecs/Md5Text.h"
#include "restore/codecs/Md5Pair.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

std::vector<uint8_t> RandomBytes(std::mt19937& rng, size_t n)
{
    std::vector<uint8_t> v(n);
    for (auto& b : v)
        b = static_cast<uint8_t>(rng());
    return v;
}

std::string Digest(MD5_CTX ctx)
{
    return FinishDigestText(ctx);
}

// State, counter and the buffered bytes, so a wrong counter or a lost byte shows up even
// where the final block would hide it. Buffer bytes past the fill are scratch: the plain
// path leaves a copy of the first block there, the pair does not.
void ExpectSameContext(const MD5_CTX& expected, const MD5_CTX& actual, const char* what)
{
    EXPECT_EQ(0, std::memcmp(expected.state, actual.state, sizeof(expected.state))) << what;
    EXPECT_EQ(expected.count[0], actual.count[0]) << what;
    EXPECT_EQ(expected.count[1], actual.count[1]) << what;
    uint32_t used = (expected.count[0] >> 3) & 0x3F;
    EXPECT_EQ(0, std::memcmp(expected.buffer, actual.buffer, used)) << what;
    EXPECT_EQ(Digest(expected), Digest(actual)) << what;
}

struct Lanes
{
    MD5_CTX pairA, pairB, plainA, plainB;
};

// Both lanes start after their own prefix, then take the same splits of their input.
Lanes Feed(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, size_t prefixA,
           size_t prefixB, const std::vector<uint32_t>& splits)
{
    Lanes l;
    MD5Init(&l.pairA);
    MD5Init(&l.pairB);
    MD5Update(&l.pairA, a.data(), static_cast<uint32_t>(prefixA));
    MD5Update(&l.pairB, b.data(), static_cast<uint32_t>(prefixB));
    l.plainA = l.pairA;
    l.plainB = l.pairB;
    size_t posA = prefixA, posB = prefixB;
    for (uint32_t n : splits) {
        MD5UpdatePair(&l.pairA, a.data() + posA, &l.pairB, b.data() + posB, n);
        MD5Update(&l.plainA, a.data() + posA, n);
        MD5Update(&l.plainB, b.data() + posB, n);
        posA += n;
        posB += n;
    }
    return l;
}

}  // namespace

TEST(Md5Pair, BothLanesGiveTheReferenceDigest)
{
    const char* text = "1234567890123456789012345678901234567890"
                       "1234567890123456789012345678901234567890";
    auto bytes = reinterpret_cast<const uint8_t*>(text);
    MD5_CTX a, b;
    MD5Init(&a);
    MD5Init(&b);
    MD5UpdatePair(&a, bytes, &b, bytes, static_cast<uint32_t>(std::strlen(text)));
    EXPECT_EQ("57EDF4A22BE3C955AC49DA2E2107B67A", Digest(a));
    EXPECT_EQ("57EDF4A22BE3C955AC49DA2E2107B67A", Digest(b));
}

// Different data in the two lanes catches a lane reading the other's message words.
TEST(Md5Pair, MatchesTwoPlainChainsForEveryPrefixAndSplit)
{
    std::mt19937 rng(20261206);
    const std::vector<uint8_t> a = RandomBytes(rng, 70000);
    const std::vector<uint8_t> b = RandomBytes(rng, 70000);
    const std::vector<std::vector<uint32_t>> splitSets = {
        {1}, {63}, {64}, {65}, {128}, {200, 64, 1, 4096}, {65536}, {3, 61, 64, 127, 129, 1000}};
    for (size_t prefix = 0; prefix < 64; prefix += 7) {
        for (const auto& splits : splitSets) {
            Lanes l = Feed(a, b, prefix, prefix, splits);
            std::string what = "prefix " + std::to_string(prefix) + " first split " +
                               std::to_string(splits[0]);
            ExpectSameContext(l.plainA, l.pairA, what.c_str());
            ExpectSameContext(l.plainB, l.pairB, what.c_str());
        }
    }
}

TEST(Md5Pair, LanesAtDifferentBufferFillsStillMatch)
{
    std::mt19937 rng(7);
    const std::vector<uint8_t> a = RandomBytes(rng, 5000);
    const std::vector<uint8_t> b = RandomBytes(rng, 5000);
    // Out of step at first (5 vs 17 bytes buffered), in step again after 64 + 12 more on A.
    Lanes l = Feed(a, b, 5, 17, {1000, 300, 64});
    ExpectSameContext(l.plainA, l.pairA, "unequal fills");
    ExpectSameContext(l.plainB, l.pairB, "unequal fills");
    Lanes same = Feed(a, b, 5, 69, {1000, 300, 64});
    ExpectSameContext(same.plainA, same.pairA, "fills equal mod 64");
    ExpectSameContext(same.plainB, same.pairB, "fills equal mod 64");
}

// Random splits, random random-length prefixes; many short runs exercise the top-up path.
TEST(Md5Pair, RandomSplitsMatch)
{
    std::mt19937 rng(42);
    const std::vector<uint8_t> a = RandomBytes(rng, 300000);
    const std::vector<uint8_t> b = RandomBytes(rng, 300000);
    for (int round = 0; round < 40; ++round) {
        size_t prefix = rng() % 200;
        std::vector<uint32_t> splits;
        size_t total = prefix;
        for (;;) {
            uint32_t n = (rng() % 4 == 0) ? rng() % 70 : rng() % 9000;
            if (total + n > a.size())
                break;
            splits.push_back(n);
            total += n;
        }
        Lanes l = Feed(a, b, prefix, prefix, splits);
        ExpectSameContext(l.plainA, l.pairA, "random");
        ExpectSameContext(l.plainB, l.pairB, "random");
    }
}

// The low word of the bit counter wraps after 512 MiB; the pair keeps its own count of
// the whole blocks, so its carry has to agree with MD5Update's.
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
    EXPECT_EQ(8u, pairA.count[1]);
    ExpectSameContext(plainA, pairA, "carry");
    ExpectSameContext(plainB, pairB, "carry");
}

TEST(Md5Pair, NothingToDoLeavesBothContextsAlone)
{
    uint8_t data[64] = {1, 2, 3};
    MD5_CTX a, b;
    MD5Init(&a);
    MD5Init(&b);
    MD5Update(&a, data, 10);
    MD5_CTX beforeA = a, beforeB = b;
    MD5UpdatePair(&a, data, &b, data, 0);
    MD5UpdatePair(&a, nullptr, &b, nullptr, 64);
    EXPECT_EQ(0, std::memcmp(&beforeA, &a, sizeof(a)));
    EXPECT_EQ(0, std::memcmp(&beforeB, &b, sizeof(b)));
}
