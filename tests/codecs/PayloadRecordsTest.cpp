// The walk over a payload's stream records and the restore writer's record loop, run over memory.
#include "tools/itembuilder/ItemPayload.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <set>

// A record whose header claims sizes that no stream would give.
static std::string WithSizes(std::string record, int64_t dataSize, uint32_t nameSize)
{
    for (int i = 0; i < 8; ++i)
        record[8 + i] = static_cast<char>(static_cast<uint64_t>(dataSize) >> (8 * i));
    for (int i = 0; i < 4; ++i)
        record[16 + i] = static_cast<char>(nameSize >> (8 * i));
    return record;
}

// The writer's loop over a payload held in a string.
static CMemoryRecordLoop Loop(const std::string& payload, uint32_t runLimit)
{
    return CMemoryRecordLoop(reinterpret_cast<const uint8_t*>(payload.data()), payload.size(), runLimit);
}

// A damaged second record: the loop refuses what the walk refuses, and ends a record cut in its data.
TEST(PayloadRecords, WalkAndLoopTellDamageAlike)
{
    const CItemStream five = {1, 0, L"", "five!"};
    const std::string first = BuildNormalPayload({five}).bytes;
    const std::string empty = MakeStreamRecord({1, 0, L"", ""});
    const std::string named = MakeStreamRecord({4, 0, L":abc", "7 bytes"});  // 20 + 8 + 7
    const std::string longest = MakeStreamRecord({4, 0, std::wstring(kPayloadMaxNameBytes / 2, L'n'), "abc"});
    const uint32_t tooLong = kPayloadMaxNameBytes + 1;
    const std::pair<std::string, PayloadCheck> cases[] = {
        {"", PayloadCheck::Ok},
        {empty.substr(0, 7), PayloadCheck::CutHeader},
        {WithSizes(empty, -1, 0), PayloadCheck::NegativeSize},
        {WithSizes(empty, INT64_MIN, 0), PayloadCheck::NegativeSize},
        {WithSizes(empty, 0, tooLong) + std::string(tooLong, 'n'), PayloadCheck::NameTooLarge},
        {WithSizes(empty, 0, UINT32_MAX), PayloadCheck::NameTooLarge},
        {named.substr(0, 27), PayloadCheck::CutName},
        {named.substr(0, 30), PayloadCheck::CutData},
        {named, PayloadCheck::Ok},
        {longest, PayloadCheck::Ok},
        {WithSizes(longest, INT64_MAX, kPayloadMaxNameBytes), PayloadCheck::CutData},
    };
    for (const auto& [second, walk] : cases) {
        SCOPED_TRACE(walk == PayloadCheck::Ok ? second.size() : size_t(walk));
        const std::string payload = first + second;
        std::vector<PayloadRecord> records;
        EXPECT_EQ(WalkPayloadRecords(reinterpret_cast<const uint8_t*>(payload.data()), payload.size(), records),
                  walk);
        EXPECT_EQ(records.size(), walk == PayloadCheck::Ok && !second.empty() ? 2u : 1u);
        EXPECT_EQ(records[0].End(), first.size());
        CMemoryRecordLoop loop = Loop(payload, kPayloadBufferBytes);
        const bool readThrough = walk == PayloadCheck::Ok || walk == PayloadCheck::CutData;
        EXPECT_EQ(loop.m_eEnd, readThrough ? ERecordLoop::Done : ERecordLoop::Unreadable);
        EXPECT_EQ(loop.m_Original.size(), readThrough && !second.empty() ? 2u : 1u);
        EXPECT_EQ(loop.m_Written.substr(0, first.size()), MakeStreamRecord(five));
        EXPECT_EQ(loop.m_Written.size(), readThrough ? payload.size() : first.size());
    }
}

// Each record restarts the cipher, header and name plain at the start of a run; digests of each
// record as stored and deciphered, whatever the runs, sort into the index's texts.
TEST(PayloadRecordLoop, HandsOnEveryRecordDecipheredWithItsDigests)
{
    std::string big(70000, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 29 + (i >> 9));
    const std::vector<CItemStream> streams = {{1, 0, L"", big},
                                              {4, 0, L":Zone.Identifier:$DATA", "[ZoneTransfer]"},
                                              {1, 0, L"", ""},
                                              {1, 0, L"", big.substr(9, 300)}};
    const CItemPayload payload = BuildNormalPayload(streams);
    std::string plain;
    std::set<size_t> recordStarts;
    for (const CItemStream& s : streams) {
        recordStarts.insert(plain.size());
        plain += MakeStreamRecord(s);
    }
    for (uint32_t runLimit : {kPayloadBufferBytes, 4097u, 63u, 1u}) {
        SCOPED_TRACE(runLimit);
        CMemoryRecordLoop loop = Loop(payload.bytes, runLimit);
        EXPECT_EQ(loop.m_eEnd, ERecordLoop::Done);
        EXPECT_TRUE(loop.m_Written == plain);
        EXPECT_TRUE(std::includes(loop.m_RunStarts.begin(), loop.m_RunStarts.end(), recordStarts.begin(),
                                  recordStarts.end()));
        for (size_t i = 0; i < loop.m_RunStarts.size(); ++i) {  // a run that starts no record is data alone
            size_t end = i + 1 < loop.m_RunStarts.size() ? loop.m_RunStarts[i + 1] : plain.size();
            EXPECT_TRUE(recordStarts.count(loop.m_RunStarts[i]) || end - loop.m_RunStarts[i] <= runLimit)
                << i;
            EXPECT_LE(end - loop.m_RunStarts[i], kPayloadBufferBytes) << i;
        }
        EXPECT_EQ(JoinDigestTexts(loop.m_Original), payload.hash);
        EXPECT_EQ(JoinDigestTexts(loop.m_Crypted), payload.qhash);
    }
}
