// PayloadRecords: walking the stream records of an ordinary payload (see PayloadRecords.h).
#include "restore/codecs/PayloadRecords.h"

namespace {

// Assembled byte by byte, so neither alignment nor the host's byte order matters.
uint64_t LittleEndian(const uint8_t* p, int bytes)
{
    uint64_t value = 0;
    for (int i = bytes - 1; i >= 0; --i)
        value = value << 8 | p[i];
    return value;
}

} // namespace

PayloadCheck ReadPayloadRecordHeader(const uint8_t* header, PayloadRecordHeader& out)
{
    out.streamId = static_cast<uint32_t>(LittleEndian(header, 4));
    out.attributes = static_cast<uint32_t>(LittleEndian(header + 4, 4));
    out.dataSize = static_cast<int64_t>(LittleEndian(header + 8, 8));
    out.nameSize = static_cast<uint32_t>(LittleEndian(header + 16, 4));
    if (out.dataSize < 0)
        return PayloadCheck::NegativeSize;
    if (out.nameSize > kPayloadMaxNameBytes)
        return PayloadCheck::NameTooLarge;
    return PayloadCheck::Ok;
}

PayloadCheck WalkPayloadRecords(const uint8_t* bytes, size_t size,
                                std::vector<PayloadRecord>& records)
{
    uint64_t at = 0;
    while (at < size) {
        PayloadRecord record;
        record.offset = at;
        if (size - at < kPayloadHeaderBytes)
            return PayloadCheck::CutHeader;
        PayloadCheck check = ReadPayloadRecordHeader(bytes + at, record.header);
        if (check != PayloadCheck::Ok)
            return check;
        if (record.DataOffset() > size)
            return PayloadCheck::CutName;
        if (record.End() > size)
            return PayloadCheck::CutData;
        records.push_back(record);
        at = record.End();
    }
    return PayloadCheck::Ok;
}
