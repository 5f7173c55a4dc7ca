// The search's prefilter drops a key on the first 16 bytes of its decryption: it must never drop a
// head the detector calls plausible (the detector's own table, hard starts, real files), and must
// drop nearly all noise. And the evidence that confirms a hit must not come from noise.
#include "app/recover/search_prefilter.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>

#include "app/recover/search.h"
#include "crypto/cpu.h"
#include "tests/support/detector_buffers.h"
#include "tests/support/vec_file.h"

namespace kryvane::test {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadData(const std::string& name) {
  std::ifstream in(TestDataPath(name), std::ios::binary);
  EXPECT_TRUE(in) << name;
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

// What the search passes the prefilter for a head of this size: the first 16 bytes, and the TAR
// window when the head reaches past it.
uint32_t Kinds(const Bytes& head) {
  const uint8_t* tar =
      head.size() >= recover::kTarWindow + 7 ? head.data() + recover::kTarWindow : nullptr;
  Bytes window(recover::kTarWindowBytes, 0);
  if (tar != nullptr) {
    std::copy(tar, tar + std::min<std::size_t>(8, head.size() - recover::kTarWindow),
              window.begin());
  }
  return recover::StartKinds(head.data(), tar != nullptr ? window.data() : nullptr);
}

// Both steps before the detector: the start, and for a start that is not a signature the bound
// on the whole head, which must hold for every head the detector calls plausible.
void ExpectKeptIfPlausible(const Bytes& head, const std::string& where, bool start = true) {
  const Plausibility p = Assess(head);
  if (p.verdict != Verdict::kPlausible) return;
  const bool signature = p.evidence.ends_with("signature") || p.evidence == "OpenPGP packets";
  if (!signature) {
    EXPECT_TRUE(recover::HeadMayBePlausible(head)) << where << ": " << p.evidence;
  }
  // The search skips the prefilter for shorter heads.
  if (!start || head.size() < recover::kPrefilterBytes) return;
  EXPECT_NE(Kinds(head), 0u) << where << ": " << p.evidence;
}

TEST(SearchPrefilter, KeepsEveryPlausibleBufferOfTheTables) {
  for (const std::string table : {"detector.vec", "search_starts.vec"}) {  // NOLINT
    const auto records = ReadVecFile(table);
    ASSERT_FALSE(records.empty());
    for (const VecRecord& r : records) {
      const Bytes b = BuildDetectorBuffer(r);
      const std::string where = table + " line " + std::to_string(r.line);
      if (table == "search_starts.vec") {
        EXPECT_EQ(VerdictName(Assess(b).verdict), r.Get("Verdict")) << where;
      }
      ExpectKeptIfPlausible(b, where);
      // The same buffer cut to shorter heads, as smaller files give.
      for (std::size_t size : {16, 40, 100, 300, 1000}) {
        if (size < b.size())
          ExpectKeptIfPlausible(Bytes(b.begin(), b.begin() + std::ptrdiff_t(size)),
                                where + " cut to " + std::to_string(size));
      }
    }
  }
}

TEST(SearchPrefilter, KeepsRealFiles) {
  const char* files[] = {"samples/archive.zip",
                         "samples/document.pdf",
                         "samples/image.png",
                         "samples/notes.txt.gz",
                         "samples/photo.jpg",
                         "samples/program.elf",
                         "samples/text-cp1252.txt",
                         "samples/text-utf16.txt",
                         "samples/text-utf8.txt",
                         "samples/make_samples.py",
                         "detector.vec"};
  for (const char* name : files) {
    Bytes b = ReadData(name);
    if (b.size() > kAssessedBytes) b.resize(kAssessedBytes);
    ASSERT_EQ(Assess(b).verdict, Verdict::kPlausible) << name;
    ExpectKeptIfPlausible(b, name);
  }
}

// Noise: the prefilter lets about one key in 500 through (0.19% measured), and none of the noise
// carries evidence enough to be confirmed.
TEST(SearchPrefilter, DropsNoise) {
  std::mt19937 rng(5);
  const int trials = 400000;
  int kept = 0;
  uint8_t first[16], tar[8];
  for (int i = 0; i < trials; ++i) {
    for (auto& v : first) v = uint8_t(rng());
    for (auto& v : tar) v = uint8_t(rng());
    kept += recover::MayBePlausible(first, tar);
  }
  EXPECT_LT(kept, trials / 250);
  // Whole heads of noise, at every length up to the detector's: the bound drops them all.
  for (int i = 0; i < 2000; ++i) {
    Bytes head(1 + rng() % (i % 2 == 0 ? 200 : kAssessedBytes));
    for (auto& v : head) v = uint8_t(rng());
    if (head.size() >= 48) {
      EXPECT_FALSE(recover::HeadMayBePlausible(head)) << head.size();
    }
  }
}

// Starts judged many at once (four to a vector where the processor has 512-bit ones) get the kinds
// StartKinds gives each alone, on every path: starts of the tables and real files, noise, and
// starts built near each screen's edge (text with a few control characters or broken UTF-8,
// UTF-16 units, zeros and repeated bytes, OpenPGP first bytes, signatures, TAR magic).
TEST(SearchPrefilter, ManyStartsAtOnceGiveTheSameKinds) {
  std::vector<std::array<uint8_t, 16>> first, tar;
  const auto add = [&](const uint8_t* p, const uint8_t* window) {
    std::array<uint8_t, 16> f{}, w{};
    std::copy(p, p + 16, f.begin());
    if (window != nullptr) std::copy(window, window + 8, w.begin());
    first.push_back(f);
    tar.push_back(w);
  };
  for (const std::string table : {"detector.vec", "search_starts.vec"}) {  // NOLINT
    for (const VecRecord& r : ReadVecFile(table)) {
      const Bytes b = BuildDetectorBuffer(r);
      if (b.size() >= 16) add(b.data(), b.size() >= 264 ? b.data() + 256 : nullptr);
    }
  }
  std::mt19937 rng(23);
  const std::string utf8[] = {"\xc3\xa9", "\xe2\x82\xac", "\xf0\x9f\x98\x80", "\xc3",
                              "\x80",     "\xc0\x80",     "\xe2\x28\xa1"};
  for (int i = 0; i < 60000; ++i) {
    std::array<uint8_t, 16> f{};
    std::array<uint8_t, 8> w{};
    for (auto& v : f) v = uint8_t(rng());
    for (auto& v : w) v = uint8_t(rng());
    // Runs of three alike, so that neighbours in a vector are alike too.
    switch (i / 3 % 8) {
      case 0:  // noise
        break;
      case 1:  // text with up to three other bytes
        for (auto& v : f) v = uint8_t(0x20 + rng() % 95);
        for (int k = int(rng() % 4); k > 0; --k) f[rng() % 16] = uint8_t(rng() % 32);
        break;
      case 2:  // text with UTF-8 sequences, whole, cut or broken
        for (auto& v : f) v = uint8_t(0x20 + rng() % 95);
        for (int k = 1 + int(rng() % 4); k > 0; --k) {
          const std::string& s = utf8[rng() % std::size(utf8)];
          std::copy(s.begin(), s.end(), f.begin() + std::ptrdiff_t(rng() % (17 - s.size())));
        }
        if (rng() % 4 == 0) f[0] = uint8_t(0x80 + rng() % 64);  // a sequence's end first
        if (rng() % 4 == 0) f[15] = 0xC3;                       // cut by the end
        break;
      case 3:  // a few UTF-16 units among noise or ideographs, in either order, after a byte
               // order mark or not
        if (rng() % 2 == 0) {
          for (std::size_t u = 0; u < 8; ++u)
            f[2 * u + (i % 16 < 8 ? 1 : 0)] = uint8_t(0x4E + rng() % 0x52);
        }
        for (int k = int(rng() % 4); k > 0; --k) {
          f[2 * (rng() % 8) + (i % 16 < 8 ? 1 : 0)] = uint8_t(rng() % 3);
        }
        if (rng() % 2 == 0) {
          f[0] = rng() % 2 == 0 ? 0xFF : 0xFE;
          f[1] = f[0] ^ 1;
        }
        break;
      case 4:  // zeros and repeated bytes
        for (int k = int(rng() % 6); k > 0; --k) f[rng() % 16] = uint8_t(rng() % 2 == 0 ? 0 : 7);
        break;
      case 5:  // OpenPGP first bytes, with a version where it belongs
        f[0] = rng() % 4 == 0 ? uint8_t(0xC1 + rng() % 6)                     // new format
                              : uint8_t(0x84 + 4 * (rng() % 6) + rng() % 4);  // old format
        if (rng() % 2 == 0) {  // the new format's lengths: one, two or five bytes
          const unsigned kind = rng() % 3;
          f[1] = uint8_t(kind == 0 ? rng() % 192 : kind == 1 ? 192 + rng() % 32 : 255);
        }
        // Fields of the values the first packets allow (algorithms, hashes, S2K types).
        for (std::size_t j = 2; j < 16; ++j) {
          if (rng() % 4 == 0) f[j] = "\x00\x01\x02\x03\x08\x09\x11\x12"[rng() % 8];
        }
        f[1 + rng() % 6] = uint8_t(3 + rng() % 2);
        break;
      case 6: {  // a signature's first bytes
        static const char* const starts[] = {
            "%PDF-", "\x89PNG\r\n\x1a\n", "PK\x03\x04", "BZh9", "\x1f\x8b\x08", "ID3\x03", "MZ"};
        const char* s = starts[rng() % std::size(starts)];
        std::copy(s, s + std::strlen(s), f.begin());
        break;
      }
      default:  // TAR magic in the window
        std::copy_n("ustar", 5, w.begin() + 1);
        break;
    }
    add(f.data(), w.data());
  }
  std::vector<uint32_t> expected(first.size()), withoutTar(first.size());
  uint32_t seen = 0;
  for (std::size_t i = 0; i < first.size(); ++i) {
    expected[i] = recover::StartKinds(first[i].data(), tar[i].data());
    withoutTar[i] = recover::StartKinds(first[i].data(), nullptr);
    seen |= expected[i];
  }
  EXPECT_EQ(seen, 0x3Fu) << "every kind of start occurs";
  const auto* f = reinterpret_cast<const uint8_t(*)[16]>(first.data());
  const auto* w = reinterpret_cast<const uint8_t(*)[16]>(tar.data());
  for (const uint32_t level : cpu::Levels()) {
    cpu::ScopedLimit limit(level);
    std::vector<uint32_t> kinds(first.size(), 99);
    // An odd count, so that a group is left over.
    const std::size_t n = first.size() - 1 - first.size() % 2;
    recover::StartKindsOf(f, w, n, kinds.data());
    for (std::size_t i = 0; i < n; ++i) {
      ASSERT_EQ(kinds[i], expected[i]) << cpu::IsaName(cpu::VectorIsa()) << " start " << i;
    }
    EXPECT_EQ(kinds[n], 99u);
    recover::StartKindsOf(f, nullptr, n, kinds.data());
    for (std::size_t i = 0; i < n; ++i) {
      ASSERT_EQ(kinds[i], withoutTar[i]) << cpu::IsaName(cpu::VectorIsa()) << " start " << i;
    }
  }
}

// Heads near the detector's thresholds, where the bound's slack matters: text diluted with control
// characters, UTF-16 diluted with noise units, structure diluted with noise, at many mixes. The
// whole-head bound must keep every one the detector accepts. (The start rule does not: sixteen
// bytes cannot show a skew that only thousands reveal; the exhaustive search is for such files.)
TEST(SearchPrefilter, BoundHoldsAtTheThresholds) {
  std::mt19937 rng(17);
  int plausible = 0;
  for (int i = 0; i < 3000; ++i) {
    const std::size_t size = 40 + rng() % (kAssessedBytes - 40);
    const int kind = i % 3;
    const double noise = double(rng() % 1000) / 1000.0;
    Bytes head(size);
    for (std::size_t j = 0; j < size; ++j) {
      const bool random = double(rng() % 1000) / 1000.0 < noise;
      if (kind == 0) head[j] = random ? uint8_t(rng() % 32) : uint8_t('a' + rng() % 26);
      if (kind == 1)
        head[j] = random ? uint8_t(rng()) : (j % 2 == 0 ? uint8_t('a' + rng() % 26) : 0);
      if (kind == 2) head[j] = random ? uint8_t(rng()) : uint8_t(rng() % 4);
    }
    plausible += Assess(head).verdict == Verdict::kPlausible;
    ExpectKeptIfPlausible(head, "mix " + std::to_string(i), false);
  }
  EXPECT_GT(plausible, 500);
}

TEST(SearchPrefilter, EvidenceOfNoiseAndOfFiles) {
  std::mt19937 rng(9);
  Bytes noise(4096);
  for (auto& v : noise) v = uint8_t(rng());
  // A short signature over noise is plausible, but proves little.
  const uint8_t zip[] = {'P', 'K', 3, 4};
  std::copy(std::begin(zip), std::end(zip), noise.begin());
  const Plausibility p = Assess(noise);
  ASSERT_EQ(p.verdict, Verdict::kPlausible);
  EXPECT_LT(recover::EvidenceBits(noise, p), recover::kConfirmBits);
  // Text, UTF-16 and a long signature prove far more.
  for (const char* name :
       {"samples/text-utf8.txt", "samples/text-utf16.txt", "samples/image.png"}) {
    const Bytes b = ReadData(name);
    EXPECT_GE(recover::EvidenceBits(b, Assess(b)), recover::kConfirmBits) << name;
  }
  EXPECT_LT(recover::MaxEvidenceBits(12), recover::kConfirmBits);
  EXPECT_GE(recover::MaxEvidenceBits(64), recover::kConfirmBits);
}

}  // namespace
}  // namespace kryvane::test
