// Builds a quarantine item's payload and index the way the product writes them.
#include "tools/itembuilder/ItemBuilder.h"
#include "platform/Owners.h"
#include "restore/codecs/Base64.h"
#include "tools/common/FileTools.h"
#include <algorithm>

namespace {

const uint32_t kSecurityStreamId = BACKUP_SECURITY_DATA;

template <size_t N>
void CopyFixed(wchar_t (&dst)[N], const std::wstring& src)
{
    size_t n = std::min(src.size(), N - 1);
    std::copy(src.begin(), src.begin() + n, dst);
    dst[n] = L'\0';
}

std::wstring Widen(const std::string& ascii)
{
    return std::wstring(ascii.begin(), ascii.end());
}

QuarFileEntry MakeLocation(const CItemDescription& desc, const CItemLocation& where,
                           const std::string& secText)
{
    QuarFileEntry e;
    CopyFixed(e.name, where.name);
    CopyFixed(e.path, where.path);
    e.sender = desc.sender;
    e.receiver = desc.receiver;
    e.subject = desc.subject;
    e.mailfname = desc.mailfname;
    e.attr = desc.attr;
    e.crt = desc.crt;
    e.lat = desc.lat;
    e.lwt = desc.lwt;
    e.dtime = desc.dtime;
    if (desc.security) {
        std::vector<uint8_t> text(secText.begin(), secText.end());
        text.push_back('\0');
        e.sec_str_len = int32_t(text.size());
        e.sec_str = std::move(text);
    }
    return e;
}

} // namespace

std::string EncodeSecurityText(const std::string& descriptor)
{
    CItemStream stream;
    stream.id = kSecurityStreamId;
    stream.attributes = STREAM_CONTAINS_SECURITY;
    stream.data = descriptor;
    std::string record = MakeStreamRecord(stream);
    CBase64 base64;
    const size_t block = size_t(base64.GetBlockSize());
    std::string text;
    std::vector<char> line(4 * ((block + 2) / 3) + 3);
    for (size_t at = 0; at < record.size(); at += block) {
        size_t n = std::min(block, record.size() - at);
        uint32_t chars = base64.Encode(reinterpret_cast<const uint8_t*>(record.data()) + at,
                                       int32_t(n), line.data());
        text.append(line.data(), chars);
    }
    return text;
}

CItemPayload BuildItemPayload(const CItemDescription& desc)
{
    if (desc.dflags & QUAR_DFLAG_EFS)
        return BuildEfsPayload(desc.content);
    std::vector<CItemStream> streams;
    if (!desc.content.empty() || desc.emptyContentAsRecord) {
        CItemStream main;
        main.data = desc.content;
        streams.push_back(std::move(main));
    }
    streams.insert(streams.end(), desc.extraStreams.begin(), desc.extraStreams.end());
    return BuildNormalPayload(streams);
}

QuarItem BuildItemRecord(const CItemDescription& desc, const CItemPayload& payload)
{
    QuarItem item;
    item.hash = Widen(payload.hash);
    item.size = int64_t(desc.content.size());
    CopyFixed(item.qname, desc.qname);
    item.qhash = Widen(payload.qhash);
    CopyFixed(item.dvirus, desc.dvirus);
    item.dflags = desc.dflags;
    std::string secText = desc.security ? EncodeSecurityText(*desc.security) : std::string();
    for (const CItemLocation& where : desc.locations)
        item.m_Files.push_back(MakeLocation(desc, where, secText));
    return item;
}

bool BuildQuarItem(const CItemDescription& desc, const std::wstring& base, CBuiltItem* built)
{
    CItemPayload payload = BuildItemPayload(desc);
    QuarItem item = BuildItemRecord(desc, payload);
    bool writePayload = true;
    for (const CItemDamage& damage : desc.damages) {
        if (!ApplyItemDamage(damage, payload.bytes, item, &writePayload)) {
            g_Sys.SetLastError(ERROR_INVALID_PARAMETER);
            return false;
        }
    }
    std::wstring xmlPath = base + L".xml";
    std::wstring payloadPath = base + L".cvq";
    // Through the table: a test fails these writes as it fails the product's own.
    bool payloadOk = writePayload ? WriteWholeFile(payloadPath, payload.bytes, &g_Sys)
                                  : RemoveOneFile(payloadPath, &g_Sys);
    if (!payloadOk || !item.SaveXml(xmlPath.c_str()))
        return false;
    if (built) {
        built->xmlPath = xmlPath;
        built->payloadPath = payloadPath;
        built->payload = writePayload ? payload.bytes : std::string();
        built->item = item;
    }
    return true;
}
