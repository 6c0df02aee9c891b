// The payload path beside an index file (see PayloadPath.h).
#include "restore/PayloadPath.h"
#include <cwchar>

namespace {
const wchar_t kPayloadExtension[] = L".cvq";
}

bool MakePayloadPath(const wchar_t* indexPath, wchar_t* out, size_t capacity)
{
    if (!out || capacity == 0)
        return false;
    out[0] = L'\0';
    if (!indexPath)
        return false;
    const wchar_t* dot = std::wcsrchr(indexPath, L'.');
    if (!dot)
        return false;
    size_t stem = static_cast<size_t>(dot - indexPath);
    size_t extension = std::wcslen(kPayloadExtension);
    if (stem + extension > capacity - 1)
        return false;
    std::wmemcpy(out, indexPath, stem);
    std::wmemcpy(out + stem, kPayloadExtension, extension);
    out[stem + extension] = L'\0';
    return true;
}
