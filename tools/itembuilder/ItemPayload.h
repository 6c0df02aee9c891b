// The product's side of a quarantine payload: stream records in backup stream format with
// their data enciphered (or, for items that were EFS-encrypted files, the complemented raw
// export), and the digest texts the index keeps for it; the reading of a payload back, as
// the restore reads it, for the quarantine inspector and the tests; and the restore writer's
// own record loop run over a payload in memory, for the fuzzer and the tests. No Windows
// headers.
#pragma once
#include "restore/codecs/DigestList.h"
#include "restore/codecs/Md5.h"
#include "restore/codecs/PayloadCipher.h"
#include "restore/codecs/PayloadRecordLoop.h"
#include "restore/codecs/PayloadRecords.h"
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// One stream of the original file. The main data has id 1 (BACKUP_DATA) and no name.
struct CItemStream
{
    uint32_t id = 1;
    uint32_t attributes = 0;
    std::wstring name;  // UTF-16 code units, stored without terminator
    std::string data;   // plain bytes
};

// A payload as stored, with the index's two digest texts for it.
struct CItemPayload
{
    std::string bytes;  // the .cvq file's content
    std::string hash;   // original digests: sorted, joined
    std::string qhash;  // crypted digests: sorted, joined
};

// Digest texts as the index keeps them: sorted, then joined without separator.
std::string JoinDigestTexts(std::vector<std::string> texts);

// The 20-byte header, the name (UTF-16 little-endian) and the data, all plain.
std::string MakeStreamRecord(const CItemStream& stream);

// Ordinary layout: the records back to back, each record's data enciphered with the
// payload cipher started afresh. One original and one crypted digest per record (over
// header, name and plain or enciphered data). No streams: an empty payload, empty texts.
CItemPayload BuildNormalPayload(const std::vector<CItemStream>& streams);

// EFS layout: every byte of the raw export complemented; one digest pair over all of it.
CItemPayload BuildEfsPayload(const std::string& rawExport);


// What a payload holds, read back.
struct CPayloadSummary
{
    PayloadCheck m_framing = PayloadCheck::Ok; // how the records end (EFS: always Ok)
    uint64_t m_bytes = 0;                      // bytes read
    size_t m_records = 0;                      // whole records (EFS: 0)
    int64_t m_mainDataSize = -1;               // data bytes of the main data records
                                               // (id 1); -1 for EFS, whose size is inside
    std::string m_hash;                        // original digests, joined as the index keeps them
    std::string m_qhash;                       // crypted digests
    std::vector<CItemStream> m_streams;        // with keepStreams: each record, data plain
};

// Reads a payload fed in pieces of any size, with the restore's codecs: each record's
// header, name and data, both digests of each record (over header, name and the data as
// stored or deciphered), sorted and joined as the index's texts are. One buffer's worth of
// memory whatever the payload's size, unless the streams are kept.
class CPayloadReader
{
public:
    explicit CPayloadReader(bool efs, bool keepStreams = false);
    // The next bytes of the payload; they are deciphered (or complemented) in place.
    void Feed(uint8_t* bytes, size_t count);
    CPayloadSummary Finish();

private:
    enum class EPart { Header, Name, Data, Failed };

    void TakeHeader();
    void NextPart();

    const bool m_bEfs;
    const bool m_bKeepStreams;
    EPart m_part = EPart::Header;
    std::string m_header;   // header bytes gathered so far, then header and name
    PayloadRecordHeader m_record;
    uint64_t m_left = 0;    // bytes left of the name or of the data
    MD5_CTX m_crypted;
    MD5_CTX m_original;
    PayloadCipher m_cipher;
    DigestList m_hashes;
    DigestList m_qhashes;
    CPayloadSummary m_summary;
};

// A whole payload held in memory.
CPayloadSummary ReadItemPayload(std::string bytes, bool efs, bool keepStreams = false);

// The writer's record loop (RunPayloadRecords) over a payload in memory, runs of at most
// runLimit data bytes: how it ended, the runs it handed on and where each began, and each
// record's digest texts, in the loop's order.
class CMemoryRecordLoop : private CPayloadRecordIo
{
public:
    CMemoryRecordLoop(const uint8_t* data, size_t size, uint32_t runLimit);

    ERecordLoop m_eEnd;
    std::string m_Written;
    std::vector<size_t> m_RunStarts;
    std::vector<std::string> m_Original; // over header, name and plain data
    std::vector<std::string> m_Crypted;  // over header, name and data as stored

private:
    bool Read(uint8_t* into, uint32_t count, uint32_t& got) override;
    bool Admit(const PayloadRecordHeader&) override { return true; }
    bool Write(const uint8_t* run, uint32_t size) override;
    void Digested(MD5_CTX& original, MD5_CTX& crypted) override;

    const uint8_t* m_pData;
    size_t m_nSize;
    size_t m_nAt = 0;
};
