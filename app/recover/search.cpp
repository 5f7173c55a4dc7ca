#include "app/recover/search.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <new>
#include <stdexcept>
#include <string>

#include "app/identify.h"
#include "app/recover/search_aes.h"
#include "app/recover/search_blowfish.h"
#include "app/recover/search_prefilter.h"
#include "app/recover/search_sha1x.h"
#include "crypto/bytes.h"
#include "crypto/components.h"
#include "hashes/sha1.h"

namespace kryvane::recover {
namespace {

// Readings are hashed and tried in chunks of this many, so that their digests and decrypted
// blocks stay in the first-level cache.
constexpr std::size_t kChunk = 256;
constexpr std::size_t kMaxDigest = 64;
// A head this long holds whole blocks up to the TAR window's end for every block size.
constexpr std::size_t kWindowedHead = kTarWindow + 16;

bool IsRijndael(const CipherEntry& c) {
  return c.cipher.algorithm == "Rijndael";
}
bool IsBlowfish(const CipherEntry& c) {
  return c.cipher.algorithm == "Blowfish";
}
bool IsSha1(const HashEntry& h) {
  return h.hash.algorithm == Sha1::kAlgorithm;
}

struct Reading {
  const uint8_t* data = nullptr;  // set once every reading of the batch is made
  std::size_t own = 0;            // offset in the worker's bytes, or SIZE_MAX: in the batch
  uint32_t size = 0;
  uint32_t candidate = 0;
  PassphraseEncoding encoding = PassphraseEncoding::kAuto;
  bool prefix = false;
};

bool IsAscii(std::string_view s) {
  uint64_t any = 0;
  std::size_t i = 0;
  for (; i + 8 <= s.size(); i += 8) {
    uint64_t w;
    std::memcpy(&w, s.data() + i, 8);
    any |= w;
  }
  for (; i < s.size(); ++i) any |= uint8_t(s[i]);
  return (any & 0x8080808080808080u) == 0;
}

}  // namespace

std::vector<Pair> AllPairs() {
  std::vector<Pair> pairs;
  for (const CipherEntry& c : CipherCatalogue()) {
    for (const HashEntry& h : HashCatalogue()) pairs.push_back({&c, &h});
  }
  return pairs;
}

// ---------------------------------------------------------------------------------------------
// Search

Search::Search(std::span<const uint8_t> head, uint64_t fileSize, SearchOptions options)
    : head_(
          head.begin(),
          head.begin() + std::ptrdiff_t(std::min<uint64_t>({head.size(), kSearchHead, fileSize}))),
      fileSize_(fileSize),
      options_(std::move(options)) {
  if (options_.pairs.empty()) options_.pairs = AllPairs();
}

Search::~Search() = default;

double Search::MaxEvidenceBits() const {
  return recover::MaxEvidenceBits(head_.size());
}

bool Search::CanConfirm() const {
  return MaxEvidenceBits() >= kConfirmBits;
}

void Search::Add(const Counters& c) const {
  const uint64_t values[kCounters] = {c.candidates, c.keys,      c.survivors, c.assessed,
                                      c.plausible,  c.confirmed, c.refused};
  for (std::size_t i = 0; i < kCounters; ++i)
    totals_[i].fetch_add(values[i], std::memory_order_relaxed);
}

Counters Search::Totals() const {
  Counters c;
  c.candidates = totals_[0].load(std::memory_order_relaxed);
  c.keys = totals_[1].load(std::memory_order_relaxed);
  c.survivors = totals_[2].load(std::memory_order_relaxed);
  c.assessed = totals_[3].load(std::memory_order_relaxed);
  c.plausible = totals_[4].load(std::memory_order_relaxed);
  c.confirmed = totals_[5].load(std::memory_order_relaxed);
  c.refused = totals_[6].load(std::memory_order_relaxed);
  return c;
}

// ---------------------------------------------------------------------------------------------
// SearchWorker

struct SearchWorker::State {
  struct Group {
    const HashEntry* hash = nullptr;
    std::unique_ptr<Hash> instance;
    int32_t digestBits = 0;
    std::vector<const CipherEntry*> ciphers;
  };
  std::vector<Group> groups;
  std::map<int, std::unique_ptr<Cipher>> ciphers;  // by menu position

  std::vector<Reading> readings;
  Secret own;  // the bytes of readings that differ from the candidate's text

  cpu::Isa sha1Isa = cpu::Isa::kPortable;
  bool aes = false;

  alignas(64) uint8_t digests[kChunk][kMaxDigest];
  alignas(64) uint8_t first[kChunk][16];
  alignas(64) uint8_t tar[kChunk][16];
  uint32_t kinds[kChunk];
  std::vector<uint8_t> plain;  // a whole decrypted head, for survivors

  ~State() { WipeChunk(); }
  void WipeChunk() {
    SecureZeroObject(digests);
    SecureZeroObject(first);
    SecureZeroObject(tar);
    if (!plain.empty()) SecureZero(plain.data(), plain.size());
  }
};

SearchWorker::SearchWorker(const Search& search) : search_(search), state_(new State) {
  State& s = *state_;
  for (const Pair& p : search.options_.pairs) {
    auto it = std::find_if(s.groups.begin(), s.groups.end(),
                           [&](const State::Group& g) { return g.hash == p.hash; });
    if (it == s.groups.end()) {
      State::Group g;
      g.hash = p.hash;
      g.instance = p.hash->hash.Create();
      g.digestBits = g.instance->HashSize();
      s.groups.push_back(std::move(g));
      it = s.groups.end() - 1;
    }
    if (std::find(it->ciphers.begin(), it->ciphers.end(), p.cipher) == it->ciphers.end()) {
      it->ciphers.push_back(p.cipher);
    }
    if (s.ciphers.count(p.cipher->position) == 0) {
      s.ciphers[p.cipher->position] = p.cipher->cipher.Create();
    }
  }
  s.sha1Isa = cpu::VectorIsa();
  s.aes = RijndaelStartsAvailable();
  s.plain.assign(search.head_.size(), 0);
}

SearchWorker::~SearchWorker() = default;

bool SearchWorker::Run(const CandidateBatch& batch, std::vector<Hit>& hits,
                       const std::atomic<bool>* stop) {
  State& s = *state_;
  const std::span<const uint8_t> head = search_.head_;
  const PassphraseEncoding encoding = search_.options_.encoding;
  const bool exhaustive = search_.options_.exhaustive;
  counters_.candidates += batch.size();
  Counters before = counters_;
  before.candidates -= batch.size();

  // The byte strings to key with: most candidates are ASCII and no longer than the Windows
  // field, and are their own bytes under every encoding; the rest go through the readings
  // `identify` makes.
  s.readings.clear();
  s.readings.reserve(batch.size());
  s.own.Clear();
  const PassphraseEncoding asciiEncoding = encoding == PassphraseEncoding::kUtf8
                                               ? PassphraseEncoding::kUtf8
                                               : PassphraseEncoding::kCp1252;
  for (std::size_t i = 0; i < batch.size(); ++i) {
    const std::string_view text = batch[i];
    if (text.size() <= kWindowsPhraseLength && IsAscii(text)) {
      Reading& r = s.readings.emplace_back();
      r.own = SIZE_MAX;
      r.data = reinterpret_cast<const uint8_t*>(text.data());  // the batch's bytes stay put
      r.size = uint32_t(text.size());
      r.candidate = uint32_t(i);
      r.encoding = asciiEncoding;
      continue;
    }
    const Secret copy(text);
    const std::vector<PassphraseReading> readings =
        PassphraseReadings(std::span<const Secret>(&copy, 1), encoding);
    for (const PassphraseReading& pr : readings) {
      Reading r;
      r.own = s.own.size();
      r.size = uint32_t(pr.bytes.size());
      r.candidate = uint32_t(i);
      r.encoding = pr.encoding;
      r.prefix = pr.prefix;
      s.own.Append(pr.bytes.View());
      s.readings.push_back(r);
    }
  }
  // The readings' own bytes are placed once all are made (the buffer grows on the way).
  if (!s.own.empty()) {
    for (Reading& r : s.readings) {
      if (r.own != SIZE_MAX) r.data = reinterpret_cast<const uint8_t*>(s.own.data()) + r.own;
    }
  }

  const bool windowed = head.size() >= kPrefilterBytes;
  const bool tarWindow = head.size() >= kWindowedHead;
  bool stopped = false;

  // Decrypts the whole head under the keyed cipher c and reports it when plausible.
  const auto confirm = [&](Cipher& c, const Reading& r, const Pair& pair, uint32_t kinds) {
    c.Reset();
    c.Decrypt(head.data(), s.plain.data(), head.size());
    if ((kinds & kStartSettledBySignature) == 0 && !HeadMayBePlausible(s.plain)) return;
    ++counters_.assessed;
    const Plausibility p = Assess(s.plain);
    if (p.verdict != Verdict::kPlausible) return;
    ++counters_.plausible;
    Hit hit;
    hit.candidate = r.candidate;
    hit.pair = pair;
    hit.encoding = r.encoding;
    hit.prefix = r.prefix;
    hit.evidenceBits = EvidenceBits(s.plain, p);
    hit.confirmed = hit.evidenceBits >= kConfirmBits;
    hit.plausibility = p;
    if (hit.confirmed) ++counters_.confirmed;
    hits.push_back(std::move(hit));
  };

  for (std::size_t at = 0; at < s.readings.size() && !stopped; at += kChunk) {
    const std::size_t n = std::min(kChunk, s.readings.size() - at);
    const Reading* chunk = s.readings.data() + at;
    for (State::Group& g : s.groups) {
      if (stop != nullptr && stop->load(std::memory_order_relaxed)) {
        stopped = true;
        break;
      }
      // Digests of the chunk under this hash.
      if (IsSha1(*g.hash) && Sha1Lanes(s.sha1Isa) > 1) {
        const uint8_t* messages[kChunk];
        uint8_t sizes[kChunk];
        uint8_t* out[kChunk];
        std::size_t shortOnes = 0;
        for (std::size_t i = 0; i < n; ++i) {
          if (chunk[i].size <= kSha1ShortMax) {
            messages[shortOnes] = chunk[i].data;
            sizes[shortOnes] = uint8_t(chunk[i].size);
            out[shortOnes++] = s.digests[i];
          } else {
            g.instance->Init();
            g.instance->Update(chunk[i].data, chunk[i].size);
            g.instance->Final(s.digests[i]);
          }
        }
        Sha1Short(s.sha1Isa, messages, sizes, shortOnes, out);
      } else {
        for (std::size_t i = 0; i < n; ++i) {
          g.instance->Init();
          g.instance->Update(chunk[i].data, chunk[i].size);
          g.instance->Final(s.digests[i]);
        }
      }

      for (const CipherEntry* ce : g.ciphers) {
        Cipher& c = *s.ciphers[ce->position];
        const Pair pair{ce, g.hash};
        const int32_t maxBits = c.MaxKeySize();
        const auto bits = uint32_t(maxBits < g.digestBits ? maxBits : g.digestBits);
        counters_.keys += n;
        const auto keyed = [&](std::size_t i) {
          try {
            c.Init(s.digests[i], bits);
            return true;
          } catch (const CipherError&) {
            ++counters_.refused;
            return false;
          }
        };
        if (!windowed) {
          // Too short for the prefilter: every key is judged on the whole head.
          for (std::size_t i = 0; i < n; ++i) {
            if (!keyed(i)) continue;
            ++counters_.survivors;
            confirm(c, chunk[i], pair, kStartSettledBySignature);
          }
          continue;
        }
        const bool rijndael = IsRijndael(*ce) && s.aes;
        const bool blowfish = IsBlowfish(*ce) && bits >= 8;
        if ((rijndael || blowfish) && (tarWindow || head.size() < kTarWindow + 7)) {
          // Many keys at once: the first blocks and the TAR window of each.
          const uint8_t* keys[kChunk];
          for (std::size_t i = 0; i < n; ++i) keys[i] = s.digests[i];
          if (rijndael) {
            RijndaelStarts(keys, bits / 8, n, head.data(),
                           tarWindow ? head.data() + kTarWindow - 16 : nullptr, s.first, s.tar);
          } else {
            BlowfishStarts(keys, bits / 8, n, head.data(),
                           tarWindow ? head.data() + kTarWindow - 8 : nullptr, s.first, s.tar);
          }
          StartKindsOf(s.first, tarWindow ? s.tar : nullptr, n, s.kinds);
          for (std::size_t i = 0; i < n; ++i) {
            if (s.kinds[i] == 0 && !exhaustive) continue;
            ++counters_.survivors;
            if (keyed(i)) confirm(c, chunk[i], pair, s.kinds[i]);
          }
          continue;
        }
        auto* block = dynamic_cast<BlockCipher*>(&c);
        const std::size_t blockBytes = block != nullptr ? std::size_t(block->BlockSize()) / 8 : 0;
        for (std::size_t i = 0; i < n; ++i) {
          if (!keyed(i)) continue;
          const uint8_t* tar = nullptr;
          if (head.size() < kWindowedHead || blockBytes == 0) {
            // A stream cipher, or a short head: one call from the start, as the job's first.
            const std::size_t upTo = std::min(head.size(), kWindowedHead);
            c.Decrypt(head.data(), s.plain.data(), upTo);
            std::memcpy(s.first[i], s.plain.data(), kPrefilterBytes);
            if (upTo >= kTarWindow + 7) tar = s.plain.data() + kTarWindow;
          } else {
            c.Decrypt(head.data(), s.first[i], kPrefilterBytes);
            // Block 256 / B: its decryption XOR the ciphertext block before it.
            uint8_t d[16];
            block->DecryptBlock(head.data() + kTarWindow, d);
            for (std::size_t j = 0; j < blockBytes; ++j) {
              s.tar[i][j] = uint8_t(d[j] ^ head[kTarWindow - blockBytes + j]);
            }
            SecureZeroObject(d);
            tar = s.tar[i];
          }
          const uint32_t kinds = StartKinds(s.first[i], tar);
          if (kinds == 0 && !exhaustive) continue;
          ++counters_.survivors;
          confirm(c, chunk[i], pair, kinds);
        }
      }
    }
    for (State::Group& g : s.groups) g.instance->Wipe();
    for (auto& [position, c] : s.ciphers) c->Wipe();
  }
  s.WipeChunk();
  s.own.Clear();
  s.readings.clear();

  Counters delta = counters_;
  delta.candidates -= before.candidates;
  delta.keys -= before.keys;
  delta.survivors -= before.survivors;
  delta.assessed -= before.assessed;
  delta.plausible -= before.plausible;
  delta.confirmed -= before.confirmed;
  delta.refused -= before.refused;
  search_.Add(delta);
  return !stopped;
}

}  // namespace kryvane::recover
