// Tests for DigestAndDecipherRun: on whole payloads cut into records and runs the way the
// restore writer cuts them, it must give the digests and bytes of the plain three-step
// path, and the deciphered bytes must be the data that was enciphered.
#include "restore/codecs/Md5Text.h"
#include "restore/codecs/RestoreDataPath.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

const uint32_t kHeaderBytes = 20;

using RunStep = std::function<void(uint8_t* run, uint32_t fill, uint32_t decipherFrom,
                                   MD5_CTX* crypted, MD5_CTX* original, PayloadCipher& cipher)>;

void PlainStep(uint8_t* run, uint32_t fill, uint32_t decipherFrom, MD5_CTX* crypted,
               MD5_CTX* original, PayloadCipher& cipher)
{
    MD5Update(crypted, run, fill);
    cipher.Decipher(run + decipherFrom, fill - decipherFrom);
    MD5Update(original, run, fill);
}

struct Payload
{
    std::vector<uint8_t> stored;  // as kept in the store: records with enciphered data
    std::vector<uint8_t> plain;   // the same with every data part deciphered
};

// Records of random name and data sizes; data enciphered per record from a fresh cipher.
Payload MakePayload(std::mt19937& rng, int records, uint32_t maxData)
{
    Payload p;
    for (int r = 0; r < records; ++r) {
        uint32_t nameSize = rng() % 3 == 0 ? 0 : 2 * (rng() % 40);
        int64_t dataSize = rng() % maxData;
        uint8_t header[kHeaderBytes];
        for (auto& b : header)
            b = static_cast<uint8_t>(rng());
        std::memcpy(header + 8, &dataSize, sizeof(dataSize));
        std::memcpy(header + 16, &nameSize, sizeof(nameSize));
        std::vector<uint8_t> head(header, header + kHeaderBytes);
        for (uint32_t i = 0; i < nameSize; ++i)
            head.push_back(static_cast<uint8_t>(rng()));
        std::vector<uint8_t> data(static_cast<size_t>(dataSize));
        for (auto& b : data)
            b = static_cast<uint8_t>(rng());
        p.plain.insert(p.plain.end(), head.begin(), head.end());
        p.plain.insert(p.plain.end(), data.begin(), data.end());
        PayloadCipher cipher;
        cipher.Encipher(data.data(), data.size());
        p.stored.insert(p.stored.end(), head.begin(), head.end());
        p.stored.insert(p.stored.end(), data.begin(), data.end());
    }
    return p;
}

struct Restored
{
    std::vector<uint8_t> written;
    std::vector<std::string> crypted;
    std::vector<std::string> original;
};

// The writer's loop: header and name first, then data reads topping the buffer up; a read
// returns at most maxRead bytes (short reads as a pipe or a slow disk gives them).
Restored Restore(const std::vector<uint8_t>& stored, uint32_t bufferBytes, uint32_t maxRead,
                 uint32_t seed, const RunStep& step)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> buffer(bufferBytes);
    Restored out;
    size_t at = 0;
    auto read = [&](uint8_t* into, uint32_t want) {
        uint32_t got = std::min<uint32_t>(want, 1 + rng() % maxRead);
        got = static_cast<uint32_t>(std::min<size_t>(got, stored.size() - at));
        std::memcpy(into, stored.data() + at, got);
        at += got;
        return got;
    };
    PayloadCipher cipher;
    while (at < stored.size()) {
        MD5_CTX crypted, original;
        MD5Init(&crypted);
        MD5Init(&original);
        cipher.Reset();
        int64_t dataSize = 0;
        uint32_t nameSize = 0;
        std::memcpy(&dataSize, stored.data() + at + 8, sizeof(dataSize));
        std::memcpy(&nameSize, stored.data() + at + 16, sizeof(nameSize));
        uint32_t fill = kHeaderBytes + nameSize;
        std::memcpy(buffer.data(), stored.data() + at, fill);
        at += fill;
        uint32_t decipherFrom = fill;
        uint64_t total = fill + static_cast<uint64_t>(dataSize);
        uint64_t consumed = fill;
        do {
            uint64_t room = std::min<uint64_t>(bufferBytes - fill, total - consumed);
            uint32_t want = static_cast<uint32_t>(room);
            uint32_t got = read(buffer.data() + fill, want);
            consumed += got;
            fill += got;
            step(buffer.data(), fill, decipherFrom, &crypted, &original, cipher);
            out.written.insert(out.written.end(), buffer.data(), buffer.data() + fill);
            fill = 0;
            decipherFrom = 0;
        } while (consumed < total);
        out.crypted.push_back(FinishDigestText(crypted));
        out.original.push_back(FinishDigestText(original));
    }
    return out;
}

void ExpectSameRestore(const Payload& p, uint32_t bufferBytes, uint32_t maxRead, uint32_t seed)
{
    Restored plain = Restore(p.stored, bufferBytes, maxRead, seed, PlainStep);
    Restored pair = Restore(p.stored, bufferBytes, maxRead, seed, DigestAndDecipherRun);
    EXPECT_EQ(plain.crypted, pair.crypted) << "buffer " << bufferBytes << " read " << maxRead;
    EXPECT_EQ(plain.original, pair.original) << "buffer " << bufferBytes << " read " << maxRead;
    EXPECT_TRUE(pair.written == p.plain) << "buffer " << bufferBytes << " read " << maxRead;
    EXPECT_TRUE(plain.written == p.plain);
}

}  // namespace

TEST(RestoreDataPath, MatchesThePlainPathOverRecordLayoutsAndReadSizes)
{
    std::mt19937 rng(1206);
    Payload small = MakePayload(rng, 12, 300);
    Payload large = MakePayload(rng, 5, 200000);
    const uint32_t bufferSizes[] = {65536, 4096 + 100, 1000};
    const uint32_t readSizes[] = {65536, 4097, 63, 1};
    uint32_t seed = 0;
    for (uint32_t buffer : bufferSizes) {
        for (uint32_t maxRead : readSizes) {
            ExpectSameRestore(small, buffer, maxRead, ++seed);
            if (maxRead > 1)  // one byte at a time over 1 MB adds time, not cover
                ExpectSameRestore(large, buffer, maxRead, ++seed);
        }
    }
}

// The digests of a record are of its stored and its deciphered bytes, so they must differ
// from each other exactly when the record has data, and the crypted one must be the MD5
// of the stored record.
TEST(RestoreDataPath, DigestsAreOfTheStoredAndTheDecipheredRecord)
{
    std::mt19937 rng(5);
    Payload p = MakePayload(rng, 1, 1);  // data size 0: nothing to decipher
    Payload q = MakePayload(rng, 1, 50000);
    ASSERT_GT(q.stored.size(), 20u + 80u);
    Restored none = Restore(p.stored, 65536, 65536, 1, DigestAndDecipherRun);
    Restored some = Restore(q.stored, 65536, 65536, 1, DigestAndDecipherRun);
    EXPECT_EQ(none.crypted[0], none.original[0]);
    EXPECT_NE(some.crypted[0], some.original[0]);

    MD5_CTX whole;
    MD5Init(&whole);
    MD5Update(&whole, q.stored.data(), static_cast<uint32_t>(q.stored.size()));
    EXPECT_EQ(FinishDigestText(whole), some.crypted[0]);
}

TEST(RestoreDataPath, DecipherStartPastTheFillDeciphersNothing)
{
    uint8_t run[100];
    for (int i = 0; i < 100; ++i)
        run[i] = static_cast<uint8_t>(i * 7);
    uint8_t before[100];
    std::memcpy(before, run, sizeof(run));
    MD5_CTX crypted, original;
    MD5Init(&crypted);
    MD5Init(&original);
    PayloadCipher cipher;
    DigestAndDecipherRun(run, 100, 150, &crypted, &original, cipher);
    EXPECT_EQ(0, std::memcmp(before, run, sizeof(run)));
    EXPECT_EQ(FinishDigestText(crypted), FinishDigestText(original));

    // The cipher did not advance: a fresh one deciphers the next bytes the same way.
    uint8_t next[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    uint8_t fresh[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    cipher.Decipher(next, 8);
    PayloadCipher other;
    other.Decipher(fresh, 8);
    EXPECT_EQ(0, std::memcmp(next, fresh, 8));
}
