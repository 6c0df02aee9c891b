// The tests' own reading of a payload file, written apart from the builder: record
// framing, deciphering and the two digest texts, so that the builder is checked against
// the format rather than against itself.
#pragma once
#include "restore/codecs/DigestList.h"
#include "restore/codecs/Md5Text.h"
#include "restore/codecs/PayloadCipher.h"
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

struct CReadRecord
{
    uint32_t id = 0;
    uint32_t attributes = 0;
    int64_t size = 0;
    std::wstring name;
    std::string headerAndName;  // as stored
    std::string stored;         // data as stored
    std::string plain;          // data deciphered
};

// False when the bytes do not split exactly into whole records.
inline bool ReadPayloadRecords(const std::string& bytes, std::vector<CReadRecord>* records)
{
    size_t at = 0;
    while (at < bytes.size()) {
        if (bytes.size() - at < 20)
            return false;
        CReadRecord r;
        uint32_t nameBytes = 0;
        std::memcpy(&r.id, &bytes[at], 4);
        std::memcpy(&r.attributes, &bytes[at + 4], 4);
        std::memcpy(&r.size, &bytes[at + 8], 8);
        std::memcpy(&nameBytes, &bytes[at + 16], 4);
        if (r.size < 0 || nameBytes % 2 || bytes.size() - at - 20 < nameBytes + uint64_t(r.size))
            return false;
        for (uint32_t i = 0; i < nameBytes; i += 2)
            r.name.push_back(wchar_t(uint8_t(bytes[at + 20 + i]) |
                                     uint8_t(bytes[at + 21 + i]) << 8));
        r.headerAndName = bytes.substr(at, 20 + nameBytes);
        r.stored = bytes.substr(at + 20 + nameBytes, size_t(r.size));
        r.plain = r.stored;
        PayloadCipher cipher;
        cipher.Reset();
        if (!r.plain.empty())
            cipher.Decipher(reinterpret_cast<uint8_t*>(&r.plain[0]), r.plain.size());
        at += 20 + nameBytes + size_t(r.size);
        records->push_back(r);
    }
    return true;
}

// The joined texts as the restore compares them: through its sorted DigestList.
inline std::string JoinedDigests(const std::vector<CReadRecord>& records, bool original)
{
    DigestList list;
    for (const CReadRecord& r : records)
        list.InsertSorted(Md5Text(r.headerAndName + (original ? r.plain : r.stored)).c_str());
    std::vector<uint8_t> joined;
    list.Concatenate(joined);
    return std::string(joined.begin(), joined.end());
}
