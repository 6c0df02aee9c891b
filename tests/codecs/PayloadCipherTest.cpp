// Tests for the payload cipher and the byte complement, including the cipher
// continuity the payload digest rule relies on.
#include "restore/codecs/ComplementBytes.h"
#include "restore/codecs/PayloadCipher.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

// Byte-by-byte counter form of the cipher; the table-driven class must match
// it exactly.
struct ReferenceCipher
{
    uint8_t s = 0x9E;
    uint8_t x = 0x6A;
    void Step() { s = static_cast<uint8_t>(s + 0x0B); x = static_cast<uint8_t>(x + 0x0D); }
    uint8_t Decipher(uint8_t c) { uint8_t p = static_cast<uint8_t>((c - s) ^ x); Step(); return p; }
    uint8_t Encipher(uint8_t p) { uint8_t c = static_cast<uint8_t>((p ^ x) + s); Step(); return c; }
};

std::vector<uint8_t> RandomBytes(std::mt19937& rng, size_t n)
{
    std::vector<uint8_t> v(n);
    for (auto& b : v)
        b = static_cast<uint8_t>(rng());
    return v;
}

// Applies fn to data in pieces cut at random points, empty pieces included,
// the way a record arrives in reads of varying size.
template <typename Fn>
void InRandomPieces(std::mt19937& rng, uint8_t* data, size_t size, Fn fn)
{
    for (size_t pos = 0; pos < size;) {
        size_t piece = std::min<size_t>(rng() % 300, size - pos);
        fn(data + pos, piece);
        pos += piece;
    }
}

}  // namespace

TEST(PayloadCipher, MatchesReferenceAcrossRandomSplits)
{
    std::mt19937 rng(1234);
    for (int round = 0; round < 50; ++round) {
        const std::vector<uint8_t> source = RandomBytes(rng, rng() % 2000);
        std::vector<uint8_t> expectPlain(source), expectCipher(source);
        ReferenceCipher refD, refE;
        for (size_t i = 0; i < source.size(); ++i) {
            expectPlain[i] = refD.Decipher(source[i]);
            expectCipher[i] = refE.Encipher(source[i]);
        }
        PayloadCipher dec, enc;
        std::vector<uint8_t> plain(source), cipher(source);
        InRandomPieces(rng, plain.data(), plain.size(), [&](uint8_t* p, size_t n) { dec.Decipher(p, n); });
        InRandomPieces(rng, cipher.data(), cipher.size(), [&](uint8_t* p, size_t n) { enc.Encipher(p, n); });
        ASSERT_EQ(expectPlain, plain) << "round " << round;
        ASSERT_EQ(expectCipher, cipher) << "round " << round;
    }
}

// Per record the writer resets the cipher, leaves the 20-byte header and the
// name alone, and deciphers the data bytes of each read as it comes.
TEST(PayloadCipher, RecordsRestartAtResetAndIgnoreReadSplits)
{
    std::mt19937 rng(7);
    const size_t prefixLen = 20 + 11;
    const std::vector<uint8_t> plainRecord = RandomBytes(rng, prefixLen + 777);

    PayloadCipher cipher;
    std::vector<uint8_t> first(plainRecord), second(plainRecord);
    cipher.Encipher(first.data() + prefixLen, first.size() - prefixLen);
    cipher.Reset();
    cipher.Encipher(second.data() + prefixLen, second.size() - prefixLen);
    EXPECT_EQ(first, second);
    EXPECT_NE(plainRecord, first);

    for (int trial = 0; trial < 20; ++trial) {
        std::vector<uint8_t> record(first);
        cipher.Reset();
        InRandomPieces(rng, record.data() + prefixLen, record.size() - prefixLen,
                       [&](uint8_t* p, size_t n) { cipher.Decipher(p, n); });
        ASSERT_EQ(plainRecord, record) << "trial " << trial;
    }
}

TEST(ComplementBytes, InvertsEveryByteValueAndUndoesItself)
{
    std::vector<uint8_t> data(256);
    for (int i = 0; i < 256; ++i)
        data[i] = static_cast<uint8_t>(i);
    ComplementBytes(data.data(), data.size());
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(255 - i, data[i]);
    ComplementBytes(data.data(), data.size());
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(i, data[i]);
}
