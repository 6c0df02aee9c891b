// The payload cipher against its definition, byte by byte, in pieces cut anywhere (the way
// a record arrives in reads of any size), and restarted by Reset; the complement of EFS
// payloads at every offset and length around its 16-byte steps.
#include "restore/codecs/ComplementBytes.h"
#include "restore/codecs/PayloadCipher.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

// The cipher as defined: plain = ((c - S) mod 256) XOR X, counters from 0x9E and 0x6A
// advancing by 0x0B and 0x0D.
struct CDefinedCipher
{
    uint8_t s = 0x9E;
    uint8_t x = 0x6A;
    void Step() { s = uint8_t(s + 0x0B), x = uint8_t(x + 0x0D); }
    uint8_t Decipher(uint8_t c) { uint8_t p = uint8_t((c - s) ^ x); Step(); return p; }
    uint8_t Encipher(uint8_t p) { uint8_t c = uint8_t((p ^ x) + s); Step(); return c; }
};

// Applies fn to data in pieces cut at random points, empty pieces included.
template <typename Fn>
void InRandomPieces(std::mt19937& rng, std::vector<uint8_t>& data, Fn fn)
{
    for (size_t pos = 0; pos < data.size();) {
        size_t piece = std::min<size_t>(rng() % 300, data.size() - pos);
        fn(data.data() + pos, piece);
        pos += piece;
    }
}

} // namespace

TEST(PayloadCipher, FollowsItsDefinitionAcrossAnyPiecesAndRestartsOnReset)
{
    std::mt19937 rng(1234);
    PayloadCipher dec, enc;
    for (int round = 0; round < 50; ++round) {
        std::vector<uint8_t> source(rng() % 2000);
        for (uint8_t& b : source)
            b = static_cast<uint8_t>(rng());
        std::vector<uint8_t> expectPlain(source), expectStored(source);
        CDefinedCipher defD, defE;
        for (size_t i = 0; i < source.size(); ++i) {
            expectPlain[i] = defD.Decipher(source[i]);
            expectStored[i] = defE.Encipher(source[i]);
        }
        std::vector<uint8_t> plain(source), stored(source);
        dec.Reset();
        enc.Reset();
        InRandomPieces(rng, plain, [&](uint8_t* p, size_t n) { dec.Decipher(p, n); });
        InRandomPieces(rng, stored, [&](uint8_t* p, size_t n) { enc.Encipher(p, n); });
        ASSERT_EQ(plain, expectPlain) << "round " << round;
        ASSERT_EQ(stored, expectStored) << "round " << round;
    }
}

TEST(ComplementBytes, EveryOffsetAndLengthAroundTheVectorWidth)
{
    std::vector<uint8_t> source(96);
    for (size_t i = 0; i < source.size(); ++i)
        source[i] = static_cast<uint8_t>(i * 37 + 11);
    for (size_t offset = 0; offset < 17; ++offset) {
        for (size_t length = 0; offset + length <= 79; ++length) {
            std::vector<uint8_t> data(source);
            ComplementBytes(data.data() + offset, length);
            for (size_t i = 0; i < data.size(); ++i) {
                bool inside = i >= offset && i < offset + length;
                ASSERT_EQ(data[i], inside ? uint8_t(255 - source[i]) : source[i])
                    << "offset " << offset << " length " << length << " byte " << i;
            }
        }
    }
}
