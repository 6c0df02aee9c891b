// Fuzzes the payload record walk against the restore writer's own way of reading a
// payload (RestoreNormalFile's record loop, replayed over memory): both must agree on
// whether the payload is whole and on every record; and the digests the writer gathers
// run by run must equal the digests of each whole record taken in one piece.
//
// The first input byte sets how many data bytes each later read may deliver (1 to 256),
// so that records are cut into many runs and the cipher and MD5 must carry on across them.
#include "fuzz/FuzzCheck.h"
#include "restore/codecs/DigestText.h"
#include "restore/codecs/Md5.h"
#include "restore/codecs/PayloadCipher.h"
#include "restore/codecs/PayloadRecords.h"
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Digests
{
    std::string original;
    std::string crypted;
};

std::string Finish(MD5_CTX& ctx)
{
    uint8_t digest[16];
    MD5Final(digest, &ctx);
    char text[33];
    FormatDigestText(digest, text);
    return text;
}

// The writer's record loop over a payload in memory, reads of at most runCap data bytes.
class CWriterModel
{
public:
    CWriterModel(const uint8_t* data, size_t size, size_t runCap)
        : m_pData(data), m_nSize(size), m_nRunCap(runCap)
    {
    }

    // True when the payload ends after a whole record; false where the writer gives 7.
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
        size_t fill = kPayloadHeaderBytes + nameSize;
        size_t decipherFrom = fill;
        uint64_t total = fill + static_cast<uint64_t>(dataSize);
        uint64_t consumed = fill;
        do {
            size_t want = static_cast<size_t>(
                std::min<uint64_t>({kPayloadBufferBytes - fill, total - consumed, m_nRunCap}));
            got = Read(buffer + fill, want);
            if (got == 0 && want > 0)
                return false;
            consumed += got;
            fill += got;
            MD5Update(&crypted, buffer, static_cast<uint32_t>(fill));
            m_Cipher.Decipher(buffer + decipherFrom, fill - decipherFrom);
            MD5Update(&original, buffer, static_cast<uint32_t>(fill));
            fill = 0;
            decipherFrom = 0;
        } while (consumed < total);
        d.original = Finish(original);
        d.crypted = Finish(crypted);
        return true;
    }

    const uint8_t* m_pData;
    size_t m_nSize;
    size_t m_nAt = 0;
    size_t m_nRunCap;
    PayloadCipher m_Cipher;
};

// Both digests of one whole record, in one piece.
Digests WholeRecordDigests(const uint8_t* data, const PayloadRecord& r)
{
    std::vector<uint8_t> record(data + r.offset, data + r.End());
    MD5_CTX ctx;
    MD5Init(&ctx);
    MD5Update(&ctx, record.data(), static_cast<uint32_t>(record.size()));
    Digests d;
    d.crypted = Finish(ctx);
    PayloadCipher cipher;
    size_t dataAt = static_cast<size_t>(r.DataOffset() - r.offset);
    cipher.Decipher(record.data() + dataAt, record.size() - dataAt);
    MD5Init(&ctx);
    MD5Update(&ctx, record.data(), static_cast<uint32_t>(record.size()));
    d.original = Finish(ctx);
    return d;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    size_t runCap = size_t(data[0]) + 1;
    ++data;
    --size;

    std::vector<PayloadRecord> records;
    PayloadCheck check = WalkPayloadRecords(data, size, records);
    std::vector<Digests> digests;
    bool whole = CWriterModel(data, size, runCap).Run(digests);

    FuzzCheck(whole == (check == PayloadCheck::Ok), "walk and writer agree on a whole payload");
    if (!whole) {
        // The writer gave up inside the record after the ones it finished.
        FuzzCheck(digests.size() == records.size(), "walk and writer finish the same records");
        return 0;
    }
    FuzzCheck(digests.size() == records.size(), "walk and writer find the same records");
    uint64_t at = 0;
    for (size_t i = 0; i < records.size(); ++i) {
        const PayloadRecord& r = records[i];
        FuzzCheck(r.offset == at && r.End() <= size, "records lie back to back in the payload");
        at = r.End();
        Digests d = WholeRecordDigests(data, r);
        FuzzCheck(d.original == digests[i].original && d.crypted == digests[i].crypted,
                  "digests gathered run by run equal the whole record's");
    }
    FuzzCheck(at == size, "the last record ends the payload");
    return 0;
}
