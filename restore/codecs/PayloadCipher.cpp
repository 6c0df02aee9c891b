// PayloadCipher: table-driven form of the rolling payload cipher.
#include "restore/codecs/PayloadCipher.h"

#include <array>
#include <cstring>

namespace {

const uint8_t kSubStart = 0x9E;
const uint8_t kSubStep = 0x0B;
const uint8_t kXorStart = 0x6A;
const uint8_t kXorStep = 0x0D;

// Two full periods: from any position the next 256 counter values lie side by side, so
// the inner loops run over three plain arrays, 16 bytes a step.
const size_t kPeriod = 256;

struct CounterTables
{
    std::array<uint8_t, 2 * kPeriod> sub;
    std::array<uint8_t, 2 * kPeriod> xr;
};

// Precomputes the counter values, so the inner loops are a plain table look-up instead of
// two dependent counter updates.
constexpr CounterTables BuildTables()
{
    CounterTables t{};
    uint8_t s = kSubStart;
    uint8_t x = kXorStart;
    for (size_t i = 0; i < 2 * kPeriod; ++i) {
        t.sub[i] = s;
        t.xr[i] = x;
        s = static_cast<uint8_t>(s + kSubStep);
        x = static_cast<uint8_t>(x + kXorStep);
    }
    return t;
}

constexpr CounterTables kTables = BuildTables();

// gcc -O2 (what ships) leaves byte loops scalar, about 1 GB/s; spelled as 16-byte vectors
// they run at memory speed. GNU vector types lower to SSE2 on any x86-64.
#if defined(__GNUC__)
typedef uint8_t Bytes16 __attribute__((vector_size(16)));

inline Bytes16 Load16(const uint8_t* p)
{
    Bytes16 v;
    std::memcpy(&v, p, sizeof(v));
    return v;
}
#endif

void DecipherSpan(uint8_t* data, const uint8_t* sub, const uint8_t* xr, size_t n)
{
    size_t i = 0;
#if defined(__GNUC__)
    for (; i + 16 <= n; i += 16) {
        Bytes16 v = (Load16(data + i) - Load16(sub + i)) ^ Load16(xr + i);
        std::memcpy(data + i, &v, sizeof(v));
    }
#endif
    for (; i < n; ++i)
        data[i] = static_cast<uint8_t>((data[i] - sub[i]) ^ xr[i]);
}

void EncipherSpan(uint8_t* data, const uint8_t* sub, const uint8_t* xr, size_t n)
{
    size_t i = 0;
#if defined(__GNUC__)
    for (; i + 16 <= n; i += 16) {
        Bytes16 v = (Load16(data + i) ^ Load16(xr + i)) + Load16(sub + i);
        std::memcpy(data + i, &v, sizeof(v));
    }
#endif
    for (; i < n; ++i)
        data[i] = static_cast<uint8_t>((data[i] ^ xr[i]) + sub[i]);
}

// Applies Span to count bytes from table position pos on, a period at most at a time;
// gives the position after them.
template <void (*Span)(uint8_t*, const uint8_t*, const uint8_t*, size_t)>
uint8_t RunSpans(uint8_t* data, size_t count, size_t pos)
{
    if (data == nullptr)
        return static_cast<uint8_t>(pos);
    while (count > 0) {
        size_t n = count < kPeriod ? count : kPeriod;
        Span(data, kTables.sub.data() + pos, kTables.xr.data() + pos, n);
        data += n;
        count -= n;
        pos = (pos + n) % kPeriod;
    }
    return static_cast<uint8_t>(pos);
}

}  // namespace

PayloadCipher::PayloadCipher() : m_uPosition(0) {}

void PayloadCipher::Reset()
{
    m_uPosition = 0;
}

void PayloadCipher::Decipher(uint8_t* data, size_t count)
{
    m_uPosition = RunSpans<DecipherSpan>(data, count, m_uPosition);
}

void PayloadCipher::Encipher(uint8_t* data, size_t count)
{
    m_uPosition = RunSpans<EncipherSpan>(data, count, m_uPosition);
}
