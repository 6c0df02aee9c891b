// The content of made-up files (planned items, benchmark items, test data): a fixed
// pseudo-random sequence per seed, the same on every run and every machine.
#pragma once
#include <cstdint>
#include <string>

// n bytes of the sequence chosen by seed.
std::string PseudoRandomBytes(size_t n, uint64_t seed);
