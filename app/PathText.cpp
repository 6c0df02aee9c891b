// Path and name helpers (see PathText.h).
#include "app/PathText.h"

namespace {

const size_t kPathChars = 260;

bool IsSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

wchar_t FoldAZ(wchar_t c)
{
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

// The joined text before it is cut to the work buffer.
std::wstring Joined(const std::wstring& folder, const wchar_t* tail)
{
    std::wstring out = folder;
    if (!out.empty() && IsSeparator(out.back()))
        out.pop_back();
    const wchar_t* t = tail ? tail : L"";
    if (IsSeparator(*t))
        ++t;
    out += L'\\';
    out += t;
    for (wchar_t& c : out)
        if (c == L'/')
            c = L'\\';
    return out;
}

// Index of the last separator, scanning from the last character back to the second.
size_t LastSeparator(const std::wstring& path)
{
    for (size_t i = path.size(); i > 1; --i)
        if (IsSeparator(path[i - 1]))
            return i - 1;
    return std::wstring::npos;
}

} // namespace

std::wstring& AppendPath(std::wstring& str, const wchar_t* tail)
{
    std::wstring joined = Joined(str, tail);
    if (joined.size() > kPathChars - 1)
        joined.resize(kPathChars - 1);
    str = joined;
    return str;
}

bool AppendPathFits(const std::wstring& folder, const wchar_t* tail)
{
    return Joined(folder, tail).size() <= kPathChars - 1;
}

std::wstring FileNameOfPath(const std::wstring& path)
{
    size_t sep = LastSeparator(path);
    return sep == std::wstring::npos ? path : path.substr(sep + 1);
}

std::wstring FolderOfPath(const std::wstring& path)
{
    size_t sep = LastSeparator(path);
    return sep == std::wstring::npos ? std::wstring() : path.substr(0, sep);
}

bool NameEqualsNoCase(const wchar_t* a, const wchar_t* b)
{
    if (!a || !b)
        return a == b;
    for (; *a && *b; ++a, ++b)
        if (FoldAZ(*a) != FoldAZ(*b))
            return false;
    return *a == *b;
}
