#include "ciphers/tea.h"

#include "ciphers/vector_lanes.h"

namespace kryvane {
namespace {

constexpr uint32_t kDelta = 0x9E3779B9;
constexpr uint32_t kDecryptSum = 0xC6EF3720;  // 32 * kDelta mod 2^32
static_assert(uint32_t(32u * kDelta) == kDecryptSum);

// The term the file format was written with is (x << 4) + (x ^ a) + ((x >> 5) ^ sum) + b. These
// add it to or subtract it from t; t and b are summed first, off the critical path, as the
// additions may be taken in any order. W is a word or a vector of words (a key word or sum then
// applies to every lane).
template <class W>
[[gnu::always_inline]] inline void AddMix(W& t, const W& x, uint32_t sum, uint32_t a, uint32_t b) {
  t = ((t + b) + (x ^ a)) + ((x << 4) + ((x >> 5) ^ sum));
}
template <class W>
[[gnu::always_inline]] inline void SubMix(W& t, const W& x, uint32_t sum, uint32_t a, uint32_t b) {
  t = ((t - b) - (x ^ a)) - ((x << 4) + ((x >> 5) ^ sum));
}

// The 32 decryption cycles over G independent groups of lanes at once, so that one group's
// dependency chain fills the gaps of the other's.
template <int G, class W>
[[gnu::always_inline]] inline void DecryptLanes(const uint32_t* k, W (&y)[G], W (&z)[G]) {
  uint32_t sum = kDecryptSum;
  for (int n = 0; n < 32; ++n) {
#pragma GCC unroll 4
    for (int g = 0; g < G; ++g) SubMix(z[g], y[g], sum, k[2], k[3]);
#pragma GCC unroll 4
    for (int g = 0; g < G; ++g) SubMix(y[g], z[g], sum, k[0], k[1]);
    sum -= kDelta;
  }
}

void PortableDecrypt(const uint32_t* k, const uint8_t* in, uint8_t* out) {
  uint32_t y[1] = {LoadBe32(in)}, z[1] = {LoadBe32(in + 4)};
  DecryptLanes(k, y, z);
  StoreBe32(out, y[0]);
  StoreBe32(out + 4, z[0]);
}

// A group of CBC decryption's independent blocks on a vector path: word 0 of a block in one
// register and word 1 in another, one block per 32-bit lane, two such pairs per group.
struct DecryptGroup {
  static constexpr std::size_t kBlock = 8;
  static constexpr std::size_t kRegisters = 4;
  const uint32_t* k;

#ifdef KRYVANE_X86_VECTORS
  template <class L>
  [[gnu::always_inline]] void Group(const uint8_t* in, uint8_t* out) const {
    typename L::U32 y[2], z[2];
    LoadWordPairs<L>(in, y, z);
    for (int g = 0; g < 2; ++g) {
      ByteSwap32<L>(y[g]);
      ByteSwap32<L>(z[g]);
    }
    DecryptLanes(k, y, z);
    for (int g = 0; g < 2; ++g) {
      ByteSwap32<L>(y[g]);
      ByteSwap32<L>(z[g]);
    }
    StoreWordPairs<L>(y, z, out);
  }
#endif
};

}  // namespace

bool Tea::SelfTest() {
  static constexpr uint8_t kKey[16] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF,
                                       0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10};
  static constexpr uint8_t kPlain[8] = {0x78, 0x56, 0x34, 0x12, 0xF0, 0xDE, 0xBC, 0x9A};
  try {
    Tea c;
    c.Init(kKey, 128);
    uint8_t buf[8];
    c.EncryptBlock(kPlain, buf);
    const bool changed = std::memcmp(buf, kPlain, 8) != 0;
    c.DecryptBlock(buf, buf);
    const bool restored = std::memcmp(buf, kPlain, 8) == 0;
    c.Wipe();
    return changed && restored;
  } catch (...) {
    return false;
  }
}

void Tea::ExpandKey(const uint8_t* key, uint32_t bits) {
  uint8_t buf[16] = {};
  const uint32_t bytes = bits / 8 < 16 ? bits / 8 : 16;
  for (uint32_t i = 0; i < bytes; ++i) buf[i] = key[i];
  for (int i = 0; i < 4; ++i) k_[i] = LoadBe32(buf + 4 * i);
  SecureZeroObject(buf);
  isa_ = cpu::VectorIsa(PlannedPaths().decrypt);
}

void Tea::EncryptBlockImpl(const uint8_t* in, uint8_t* out) const {
  const uint32_t k0 = k_[0], k1 = k_[1], k2 = k_[2], k3 = k_[3];
  uint32_t y = LoadBe32(in);
  uint32_t z = LoadBe32(in + 4);
  uint32_t sum = 0;
#pragma GCC unroll 32
  for (int n = 0; n < 32; ++n) {
    sum += kDelta;
    AddMix(y, z, sum, k0, k1);
    AddMix(z, y, sum, k2, k3);
  }
  StoreBe32(out, y);
  StoreBe32(out + 4, z);
}

void Tea::DecryptBlockImpl(const uint8_t* in, uint8_t* out) const {
  PortableDecrypt(k_.data(), in, out);
}

void Tea::DecryptBlocksImpl(const uint8_t* in, uint8_t* out, std::size_t n) const {
  const uint32_t* k = k_.data();
  const auto one = [k](const uint8_t* p, uint8_t* q) { PortableDecrypt(k, p, q); };
  // Two blocks interleaved.
  const auto portable = [k, one](const uint8_t* p, uint8_t* q, std::size_t m) {
    for (; m >= 2; m -= 2, p += 16, q += 16) {
      uint32_t y[2] = {LoadBe32(p), LoadBe32(p + 8)}, z[2] = {LoadBe32(p + 4), LoadBe32(p + 12)};
      DecryptLanes(k, y, z);
      StoreBe32(q, y[0]);
      StoreBe32(q + 4, z[0]);
      StoreBe32(q + 8, y[1]);
      StoreBe32(q + 12, z[1]);
    }
    if (m == 1) one(p, q);
  };
  RunGroupsOnPath(LanePaths<Avx512Lanes, Avx2Lanes, SseLanes>{}, isa_, DecryptGroup{k}, one,
                  portable, in, out, n);
}

}  // namespace kryvane
