// Fuzzes the payload record walk against the restore writer's own way of reading a
// payload (RestoreNormalFile's record loop, replayed over memory, with the writer's
// one-pass digest-and-decipher step): both must agree on where the payload is refused and
// on every record, including a last record cut inside its data, which the writer ends
// where the payload ends. The digests the writer gathers run by run must equal those of
// each record taken in one piece, deciphered byte by byte from the cipher's definition.
// Besides, the complement of EFS payloads, applied in the same runs, must equal 255 - b.
//
// The first input byte sets how many data bytes each later read may deliver (1 to 256),
// so that records are cut into many runs at every alignment, and the vector paths of the
// cipher, the paired MD5 and the complement must carry on across them.
#include "fuzz/FuzzCheck.h"
#include "restore/codecs/ComplementBytes.h"
#include "restore/codecs/Md5Text.h"
#include "restore/codecs/Md5.h"
#include "restore/codecs/PayloadCipher.h"
#include "restore/codecs/PayloadRecords.h"
#include "restore/codecs/RestoreDataPath.h"
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Digests
{
    std::string original;
    std::string crypted;
    bool operator==(const Digests& o) const
    {
        return original == o.original && crypted == o.crypted;
    }
};

// The writer's record loop over a payload in memory, reads of at most runCap data bytes.
class CWriterModel
{
public:
    CWriterModel(const uint8_t* data, size_t size, size_t runCap)
        : m_pData(data), m_nSize(size), m_nRunCap(runCap)
    {
    }

    // True when the writer gets through the payload; false where it gives 7.
    bool Run(std::vector<Digests>& digests)
    {
        for (;;) {
            bool done = false;
            Digests d;
            if (!Record(done, d))
                return false;
            if (done)
                return true;
            digests.push_back(d);
        }
    }

private:
    size_t Read(uint8_t* into, size_t count)
    {
        size_t got = std::min(count, m_nSize - m_nAt);
        std::memcpy(into, m_pData + m_nAt, got);
        m_nAt += got;
        return got;
    }

    bool Record(bool& done, Digests& d)
    {
        MD5_CTX crypted, original;
        MD5Init(&crypted);
        MD5Init(&original);
        m_Cipher.Reset();
        // One buffer for all inputs: what a record leaves in it is never read again.
        static std::vector<uint8_t> s_Buffer(kPayloadBufferBytes);
        uint8_t* buffer = s_Buffer.data();
        size_t got = Read(buffer, kPayloadHeaderBytes);
        if (got == 0) {
            done = true;
            return true;
        }
        if (got < kPayloadHeaderBytes)
            return false;
        int64_t dataSize = 0;
        uint32_t nameSize = 0;
        std::memcpy(&dataSize, buffer + 8, sizeof(dataSize)); // little-endian host
        std::memcpy(&nameSize, buffer + 16, sizeof(nameSize));
        if (dataSize < 0 || nameSize > kPayloadMaxNameBytes)
            return false;
        if (Read(buffer + kPayloadHeaderBytes, nameSize) != nameSize)
            return false;
        uint32_t fill = kPayloadHeaderBytes + nameSize;
        uint32_t decipherFrom = fill;
        uint64_t total = fill + static_cast<uint64_t>(dataSize);
        uint64_t consumed = fill;
        do {
            size_t want = static_cast<size_t>(
                std::min<uint64_t>({kPayloadBufferBytes - fill, total - consumed, m_nRunCap}));
            got = Read(buffer + fill, want);
            if (got == 0 && fill == 0)
                break; // the payload ends inside the data: so does the record
            consumed += got;
            fill += static_cast<uint32_t>(got);
            DigestAndDecipherRun(buffer, fill, decipherFrom, &crypted, &original, m_Cipher);
            fill = 0;
            decipherFrom = 0;
        } while (consumed < total);
        d.original = FinishDigestText(original);
        d.crypted = FinishDigestText(crypted);
        return true;
    }

    const uint8_t* m_pData;
    size_t m_nSize;
    size_t m_nAt = 0;
    size_t m_nRunCap;
    PayloadCipher m_Cipher;
};

// The cipher as defined: plain = ((c - S) mod 256) XOR X, counters from 0x9E and 0x6A
// advancing by 0x0B and 0x0D.
void DecipherByDefinition(uint8_t* data, size_t count)
{
    uint8_t s = 0x9E, x = 0x6A;
    for (size_t i = 0; i < count; ++i) {
        data[i] = static_cast<uint8_t>(static_cast<uint8_t>(data[i] - s) ^ x);
        s = static_cast<uint8_t>(s + 0x0B);
        x = static_cast<uint8_t>(x + 0x0D);
    }
}

// Both digests of the record at offset, up to its end or the payload's, in one piece.
Digests OnePieceDigests(const uint8_t* data, size_t size, const PayloadRecord& r)
{
    size_t end = static_cast<size_t>(std::min<uint64_t>(r.End(), size));
    std::vector<uint8_t> record(data + r.offset, data + end);
    MD5_CTX ctx;
    MD5Init(&ctx);
    MD5Update(&ctx, record.data(), static_cast<uint32_t>(record.size()));
    Digests d;
    d.crypted = FinishDigestText(ctx);
    size_t dataAt = static_cast<size_t>(r.DataOffset() - r.offset);
    DecipherByDefinition(record.data() + dataAt, record.size() - dataAt);
    MD5Init(&ctx);
    MD5Update(&ctx, record.data(), static_cast<uint32_t>(record.size()));
    d.original = FinishDigestText(ctx);
    return d;
}

void CheckComplement(const uint8_t* data, size_t size, size_t runCap)
{
    std::vector<uint8_t> bytes(data, data + size);
    for (size_t at = 0; at < size; at += runCap)
        ComplementBytes(bytes.data() + at, std::min(runCap, size - at));
    for (size_t i = 0; i < size; ++i)
        FuzzCheck(bytes[i] == static_cast<uint8_t>(255 - data[i]),
                  "a complemented byte is 255 - b");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    size_t runCap = size_t(data[0]) + 1;
    ++data;
    --size;
    CheckComplement(data, size, runCap);

    std::vector<PayloadRecord> records;
    PayloadCheck check = WalkPayloadRecords(data, size, records);
    std::vector<Digests> digests;
    bool readThrough = CWriterModel(data, size, runCap).Run(digests);

    const bool cutInData = check == PayloadCheck::CutData;
    FuzzCheck(readThrough == (check == PayloadCheck::Ok || cutInData),
              "walk and writer agree on where a payload is refused");
    FuzzCheck(digests.size() == records.size() + (cutInData ? 1 : 0),
              "walk and writer finish the same records");
    if (!readThrough)
        return 0;
    uint64_t at = 0;
    for (const PayloadRecord& r : records) {
        FuzzCheck(r.offset == at && r.End() <= size, "records lie back to back in the payload");
        at = r.End();
    }
    FuzzCheck(cutInData || at == size, "the last whole record ends the payload");
    for (size_t i = 0; i < digests.size(); ++i) {
        PayloadRecord r;
        if (i < records.size()) {
            r = records[i];
        } else {
            r.offset = at; // the cut record: its header and name are whole
            ReadPayloadRecordHeader(data + at, r.header);
        }
        FuzzCheck(OnePieceDigests(data, size, r) == digests[i],
                  "digests gathered run by run equal the record's in one piece");
    }
    return 0;
}
