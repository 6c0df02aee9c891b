// The stream records of an ordinary payload: the walk that finds them, and the restore
// writer's own record loop run over memory (what it hands on, the digests it gathers,
// where it stops). Both must tell a damaged payload alike. Payloads are built with the
// item builder's record builder.
#include "restore/codecs/Md5Text.h"
#include "restore/codecs/PayloadRecordLoop.h"
#include "tools/itembuilder/ItemPayload.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <set>
#include <string>
#include <vector>

namespace {

CItemStream Stream(uint32_t id, const std::wstring& name, const std::string& data)
{
    CItemStream s;
    s.id = id;
    s.name = name;
    s.data = data;
    return s;
}

// A record whose header claims sizes that no stream would give.
std::string WithSizes(std::string record, int64_t dataSize, uint32_t nameSize)
{
    for (int i = 0; i < 8; ++i)
        record[8 + i] = static_cast<char>(static_cast<uint64_t>(dataSize) >> (8 * i));
    for (int i = 0; i < 4; ++i)
        record[16 + i] = static_cast<char>(nameSize >> (8 * i));
    return record;
}

PayloadCheck Walk(const std::string& payload, std::vector<PayloadRecord>& records)
{
    records.clear();
    return WalkPayloadRecords(reinterpret_cast<const uint8_t*>(payload.data()), payload.size(),
                              records);
}

std::string JoinedSorted(std::vector<std::string> texts)
{
    std::sort(texts.begin(), texts.end());
    std::string joined;
    for (const std::string& t : texts)
        joined += t;
    return joined;
}

// The loop's reads come from memory; the nth read can be made to fail, the records to be
// refused, the writes to fail after a number of runs.
class CMemoryPayload : public CPayloadRecordIo
{
public:
    explicit CMemoryPayload(const std::string& bytes) : m_sBytes(bytes) {}
    ERecordLoop Run(uint32_t runLimit = kPayloadBufferBytes)
    {
        std::vector<uint8_t> buffer(kPayloadBufferBytes);
        return RunPayloadRecords(*this, buffer.data(), runLimit);
    }

    int m_nFailingRead = 0;
    bool m_bAdmit = true;
    size_t m_nWritesLeft = SIZE_MAX;
    std::vector<std::string> m_Runs;
    std::vector<std::string> m_Original;
    std::vector<std::string> m_Crypted;

private:
    bool Read(uint8_t* into, uint32_t count, uint32_t& got) override
    {
        if (++m_nReads == m_nFailingRead)
            return false;
        got = static_cast<uint32_t>(std::min<size_t>(count, m_sBytes.size() - m_nAt));
        std::copy_n(m_sBytes.data() + m_nAt, got, into);
        m_nAt += got;
        return true;
    }
    bool Admit(const PayloadRecordHeader&) override { return m_bAdmit; }
    bool Write(const uint8_t* run, uint32_t size) override
    {
        if (m_nWritesLeft-- == 0)
            return false;
        m_Runs.emplace_back(reinterpret_cast<const char*>(run), size);
        return true;
    }
    void Digested(MD5_CTX& original, MD5_CTX& crypted) override
    {
        m_Original.push_back(FinishDigestText(original));
        m_Crypted.push_back(FinishDigestText(crypted));
    }

    std::string m_sBytes;
    size_t m_nAt = 0;
    int m_nReads = 0;
};

} // namespace

TEST(PayloadRecords, TheWalkFindsRecordsBackToBackAndTellsEveryCut)
{
    const std::string first = MakeStreamRecord(Stream(1, L"", std::string(300, 'm')));
    const std::string second = MakeStreamRecord(Stream(4, L":abc", "7 bytes"));  // 20 + 8 + 7
    std::vector<PayloadRecord> records;
    ASSERT_EQ(Walk(first + second + MakeStreamRecord(Stream(1, L"", "")), records),
              PayloadCheck::Ok);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[1].offset, 320u);
    EXPECT_EQ(records[1].header.streamId, 4u);
    EXPECT_EQ(records[1].DataOffset(), 348u);
    EXPECT_EQ(records[2].End(), 375u);
    for (size_t keep = 0; keep <= second.size(); ++keep) {
        PayloadCheck expected = keep == 0 || keep == second.size() ? PayloadCheck::Ok
                                : keep < 20                        ? PayloadCheck::CutHeader
                                : keep < 28                        ? PayloadCheck::CutName
                                                                   : PayloadCheck::CutData;
        EXPECT_EQ(Walk(first + second.substr(0, keep), records), expected) << keep;
        EXPECT_EQ(records.size(), keep == second.size() ? 2u : 1u) << keep;
    }
}

// What the walk says about a damaged payload, the loop must do: refuse it as unreadable,
// or end a record cut inside its data where the payload ends (never wrapping round).
TEST(PayloadRecords, WalkAndLoopTellDamageAlike)
{
    const CItemStream five = Stream(1, L"", "five!");
    const std::string first = BuildNormalPayload({five}).bytes;  // as stored
    const std::string empty = MakeStreamRecord(Stream(1, L"", ""));
    const std::string longest = MakeStreamRecord(Stream(4, std::wstring(kPayloadMaxNameBytes / 2, L'n'), "abc"));
    const std::string named = MakeStreamRecord(Stream(4, L":abc", "7 bytes"));
    const uint32_t tooLong = kPayloadMaxNameBytes + 1;
    struct Case
    {
        std::string second;
        PayloadCheck walk;
        ERecordLoop loop;
    };
    const Case cases[] = {
        {empty.substr(0, 7), PayloadCheck::CutHeader, ERecordLoop::Unreadable},
        {WithSizes(empty, -1, 0), PayloadCheck::NegativeSize, ERecordLoop::Unreadable},
        {WithSizes(empty, INT64_MIN, 0), PayloadCheck::NegativeSize, ERecordLoop::Unreadable},
        {WithSizes(empty, 0, tooLong) + std::string(tooLong, 'n'), PayloadCheck::NameTooLarge,
         ERecordLoop::Unreadable},
        {WithSizes(empty, 0, UINT32_MAX), PayloadCheck::NameTooLarge, ERecordLoop::Unreadable},
        {named.substr(0, 24), PayloadCheck::CutName, ERecordLoop::Unreadable},
        {longest, PayloadCheck::Ok, ERecordLoop::Done},
        {named.substr(0, 30), PayloadCheck::CutData, ERecordLoop::Done},
        {WithSizes(longest, INT64_MAX, kPayloadMaxNameBytes), PayloadCheck::CutData,
         ERecordLoop::Done},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        std::vector<PayloadRecord> records;
        EXPECT_EQ(Walk(first + c.second, records), c.walk);
        CMemoryPayload io(first + c.second);
        EXPECT_EQ(io.Run(), c.loop);
        EXPECT_EQ(io.m_Original.size(), c.loop == ERecordLoop::Done ? 2u : 1u);
        std::string written;
        for (const std::string& run : io.m_Runs)
            written += run;
        EXPECT_EQ(written.substr(0, first.size()), MakeStreamRecord(five));
        if (c.walk == PayloadCheck::CutData)  // the cut record's header, name and data
            EXPECT_EQ(written.size(), first.size() + c.second.size());
    }
}

// Every record restarts the cipher; header and name are handed on plain, leading the
// record's first run; runs never pass the buffer; the digests are of each record as
// stored and as deciphered, whatever the runs, and sort into the index's texts.
TEST(PayloadRecordLoop, HandsOnEveryRecordDecipheredWithItsDigests)
{
    std::string big(70000, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 29 + (i >> 9));
    const std::vector<CItemStream> streams = {
        Stream(1, L"", big), Stream(4, L":Zone.Identifier:$DATA", "[ZoneTransfer]"),
        Stream(1, L"", ""), Stream(1, L"", big.substr(0, 300))};
    const CItemPayload payload = BuildNormalPayload(streams);
    std::string plain;
    std::set<size_t> recordStarts;
    for (const CItemStream& s : streams) {
        recordStarts.insert(plain.size());
        plain += MakeStreamRecord(s);
    }
    for (uint32_t runLimit : {kPayloadBufferBytes, 4097u, 63u, 1u}) {
        SCOPED_TRACE(runLimit);
        CMemoryPayload io(payload.bytes);
        ASSERT_EQ(io.Run(runLimit), ERecordLoop::Done);
        std::string written;
        std::set<size_t> runStarts;
        for (const std::string& run : io.m_Runs) {
            runStarts.insert(written.size());
            written += run;
            EXPECT_LE(run.size(), kPayloadBufferBytes);
        }
        EXPECT_TRUE(written == plain);
        EXPECT_TRUE(std::includes(runStarts.begin(), runStarts.end(), recordStarts.begin(),
                                  recordStarts.end()));
        EXPECT_EQ(JoinedSorted(io.m_Original), payload.hash);
        EXPECT_EQ(JoinedSorted(io.m_Crypted), payload.qhash);
    }
}

TEST(PayloadRecordLoop, StopsWhereItsCallerSays)
{
    const std::string payload = BuildNormalPayload({Stream(1, L"", "data"), Stream(4, L"", "x")}).bytes;
    CMemoryPayload unreadable(payload);
    unreadable.m_nFailingRead = 3;  // header, name, then the data
    EXPECT_EQ(unreadable.Run(), ERecordLoop::Unreadable);
    EXPECT_TRUE(unreadable.m_Runs.empty());

    CMemoryPayload refused(payload);
    refused.m_bAdmit = false;
    EXPECT_EQ(refused.Run(), ERecordLoop::Refused);
    EXPECT_TRUE(refused.m_Runs.empty());

    CMemoryPayload unwritable(payload);
    unwritable.m_nWritesLeft = 1;
    EXPECT_EQ(unwritable.Run(), ERecordLoop::WriteFailed);
    EXPECT_EQ(unwritable.m_Runs.size(), 1u);
    EXPECT_EQ(unwritable.m_Original.size(), 1u);
}
