// The quarantine item builder: plays the product's side of the quarantine format for the
// tests, the demo and the simulated product. From a description of the original file it
// writes the payload "<base>.cvq" and the index "<base>.xml" exactly as the product would,
// or, on request, with a chosen defect.
#pragma once
#include "quarantine/QuarItem.h"
#include "tools/itembuilder/ItemDamage.h"
#include "tools/itembuilder/ItemPayload.h"
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One place the content was taken from.
struct CItemLocation
{
    std::wstring name;  // file name
    std::wstring path;  // folder, as the index is to hold it
};

const int64_t kItemDefaultCrt = 132223104000000000; // 2020-01-01 00:00 UTC
const int64_t kItemDefaultLwt = 132223968000000000; // a day later
const int64_t kItemDefaultLat = 132224832000000000; // two days later

struct CItemDescription
{
    std::string content;                    // main data stream (for EFS items: the file)
    std::vector<CItemStream> extraStreams;  // recorded after the main data, in this order
    std::optional<std::string> security;    // self-relative SECURITY_DESCRIPTOR bytes
    uint32_t attr = 0x20;                   // FILE_ATTRIBUTE_ARCHIVE
    int64_t crt = kItemDefaultCrt;
    int64_t lat = kItemDefaultLat;
    int64_t lwt = kItemDefaultLwt;
    std::vector<CItemLocation> locations;   // every location gets the fields above
    std::wstring dvirus = L"trojan.fakealert.5";
    int32_t dflags = 0;                     // QUAR_DFLAG_EFS: EFS layout, no stream records
    std::wstring qname;
    int64_t dtime = 0;
    std::optional<std::wstring> sender;
    std::optional<std::wstring> receiver;
    std::optional<std::wstring> subject;
    std::optional<std::wstring> mailfname;
    // Empty content: a main data record of data size 0 (true) or no record at all.
    bool emptyContentAsRecord = true;
    std::vector<CItemDamage> damages;       // applied in this order
};

// What BuildQuarItem wrote.
struct CBuiltItem
{
    std::wstring xmlPath;
    std::wstring payloadPath;
    std::string payload;  // the payload file's bytes (none written for a missing payload)
    QuarItem item;        // the item as saved
};

// The sec_str text of a descriptor: one BACKUP_SECURITY_DATA record holding it, Base64
// encoded 57 bytes per line (each line ends in CR LF).
std::string EncodeSecurityText(const std::string& descriptor);

// The payload of desc, undamaged.
CItemPayload BuildItemPayload(const CItemDescription& desc);

// The index record of desc for a payload (hash, qhash, size and every location).
QuarItem BuildItemRecord(const CItemDescription& desc, const CItemPayload& payload);

// Writes base + ".cvq" (replacing it; deleting it for a missing payload) and then
// base + ".xml" through QuarItem::SaveXml. False when a damage cannot be applied (nothing
// is written then) or a file could not be written; the last error tells why.
bool BuildQuarItem(const CItemDescription& desc, const std::wstring& base, CBuiltItem* built = nullptr);
