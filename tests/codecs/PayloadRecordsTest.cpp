// Walking payload stream records: where each record lies, and how every kind of damaged
// payload is told apart, with the records before the damage still listed.
#include "restore/codecs/PayloadRecords.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

void PutLe(std::vector<uint8_t>& out, uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

std::vector<uint8_t> Record(uint32_t id, uint32_t attributes, int64_t dataSize,
                            uint32_t nameSize, size_t bodyBytes)
{
    std::vector<uint8_t> out;
    PutLe(out, id, 4);
    PutLe(out, attributes, 4);
    PutLe(out, static_cast<uint64_t>(dataSize), 8);
    PutLe(out, nameSize, 4);
    out.insert(out.end(), bodyBytes, 0xA5);
    return out;
}

// A whole record: name and data of the sizes the header gives.
std::vector<uint8_t> Whole(uint32_t id, int64_t dataSize, uint32_t nameSize)
{
    return Record(id, 0, dataSize, nameSize, nameSize + static_cast<size_t>(dataSize));
}

std::vector<uint8_t> Join(std::initializer_list<std::vector<uint8_t>> parts)
{
    std::vector<uint8_t> out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

PayloadCheck Walk(const std::vector<uint8_t>& bytes, std::vector<PayloadRecord>* records = nullptr)
{
    std::vector<PayloadRecord> found;
    PayloadCheck check = WalkPayloadRecords(bytes.data(), bytes.size(), found);
    if (records)
        *records = found;
    return check;
}

} // namespace

TEST(PayloadRecords, WholeRecordsAreFoundBackToBack)
{
    std::vector<PayloadRecord> records;
    EXPECT_EQ(Walk({}, &records), PayloadCheck::Ok);
    EXPECT_TRUE(records.empty());

    // Main data, a named stream, a record with neither name nor data.
    std::vector<uint8_t> payload = Join({Whole(1, 300, 0), Whole(4, 7, 12), Whole(1, 0, 0)});
    ASSERT_EQ(Walk(payload, &records), PayloadCheck::Ok);
    ASSERT_EQ(records.size(), 3u);
    const uint64_t offsets[] = {0, 320, 359};
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(records[i].offset, offsets[i]) << i;
    EXPECT_EQ(records[1].header.streamId, 4u);
    EXPECT_EQ(records[1].NameOffset(), 340u);
    EXPECT_EQ(records[1].DataOffset(), 352u);
    EXPECT_EQ(records[1].End(), 359u);
    EXPECT_EQ(records[2].End(), payload.size());
}

TEST(PayloadRecords, HeaderFieldsAreLittleEndian)
{
    std::vector<uint8_t> header = Record(0x04030201, 0x08070605, 0x0F0E0D0C0B0A0908, 0x1C,
                                         /*bodyBytes=*/0);
    PayloadRecordHeader h;
    EXPECT_EQ(ReadPayloadRecordHeader(header.data(), h), PayloadCheck::Ok);
    EXPECT_EQ(h.streamId, 0x04030201u);
    EXPECT_EQ(h.attributes, 0x08070605u);
    EXPECT_EQ(h.dataSize, 0x0F0E0D0C0B0A0908);
    EXPECT_EQ(h.nameSize, 0x1Cu);
}

TEST(PayloadRecords, RefusedHeadersAndTheNameBound)
{
    const std::vector<uint8_t> first = Whole(1, 5, 0);
    struct Case
    {
        std::vector<uint8_t> second;
        PayloadCheck expected;
    } cases[] = {
        {Record(1, 0, -1, 0, 100), PayloadCheck::NegativeSize},
        {Record(1, 0, INT64_MIN, 0, 0), PayloadCheck::NegativeSize},
        {Record(1, 0, 0, kPayloadMaxNameBytes + 1, kPayloadMaxNameBytes + 1),
         PayloadCheck::NameTooLarge},
        {Record(1, 0, 0, UINT32_MAX, 0), PayloadCheck::NameTooLarge},
        {Whole(1, 3, kPayloadMaxNameBytes), PayloadCheck::Ok},
        // No read could ever deliver this much: cut, not wrapped around.
        {Record(1, 0, INT64_MAX, kPayloadMaxNameBytes, kPayloadMaxNameBytes + 10),
         PayloadCheck::CutData},
    };
    for (const Case& c : cases) {
        std::vector<PayloadRecord> records;
        EXPECT_EQ(Walk(Join({first, c.second}), &records), c.expected);
        EXPECT_EQ(records.size(), c.expected == PayloadCheck::Ok ? 2u : 1u);
    }
}

TEST(PayloadRecords, EveryCutIsTold)
{
    const std::vector<uint8_t> first = Whole(1, 2, 0);
    const std::vector<uint8_t> second = Whole(3, 9, 6); // header 20, name 6, data 9
    for (size_t keep = 0; keep <= second.size(); ++keep) {
        std::vector<uint8_t> payload = first;
        payload.insert(payload.end(), second.begin(), second.begin() + keep);
        PayloadCheck expected = keep == 0 || keep == second.size() ? PayloadCheck::Ok
                                : keep < 20                        ? PayloadCheck::CutHeader
                                : keep < 26                        ? PayloadCheck::CutName
                                                                   : PayloadCheck::CutData;
        std::vector<PayloadRecord> records;
        EXPECT_EQ(Walk(payload, &records), expected) << keep;
        EXPECT_EQ(records.size(), keep == second.size() ? 2u : 1u) << keep;
    }
}
