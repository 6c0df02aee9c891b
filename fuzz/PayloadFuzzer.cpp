// Fuzzes the restore writer's own record loop (RunPayloadRecords, the loop RestoreNormalFile
// runs, here over memory with the writer's one-pass digest-and-decipher step) against the
// record walk and against the item builder's payload reader, which the quarantine
// inspector uses: all three must agree on where a payload is refused and on every record,
// including a last record cut inside its data, which the writer ends where the payload
// ends. The runs the loop hands on must be the records with their data deciphered from
// the cipher's definition, and the digests it gathers run by run must equal those of each
// record taken in one piece. Besides, the complement of EFS payloads, applied in the same
// runs, must equal 255 - b.
//
// The first input byte sets how many data bytes each run may carry (1 to 256), so that
// records are cut into many runs at every alignment, and the vector paths of the cipher,
// the paired MD5 and the complement must carry on across them.
#include "fuzz/FuzzCheck.h"
#include "restore/codecs/ComplementBytes.h"
#include "restore/codecs/Md5Text.h"
#include "tools/itembuilder/ItemPayload.h"
#include <algorithm>
#include <string>
#include <vector>

namespace {

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

// The record at r, up to its end or the payload's, as stored and as deciphered.
void RecordBytes(const uint8_t* data, size_t size, const PayloadRecord& r, std::string& stored,
                 std::string& plain)
{
    size_t end = static_cast<size_t>(std::min<uint64_t>(r.End(), size));
    stored.assign(reinterpret_cast<const char*>(data) + r.offset, end - r.offset);
    plain = stored;
    size_t dataAt = static_cast<size_t>(r.DataOffset() - r.offset);
    DecipherByDefinition(reinterpret_cast<uint8_t*>(&plain[0]) + dataAt, plain.size() - dataAt);
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

// The item builder's reader, fed in runs of runCap bytes, tells the same framing as the
// walk and, for a whole payload, the same digest texts as the loop gathered.
void CheckReader(const uint8_t* data, size_t size, size_t runCap, PayloadCheck check,
                 const CMemoryRecordLoop& loop)
{
    std::vector<uint8_t> bytes(data, data + size);
    CPayloadReader reader(/*efs=*/false);
    for (size_t at = 0; at < size; at += runCap)
        reader.Feed(bytes.data() + at, std::min(runCap, size - at));
    CPayloadSummary read = reader.Finish();
    FuzzCheck(read.m_framing == check, "the item builder's reader and the walk agree");
    if (check != PayloadCheck::Ok)
        return;
    FuzzCheck(read.m_hash == JoinDigestTexts(loop.m_Original) &&
                  read.m_qhash == JoinDigestTexts(loop.m_Crypted),
              "the item builder's reader gathers the writer's digests");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    uint32_t runCap = uint32_t(data[0]) + 1;
    ++data;
    --size;
    CheckComplement(data, size, runCap);

    std::vector<PayloadRecord> records;
    PayloadCheck check = WalkPayloadRecords(data, size, records);
    CMemoryRecordLoop loop(data, size, runCap);
    bool readThrough = loop.m_eEnd == ERecordLoop::Done;
    CheckReader(data, size, runCap, check, loop);

    const bool cutInData = check == PayloadCheck::CutData;
    FuzzCheck(readThrough == (check == PayloadCheck::Ok || cutInData),
              "walk and writer agree on where a payload is refused");
    FuzzCheck(loop.m_Original.size() == records.size() + (cutInData ? 1 : 0),
              "walk and writer finish the same records");
    if (!readThrough)
        return 0;
    uint64_t at = 0;
    for (const PayloadRecord& r : records) {
        FuzzCheck(r.offset == at && r.End() <= size, "records lie back to back in the payload");
        at = r.End();
    }
    FuzzCheck(cutInData || at == size, "the last whole record ends the payload");
    std::string written;
    for (size_t i = 0; i < loop.m_Original.size(); ++i) {
        PayloadRecord r;
        if (i < records.size()) {
            r = records[i];
        } else {
            r.offset = at; // the cut record: its header and name are whole
            ReadPayloadRecordHeader(data + at, r.header);
        }
        std::string stored, plain;
        RecordBytes(data, size, r, stored, plain);
        written += plain;
        FuzzCheck(Md5Text(plain) == loop.m_Original[i] && Md5Text(stored) == loop.m_Crypted[i],
                  "digests gathered run by run equal the record's in one piece");
    }
    FuzzCheck(written == loop.m_Written, "the runs are the records, data deciphered");
    return 0;
}
