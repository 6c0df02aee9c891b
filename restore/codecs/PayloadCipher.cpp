// PayloadCipher: table-driven form of the rolling payload cipher.
#include "restore/codecs/PayloadCipher.h"

#include <array>

namespace {

const uint8_t kSubStart = 0x9E;
const uint8_t kSubStep = 0x0B;
const uint8_t kXorStart = 0x6A;
const uint8_t kXorStep = 0x0D;

struct CounterTables
{
    std::array<uint8_t, 256> sub;
    std::array<uint8_t, 256> xr;
};

// Precomputes the counter values for one full 256-byte period, so the inner
// loops are a plain table look-up instead of two dependent counter updates.
constexpr CounterTables BuildTables()
{
    CounterTables t{};
    uint8_t s = kSubStart;
    uint8_t x = kXorStart;
    for (size_t i = 0; i < 256; ++i) {
        t.sub[i] = s;
        t.xr[i] = x;
        s = static_cast<uint8_t>(s + kSubStep);
        x = static_cast<uint8_t>(x + kXorStep);
    }
    return t;
}

constexpr CounterTables kTables = BuildTables();

}  // namespace

PayloadCipher::PayloadCipher() : m_uPosition(0) {}

void PayloadCipher::Reset()
{
    m_uPosition = 0;
}

void PayloadCipher::Decipher(uint8_t* data, size_t count)
{
    if (data == nullptr)
        return;
    uint8_t pos = m_uPosition;
    for (size_t i = 0; i < count; ++i, ++pos)
        data[i] = static_cast<uint8_t>((data[i] - kTables.sub[pos]) ^ kTables.xr[pos]);
    m_uPosition = pos;
}

void PayloadCipher::Encipher(uint8_t* data, size_t count)
{
    if (data == nullptr)
        return;
    uint8_t pos = m_uPosition;
    for (size_t i = 0; i < count; ++i, ++pos)
        data[i] = static_cast<uint8_t>((data[i] ^ kTables.xr[pos]) + kTables.sub[pos]);
    m_uPosition = pos;
}
