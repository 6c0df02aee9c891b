// CBase64: bit-buffer based base64 decode/encode.
#include "restore/codecs/Base64.h"

#include <cstring>
#include <vector>

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const char kPad = '=';
const uint8_t kInvalid = 0xFF;
const uint8_t kSkip = 0xFE;

// Maps a 7-bit char to its 6-bit value, kSkip for the pad, else kInvalid.
void BuildDecodeTable(uint8_t table[128])
{
    std::memset(table, kInvalid, 128);
    for (uint8_t v = 0; v < 64; ++v)
        table[static_cast<uint8_t>(kAlphabet[v])] = v;
    table[static_cast<uint8_t>(kPad)] = kSkip;
}

}  // namespace

CBase64::CBase64() : m_nInputLength(0), m_nPendingBits(0), m_uBitBuffer(0), m_pInput(nullptr) {}

int32_t CBase64::GetBlockSize() const
{
    return 57;
}

void CBase64::PushBits(uint32_t value, int32_t bits)
{
    m_uBitBuffer = (m_uBitBuffer << bits) | value;
    m_nPendingBits += bits;
}

// Removes and returns the oldest `bits` pending bits. Bits above the pending
// ones are stale and are masked off rather than cleared on every push.
uint32_t CBase64::TakeBits(int32_t bits)
{
    m_nPendingBits -= bits;
    return (m_uBitBuffer >> m_nPendingBits) & ((1u << bits) - 1);
}

uint32_t CBase64::Decode(const char* text, int32_t length, uint8_t* output)
{
    m_uBitBuffer = 0;
    m_nPendingBits = 0;
    if (text == nullptr || output == nullptr || length <= 0)
        return 0;

    // Work on a terminated copy: the caller's text need not be terminated
    // within length, and a NUL inside it ends the text early.
    std::vector<char> work(static_cast<size_t>(length) + 1, '\0');
    for (int32_t i = 0; i < length && text[i] != '\0'; ++i)
        work[i] = text[i];
    if (work[0] == '\0')
        return 0;

    uint8_t table[128];
    BuildDecodeTable(table);
    std::memset(output, 0, static_cast<size_t>(length) + 1);

    uint32_t written = 0;
    for (const char* p = work.data(); *p != '\0'; ++p) {
        if (*p == '\r' || *p == '\n')
            continue;
        uint8_t value = table[static_cast<uint8_t>(*p) & 0x7F];
        if (value == kInvalid)
            return 0;
        if (value == kSkip)
            continue;
        PushBits(value, 6);
        while (m_nPendingBits > 7)
            output[written++] = static_cast<uint8_t>(TakeBits(8));
    }
    return written;
}

uint32_t CBase64::Encode(const uint8_t* input, int32_t length, char* output)
{
    m_uBitBuffer = 0;
    m_nPendingBits = 0;
    m_pInput = input;
    m_nInputLength = length;
    if (input == nullptr || output == nullptr)
        return 0;

    uint32_t written = 0;
    for (int32_t i = 0; i < length; ++i) {
        PushBits(input[i], 8);
        while (m_nPendingBits >= 6)
            output[written++] = kAlphabet[TakeBits(6)];
    }
    // Left-align the last 1..5 bits in a final char, zero-filled below.
    if (m_nPendingBits > 0) {
        int32_t missing = 6 - m_nPendingBits;
        PushBits(0, missing);
        output[written++] = kAlphabet[TakeBits(6)];
    }
    while (written % 4 != 0)
        output[written++] = kPad;
    output[written++] = '\r';
    output[written++] = '\n';
    output[written] = '\0';
    return written;
}
