// Throughput of every cipher (as the file job drives it: CBC in 8192-byte calls) and
// of every hash. Run: build/bench/kryvane_bench
#include <benchmark/benchmark.h>

#include <vector>

#include "app/catalogue.h"

namespace {

using kryvane::CipherEntry;
using kryvane::HashEntry;

void CipherThroughput(benchmark::State& state, const CipherEntry* entry, bool encrypt) {
  auto cipher = entry->cipher.Create();
  std::vector<uint8_t> key(64, 0x5A);
  const uint32_t bits = std::min<uint32_t>(static_cast<uint32_t>(entry->cipher.maxKeySize), 256);
  cipher->Init(key.data(), bits);
  std::vector<uint8_t> buf(kryvane::Cipher::kStreamChunk, 0x33);
  for (auto _ : state) {
    if (encrypt) {
      cipher->Encrypt(buf.data(), buf.data(), buf.size());
    } else {
      cipher->Decrypt(buf.data(), buf.data(), buf.size());
    }
    benchmark::DoNotOptimize(buf.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(buf.size()));
}

void HashThroughput(benchmark::State& state, const HashEntry* entry) {
  auto hash = entry->hash.Create();
  std::vector<uint8_t> buf(kryvane::Cipher::kStreamChunk, 0x33);
  std::vector<uint8_t> digest(static_cast<std::size_t>(entry->hash.hashSize / 8));
  hash->Init();
  for (auto _ : state) {
    hash->Update(buf.data(), buf.size());
  }
  hash->Final(digest.data());
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(buf.size()));
}

const bool kRegistered = [] {
  for (const CipherEntry& e : kryvane::CipherCatalogue()) {
    benchmark::RegisterBenchmark((std::string("encrypt/") + std::string(e.shortName)).c_str(),
                                 CipherThroughput, &e, true);
    benchmark::RegisterBenchmark((std::string("decrypt/") + std::string(e.shortName)).c_str(),
                                 CipherThroughput, &e, false);
  }
  for (const HashEntry& e : kryvane::HashCatalogue()) {
    benchmark::RegisterBenchmark((std::string("hash/") + std::string(e.shortName)).c_str(),
                                 HashThroughput, &e);
  }
  return true;
}();

}  // namespace
