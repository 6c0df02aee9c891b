// The payload cipher against its definition in pieces of any size; the EFS complement.
#include "restore/codecs/ComplementBytes.h"
#include "restore/codecs/PayloadCipher.h"

#include <gtest/gtest.h>

#include <random>

TEST(PayloadCipher, FollowsItsDefinitionAcrossAnyPiecesAndRestartsOnReset)
{
    std::mt19937 rng(1234);
    PayloadCipher dec, enc;
    for (int round = 0; round < 50; ++round) {
        std::vector<uint8_t> plain(rng() % 2000), stored(plain.size());
        std::vector<uint8_t> expectPlain(plain.size()), expectStored(plain.size());
        // plain = ((c - S) mod 256) XOR X; S from 0x9E by 0x0B, X from 0x6A by 0x0D.
        for (size_t i = 0; i < plain.size(); ++i) {
            uint8_t s = uint8_t(0x9E + 0x0B * i), x = uint8_t(0x6A + 0x0D * i);
            plain[i] = stored[i] = static_cast<uint8_t>(rng());
            expectPlain[i] = uint8_t(uint8_t(plain[i] - s) ^ x);
            expectStored[i] = uint8_t((stored[i] ^ x) + s);
        }
        dec.Reset();
        enc.Reset();
        for (size_t pos = 0, piece = 0; pos < plain.size(); pos += piece) {
            piece = std::min<size_t>(rng() % 300, plain.size() - pos);  // empty pieces too
            dec.Decipher(plain.data() + pos, piece);
            enc.Encipher(stored.data() + pos, piece);
        }
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
