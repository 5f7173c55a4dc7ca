// The whole identify search: the start of a file decrypted under every cipher and hash pair and
// judged. Key setup dominates, so the time hardly depends on the file's size. Also the detector
// alone, and the key setup and head decryption of each cipher, to see where the time goes.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "app/catalogue.h"
#include "app/detector.h"
#include "app/identify.h"

namespace {

std::vector<uint8_t> Noise(std::size_t n) {
  std::mt19937 rng(42);
  std::vector<uint8_t> b(n);
  for (auto& v : b) v = uint8_t(rng());
  return b;
}

// Arguments: the file's size (only its first kIdentifyHead bytes are read) and whether the
// passphrase goes beyond ASCII, which doubles the candidates.
void IdentifySearch(benchmark::State& state) {
  const std::size_t size = std::size_t(state.range(0));
  const std::vector<uint8_t> head = Noise(std::min(size, kryvane::kIdentifyHead));
  const std::string texts[] = {state.range(1) != 0 ? "caf\xC3\xA9 cr\xC3\xA8me" : "password"};
  const auto readings = kryvane::PassphraseReadings(texts, kryvane::PassphraseEncoding::kAuto);
  std::size_t candidates = 0;
  for (auto _ : state) {
    const kryvane::Identification found = kryvane::IdentifyHead(head, size, readings);
    candidates = found.ranked.size();
    benchmark::DoNotOptimize(found.ranked.data());
  }
  state.counters["candidates"] = double(candidates);
}
BENCHMARK(IdentifySearch)
    ->Args({16, 0})
    ->Args({4096, 0})
    ->Args({int64_t(1) << 30, 0})
    ->Args({int64_t(1) << 30, 1})
    ->Unit(benchmark::kMillisecond);

void AssessHead(benchmark::State& state) {
  const std::vector<uint8_t> head = Noise(kryvane::kAssessedBytes);
  for (auto _ : state) benchmark::DoNotOptimize(kryvane::Assess(head).score);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(head.size()));
}
BENCHMARK(AssessHead);

// Key setup from a passphrase plus the decryption of a full head, per cipher (SHA-512 keys each
// with its longest key).
void KeyAndHead(benchmark::State& state, const kryvane::CipherEntry* entry) {
  const std::vector<uint8_t> head = Noise(kryvane::kIdentifyHead);
  std::vector<uint8_t> plain(head.size());
  for (auto _ : state) {
    auto cipher = entry->cipher.Create();
    cipher->InitFromPassphrase("password", kryvane::FindHash("sha512")->hash);
    cipher->Decrypt(head.data(), plain.data(), head.size());
    benchmark::DoNotOptimize(plain.data());
  }
}

[[maybe_unused]] const bool kRegistered = [] {
  for (const kryvane::CipherEntry& c : kryvane::CipherCatalogue()) {
    benchmark::RegisterBenchmark(("KeyAndHead/" + std::string(c.shortName)).c_str(), KeyAndHead, &c)
        ->Unit(benchmark::kMicrosecond);
  }
  return true;
}();

}  // namespace
