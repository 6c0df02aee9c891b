// Decoding of an index file's bytes (see IndexFileText.h).
#include "quarantine/IndexFileText.h"
#include "platform/Utf8.h"
#include <cstring>

namespace {

bool HasPrefix(const std::string& bytes, const char* prefix, size_t length)
{
    return bytes.size() >= length && std::memcmp(bytes.data(), prefix, length) == 0;
}

bool FromUtf16(const std::string& bytes, bool bigEndian, std::string& text)
{
    // An odd count means the file was cut in the middle of a character.
    if (bytes.size() % 2 != 0)
        return false;
    std::u16string units;
    units.reserve(bytes.size() / 2);
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
        unsigned hi = static_cast<unsigned char>(bytes[bigEndian ? i : i + 1]);
        unsigned lo = static_cast<unsigned char>(bytes[bigEndian ? i + 1 : i]);
        units += static_cast<char16_t>(hi << 8 | lo);
    }
    text = Utf16ToUtf8(units.data(), units.size());
    return true;
}

// TinyXML trusts a lead byte's length: a broken sequence could swallow the quote that ends
// a value or step past the end of the text. Re-encoding leaves only whole characters.
std::string CleanUtf8(const char* data, size_t size)
{
    std::u16string units = Utf8ToUtf16(data, size);
    return Utf16ToUtf8(units.data(), units.size());
}

void NormalizeLineEnds(std::string& text)
{
    size_t out = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            text[out++] = '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else {
            text[out++] = text[i];
        }
    }
    text.resize(out);
}

} // namespace

bool DecodeIndexBytes(const std::string& bytes, std::string& text)
{
    text.clear();
    if (bytes.empty())
        return false;
    if (HasPrefix(bytes, "\xFF\xFE", 2)) {
        if (!FromUtf16(bytes, /*bigEndian=*/false, text))
            return false;
    } else if (HasPrefix(bytes, "\xFE\xFF", 2)) {
        if (!FromUtf16(bytes, /*bigEndian=*/true, text))
            return false;
    } else {
        size_t skip = HasPrefix(bytes, "\xEF\xBB\xBF", 3) ? 3 : 0;
        text = CleanUtf8(bytes.data() + skip, bytes.size() - skip);
    }
    size_t nul = text.find('\0');
    if (nul != std::string::npos)
        text.resize(nul);
    NormalizeLineEnds(text);
    return true;
}
