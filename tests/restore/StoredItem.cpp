// Quarantined items for the restore tests (see StoredItem.h).
#include "tests/restore/StoredItem.h"
#include "platform/Utf8.h"
#include "restore/codecs/Base64.h"
#include "restore/codecs/ComplementBytes.h"
#include "restore/codecs/PayloadCipher.h"
#include "tests/support/TestFiles.h"
#include <algorithm>
#include <cstring>

Lines operator+(Lines a, const Lines& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::string RecordHeader(uint32_t id, int64_t dataSize, uint32_t nameBytes)
{
    std::string h(20, '\0');
    uint32_t attributes = 0;
    std::memcpy(&h[0], &id, 4);
    std::memcpy(&h[4], &attributes, 4);
    std::memcpy(&h[8], &dataSize, 8);
    std::memcpy(&h[16], &nameBytes, 4);
    return h;
}

std::string NameBytes(const std::wstring& name)
{
    return std::string(reinterpret_cast<const char*>(name.data()), name.size() * 2);
}

std::string PlainRecord(const CTestStream& s)
{
    std::string name = NameBytes(s.name);
    return RecordHeader(s.id, static_cast<int64_t>(s.data.size()),
                        static_cast<uint32_t>(name.size())) + name + s.data;
}

std::string StoredRecord(const CTestStream& s)
{
    std::string data = s.data;
    PayloadCipher cipher;
    cipher.Encipher(reinterpret_cast<uint8_t*>(&data[0]), data.size());
    std::string name = NameBytes(s.name);
    return RecordHeader(s.id, static_cast<int64_t>(s.data.size()),
                        static_cast<uint32_t>(name.size())) + name + data;
}

std::string Base64Text(const std::string& bytes)
{
    std::string out(4 * ((bytes.size() + 2) / 3) + 3, '\0');
    CBase64 codec;
    uint32_t n = codec.Encode(reinterpret_cast<const uint8_t*>(bytes.data()),
                              static_cast<int32_t>(bytes.size()), &out[0]);
    out.resize(n - 2);  // one line; the index keeps it without its CR LF
    return out;
}

namespace {

std::string Joined(std::vector<std::string> texts)
{
    std::sort(texts.begin(), texts.end());
    std::string all;
    for (const std::string& t : texts)
        all += t;
    return all;
}

std::string Attr(const char* name, const std::string& value)
{
    return std::string(" ") + name + "=\"" + value + "\"";
}

std::string Attr(const char* name, const std::wstring& value)
{
    return Attr(name, WideToUtf8(value));
}

std::string IndexXml(const CTestItem& item)
{
    std::string x = "\xEF\xBB\xBF<?xml version=\"1.0\" ?>\r\n<signature>\r\n    <original";
    x += Attr("size", std::to_string(item.size)) + Attr("hash", item.hash) + ">\r\n";
    for (const CTestLocation& f : item.files) {
        x += "        <file" + Attr("sec_str", f.secStr) + Attr("name", f.name) +
             Attr("path", f.path) + Attr("attr", std::to_string(f.attr)) +
             Attr("crt", std::to_string(f.crt)) + Attr("lat", std::to_string(f.lat)) +
             Attr("lwt", std::to_string(f.lwt)) + Attr("dtime", std::string("0")) + " />\r\n";
    }
    x += "    </original>\r\n    <quar" + Attr("qname", std::string("A1")) +
         Attr("qhash", item.qhash) + " />\r\n";
    x += "    <data" + Attr("dvirus", std::string("trojan.fakealert.5")) +
         Attr("dflags", std::to_string(item.dflags)) + " />\r\n</signature>\r\n";
    return x;
}

} // namespace

CTestItem NormalItem(const std::vector<CTestStream>& streams)
{
    CTestItem item;
    std::vector<std::string> original;
    std::vector<std::string> crypted;
    for (const CTestStream& s : streams) {
        std::string stored = StoredRecord(s);
        item.payload += stored;
        original.push_back(Md5Text(PlainRecord(s)));
        crypted.push_back(Md5Text(stored));
        if (s.id == 1)
            item.size += static_cast<int64_t>(s.data.size());
    }
    item.hash = Joined(original);
    item.qhash = Joined(crypted);
    return item;
}

CTestItem EfsItem(const std::string& content)
{
    CTestItem item;
    item.payload = content;
    ComplementBytes(reinterpret_cast<uint8_t*>(&item.payload[0]), item.payload.size());
    item.size = static_cast<int64_t>(content.size());
    item.hash = Md5Text(content);
    item.qhash = Md5Text(item.payload);
    item.dflags = 0x8;
    return item;
}

void StoreItem(const std::wstring& indexPath, const CTestItem& item)
{
    WriteFileBytes(indexPath, IndexXml(item));
    WriteFileBytes(indexPath.substr(0, indexPath.rfind(L'.')) + L".cvq", item.payload);
}

std::string Filler(size_t n, uint8_t seed)
{
    std::string s(n, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345u;
        s[i] = static_cast<char>(x >> 16);
    }
    return s;
}
