// Pseudo-random content (see PseudoRandom.h).
#include "tools/common/PseudoRandom.h"
#include <cstring>

namespace {

// splitmix64: fast, and every seed gives its own sequence.
uint64_t NextRandom(uint64_t& state)
{
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

} // namespace

std::string PseudoRandomBytes(size_t n, uint64_t seed)
{
    std::string bytes(n, '\0');
    uint64_t state = seed;
    size_t at = 0;
    for (; at + 8 <= n; at += 8) {
        uint64_t z = NextRandom(state);
        std::memcpy(&bytes[at], &z, 8);
    }
    uint64_t tail = NextRandom(state);
    std::memcpy(&bytes[at], &tail, n - at);
    return bytes;
}
