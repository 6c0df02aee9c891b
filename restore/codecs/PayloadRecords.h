// PayloadRecords: the stream records of an ordinary payload (a 20-byte header, the stream
// name, the enciphered data, back to back), found the way the restore writer reads them:
// it refuses a header with a negative data size or a name that does not fit its work
// buffer before reading on, and a payload that ends inside a header or a name; one that
// ends inside the data ends that record there (the size and digest checks after the
// write then reject the file). No I/O, so a fuzzer and the tools can walk a payload held
// in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

const uint32_t kPayloadHeaderBytes = 20;    // stream id, attributes, data size, name size
const uint32_t kPayloadBufferBytes = 65536; // the writer's work buffer
// Header and name must fit the work buffer together.
const uint32_t kPayloadMaxNameBytes = kPayloadBufferBytes - kPayloadHeaderBytes;

enum class PayloadCheck
{
    Ok,
    CutHeader,    // 1 to 19 bytes where a header should start
    NegativeSize, // data size below 0
    NameTooLarge, // name size above kPayloadMaxNameBytes
    CutName,      // the payload ends inside the name
    CutData,      // the payload ends inside the data (the writer takes what there is)
};

struct PayloadRecordHeader
{
    uint32_t streamId = 0;
    uint32_t attributes = 0;
    int64_t dataSize = 0;
    uint32_t nameSize = 0; // bytes, UTF-16 without terminator
};

struct PayloadRecord
{
    uint64_t offset = 0; // of the header, from the payload's start
    PayloadRecordHeader header;

    uint64_t NameOffset() const { return offset + kPayloadHeaderBytes; }
    uint64_t DataOffset() const { return NameOffset() + header.nameSize; }
    // Cannot wrap: offset and name size are far below 2^63, the data size at most 2^63 - 1.
    uint64_t End() const { return DataOffset() + static_cast<uint64_t>(header.dataSize); }
};

// Reads the kPayloadHeaderBytes little-endian header bytes at header into out. Ok,
// NegativeSize or NameTooLarge; out is filled in every case.
PayloadCheck ReadPayloadRecordHeader(const uint8_t* header, PayloadRecordHeader& out);

// Walks size bytes from the first record on and appends every whole record to records.
// Ok when the bytes end right after a record (no bytes at all: no record); otherwise how
// the first incomplete record fails, the records before it listed.
PayloadCheck WalkPayloadRecords(const uint8_t* bytes, size_t size,
                                std::vector<PayloadRecord>& records);
