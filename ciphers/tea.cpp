#include "ciphers/tea.h"

#include <type_traits>

#include "ciphers/block_groups.h"
#include "ciphers/x86_vectors.h"

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

// ---------------------------------------------------------------------------------------------
// Vector paths: word 0 of a block in one register and word 1 in another, one block per 32-bit
// lane; two such pairs per pass. Compiled for their instruction set only and run only after the
// processor has been asked.

#ifdef KRYVANE_X86_VECTORS

template <class W>
[[gnu::always_inline]] inline void SwapBytes(W& x) {
  x = (x >> 24) | ((x >> 8) & 0xFF00) | ((x << 8) & 0xFF0000) | (x << 24);
}

// Two registers of blocks in memory order become the registers of words 0 and 1 (within every
// 128-bit lane, blocks in the order 0 1 2 3 of the lane's pair of registers), and back.
#define KRYVANE_TEA_TRANSPOSE(TARGET, M, P, PS)                                                  \
  TARGET inline void ToWords(M& a, M& b) {                                                       \
    const M y =                                                                                  \
        P##_castps_si##PS(P##_shuffle_ps(P##_castsi##PS##_ps(a), P##_castsi##PS##_ps(b), 0x88)); \
    const M z =                                                                                  \
        P##_castps_si##PS(P##_shuffle_ps(P##_castsi##PS##_ps(a), P##_castsi##PS##_ps(b), 0xDD)); \
    a = y;                                                                                       \
    b = z;                                                                                       \
  }                                                                                              \
  TARGET inline void ToBlocks(M& y, M& z) {                                                      \
    const M a = P##_unpacklo_epi32(y, z), b = P##_unpackhi_epi32(y, z);                          \
    y = a;                                                                                       \
    z = b;                                                                                       \
  }

KRYVANE_TEA_TRANSPOSE(KRYVANE_TARGET_SSE, __m128i, _mm, 128)
KRYVANE_TEA_TRANSPOSE(KRYVANE_TARGET_AVX2, __m256i, _mm256, 256)
KRYVANE_TEA_TRANSPOSE(KRYVANE_TARGET_AVX512, __m512i, _mm512, 512)
#undef KRYVANE_TEA_TRANSPOSE

// Four registers' worth of blocks (sizeof(M) / 2 of them) through the decryption.
#define KRYVANE_TEA_GROUP(NAME, TARGET, M, V)                            \
  TARGET void NAME(const uint32_t* k, const uint8_t* in, uint8_t* out) { \
    M r[4];                                                              \
    std::memcpy(r, in, sizeof(r));                                       \
    ToWords(r[0], r[1]);                                                 \
    ToWords(r[2], r[3]);                                                 \
    V y[2] = {V(r[0]), V(r[2])}, z[2] = {V(r[1]), V(r[3])};              \
    for (int g = 0; g < 2; ++g) {                                        \
      SwapBytes(y[g]);                                                   \
      SwapBytes(z[g]);                                                   \
    }                                                                    \
    DecryptLanes(k, y, z);                                               \
    for (int g = 0; g < 2; ++g) {                                        \
      SwapBytes(y[g]);                                                   \
      SwapBytes(z[g]);                                                   \
    }                                                                    \
    r[0] = M(y[0]);                                                      \
    r[1] = M(z[0]);                                                      \
    r[2] = M(y[1]);                                                      \
    r[3] = M(z[1]);                                                      \
    ToBlocks(r[0], r[1]);                                                \
    ToBlocks(r[2], r[3]);                                                \
    std::memcpy(out, r, sizeof(r));                                      \
  }

KRYVANE_TEA_GROUP(DecryptSse, KRYVANE_TARGET_SSE, __m128i, U32x4)
KRYVANE_TEA_GROUP(DecryptAvx2, KRYVANE_TARGET_AVX2, __m256i, U32x8)
KRYVANE_TEA_GROUP(DecryptAvx512, KRYVANE_TARGET_AVX512, __m512i, U32x16)
#undef KRYVANE_TEA_GROUP

#endif

void PortableDecrypt(const uint32_t* k, const uint8_t* in, uint8_t* out) {
  uint32_t y[1] = {LoadBe32(in)}, z[1] = {LoadBe32(in + 4)};
  DecryptLanes(k, y, z);
  StoreBe32(out, y[0]);
  StoreBe32(out + 4, z[0]);
}

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
#ifdef KRYVANE_X86_VECTORS
  const auto run = [&](auto width, auto group) {
    RunGroups<8, decltype(width)::value>(
        in, out, n, [k, group](const uint8_t* p, uint8_t* q) { group(k, p, q); }, one);
  };
  switch (isa_) {
    case cpu::Isa::kAvx512:
      return run(std::integral_constant<std::size_t, 32>{}, DecryptAvx512);
    case cpu::Isa::kAvx2:
      return run(std::integral_constant<std::size_t, 16>{}, DecryptAvx2);
    case cpu::Isa::kSse2:
      return run(std::integral_constant<std::size_t, 8>{}, DecryptSse);
    case cpu::Isa::kPortable:
      break;
  }
#endif
  // Two blocks interleaved.
  for (; n >= 2; n -= 2, in += 16, out += 16) {
    uint32_t y[2] = {LoadBe32(in), LoadBe32(in + 8)}, z[2] = {LoadBe32(in + 4), LoadBe32(in + 12)};
    DecryptLanes(k, y, z);
    StoreBe32(out, y[0]);
    StoreBe32(out + 4, z[0]);
    StoreBe32(out + 8, y[1]);
    StoreBe32(out + 12, z[1]);
  }
  if (n == 1) one(in, out);
}

}  // namespace kryvane
