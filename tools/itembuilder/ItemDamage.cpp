// The builder's defects, applied to a payload and its index record before they are written.
#include "tools/itembuilder/ItemDamage.h"
#include <cwchar>

namespace {

// A digest text that differs from the given one, also when that one is empty.
std::wstring Spoiled(const std::optional<std::wstring>& text)
{
    if (!text || text->empty())
        return std::wstring(32, L'0');
    std::wstring s = *text;
    s[0] = s[0] == L'0' ? L'1' : L'0';
    return s;
}

void SpoilSecStr(QuarFileEntry& entry)
{
    std::vector<uint8_t> text;
    if (entry.sec_str && !entry.sec_str->empty())
        text.assign(entry.sec_str->begin(), entry.sec_str->end() - 1); // without the NUL
    text.insert(text.begin() + text.size() / 2, '*');
    text.push_back('\0');
    entry.sec_str_len = int32_t(text.size());
    entry.sec_str = std::move(text);
}

bool ParseNumber(const wchar_t* text, int64_t* value)
{
    if (!*text)
        return false;
    wchar_t* end = nullptr;
    long long v = std::wcstoll(text, &end, 0);
    if (*end)
        return false;
    *value = v;
    return true;
}

} // namespace

bool ApplyItemDamage(const CItemDamage& damage, std::string& payload, QuarItem& item,
                     bool* writePayload)
{
    switch (damage.kind) {
    case EItemDamage::TruncatePayload:
        if (!damage.arg || *damage.arg < 0 || uint64_t(*damage.arg) >= payload.size())
            return false;
        payload.resize(size_t(*damage.arg));
        return true;
    case EItemDamage::FlipPayloadByte:
        if (!damage.arg || *damage.arg < 0 || uint64_t(*damage.arg) >= payload.size())
            return false;
        payload[size_t(*damage.arg)] = char(~payload[size_t(*damage.arg)]);
        return true;
    case EItemDamage::WrongHash:
        item.hash = Spoiled(item.hash);
        return true;
    case EItemDamage::WrongQhash:
        item.qhash = Spoiled(item.qhash);
        return true;
    case EItemDamage::WrongSize:
        item.size = damage.arg ? *damage.arg : item.size + 1;
        return true;
    case EItemDamage::BadSecStr:
        for (QuarFileEntry& entry : item.m_Files)
            SpoilSecStr(entry);
        return true;
    case EItemDamage::NoPayload:
        *writePayload = false;
        return true;
    }
    return false;
}

bool ParseItemDamage(const std::wstring& text, CItemDamage* damage)
{
    size_t colon = text.find(L':');
    std::wstring kind = text.substr(0, colon);
    std::optional<int64_t> arg;
    if (colon != std::wstring::npos) {
        int64_t v = 0;
        if (!ParseNumber(text.c_str() + colon + 1, &v))
            return false;
        arg = v;
    }
    struct Name
    {
        const wchar_t* text;
        EItemDamage kind;
        bool needsArg;
        bool takesArg;
    };
    static const Name kNames[] = {
        {L"truncate", EItemDamage::TruncatePayload, true, true},
        {L"flip", EItemDamage::FlipPayloadByte, true, true},
        {L"hash", EItemDamage::WrongHash, false, false},
        {L"qhash", EItemDamage::WrongQhash, false, false},
        {L"size", EItemDamage::WrongSize, false, true},
        {L"secstr", EItemDamage::BadSecStr, false, false},
        {L"nopayload", EItemDamage::NoPayload, false, false},
    };
    for (const Name& n : kNames) {
        if (kind != n.text)
            continue;
        if ((n.needsArg && !arg) || (!n.takesArg && arg))
            return false;
        damage->kind = n.kind;
        damage->arg = arg;
        return true;
    }
    return false;
}
