// Throughput of the restore data path and its parts: our MD5 (OpenSSL's is in
// OpenSslMd5Bench.cpp), both digests at once, the payload cipher, the complement, and a
// whole restore of a large payload read in 64 KiB pieces, the plain three-step way and
// the paired way.
#include "restore/codecs/ComplementBytes.h"
#include "restore/codecs/Md5.h"
#include "restore/codecs/Md5Pair.h"
#include "restore/codecs/PayloadCipher.h"
#include "restore/codecs/RestoreDataPath.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

namespace {

const uint32_t kBlockBytes = 64 * 1024;
const size_t kPayloadBytes = size_t(256) << 20;
const uint32_t kHeaderBytes = 20;

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed)
{
    std::vector<uint8_t> v(n);
    std::mt19937_64 rng(seed);
    for (size_t i = 0; i + 8 <= n; i += 8) {
        uint64_t r = rng();
        std::memcpy(&v[i], &r, 8);
    }
    return v;
}

// Made once, on first use, and shared by the whole-payload benchmarks.
const std::vector<uint8_t>& Payload()
{
    static const std::vector<uint8_t> payload = RandomBytes(kPayloadBytes, 5);
    return payload;
}

void BM_Md5_Ours(benchmark::State& state)
{
    std::vector<uint8_t> block = RandomBytes(kBlockBytes, 1);
    MD5_CTX ctx;
    MD5Init(&ctx);
    for (auto _ : state)
        MD5Update(&ctx, block.data(), kBlockBytes);
    uint8_t digest[16];
    MD5Final(digest, &ctx);
    benchmark::DoNotOptimize(digest);
    state.SetBytesProcessed(int64_t(state.iterations()) * kBlockBytes);
}

// Bytes counted once per pair: the figure to set against one plain pass.
void BM_Md5Pair_Ours(benchmark::State& state)
{
    std::vector<uint8_t> blockA = RandomBytes(kBlockBytes, 1);
    std::vector<uint8_t> blockB = RandomBytes(kBlockBytes, 2);
    MD5_CTX a, b;
    MD5Init(&a);
    MD5Init(&b);
    for (auto _ : state)
        MD5UpdatePair(&a, blockA.data(), &b, blockB.data(), kBlockBytes);
    uint8_t digest[16];
    MD5Final(digest, &a);
    MD5Final(digest, &b);
    benchmark::DoNotOptimize(digest);
    state.SetBytesProcessed(int64_t(state.iterations()) * kBlockBytes);
}

void BM_Decipher(benchmark::State& state)
{
    std::vector<uint8_t> block = RandomBytes(kBlockBytes, 3);
    PayloadCipher cipher;
    for (auto _ : state) {
        cipher.Decipher(block.data(), block.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kBlockBytes);
}

void BM_Complement(benchmark::State& state)
{
    std::vector<uint8_t> block = RandomBytes(kBlockBytes, 4);
    for (auto _ : state) {
        ComplementBytes(block.data(), block.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kBlockBytes);
}

using RunStep = void (*)(uint8_t* run, uint32_t fill, uint32_t decipherFrom,
                         MD5_CTX* crypted, MD5_CTX* original, PayloadCipher& cipher);

void PlainStep(uint8_t* run, uint32_t fill, uint32_t decipherFrom, MD5_CTX* crypted,
               MD5_CTX* original, PayloadCipher& cipher)
{
    MD5Update(crypted, run, fill);
    cipher.Decipher(run + decipherFrom, fill - decipherFrom);
    MD5Update(original, run, fill);
}

// One record holding the whole payload, read into a 64 KiB buffer the way the writer
// does: header first, data topping the buffer up. The "read" is a memcpy from memory, so
// the figure is the CPU cost of the path, not the disk's.
void RestorePayload(benchmark::State& state, RunStep step)
{
    const std::vector<uint8_t>& payload = Payload();
    std::vector<uint8_t> buffer(kBlockBytes);
    for (auto _ : state) {
        MD5_CTX crypted, original;
        MD5Init(&crypted);
        MD5Init(&original);
        PayloadCipher cipher;
        uint32_t fill = kHeaderBytes;
        std::memcpy(buffer.data(), payload.data(), fill);
        uint32_t decipherFrom = fill;
        size_t at = fill;
        while (at < payload.size()) {
            size_t room = std::min<size_t>(kBlockBytes - fill, payload.size() - at);
            uint32_t got = static_cast<uint32_t>(room);
            std::memcpy(buffer.data() + fill, payload.data() + at, got);
            at += got;
            fill += got;
            step(buffer.data(), fill, decipherFrom, &crypted, &original, cipher);
            benchmark::ClobberMemory();
            fill = 0;
            decipherFrom = 0;
        }
        uint8_t digest[16];
        MD5Final(digest, &crypted);
        MD5Final(digest, &original);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kPayloadBytes));
}

void BM_RestorePath_Plain(benchmark::State& state) { RestorePayload(state, PlainStep); }
void BM_RestorePath_Pair(benchmark::State& state) { RestorePayload(state, DigestAndDecipherRun); }

// The data path alone: one 64 KiB run already in cache, digested and deciphered over and
// over (deciphering the deciphered bytes costs the same).
void RestoreRun(benchmark::State& state, RunStep step)
{
    std::vector<uint8_t> run = RandomBytes(kBlockBytes, 6);
    MD5_CTX crypted, original;
    MD5Init(&crypted);
    MD5Init(&original);
    PayloadCipher cipher;
    for (auto _ : state) {
        step(run.data(), kBlockBytes, 0, &crypted, &original, cipher);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kBlockBytes);
}

void BM_RestoreRun_Plain(benchmark::State& state) { RestoreRun(state, PlainStep); }
void BM_RestoreRun_Pair(benchmark::State& state) { RestoreRun(state, DigestAndDecipherRun); }

// What the stand-in for ReadFile costs on its own in the whole-payload figures above.
void BM_ReadCopy(benchmark::State& state)
{
    const std::vector<uint8_t>& payload = Payload();
    std::vector<uint8_t> buffer(kBlockBytes);
    for (auto _ : state) {
        for (size_t at = 0; at < payload.size(); at += kBlockBytes) {
            std::memcpy(buffer.data(), payload.data() + at, kBlockBytes);
            benchmark::ClobberMemory();
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kPayloadBytes));
}

}  // namespace

BENCHMARK(BM_Md5_Ours);
BENCHMARK(BM_Md5Pair_Ours);
BENCHMARK(BM_Decipher);
BENCHMARK(BM_Complement);
BENCHMARK(BM_RestorePath_Plain)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_RestorePath_Pair)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_RestoreRun_Plain);
BENCHMARK(BM_RestoreRun_Pair);
BENCHMARK(BM_ReadCopy)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
