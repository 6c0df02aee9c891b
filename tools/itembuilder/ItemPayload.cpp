// Payload records and digest texts, built the way the product stores them.
#include "tools/itembuilder/ItemPayload.h"
#include "restore/codecs/ComplementBytes.h"
#include "restore/codecs/Md5Text.h"
#include "restore/codecs/PayloadCipher.h"
#include <algorithm>

namespace {

const size_t kHeaderBytes = 20;

void PutLe(std::string& out, uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out.push_back(char((value >> (8 * i)) & 0xFF));
}

uint8_t* Bytes(std::string& s)
{
    return reinterpret_cast<uint8_t*>(&s[0]);
}

std::string JoinSorted(std::vector<std::string> texts)
{
    std::sort(texts.begin(), texts.end());
    std::string joined;
    for (const std::string& t : texts)
        joined += t;
    return joined;
}

} // namespace

std::string MakeStreamRecord(const CItemStream& stream)
{
    std::string record;
    record.reserve(kHeaderBytes + stream.name.size() * 2 + stream.data.size());
    PutLe(record, stream.id, 4);
    PutLe(record, stream.attributes, 4);
    PutLe(record, stream.data.size(), 8);
    PutLe(record, stream.name.size() * 2, 4);
    for (wchar_t c : stream.name)
        PutLe(record, uint16_t(c), 2);
    record += stream.data;
    return record;
}

CItemPayload BuildNormalPayload(const std::vector<CItemStream>& streams)
{
    CItemPayload payload;
    std::vector<std::string> original, crypted;
    PayloadCipher cipher;
    for (const CItemStream& stream : streams) {
        std::string record = MakeStreamRecord(stream);
        original.push_back(Md5Text(record));
        size_t dataAt = record.size() - stream.data.size();
        cipher.Reset();
        cipher.Encipher(Bytes(record) + dataAt, stream.data.size());
        crypted.push_back(Md5Text(record));
        payload.bytes += record;
    }
    payload.hash = JoinSorted(original);
    payload.qhash = JoinSorted(crypted);
    return payload;
}

CItemPayload BuildEfsPayload(const std::string& rawExport)
{
    CItemPayload payload;
    payload.bytes = rawExport;
    if (!payload.bytes.empty())
        ComplementBytes(Bytes(payload.bytes), payload.bytes.size());
    payload.hash = Md5Text(rawExport);
    payload.qhash = Md5Text(payload.bytes);
    return payload;
}
