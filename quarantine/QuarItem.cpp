// The location list of a quarantined item: selecting one location into the flat part and
// removing one (see QuarItem.h). Copies are deep because every field is a value type.
#include "quarantine/QuarItem.h"
#include "quarantine/FixedText.h"

namespace {

// An absent string leaves the field empty, never the text of an earlier selection.
template <size_t N>
void CopyOptional(wchar_t (&dst)[N], const std::optional<std::wstring>& src)
{
    if (src)
        CopyFixed(dst, *src);
    else
        dst[0] = L'\0';
}

template <size_t N, size_t M>
bool SameText(const wchar_t (&a)[N], const wchar_t (&b)[M])
{
    size_t n = FixedLength(a);
    return n == FixedLength(b) && std::wmemcmp(a, b, n) == 0;
}

} // namespace

uint32_t QuarItem::GetFileCount() const
{
    // An index holds far fewer locations than 2^32; the count is what callers loop on.
    return static_cast<uint32_t>(m_Files.size());
}

QuarItemInfo& QuarItem::SelectFile(size_t index)
{
    // Re-selecting keeps what the caller may have changed in the flat part since.
    if (static_cast<int64_t>(index) == m_nSelected)
        return *this;
    const QuarFileEntry& entry = m_Files[index];
    CopyFixed(name, entry.name);
    CopyFixed(path, entry.path);
    attr = entry.attr;
    crt = entry.crt;
    lat = entry.lat;
    lwt = entry.lwt;
    dtime = entry.dtime;
    m_nSelected = static_cast<int64_t>(index);
    CopyOptional(sender, entry.sender);
    CopyOptional(receiver, entry.receiver);
    CopyOptional(subject, entry.subject);
    CopyOptional(mailfname, entry.mailfname);
    sec_str = entry.sec_str;
    sec_str_len = entry.sec_str_len;
    return *this;
}

bool QuarItem::RemoveFile(const QuarItemInfo& which)
{
    for (auto it = m_Files.begin(); it != m_Files.end(); ++it) {
        if (SameText(it->name, which.name) && SameText(it->path, which.path)) {
            m_Files.erase(it);
            return true;
        }
    }
    return false;
}
