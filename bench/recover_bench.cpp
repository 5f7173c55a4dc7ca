// The passphrase search: candidates per second against a file whose content is text, for the pairs
// with fast paths and the slowest pair, on one and two threads (items_per_second is the figure;
// with two threads it is the sum of both). Candidates are random printable words of 6 to 12
// characters, none of them right.
#include <benchmark/benchmark.h>

#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "app/recover/search.h"
#include "crypto/cpu.h"
#include "crypto/streams.h"

namespace {

using namespace kryvane;

std::vector<uint8_t> EncryptedText(const recover::Pair& pair) {
  std::vector<uint8_t> plain;
  const std::string line = "Quarterly report: revenue, costs and the plan for next year.\n";
  while (plain.size() < 8192) plain.push_back(uint8_t(line[plain.size() % line.size()]));
  auto c = pair.cipher->cipher.Create();
  c->InitFromPassphrase("not among the candidates", pair.hash->hash);
  MemorySource source(plain);
  MemorySink sink;
  c->EncryptStream(source, sink, plain.size());
  return sink.Data();
}

void FillBatch(recover::CandidateBatch& batch, uint32_t seed, std::size_t n) {
  std::mt19937 rng(seed);
  batch = recover::CandidateBatch(n);
  batch.Reset(0);
  std::string word;
  for (std::size_t i = 0; i < n; ++i) {
    word.assign(6 + rng() % 7, ' ');
    for (char& ch : word) ch = char('!' + rng() % 94);
    batch.Append(word, batch.size());
  }
}

// One search per pair, shared by the benchmark's threads as the CLI's workers share theirs.
const recover::Search& SharedSearch(std::string_view cipher, std::string_view hash) {
  static std::mutex mutex;
  static std::vector<std::pair<std::string, std::unique_ptr<recover::Search>>> searches;
  const std::lock_guard lock(mutex);
  const std::string name = std::string(cipher) + "-" + std::string(hash);
  for (auto& [n, s] : searches) {
    if (n == name) return *s;
  }
  const recover::Pair pair{FindCipher(cipher), FindHash(hash)};
  const std::vector<uint8_t> file = EncryptedText(pair);
  recover::SearchOptions options;
  options.pairs = {pair};
  searches.emplace_back(
      name, std::make_unique<recover::Search>(std::span(file.data(), recover::kSearchHead),
                                              file.size(), options));
  return *searches.back().second;
}

void SearchPair(benchmark::State& state, std::string_view cipher, std::string_view hash,
                std::size_t batchSize) {
  const recover::Search& search = SharedSearch(cipher, hash);
  recover::SearchWorker worker(search);
  // Several batches in turn, so that the rare wrong key the detector must judge is not the same
  // few again and again.
  constexpr std::size_t kBatches = 16;
  std::vector<recover::CandidateBatch> batches(kBatches);
  for (std::size_t b = 0; b < kBatches; ++b) {
    FillBatch(batches[b], uint32_t(100 * state.thread_index() + b + 1), batchSize);
  }
  std::vector<recover::Hit> hits;
  std::size_t next = 0;
  for (auto _ : state) {
    worker.Run(batches[next++ % kBatches], hits);
    benchmark::DoNotOptimize(hits.data());
  }
  state.SetItemsProcessed(int64_t(state.iterations() * batchSize));
  if (state.thread_index() == 0) {
    state.SetLabel(std::string(cpu::IsaName(cpu::VectorIsa())) + ", survivors " +
                   std::to_string(worker.Count().survivors) + ", assessed " +
                   std::to_string(worker.Count().assessed) + " of " +
                   std::to_string(worker.Count().keys));
  }
}

BENCHMARK_CAPTURE(SearchPair, rijndael_sha1, "rijndael", "sha1", 8192)
    ->Threads(1)
    ->Threads(2)
    ->UseRealTime();
BENCHMARK_CAPTURE(SearchPair, rijndael_md5, "rijndael", "md5", 8192)->Threads(1)->UseRealTime();
BENCHMARK_CAPTURE(SearchPair, blowfish_haval, "blowfish", "haval", 256)
    ->Threads(1)
    ->Threads(2)
    ->UseRealTime();
// The slowest pairs (2026-12, AMD EPYC Zen 5) are Blowfish's, all within noise of Blowfish with
// Haval above: its key schedule is the cost. Next comes Ice 2.
BENCHMARK_CAPTURE(SearchPair, slowest_other_ice2_tiger, "ice2", "tiger", 256)
    ->Threads(1)
    ->Threads(2)
    ->UseRealTime();

// Every pair with one small batch each, to find the slowest.
void SearchEveryPair(benchmark::State& state) {
  const recover::Pair pair = recover::AllPairs()[std::size_t(state.range(0))];
  const recover::Search& search = SharedSearch(pair.cipher->shortName, pair.hash->shortName);
  recover::SearchWorker worker(search);
  recover::CandidateBatch batch;
  FillBatch(batch, 1, 128);
  std::vector<recover::Hit> hits;
  for (auto _ : state) worker.Run(batch, hits);
  state.SetItemsProcessed(int64_t(state.iterations() * batch.size()));
  state.SetLabel(std::string(pair.cipher->shortName) + "-" + std::string(pair.hash->shortName));
}
BENCHMARK(SearchEveryPair)->DenseRange(0, 169)->MinTime(0.05);

}  // namespace
