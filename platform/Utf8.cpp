// UTF-8 <-> UTF-16 conversion (see Utf8.h).
#include "platform/Utf8.h"

namespace {

const char32_t kReplacement = 0xFFFD;

// Decodes one code point at data[i]; advances i past what was used.
char32_t DecodeOne(const unsigned char* data, size_t size, size_t& i)
{
    unsigned char b = data[i++];
    if (b < 0x80)
        return b;
    int extra = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if ((b & 0xE0) == 0xC0) { extra = 1; cp = b & 0x1F; min = 0x80; }
    else if ((b & 0xF0) == 0xE0) { extra = 2; cp = b & 0x0F; min = 0x800; }
    else if ((b & 0xF8) == 0xF0) { extra = 3; cp = b & 0x07; min = 0x10000; }
    else
        return kReplacement;
    for (int k = 0; k < extra; ++k) {
        if (i >= size || (data[i] & 0xC0) != 0x80)
            return kReplacement;
        cp = (cp << 6) | (data[i++] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return kReplacement;
    return cp;
}

// One code point as UTF-8 into out; returns the number of bytes (1 to 4).
size_t EncodeUtf8(char32_t cp, char* out)
{
    if (cp < 0x80) {
        out[0] = static_cast<char>(cp);
        return 1;
    }
    if (cp < 0x800) {
        out[0] = static_cast<char>(0xC0 | (cp >> 6));
        out[1] = static_cast<char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (cp >> 12));
        out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (cp & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (cp >> 18));
    out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (cp & 0x3F));
    return 4;
}

void AppendUtf8(std::string& out, char32_t cp)
{
    char bytes[4];
    out.append(bytes, EncodeUtf8(cp, bytes));
}

// The code point of the unit at data[i] (a whole pair when both halves are there, U+FFFD
// for a lone surrogate); advances i past what was used.
char32_t NextCodePoint(const char16_t* data, size_t size, size_t& i)
{
    char32_t cu = data[i++];
    if (cu >= 0xD800 && cu <= 0xDBFF && i < size && data[i] >= 0xDC00 && data[i] <= 0xDFFF)
        return 0x10000 + ((cu - 0xD800) << 10) + (data[i++] - 0xDC00);
    return (cu >= 0xD800 && cu <= 0xDFFF) ? kReplacement : cu;
}

} // namespace

std::u16string Utf8ToUtf16(const char* data, size_t size)
{
    std::u16string out;
    out.reserve(size);
    const unsigned char* p = reinterpret_cast<const unsigned char*>(data);
    size_t i = 0;
    while (i < size) {
        char32_t cp = DecodeOne(p, size, i);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
    }
    return out;
}

std::string Utf16ToUtf8(const char16_t* data, size_t size)
{
    std::string out;
    out.reserve(size);
    for (size_t i = 0; i < size;)
        AppendUtf8(out, NextCodePoint(data, size, i));
    return out;
}

size_t Utf16ToUtf8Into(const char16_t* data, size_t size, char* out, size_t capacity)
{
    size_t used = 0;
    char bytes[4];
    for (size_t i = 0; i < size;) {
        size_t n = EncodeUtf8(NextCodePoint(data, size, i), bytes);
        if (used + n > capacity)
            break;
        for (size_t k = 0; k < n; ++k)
            out[used++] = bytes[k];
    }
    return used;
}

std::wstring Utf8ToWide(const std::string& s)
{
    std::u16string u = Utf8ToUtf16(s.data(), s.size());
    if (sizeof(wchar_t) == 2)
        return std::wstring(u.begin(), u.end());
    // Host builds (32-bit wchar_t): hand code points over whole. Utf8ToUtf16 only makes
    // whole pairs, but a pair is taken as one only when both halves are there.
    std::wstring out;
    for (size_t i = 0; i < u.size(); ++i) {
        char32_t cu = u[i];
        if (cu >= 0xD800 && cu <= 0xDBFF && i + 1 < u.size() && u[i + 1] >= 0xDC00 &&
            u[i + 1] <= 0xDFFF) {
            cu = 0x10000 + ((cu - 0xD800) << 10) + (u[i + 1] - 0xDC00);
            ++i;
        }
        out += static_cast<wchar_t>(cu);
    }
    return out;
}

std::string WideToUtf8(const std::wstring& s)
{
    if (sizeof(wchar_t) == 2) {
        std::u16string u(s.begin(), s.end());
        return Utf16ToUtf8(u.data(), u.size());
    }
    // Host builds: split code points into the units Windows would hold, so that surrogate
    // values (paired or lone) come out exactly as they do there, never as invalid UTF-8.
    std::u16string u;
    u.reserve(s.size());
    for (wchar_t c : s) {
        char32_t cp = static_cast<char32_t>(c);
        if (cp > 0x10FFFF) {
            u += static_cast<char16_t>(kReplacement);
        } else if (cp >= 0x10000) {
            u += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
            u += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            u += static_cast<char16_t>(cp);
        }
    }
    return Utf16ToUtf8(u.data(), u.size());
}
