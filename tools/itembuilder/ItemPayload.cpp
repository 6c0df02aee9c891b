// Payload records and digest texts, built the way the product stores them, and read back
// the way the restore reads them.
#include "tools/itembuilder/ItemPayload.h"
#include "restore/codecs/ComplementBytes.h"
#include "restore/codecs/Md5Text.h"
#include "restore/codecs/PayloadCipher.h"
#include "restore/codecs/RestoreDataPath.h"
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

std::string Joined(const DigestList& list)
{
    std::vector<uint8_t> joined;
    list.Concatenate(joined);
    return std::string(joined.begin(), joined.end());
}

// MD5Update counts in 32 bits.
const size_t kMaxRun = size_t(1) << 30;

} // namespace

std::string JoinDigestTexts(std::vector<std::string> texts)
{
    std::sort(texts.begin(), texts.end());
    std::string joined;
    for (const std::string& t : texts)
        joined += t;
    return joined;
}

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
    payload.hash = JoinDigestTexts(original);
    payload.qhash = JoinDigestTexts(crypted);
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

CPayloadReader::CPayloadReader(bool efs, bool keepStreams) : m_bEfs(efs), m_bKeepStreams(keepStreams)
{
    MD5Init(&m_crypted);
    MD5Init(&m_original);
    m_summary.m_mainDataSize = efs ? -1 : 0;
}

void CPayloadReader::Feed(uint8_t* bytes, size_t count)
{
    m_summary.m_bytes += count;
    while (count > 0 && m_part != EPart::Failed) {
        size_t take = std::min(count, kMaxRun);
        if (m_bEfs) {
            MD5Update(&m_crypted, bytes, uint32_t(take));
            ComplementBytes(bytes, take);
            MD5Update(&m_original, bytes, uint32_t(take));
        } else if (m_part == EPart::Header) {
            take = std::min(take, kHeaderBytes - m_header.size());
            m_header.append(reinterpret_cast<const char*>(bytes), take);
            if (m_header.size() == kHeaderBytes)
                TakeHeader();
        } else if (m_part == EPart::Name) {
            take = size_t(std::min<uint64_t>(take, m_left));
            MD5Update(&m_crypted, bytes, uint32_t(take));
            MD5Update(&m_original, bytes, uint32_t(take));
            if (m_bKeepStreams)
                m_header.append(reinterpret_cast<const char*>(bytes), take);
            m_left -= take;
        } else {
            take = size_t(std::min<uint64_t>(take, m_left));
            DigestAndDecipherRun(bytes, uint32_t(take), 0, &m_crypted, &m_original, m_cipher);
            if (m_bKeepStreams)
                m_summary.m_streams.back().data.append(reinterpret_cast<const char*>(bytes), take);
            m_left -= take;
        }
        bytes += take;
        count -= take;
        NextPart();
    }
}

void CPayloadReader::TakeHeader()
{
    PayloadCheck check =
        ReadPayloadRecordHeader(reinterpret_cast<const uint8_t*>(m_header.data()), m_record);
    if (check != PayloadCheck::Ok) {
        m_summary.m_framing = check;
        m_part = EPart::Failed;
        return;
    }
    // Header and name are stored plain: both digests take them as they stand.
    MD5Init(&m_crypted);
    MD5Init(&m_original);
    MD5Update(&m_crypted, reinterpret_cast<const uint8_t*>(m_header.data()), kHeaderBytes);
    MD5Update(&m_original, reinterpret_cast<const uint8_t*>(m_header.data()), kHeaderBytes);
    m_cipher.Reset();
    if (m_bKeepStreams) {
        CItemStream stream;
        stream.id = m_record.streamId;
        stream.attributes = m_record.attributes;
        m_summary.m_streams.push_back(stream);
    }
    m_part = EPart::Name;
    m_left = m_record.nameSize;
}

// Moves on once the name or the data are complete; a record ends after its data.
void CPayloadReader::NextPart()
{
    if (m_bEfs || m_left > 0 || (m_part != EPart::Name && m_part != EPart::Data))
        return;
    if (m_part == EPart::Name) {
        if (m_bKeepStreams)
            for (size_t i = kHeaderBytes; i + 1 < m_header.size(); i += 2)
                m_summary.m_streams.back().name.push_back(
                    wchar_t(uint8_t(m_header[i]) | uint8_t(m_header[i + 1]) << 8));
        m_part = EPart::Data;
        m_left = uint64_t(m_record.dataSize);
        if (m_left > 0)
            return;
    }
    m_qhashes.InsertSorted(FinishDigestText(m_crypted).c_str());
    m_hashes.InsertSorted(FinishDigestText(m_original).c_str());
    ++m_summary.m_records;
    if (m_record.streamId == 1)
        m_summary.m_mainDataSize += m_record.dataSize;
    m_header.clear();
    m_part = EPart::Header;
}

CPayloadSummary CPayloadReader::Finish()
{
    if (m_bEfs) {
        m_summary.m_qhash = FinishDigestText(m_crypted);
        m_summary.m_hash = FinishDigestText(m_original);
        return m_summary;
    }
    if (m_part == EPart::Header && !m_header.empty())
        m_summary.m_framing = PayloadCheck::CutHeader;
    else if (m_part == EPart::Name)
        m_summary.m_framing = PayloadCheck::CutName;
    else if (m_part == EPart::Data)
        m_summary.m_framing = PayloadCheck::CutData;
    m_summary.m_hash = Joined(m_hashes);
    m_summary.m_qhash = Joined(m_qhashes);
    return m_summary;
}

CPayloadSummary ReadItemPayload(std::string bytes, bool efs, bool keepStreams)
{
    CPayloadReader reader(efs, keepStreams);
    if (!bytes.empty())
        reader.Feed(Bytes(bytes), bytes.size());
    return reader.Finish();
}

CMemoryRecordLoop::CMemoryRecordLoop(const uint8_t* data, size_t size, uint32_t runLimit)
    : m_pData(data), m_nSize(size)
{
    std::vector<uint8_t> buffer(kPayloadBufferBytes);
    m_eEnd = RunPayloadRecords(*this, buffer.data(), runLimit);
}

bool CMemoryRecordLoop::Read(uint8_t* into, uint32_t count, uint32_t& got)
{
    got = static_cast<uint32_t>(std::min<size_t>(count, m_nSize - m_nAt));
    std::copy_n(m_pData + m_nAt, got, into);
    m_nAt += got;
    return true;
}

bool CMemoryRecordLoop::Write(const uint8_t* run, uint32_t size)
{
    m_RunStarts.push_back(m_Written.size());
    m_Written.append(reinterpret_cast<const char*>(run), size);
    return true;
}

void CMemoryRecordLoop::Digested(MD5_CTX& original, MD5_CTX& crypted)
{
    m_Original.push_back(FinishDigestText(original));
    m_Crypted.push_back(FinishDigestText(crypted));
}
