#include "ciphers/idea.h"

#include <type_traits>

#include "ciphers/block_groups.h"
#include "ciphers/x86_vectors.h"

namespace kryvane {
namespace {

// ---------------------------------------------------------------------------------------------
// Vector paths: one block per 16-bit lane position, so a 128-bit register holds one word of
// eight blocks. The rounds are those of Idea::Crypt, with the multiplication modulo 65537 made
// from the low and high halves of the 16 x 16-bit product. These functions are compiled for their
// instruction set only and run only after the processor has been asked.

#ifdef KRYVANE_X86_VECTORS

// The high halves of the lanes' 32-bit products. (References, not values: these types may
// not be passed in registers outside the functions compiled for them.)
KRYVANE_TARGET_SSE inline void MulHigh(const U16x8& a, const U16x8& b, U16x8& hi) {
  hi = U16x8(_mm_mulhi_epu16(__m128i(a), __m128i(b)));
}
KRYVANE_TARGET_AVX2 inline void MulHigh(const U16x16& a, const U16x16& b, U16x16& hi) {
  hi = U16x16(_mm256_mulhi_epu16(__m256i(a), __m256i(b)));
}
KRYVANE_TARGET_AVX512 inline void MulHigh(const U16x32& a, const U16x32& b, U16x32& hi) {
  hi = U16x32(_mm512_mulhi_epu16(__m512i(a), __m512i(b)));
}

// x = x * k modulo 65537 in every lane, 0 standing for 65536 (as Idea::Mul).
template <class V>
[[gnu::always_inline]] inline void MulInto(V& x, const V& k) {
  const V lo = x * k;
  V hi;
  MulHigh(x, k, hi);
  const V borrow = V(lo < hi);  // all ones where lo - hi wrapped: add the 1 back
  const V product = lo - hi - borrow;
  const V zero = V(x == 0) | V(k == 0);
  const V other = 1 - x - k;  // 65536 * k = -k, and 65536 * 65536 = 1, modulo 65537
  x = (other & zero) | (product & ~zero);
}

template <class V>
[[gnu::always_inline]] inline void CryptLanes(const uint16_t* k, V& x1, V& x2, V& x3, V& x4) {
  for (int round = 0; round < 8; ++round, k += 6) {
    MulInto(x1, V{} + k[0]);
    x2 += k[1];
    x3 += k[2];
    MulInto(x4, V{} + k[3]);
    V t2 = x1 ^ x3;
    MulInto(t2, V{} + k[4]);
    V t1 = t2 + (x2 ^ x4);
    MulInto(t1, V{} + k[5]);
    t2 += t1;
    x1 ^= t1;
    x4 ^= t2;
    const V oldX2 = x2;
    x2 = x3 ^ t1;
    x3 = oldX2 ^ t2;
  }
  MulInto(x1, V{} + k[0]);
  const V y2 = x3 + k[1];
  const V y3 = x2 + k[2];
  MulInto(x4, V{} + k[3]);
  x2 = y2;
  x3 = y3;
}

// Big-endian words.
template <class V>
[[gnu::always_inline]] inline void SwapBytes(V& x) {
  x = (x << 8) | (x >> 8);
}

// Four registers of blocks in memory order become four registers of one word each, within every
// 128-bit lane (blocks in the order 0 2 1 3 4 6 5 7 of the lane's eight), and back.
#define KRYVANE_IDEA_TRANSPOSE(TARGET, M, P)                                  \
  TARGET inline void ToWords(M& a, M& b, M& c, M& d) {                        \
    const M t0 = P##_unpacklo_epi16(a, b), t1 = P##_unpackhi_epi16(a, b);     \
    const M t2 = P##_unpacklo_epi16(c, d), t3 = P##_unpackhi_epi16(c, d);     \
    const M u0 = P##_unpacklo_epi32(t0, t1), u1 = P##_unpackhi_epi32(t0, t1); \
    const M u2 = P##_unpacklo_epi32(t2, t3), u3 = P##_unpackhi_epi32(t2, t3); \
    a = P##_unpacklo_epi64(u0, u2);                                           \
    b = P##_unpackhi_epi64(u0, u2);                                           \
    c = P##_unpacklo_epi64(u1, u3);                                           \
    d = P##_unpackhi_epi64(u1, u3);                                           \
  }                                                                           \
  TARGET inline void ToBlocks(M& a, M& b, M& c, M& d) {                       \
    const M t0 = P##_unpacklo_epi16(a, b), t1 = P##_unpackhi_epi16(a, b);     \
    const M t2 = P##_unpacklo_epi16(c, d), t3 = P##_unpackhi_epi16(c, d);     \
    const M v0 = P##_unpacklo_epi32(t0, t2), v1 = P##_unpackhi_epi32(t0, t2); \
    const M v2 = P##_unpacklo_epi32(t1, t3), v3 = P##_unpackhi_epi32(t1, t3); \
    a = P##_unpacklo_epi64(v0, v1);                                           \
    b = P##_unpackhi_epi64(v0, v1);                                           \
    c = P##_unpacklo_epi64(v2, v3);                                           \
    d = P##_unpackhi_epi64(v2, v3);                                           \
  }

KRYVANE_IDEA_TRANSPOSE(KRYVANE_TARGET_SSE, __m128i, _mm)
KRYVANE_IDEA_TRANSPOSE(KRYVANE_TARGET_AVX2, __m256i, _mm256)
KRYVANE_IDEA_TRANSPOSE(KRYVANE_TARGET_AVX512, __m512i, _mm512)
#undef KRYVANE_IDEA_TRANSPOSE

// Four registers' worth of blocks (sizeof(M) / 2 of them) through the rounds.
#define KRYVANE_IDEA_GROUP(NAME, TARGET, M, V)                           \
  TARGET void NAME(const uint16_t* k, const uint8_t* in, uint8_t* out) { \
    M r[4];                                                              \
    std::memcpy(r, in, sizeof(r));                                       \
    ToWords(r[0], r[1], r[2], r[3]);                                     \
    V x1 = V(r[0]), x2 = V(r[1]), x3 = V(r[2]), x4 = V(r[3]);            \
    SwapBytes(x1);                                                       \
    SwapBytes(x2);                                                       \
    SwapBytes(x3);                                                       \
    SwapBytes(x4);                                                       \
    CryptLanes(k, x1, x2, x3, x4);                                       \
    SwapBytes(x1);                                                       \
    SwapBytes(x2);                                                       \
    SwapBytes(x3);                                                       \
    SwapBytes(x4);                                                       \
    r[0] = M(x1);                                                        \
    r[1] = M(x2);                                                        \
    r[2] = M(x3);                                                        \
    r[3] = M(x4);                                                        \
    ToBlocks(r[0], r[1], r[2], r[3]);                                    \
    std::memcpy(out, r, sizeof(r));                                      \
  }

KRYVANE_IDEA_GROUP(CryptSse, KRYVANE_TARGET_SSE, __m128i, U16x8)
KRYVANE_IDEA_GROUP(CryptAvx2, KRYVANE_TARGET_AVX2, __m256i, U16x16)
KRYVANE_IDEA_GROUP(CryptAvx512, KRYVANE_TARGET_AVX512, __m512i, U16x32)
#undef KRYVANE_IDEA_GROUP

#endif

}  // namespace

bool Idea::SelfTest() {
  static constexpr uint8_t kKey1[16] = {0x3A, 0x98, 0x4E, 0x20, 0x00, 0x19, 0x5D, 0xB3,
                                        0x2E, 0xE5, 0x01, 0xC8, 0xC4, 0x7C, 0xEA, 0x60};
  static constexpr uint8_t kPlain1[8] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
  static constexpr uint8_t kCipher1[8] = {0x97, 0xBC, 0xD8, 0x20, 0x07, 0x80, 0xDA, 0x86};
  static constexpr uint8_t kKey2[16] = {0x00, 0x64, 0x00, 0xC8, 0x01, 0x2C, 0x01, 0x90,
                                        0x01, 0xF4, 0x02, 0x58, 0x02, 0xBC, 0x03, 0x20};
  static constexpr uint8_t kPlain2[8] = {0x05, 0x32, 0x0A, 0x64, 0x14, 0xC8, 0x19, 0xFA};
  static constexpr uint8_t kCipher2[8] = {0x65, 0xBE, 0x87, 0xE7, 0xA2, 0x53, 0x8A, 0xED};
  const bool first = BlockKnownAnswer<Idea>(kKey1, 128, kPlain1, kCipher1);
  const bool second = BlockKnownAnswer<Idea>(kKey2, 128, kPlain2, kCipher2);
  return first && second;
}

uint16_t Idea::MulInverse(uint16_t x) {
  if (x <= 1) return x;  // 0 stands for 65536 = -1, its own inverse, like 1
  // Extended Euclid on 65537 and x, tracking only the coefficient of x.
  int32_t a = 65537, b = x, t0 = 0, t1 = 1;
  while (b != 0) {
    const int32_t q = a / b;
    int32_t r = a - q * b;
    a = b;
    b = r;
    r = t0 - q * t1;
    t0 = t1;
    t1 = r;
  }
  if (t0 < 0) t0 += 65537;
  return uint16_t(t0);
}

void Idea::ExpandKey(const uint8_t* key, uint32_t bits) {
  const std::size_t n = bits / 8;
  uint8_t padded[16] = {};
  for (std::size_t i = 0; i < n; ++i) padded[i] = key[i];
  for (int j = 0; j < 8; ++j) z_[j] = uint16_t((padded[2 * j] << 8) | padded[2 * j + 1]);
  SecureZeroObject(padded);
  // Each group of eight is the previous group's 128 bits rotated left by 25.
  for (int i = 8; i < 52; ++i) {
    const int g = i - i % 8 - 8;
    const int j = i % 8;
    z_[i] = uint16_t((z_[g + (j + 1) % 8] << 9) | (z_[g + (j + 2) % 8] >> 7));
  }
  auto neg = [](uint16_t v) { return uint16_t(0 - v); };
  d_[0] = MulInverse(z_[48]);
  d_[1] = neg(z_[49]);
  d_[2] = neg(z_[50]);
  d_[3] = MulInverse(z_[51]);
  d_[4] = z_[46];
  d_[5] = z_[47];
  // Inner rounds exchange the two additive keys because the round swaps the middle words.
  for (int r = 2; r <= 8; ++r) {
    const int e = 6 * (9 - r);
    uint16_t* dk = d_.data() + 6 * (r - 1);
    dk[0] = MulInverse(z_[e]);
    dk[1] = neg(z_[e + 2]);
    dk[2] = neg(z_[e + 1]);
    dk[3] = MulInverse(z_[e + 3]);
    dk[4] = z_[e - 2];
    dk[5] = z_[e - 1];
  }
  d_[48] = MulInverse(z_[0]);
  d_[49] = neg(z_[1]);
  d_[50] = neg(z_[2]);
  d_[51] = MulInverse(z_[3]);
  isa_ = cpu::VectorIsa(PlannedPaths().decrypt);
}

void Idea::Crypt(const uint16_t* k, const uint8_t* in, uint8_t* out) {
  uint16_t x1 = uint16_t((in[0] << 8) | in[1]), x2 = uint16_t((in[2] << 8) | in[3]);
  uint16_t x3 = uint16_t((in[4] << 8) | in[5]), x4 = uint16_t((in[6] << 8) | in[7]);
  for (int round = 0; round < 8; ++round, k += 6) {
    x1 = Mul(x1, k[0]);
    x2 = uint16_t(x2 + k[1]);
    x3 = uint16_t(x3 + k[2]);
    x4 = Mul(x4, k[3]);
    uint16_t t2 = Mul(uint16_t(x1 ^ x3), k[4]);
    const uint16_t t1 = Mul(uint16_t(t2 + (x2 ^ x4)), k[5]);
    t2 = uint16_t(t1 + t2);
    x1 ^= t1;
    x4 ^= t2;
    const uint16_t oldX2 = x2;
    x2 = uint16_t(x3 ^ t1);
    x3 = uint16_t(oldX2 ^ t2);
  }
  // The output transformation undoes the last round's exchange of the middle words.
  const uint16_t y1 = Mul(x1, k[0]), y2 = uint16_t(x3 + k[1]);
  const uint16_t y3 = uint16_t(x2 + k[2]), y4 = Mul(x4, k[3]);
  out[0] = uint8_t(y1 >> 8);
  out[1] = uint8_t(y1);
  out[2] = uint8_t(y2 >> 8);
  out[3] = uint8_t(y2);
  out[4] = uint8_t(y3 >> 8);
  out[5] = uint8_t(y3);
  out[6] = uint8_t(y4 >> 8);
  out[7] = uint8_t(y4);
}

void Idea::DecryptBlocksImpl(const uint8_t* in, uint8_t* out, std::size_t n) const {
  const uint16_t* k = d_.data();
  const auto one = [k](const uint8_t* p, uint8_t* q) { Crypt(k, p, q); };
#ifdef KRYVANE_X86_VECTORS
  const auto run = [&](auto width, auto group) {
    RunGroups<8, decltype(width)::value>(
        in, out, n, [k, group](const uint8_t* p, uint8_t* q) { group(k, p, q); }, one);
  };
  switch (isa_) {
    case cpu::Isa::kAvx512:
      return run(std::integral_constant<std::size_t, 32>{}, CryptAvx512);
    case cpu::Isa::kAvx2:
      return run(std::integral_constant<std::size_t, 16>{}, CryptAvx2);
    case cpu::Isa::kSse2:
      return run(std::integral_constant<std::size_t, 8>{}, CryptSse);
    case cpu::Isa::kPortable:
      break;
  }
#endif
  for (std::size_t i = 0; i < n; ++i) one(in + 8 * i, out + 8 * i);
}

void Idea::WipeKey() {
  z_.Wipe();
  d_.Wipe();
  isa_ = cpu::Isa::kPortable;
}

}  // namespace kryvane
