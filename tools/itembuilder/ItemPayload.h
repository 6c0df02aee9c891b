// The product's side of a quarantine payload: stream records in backup stream format with
// their data enciphered (or, for items that were EFS-encrypted files, the complemented raw
// export), and the digest texts the index keeps for it. No Windows headers.
#pragma once
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

// The 20-byte header, the name (UTF-16 little-endian) and the data, all plain.
std::string MakeStreamRecord(const CItemStream& stream);

// Ordinary layout: the records back to back, each record's data enciphered with the
// payload cipher started afresh. One original and one crypted digest per record (over
// header, name and plain or enciphered data). No streams: an empty payload, empty texts.
CItemPayload BuildNormalPayload(const std::vector<CItemStream>& streams);

// EFS layout: every byte of the raw export complemented; one digest pair over all of it.
CItemPayload BuildEfsPayload(const std::string& rawExport);

