// A quarantined item in memory: its locations (QuarFileEntry), the flat description with
// one selected location (QuarItemInfo), and the item with its location list (QuarItem).
// Optional strings are std::optional: absent is not the same as present and empty.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// One location of an item: one `file` element of the index.
struct QuarFileEntry
{
    static const size_t kNameChars = 260;

    wchar_t name[kNameChars] = {};   // file name, without folder
    wchar_t path[kNameChars] = {};   // folder, with or without a trailing backslash
    std::optional<std::wstring> sender;
    std::optional<std::wstring> receiver;
    std::optional<std::wstring> subject;
    std::optional<std::wstring> mailfname;
    uint32_t attr = 0;
    int64_t crt = 0;
    int64_t lat = 0;
    int64_t lwt = 0;
    int64_t dtime = 0;
    // Security data as Base64 text, one byte per character, with its terminating NUL.
    std::optional<std::vector<uint8_t>> sec_str;
    int32_t sec_str_len = 0; // bytes in sec_str including the NUL; 0 when absent
};

// The flat description of an item: a copy of the selected location, then item-wide data.
struct QuarItemInfo
{
    static const size_t kNameChars = 260;
    static const size_t kSenderChars = 512;
    static const size_t kReceiverChars = 512;
    static const size_t kSubjectChars = 1024;
    static const size_t kMailFileChars = 128;
    static const size_t kVirusChars = 256;

    // selected location
    wchar_t name[kNameChars] = {};
    wchar_t path[kNameChars] = {};
    wchar_t sender[kSenderChars] = {};
    wchar_t receiver[kReceiverChars] = {};
    wchar_t subject[kSubjectChars] = {};
    wchar_t mailfname[kMailFileChars] = {};
    uint32_t attr = 0;
    int64_t crt = 0;
    int64_t lat = 0;
    int64_t lwt = 0;
    std::optional<std::vector<uint8_t>> sec_str;
    int32_t sec_str_len = 0;
    // item-wide
    std::optional<std::wstring> hash;  // original digest texts, joined
    int64_t size = 0;
    wchar_t qname[kNameChars] = {};
    std::optional<std::wstring> qhash; // crypted digest texts, joined
    wchar_t dvirus[kVirusChars] = {};
    int64_t dtime = 0;                 // selected location's dtime
    int32_t dflags = 0;                // bit 0x8: the original was an EFS-encrypted file
};

const int32_t QUAR_DFLAG_EFS = 0x8;
const uint32_t QUAR_ATTR_COMPRESSED = 0x800;

class QuarItem : public QuarItemInfo
{
public:
    int64_t m_nSelected = -1;
    std::vector<QuarFileEntry> m_Files;

    // Number of locations.
    uint32_t GetFileCount() const;
    // Copies location `index` into the flat part (unless it is the one already selected)
    // and returns the flat part. REQUIRES index < GetFileCount().
    QuarItemInfo& SelectFile(size_t index);
    // Removes the first location whose name and path equal which's (case-sensitive).
    bool RemoveFile(const QuarItemInfo& which);

    // Reads the index file at xmlPath into this item; false on any problem.
    bool LoadXml(const wchar_t* xmlPath);
    // Writes this item to xmlPath; a failed save leaves the previous file unchanged.
    bool SaveXml(const wchar_t* xmlPath);
};
