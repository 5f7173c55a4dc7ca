// How fast the recovery candidate sources produce candidates, one thread. The search tries about
// 20 million candidates a second on two cores; a source must stay well above that.
#include <benchmark/benchmark.h>

#include <fstream>
#include <sstream>

#include "app/recover/like.h"
#include "app/recover/mask.h"
#include "app/recover/wordlist.h"

namespace kryvane::recover {
namespace {

// Touches every candidate so that the work cannot be skipped.
void Drain(benchmark::State& state, CandidateSource& source) {
  CandidateBatch batch(4096);
  uint64_t count = 0;
  uint64_t bytes = 0;
  for (auto _ : state) {
    if (!source.Fill(batch)) {
      source.Seek(0);
      continue;
    }
    for (std::size_t i = 0; i < batch.size(); ++i) bytes += batch[i].size();
    count += batch.size();
  }
  benchmark::DoNotOptimize(bytes);
  state.counters["candidates/s"] =
      benchmark::Counter(static_cast<double>(count), benchmark::Counter::kIsRate);
}

void BM_Mask(benchmark::State& state) {
  MaskSource mask("?u?l?l?l?l?d?d?s");
  Drain(state, mask);
}
BENCHMARK(BM_Mask);

// best64.rule from the hashcat-data package when it is installed, else a mix of our own.
RuleSet BenchRules() {
  std::ifstream in("/usr/share/hashcat/rules/best64.rule");
  if (in) return RuleSet::Parse(in);
  return RuleSet::Parse(
      ":\nr\nu\nT0\n$0\n$1\n$1 $2 $3\n] $a\n] ] $s\n^1\no0d\nso0\nsi1\nse3\nD2\n'5 D3\n"
      "+5 ] } } } } '4\nO02 { { { { { {\n} } -0 O12\n*04 +0 '4\n*05 O03 d '3 p1\nY2\nz1\nq\nc "
      "$!\n");
}

void BM_WordlistRules(benchmark::State& state) {
  std::string words;
  for (int i = 0; i < 20000; ++i) words += "word" + std::to_string(i * 7919) + "\n";
  WordlistSource list([&] { return std::make_unique<std::istringstream>(words); }, BenchRules());
  state.SetLabel(std::to_string(*list.size() / 20000) + " rules");
  Drain(state, list);
}
BENCHMARK(BM_WordlistRules);

void BM_Like(benchmark::State& state) {
  LikeSource like("Summer2019");
  state.SetLabel(std::to_string(*like.size()) + " candidates");
  Drain(state, like);
}
BENCHMARK(BM_Like);

// Building the variants happens once, before the search.
void BM_LikeBuild(benchmark::State& state) {
  for (auto _ : state) {
    LikeSource like("Summer2019");
    benchmark::DoNotOptimize(like.size());
  }
}
BENCHMARK(BM_LikeBuild)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kryvane::recover
