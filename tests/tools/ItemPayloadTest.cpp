// The item builder's payloads, digest texts, security text and index record, read back
// with the tests' own payload reader and the restore's codecs.
#include "restore/codecs/Base64.h"
#include "restore/codecs/ComplementBytes.h"
#include "tests/tools/PayloadReader.h"
#include "tools/itembuilder/ItemBuilder.h"
#include <gtest/gtest.h>
#include <algorithm>

namespace {

std::string Pattern(size_t n, unsigned seed)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = char((i * 29 + seed * 3 + (i >> 9)) & 0xFF);
    return s;
}

CItemStream Stream(uint32_t id, const std::wstring& name, const std::string& data)
{
    CItemStream s;
    s.id = id;
    s.name = name;
    s.data = data;
    return s;
}

std::wstring Wide(const std::string& s)
{
    return std::wstring(s.begin(), s.end());
}

} // namespace

TEST(ItemPayload, RecordsDecipherBackWithTheirFraming)
{
    CItemDescription desc;
    desc.content = Pattern(70000, 1); // longer than one restore buffer, past 256-byte cycles
    desc.extraStreams = {Stream(4, L":Zone.Identifier:$DATA", "[ZoneTransfer]\r\nZoneId=3"),
                         Stream(2, L"", Pattern(300, 2))};
    desc.extraStreams[0].attributes = 0x8;
    CItemPayload payload = BuildItemPayload(desc);

    std::vector<CReadRecord> records;
    ASSERT_TRUE(ReadPayloadRecords(payload.bytes, &records));
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].id, 1u);
    EXPECT_EQ(records[0].name, L"");
    EXPECT_EQ(records[0].plain, desc.content);
    EXPECT_NE(records[0].stored, desc.content);
    EXPECT_EQ(records[1].id, 4u);
    EXPECT_EQ(records[1].attributes, 0x8u);
    EXPECT_EQ(records[1].name, L":Zone.Identifier:$DATA");
    EXPECT_EQ(records[1].plain, desc.extraStreams[0].data);
    EXPECT_EQ(records[2].id, 2u);
    EXPECT_EQ(records[2].plain, desc.extraStreams[1].data);
    // Headers and names are never enciphered.
    EXPECT_EQ(records[1].headerAndName, MakeStreamRecord(desc.extraStreams[0]).substr(0, 64));

    EXPECT_EQ(payload.hash, JoinedDigests(records, /*original=*/true));
    EXPECT_EQ(payload.qhash, JoinedDigests(records, /*original=*/false));
    EXPECT_EQ(payload.hash.size(), 96u);

    // The item builder's own reader, fed in pieces that split headers and names, reads the
    // same records and digests; cut short, it says where.
    for (size_t piece : {size_t(1), size_t(7), size_t(65536)}) {
        std::string bytes = payload.bytes;
        CPayloadReader reader(/*efs=*/false, /*keepStreams=*/true);
        for (size_t at = 0; at < bytes.size(); at += piece)
            reader.Feed(reinterpret_cast<uint8_t*>(&bytes[at]), std::min(piece, bytes.size() - at));
        CPayloadSummary read = reader.Finish();
        EXPECT_EQ(read.m_framing, PayloadCheck::Ok);
        EXPECT_EQ(read.m_hash, payload.hash);
        EXPECT_EQ(read.m_qhash, payload.qhash);
        EXPECT_EQ(read.m_mainDataSize, 70000);
        ASSERT_EQ(read.m_streams.size(), 3u);
        EXPECT_EQ(read.m_streams[1].name, L":Zone.Identifier:$DATA");
        EXPECT_EQ(read.m_streams[2].data, desc.extraStreams[1].data);
    }
    EXPECT_EQ(ReadItemPayload(payload.bytes.substr(0, 70050), false).m_framing, PayloadCheck::CutName);
}

TEST(ItemPayload, EmptyContentAsARecordOrAsNothing)
{
    CItemDescription desc;
    CItemPayload withRecord = BuildItemPayload(desc);
    std::vector<CReadRecord> records;
    ASSERT_TRUE(ReadPayloadRecords(withRecord.bytes, &records));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].size, 0);
    // A record of data size 0 still has its digest pair, over the header alone.
    EXPECT_EQ(withRecord.hash, Md5Text(withRecord.bytes));
    EXPECT_EQ(withRecord.qhash, withRecord.hash);

    desc.emptyContentAsRecord = false;
    CItemPayload nothing = BuildItemPayload(desc);
    EXPECT_EQ(nothing.bytes, "");
    EXPECT_EQ(nothing.hash, "");
    EXPECT_EQ(nothing.qhash, "");
    EXPECT_EQ(BuildItemRecord(desc, nothing).size, 0);
}

TEST(ItemPayload, IdenticalRecordsAreStoredAlikeAndBothCounted)
{
    CItemDescription desc;
    desc.content = "same";
    desc.extraStreams = {Stream(1, L"", "same")};
    CItemPayload payload = BuildItemPayload(desc);
    ASSERT_EQ(payload.bytes.size() % 2, 0u);
    size_t half = payload.bytes.size() / 2;
    EXPECT_EQ(payload.bytes.substr(0, half), payload.bytes.substr(half));
    EXPECT_EQ(payload.hash.substr(0, 32), payload.hash.substr(32));
    EXPECT_EQ(payload.qhash.substr(0, 32), payload.qhash.substr(32));
}

TEST(ItemPayload, DigestTextsAreSortedNotInRecordOrder)
{
    CItemDescription a, b;
    a.content = b.content = "main";
    CItemStream x = Stream(4, L":a", "alpha"), y = Stream(4, L":b", "beta");
    a.extraStreams = {x, y};
    b.extraStreams = {y, x};
    CItemPayload pa = BuildItemPayload(a), pb = BuildItemPayload(b);
    EXPECT_NE(pa.bytes, pb.bytes);
    EXPECT_EQ(pa.hash, pb.hash);
    EXPECT_EQ(pa.qhash, pb.qhash);
    for (const std::string& joined : {pa.hash, pa.qhash}) {
        std::vector<std::string> texts;
        for (size_t i = 0; i < joined.size(); i += 32)
            texts.push_back(joined.substr(i, 32));
        EXPECT_TRUE(std::is_sorted(texts.begin(), texts.end()));
        EXPECT_EQ(joined.find_first_not_of("0123456789ABCDEF"), std::string::npos);
    }
}

TEST(ItemPayload, EfsItemsStoreTheComplementedExport)
{
    CItemDescription desc;
    desc.content = Pattern(5000, 7);
    desc.dflags = QUAR_DFLAG_EFS | 0x1;
    desc.extraStreams = {Stream(4, L":ignored", "x")}; // the raw export carries no records
    CItemPayload payload = BuildItemPayload(desc);
    ASSERT_EQ(payload.bytes.size(), desc.content.size());
    std::string back = payload.bytes;
    ComplementBytes(reinterpret_cast<uint8_t*>(&back[0]), back.size());
    EXPECT_EQ(back, desc.content);
    EXPECT_EQ(payload.hash, Md5Text(desc.content));
    EXPECT_EQ(payload.qhash, Md5Text(payload.bytes));
}

TEST(ItemPayload, SecurityTextDecodesToOneSecurityRecord)
{
    std::string sd = Pattern(150, 5); // 170-byte record: three lines
    std::string text = EncodeSecurityText(sd);
    std::vector<std::string> lines;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find("\r\n", at);
        ASSERT_NE(end, std::string::npos);
        lines.push_back(text.substr(at, end - at));
        at = end + 2;
    }
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].size(), 76u);
    EXPECT_EQ(lines[1].size(), 76u);

    std::vector<uint8_t> out(text.size() + 1);
    CBase64 base64;
    uint32_t n = base64.Decode(text.c_str(), int32_t(text.size()), out.data());
    std::vector<CReadRecord> records;
    ASSERT_TRUE(ReadPayloadRecords(std::string(out.begin(), out.begin() + n), &records));
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].id, 3u);
    EXPECT_EQ(records[0].attributes, 2u); // STREAM_CONTAINS_SECURITY
    EXPECT_EQ(records[0].name, L"");
    EXPECT_EQ(records[0].stored, sd);     // the descriptor travels unenciphered
}

TEST(ItemPayload, RecordHoldsTheContentSizeAndTheSecurityTextPerLocation)
{
    CItemDescription desc;
    desc.content = "12345";
    desc.extraStreams = {Stream(4, L":n", "not counted in the size")};
    desc.security = "SD";
    desc.locations = {{L"a.exe", L"C:\\one"}, {L"b.exe", L"C:\\two\\"}};
    CItemPayload payload = BuildItemPayload(desc);
    QuarItem item = BuildItemRecord(desc, payload);

    EXPECT_EQ(item.size, 5);
    EXPECT_EQ(item.hash, Wide(payload.hash));
    EXPECT_EQ(item.qhash, Wide(payload.qhash));
    ASSERT_EQ(item.GetFileCount(), 2u);
    std::string secText = EncodeSecurityText("SD");
    for (const QuarFileEntry& e : item.m_Files) {
        ASSERT_TRUE(e.sec_str.has_value());
        EXPECT_EQ(e.sec_str_len, int32_t(secText.size() + 1));
        EXPECT_EQ(std::string(e.sec_str->begin(), e.sec_str->end()), secText + '\0');
    }

    desc.security.reset();
    QuarItem bare = BuildItemRecord(desc, payload);
    EXPECT_FALSE(bare.m_Files[0].sec_str.has_value());
    EXPECT_EQ(bare.m_Files[0].sec_str_len, 0);
}

TEST(ItemDamage, EachKindBreaksWhatItSays)
{
    CItemDescription desc;
    desc.content = "content";
    desc.security = "SD";
    desc.locations = {{L"a", L"C:\\"}};
    CItemPayload payload = BuildItemPayload(desc);
    const QuarItem good = BuildItemRecord(desc, payload);
    auto apply = [&](const wchar_t* text, std::string* bytes, QuarItem* item, bool* write) {
        CItemDamage d;
        *bytes = payload.bytes;
        *item = good;
        *write = true;
        return ParseItemDamage(text, &d) && ApplyItemDamage(d, *bytes, *item, write);
    };
    std::string bytes;
    QuarItem item;
    bool write;

    ASSERT_TRUE(apply(L"truncate:10", &bytes, &item, &write));
    EXPECT_EQ(bytes, payload.bytes.substr(0, 10));
    ASSERT_TRUE(apply(L"flip:0x15", &bytes, &item, &write));
    EXPECT_EQ(bytes.size(), payload.bytes.size());
    EXPECT_EQ(uint8_t(bytes[21]), uint8_t(~payload.bytes[21]));
    EXPECT_EQ(bytes.substr(22), payload.bytes.substr(22));
    ASSERT_TRUE(apply(L"hash", &bytes, &item, &write));
    EXPECT_NE(item.hash, good.hash);
    EXPECT_EQ(item.hash->substr(1), good.hash->substr(1));
    EXPECT_EQ(item.qhash, good.qhash);
    ASSERT_TRUE(apply(L"qhash", &bytes, &item, &write));
    EXPECT_NE(item.qhash, good.qhash);
    EXPECT_EQ(item.hash, good.hash);
    ASSERT_TRUE(apply(L"size", &bytes, &item, &write));
    EXPECT_EQ(item.size, 8);
    ASSERT_TRUE(apply(L"size:0", &bytes, &item, &write));
    EXPECT_EQ(item.size, 0);
    ASSERT_TRUE(apply(L"secstr", &bytes, &item, &write));
    const std::vector<uint8_t>& sec = *item.m_Files[0].sec_str;
    EXPECT_EQ(item.m_Files[0].sec_str_len, good.m_Files[0].sec_str_len + 1);
    EXPECT_EQ(sec.back(), 0);
    EXPECT_NE(std::find(sec.begin(), sec.end(), '*'), sec.end());
    CBase64 base64;
    std::vector<uint8_t> out(sec.size() + 1);
    EXPECT_EQ(base64.Decode(reinterpret_cast<const char*>(sec.data()), int32_t(sec.size() - 1),
                            out.data()),
              0u);
    ASSERT_TRUE(apply(L"nopayload", &bytes, &item, &write));
    EXPECT_FALSE(write);
    EXPECT_EQ(bytes, payload.bytes);

    // An empty digest text still ends up wrong.
    item = good;
    item.hash = L"";
    ASSERT_TRUE(ApplyItemDamage({EItemDamage::WrongHash, {}}, bytes, item, &write));
    EXPECT_EQ(item.hash, std::wstring(32, L'0'));
}

TEST(ItemDamage, ImpossibleOrMisspelledDamagesAreRefused)
{
    std::string bytes = "0123456789";
    QuarItem item;
    bool write = true;
    for (CItemDamage d : {CItemDamage{EItemDamage::TruncatePayload, 10},
                          CItemDamage{EItemDamage::TruncatePayload, -1},
                          CItemDamage{EItemDamage::TruncatePayload, {}},
                          CItemDamage{EItemDamage::FlipPayloadByte, 10},
                          CItemDamage{EItemDamage::FlipPayloadByte, {}}})
        EXPECT_FALSE(ApplyItemDamage(d, bytes, item, &write));
    EXPECT_EQ(bytes, "0123456789");

    CItemDamage d;
    for (const wchar_t* bad : {L"truncate", L"flip:", L"flip:x", L"hash:1", L"Hash", L"",
                               L"nopayload:0", L"size:1k"})
        EXPECT_FALSE(ParseItemDamage(bad, &d)) << bad;
    ASSERT_TRUE(ParseItemDamage(L"size:-5", &d));
    EXPECT_EQ(d.kind, EItemDamage::WrongSize);
    EXPECT_EQ(d.arg, std::optional<int64_t>(-5));
}
