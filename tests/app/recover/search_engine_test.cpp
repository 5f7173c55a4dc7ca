// The passphrase search against files made by the real encryption: the right passphrase is found
// among random candidates, under every pair, through the encoding and field-length rules of the
// file job; and wrong keys are never reported as confirmed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>
#include <thread>

#include "app/file_job.h"
#include "app/recover/search.h"
#include "crypto/streams.h"
#include "tests/app/job_helpers.h"
#include "tests/support/temp_files.h"

namespace kryvane::test {
namespace {

using recover::CandidateBatch;
using recover::Hit;
using recover::Search;
using recover::SearchOptions;
using recover::SearchWorker;

// The file as the job writes it: the passphrase's bytes hashed, the key, the stream in chunks.
Bytes EncryptWith(const Pair& pair, std::string_view passphraseBytes, const Bytes& plain) {
  std::unique_ptr<Cipher> c = pair.cipher->cipher.Create();
  c->InitFromPassphrase(passphraseBytes, pair.hash->hash);
  MemorySource source(plain);
  MemorySink sink;
  c->EncryptStream(source, sink, plain.size());
  return sink.Data();
}

Bytes TextPlain(std::size_t size) {
  const std::string line = "Minutes of the meeting, item 4: the budget for next year.\n";
  Bytes b;
  while (b.size() < size) b.push_back(uint8_t(line[b.size() % line.size()]));
  return b;
}

std::string RandomWord(std::mt19937& rng) {
  std::string s(4 + rng() % 12, ' ');
  for (char& c : s) c = char('!' + rng() % 94);
  return s;
}

struct Found {
  std::vector<Hit> hits;
  recover::Counters totals;
  bool canConfirm = false;
};

Found RunSearch(const Bytes& file, std::vector<recover::Pair> pairs,
                const std::vector<std::string>& candidates,
                PassphraseEncoding encoding = PassphraseEncoding::kAuto) {
  SearchOptions options;
  options.pairs = std::move(pairs);
  options.encoding = encoding;
  const std::size_t headSize = std::min(file.size(), recover::kSearchHead);
  Search search(std::span(file.data(), headSize), file.size(), options);
  SearchWorker worker(search);
  CandidateBatch batch;
  Found found;
  for (const std::string& c : candidates) batch.Append(c, batch.size());
  EXPECT_TRUE(worker.Run(batch, found.hits));
  found.totals = search.Totals();
  found.canConfirm = search.CanConfirm();
  return found;
}

recover::Pair PairOf(std::string_view cipher, std::string_view hash) {
  return {FindCipher(cipher), FindHash(hash)};
}

// The right passphrase hidden among random ones, for the pairs the search has fast paths for and
// the stream cipher.
TEST(Search, FindsThePassphraseAmongRandomCandidates) {
  const std::pair<std::string_view, std::string_view> pairs[] = {
      {"rijndael", "sha1"}, {"blowfish", "haval"},  {"rc4", "md5"},
      {"rijndael", "md5"},  {"rijndael", "sha256"}, {"rijndael", "tiger"}};
  std::mt19937 rng(7);
  for (const auto& [cipherName, hashName] : pairs) {
    const recover::Pair pair = PairOf(cipherName, hashName);
    const std::string secret = "tulip-Garden-1997";
    const Bytes file = EncryptWith({pair.cipher, pair.hash}, secret, TextPlain(10000));
    std::vector<std::string> candidates;
    for (int i = 0; i < 3000; ++i) candidates.push_back(RandomWord(rng));
    candidates.insert(candidates.begin() + 1234, secret);
    const Found found = RunSearch(file, {pair}, candidates);
    ASSERT_EQ(found.hits.size(), 1u) << cipherName << "-" << hashName;
    const Hit& hit = found.hits[0];
    EXPECT_EQ(hit.candidate, 1234u);
    EXPECT_TRUE(hit.confirmed);
    EXPECT_EQ(hit.pair.cipher, pair.cipher);
    EXPECT_FALSE(hit.prefix);
    EXPECT_EQ(hit.plausibility.verdict, Verdict::kPlausible);
    EXPECT_EQ(found.totals.candidates, candidates.size());
    EXPECT_EQ(found.totals.keys, candidates.size());
    EXPECT_EQ(found.totals.confirmed, 1u);
    // The prefilter leaves few keys for the detector.
    EXPECT_LT(found.totals.survivors, 40u) << cipherName << "-" << hashName;
  }
}

// Every pair of the menus, each file searched under all pairs with a few candidates: only its
// own pair and passphrase come out. Sizes vary so that short heads and partial blocks are met.
TEST(Search, EveryPairFindsItsFile) {
  const std::vector<std::string> candidates = {"alpha", "bravo-7", "Kryvane golden passphrase", "x",
                                               std::string(60, 'q')};
  const std::vector<recover::Pair> all = recover::AllPairs();
  constexpr std::size_t kSizes[] = {5000, 300, 100, 40};
  std::size_t index = 0;
  for (const recover::Pair& pair : all) {
    const std::size_t size = kSizes[index++ % 4];
    const Bytes file = EncryptWith({pair.cipher, pair.hash}, candidates[2], TextPlain(size));
    const Found found = RunSearch(file, {pair}, candidates);
    const std::string name = std::string(pair.cipher->shortName) + "-" +
                             std::string(pair.hash->shortName) + " " + std::to_string(size);
    ASSERT_EQ(found.hits.size(), 1u) << name;
    EXPECT_EQ(found.hits[0].candidate, 2u) << name;
    EXPECT_EQ(found.hits[0].confirmed, size >= 100) << name << ": " << found.hits[0].evidenceBits;
  }
  // One file under all pairs at once: its own pair is the one confirmed.
  const recover::Pair own = PairOf("serpent", "ripemd160");
  const Bytes file = EncryptWith({own.cipher, own.hash}, candidates[1], TextPlain(4096));
  const Found found = RunSearch(file, {}, candidates);
  ASSERT_EQ(found.hits.size(), 1u);
  EXPECT_EQ(found.hits[0].candidate, 1u);
  EXPECT_EQ(found.hits[0].pair.cipher, own.cipher);
  EXPECT_EQ(found.hits[0].pair.hash, own.hash);
  EXPECT_EQ(found.totals.keys, candidates.size() * all.size());
}

// The job keys a text that fits Windows-1252 with those bytes; the candidate is UTF-8.
TEST(Search, Cp1252PassphraseFromUtf8Candidate) {
  TempFolder dir;
  WriteFile(dir / "plain.txt", TextPlain(3000));
  const std::string secret = "caf\xc3\xa9 co\xc3\xbbte 5 \xe2\x82\xac";  // café coûte 5 €
  const Pair pair{FindCipher("rijndael"), FindHash("sha1")};
  ASSERT_EQ(RunFileJob(Encrypt(dir / "plain.txt", dir / "file.enc", pair, secret)).result,
            JobResult::kSuccess);
  const Bytes file = ReadFile(dir / "file.enc");
  const std::vector<std::string> candidates = {"cafe coute 5 E", secret, "caf\xc3\xa9"};
  Found found = RunSearch(file, {{pair.cipher, pair.hash}}, candidates);
  ASSERT_EQ(found.hits.size(), 1u);
  EXPECT_EQ(found.hits[0].candidate, 1u);
  EXPECT_EQ(found.hits[0].encoding, PassphraseEncoding::kCp1252);
  EXPECT_TRUE(found.hits[0].confirmed);
  // Keyed as UTF-8 only, the same text is another key.
  found = RunSearch(file, {{pair.cipher, pair.hash}}, candidates, PassphraseEncoding::kUtf8);
  EXPECT_TRUE(found.hits.empty());
}

// A passphrase longer than the Windows program's field: a file it wrote is keyed with the first
// 80 characters, one this system wrote with the whole text; both are found, and say which.
TEST(Search, LongPassphraseWholeAndWindowsPrefix) {
  std::string secret;
  for (int i = 0; secret.size() < 85; ++i) secret += char('a' + i % 26);
  const recover::Pair pair = PairOf("rijndael", "sha1");
  const std::vector<std::string> candidates = {"short one", secret};
  for (const bool prefix : {false, true}) {
    const std::string keyed = prefix ? secret.substr(0, kWindowsPhraseLength) : secret;
    const Bytes file = EncryptWith({pair.cipher, pair.hash}, keyed, TextPlain(4096));
    const Found found = RunSearch(file, {pair}, candidates);
    ASSERT_EQ(found.hits.size(), 1u) << prefix;
    EXPECT_EQ(found.hits[0].candidate, 1u);
    EXPECT_EQ(found.hits[0].prefix, prefix);
    EXPECT_TRUE(found.hits[0].confirmed);
  }
}

// How many random candidates the no-false-report test tries: a million per file, fewer in the
// sanitizer build (or as KRYVANE_SEARCH_TRIALS says).
std::size_t Trials() {
  if (const char* v = std::getenv("KRYVANE_SEARCH_TRIALS")) return std::stoul(v);
#if defined(__SANITIZE_ADDRESS__)
  return 50000;
#else
  return 1000000;
#endif
}

// Wrong keys are never reported as confirmed, whatever the plaintext; and a file whose content is
// random-looking gives nothing at all, not even under its right passphrase.
TEST(Search, NoConfirmedReportFromWrongKeys) {
  const recover::Pair pair = PairOf("rijndael", "sha1");
  const Bytes plains[] = {TextPlain(8192), Bytes(8192, 0), RandomBytes(8192, 99)};
  const std::size_t trials = Trials();
  std::mt19937 rng(11);
  for (std::size_t p = 0; p < std::size(plains); ++p) {
    const Bytes file = EncryptWith({pair.cipher, pair.hash}, "the right one", plains[p]);
    SearchOptions options;
    options.pairs = {pair};
    Search search(std::span(file.data(), recover::kSearchHead), file.size(), options);
    EXPECT_TRUE(search.CanConfirm());
    SearchWorker worker(search);
    CandidateBatch batch;
    std::vector<Hit> hits;
    for (std::size_t done = 0; done < trials;) {
      batch.Reset(0);
      for (int i = 0; i < 4096 && done < trials; ++i, ++done) batch.Append(RandomWord(rng), batch.size());
      worker.Run(batch, hits);
    }
    batch.Reset(0);
    batch.Append("the right one", batch.size());
    worker.Run(batch, hits);
    std::size_t confirmed = 0;
    for (const Hit& h : hits) confirmed += h.confirmed;
    if (p < 2) {
      EXPECT_EQ(confirmed, 1u) << p;
    } else {
      EXPECT_EQ(confirmed, 0u);
      EXPECT_TRUE(hits.empty());
    }
    EXPECT_EQ(search.Totals().keys, trials + 1);
    // Nearly every wrong key ends at the prefilter.
    EXPECT_LT(double(search.Totals().survivors), 0.005 * double(trials)) << p;
  }
}

// A file of a few bytes: its head cannot prove anything, so the right passphrase comes out
// unconfirmed, and the search says upfront that it can confirm nothing.
TEST(Search, TinyFileCannotBeConfirmed) {
  const recover::Pair pair = PairOf("blowfish", "sha1");
  const Bytes file = EncryptWith({pair.cipher, pair.hash}, "pw", TextPlain(12));
  const Found found = RunSearch(file, {pair}, {"nope", "pw"});
  EXPECT_FALSE(found.canConfirm);
  for (const Hit& h : found.hits) EXPECT_FALSE(h.confirmed);
}

// Binary data with a slight skew of byte values behind a start that looks like noise: plausible to
// the detector only over the whole head. The fast search's start rule cannot see it; the
// exhaustive search finds it.
TEST(Search, ExhaustiveFindsWhatTheStartRuleCannotSee) {
  std::mt19937 rng(21);
  Bytes plain(6000);
  for (std::size_t i = 0; i < plain.size(); ++i) {
    plain[i] = i >= 16 && rng() % 4 == 0 ? uint8_t(rng() % 4) : uint8_t(rng());
  }
  ASSERT_EQ(Assess(std::span(plain.data(), kAssessedBytes)).verdict, Verdict::kPlausible);
  const recover::Pair pair = PairOf("twofish", "sha1");
  const Bytes file = EncryptWith({pair.cipher, pair.hash}, "skewed", plain);
  const std::vector<std::string> candidates = {"a", "skewed", "b"};
  EXPECT_TRUE(RunSearch(file, {pair}, candidates).hits.empty());
  SearchOptions options;
  options.pairs = {pair};
  options.exhaustive = true;
  Search search(std::span(file.data(), recover::kSearchHead), file.size(), options);
  SearchWorker worker(search);
  CandidateBatch batch;
  for (const std::string& c : candidates) batch.Append(c, batch.size());
  std::vector<Hit> hits;
  worker.Run(batch, hits);
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_EQ(hits[0].candidate, 1u);
  EXPECT_TRUE(hits[0].confirmed) << hits[0].evidenceBits;
}

// Workers on several threads share one search; the totals add up, and the stop flag ends a run.
TEST(Search, ThreadsAndStop) {
  const recover::Pair pair = PairOf("rijndael", "sha1");
  const Bytes file = EncryptWith({pair.cipher, pair.hash}, "needle", TextPlain(4096));
  SearchOptions options;
  options.pairs = {pair};
  Search search(std::span(file.data(), file.size()), file.size(), options);
  std::vector<std::vector<Hit>> hits(2);
  std::vector<std::thread> threads;
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&, t] {
      SearchWorker worker(search);
      std::mt19937 rng{uint32_t(t)};
      CandidateBatch batch;
      for (int round = 0; round < 5; ++round) {
        batch.Reset(0);
        for (int i = 0; i < 1000; ++i)
          batch.Append(i == 500 && t == 1 && round == 3 ? "needle" : RandomWord(rng), batch.size());
        worker.Run(batch, hits[std::size_t(t)]);
      }
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(search.Totals().candidates, 10000u);
  EXPECT_EQ(search.Totals().confirmed, 1u);
  ASSERT_EQ(hits[1].size(), 1u);
  EXPECT_EQ(hits[1][0].candidate, 500u);

  const std::atomic<bool> stop{true};
  SearchWorker worker(search);
  CandidateBatch batch;
  batch.Append("needle", batch.size());
  std::vector<Hit> none;
  EXPECT_FALSE(worker.Run(batch, none, &stop));
  EXPECT_TRUE(none.empty());
}

}  // namespace
}  // namespace kryvane::test
