// Encoding checks and line splitting of a debug log's bytes.
#include "tools/logreader/LogText.h"

namespace {

const std::string_view kUtf8Bom = "\xEF\xBB\xBF";
const size_t kUtf16Probe = 4096;

bool StartsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

size_t SkipPartialLine(std::string_view bytes)
{
    size_t lf = bytes.find('\n');
    return lf == std::string_view::npos ? bytes.size() : lf + 1;
}

// Text in UTF-16 has a zero byte in every other place as long as it is mostly ASCII, which
// every debug log line is; a log with a few zero bytes of damage has no such pattern.
bool LooksLikeUtf16(std::string_view bytes)
{
    if (StartsWith(bytes, "\xFF\xFE") || StartsWith(bytes, "\xFE\xFF"))
        return true;
    size_t probe = bytes.size() < kUtf16Probe ? bytes.size() : kUtf16Probe;
    size_t zeroEven = 0;
    size_t zeroOdd = 0;
    for (size_t i = 0; i < probe; ++i) {
        if (bytes[i] == '\0')
            ++(i % 2 ? zeroOdd : zeroEven);
    }
    size_t pairs = probe / 2;
    if (pairs < 2)
        return false;
    bool lowFirst = zeroOdd * 2 >= pairs && zeroEven * 10 < pairs;
    bool highFirst = zeroEven * 2 >= pairs && zeroOdd * 10 < pairs;
    return lowFirst || highFirst;
}

bool IsContinuation(unsigned char c)
{
    return (c & 0xC0) == 0x80;
}

// Length of the UTF-8 sequence at pos, or 0 when it is not one. Encoded surrogates are taken:
// the C runtime writes a lone UTF-16 surrogate of a file name that way, and it is still our log.
size_t Utf8SequenceLength(std::string_view bytes, size_t pos)
{
    unsigned char lead = static_cast<unsigned char>(bytes[pos]);
    size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else
        return 0;
    if (pos + length > bytes.size())
        return 0;
    unsigned char second = static_cast<unsigned char>(bytes[pos + 1]);
    if (second < low || second > high)
        return 0;
    for (size_t i = 2; i < length; ++i) {
        if (!IsContinuation(static_cast<unsigned char>(bytes[pos + i])))
            return 0;
    }
    return length;
}

} // namespace

CTextCheck CheckLogText(std::string_view bytes, bool headCut)
{
    CTextCheck check;
    if (bytes.empty()) {
        check.m_problem = ETextProblem::Empty;
        return check;
    }
    if (LooksLikeUtf16(bytes)) {
        check.m_problem = ETextProblem::Utf16;
        return check;
    }
    check.m_bBom = !headCut && StartsWith(bytes, kUtf8Bom);
    bool hasZero = false;
    size_t pos = headCut ? SkipPartialLine(bytes) : 0;
    while (pos < bytes.size()) {
        unsigned char c = static_cast<unsigned char>(bytes[pos]);
        if (c != 0 && c < 0x80) {
            ++pos;
            continue;
        }
        hasZero = hasZero || c == 0;
        size_t length = Utf8SequenceLength(bytes, pos);
        if (length == 0 && check.m_problem == ETextProblem::None) {
            check.m_problem = ETextProblem::InvalidUtf8;
            check.m_offset = pos;
        }
        pos += length == 0 ? 1 : length;
    }
    check.m_bBinary = check.m_problem == ETextProblem::InvalidUtf8 && hasZero;
    return check;
}

std::vector<CTextLine> SplitLogLines(std::string_view bytes, bool headCut,
                                     std::vector<CNulRegion>& nulRegions)
{
    std::vector<CTextLine> lines;
    size_t pos = headCut ? SkipPartialLine(bytes) : 0;
    size_t number = 1;
    while (pos < bytes.size()) {
        if (bytes[pos] == '\0') {
            size_t end = bytes.find_first_not_of('\0', pos);
            end = end == std::string_view::npos ? bytes.size() : end;
            nulRegions.push_back({pos, end - pos});
            pos = end;
            continue;
        }
        // A plain loop: find_first_of calls memchr once per byte for a set of two.
        size_t end = pos;
        while (end < bytes.size() && bytes[end] != '\n' && bytes[end] != '\0')
            ++end;
        CTextLine line{bytes.substr(pos, end - pos), pos, number};
        if (!line.m_text.empty() && line.m_text.back() == '\r')
            line.m_text.remove_suffix(1);
        // A byte-order mark opens the file and every file that was appended to it whole.
        if (StartsWith(line.m_text, kUtf8Bom)) {
            line.m_text.remove_prefix(kUtf8Bom.size());
            line.m_offset += kUtf8Bom.size();
        }
        lines.push_back(line);
        bool lineFeed = end < bytes.size() && bytes[end] == '\n';
        number += lineFeed ? 1 : 0;
        pos = lineFeed ? end + 1 : end;
    }
    return lines;
}
