#include "hashes/sha256.h"

#include "ciphers/x86_vectors.h"

namespace kryvane {
namespace {

// clang-format off
constexpr uint32_t kRound[64] = {
    0x428A2F98u, 0x71374491u, 0xB5C0FBCFu, 0xE9B5DBA5u, 0x3956C25Bu, 0x59F111F1u, 0x923F82A4u, 0xAB1C5ED5u,
    0xD807AA98u, 0x12835B01u, 0x243185BEu, 0x550C7DC3u, 0x72BE5D74u, 0x80DEB1FEu, 0x9BDC06A7u, 0xC19BF174u,
    0xE49B69C1u, 0xEFBE4786u, 0x0FC19DC6u, 0x240CA1CCu, 0x2DE92C6Fu, 0x4A7484AAu, 0x5CB0A9DCu, 0x76F988DAu,
    0x983E5152u, 0xA831C66Du, 0xB00327C8u, 0xBF597FC7u, 0xC6E00BF3u, 0xD5A79147u, 0x06CA6351u, 0x14292967u,
    0x27B70A85u, 0x2E1B2138u, 0x4D2C6DFCu, 0x53380D13u, 0x650A7354u, 0x766A0ABBu, 0x81C2C92Eu, 0x92722C85u,
    0xA2BFE8A1u, 0xA81A664Bu, 0xC24B8B70u, 0xC76C51A3u, 0xD192E819u, 0xD6990624u, 0xF40E3585u, 0x106AA070u,
    0x19A4C116u, 0x1E376C08u, 0x2748774Cu, 0x34B0BCB5u, 0x391C0CB3u, 0x4ED8AA4Au, 0x5B9CCA4Fu, 0x682E6FF3u,
    0x748F82EEu, 0x78A5636Fu, 0x84C87814u, 0x8CC70208u, 0x90BEFFFAu, 0xA4506CEBu, 0xBEF9A3F7u, 0xC67178F2u,
};
// clang-format on

#ifdef KRYVANE_X86_VECTORS
// The SHA instructions keep the state as ABEF and CDGH and do two rounds per instruction; the
// message schedule is four registers of four words, each group of four words computed from the
// four groups before it (msg1, then the word seven back, then msg2).
KRYVANE_TARGET_SHA void ShaNiCompress(uint32_t* state, const uint8_t* p, std::size_t n) {
  const __m128i swap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
  __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state));
  __m128i s1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4));
  t = _mm_shuffle_epi32(t, 0xB1);          // CDAB
  s1 = _mm_shuffle_epi32(s1, 0x1B);        // EFGH
  __m128i s0 = _mm_alignr_epi8(t, s1, 8);  // ABEF
  s1 = _mm_blend_epi16(s1, t, 0xF0);       // CDGH
  for (; n > 0; --n, p += 64) {
    const __m128i save0 = s0, save1 = s1;
    __m128i w[4];
#pragma GCC unroll 16
    for (int g = 0; g < 16; ++g) {
      __m128i& cur = w[g & 3];
      if (g < 4) {
        cur = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * g)), swap);
      }
      __m128i m =
          _mm_add_epi32(cur, _mm_loadu_si128(reinterpret_cast<const __m128i*>(kRound + 4 * g)));
      s1 = _mm_sha256rnds2_epu32(s1, s0, m);
      if (g >= 3 && g <= 14) {
        __m128i& next = w[(g + 1) & 3];
        next = _mm_add_epi32(next, _mm_alignr_epi8(cur, w[(g + 3) & 3], 4));
        next = _mm_sha256msg2_epu32(next, cur);
      }
      m = _mm_shuffle_epi32(m, 0x0E);
      s0 = _mm_sha256rnds2_epu32(s0, s1, m);
      if (g >= 1 && g <= 12) {
        __m128i& prev = w[(g + 3) & 3];
        prev = _mm_sha256msg1_epu32(prev, cur);
      }
    }
    s0 = _mm_add_epi32(s0, save0);
    s1 = _mm_add_epi32(s1, save1);
  }
  t = _mm_shuffle_epi32(s0, 0x1B);    // FEBA
  s1 = _mm_shuffle_epi32(s1, 0xB1);   // DCHG
  s0 = _mm_blend_epi16(t, s1, 0xF0);  // DCBA
  s1 = _mm_alignr_epi8(s1, t, 8);     // HGFE
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), s0);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), s1);
}
#endif

}  // namespace

bool Sha256::SelfTest() {
  static constexpr uint8_t kAbc[] = {0xba, 0x78, 0x16, 0xbf, 0x8f, 0x01, 0xcf, 0xea,
                                     0x41, 0x41, 0x40, 0xde, 0x5d, 0xae, 0x22, 0x23,
                                     0xb0, 0x03, 0x61, 0xa3, 0x96, 0x17, 0x7a, 0x9c,
                                     0xb4, 0x10, 0xff, 0x61, 0xf2, 0x00, 0x15, 0xad};
  static constexpr uint8_t kLong[] = {0x24, 0x8d, 0x6a, 0x61, 0xd2, 0x06, 0x38, 0xb8,
                                      0xe5, 0xc0, 0x26, 0x93, 0x0c, 0x3e, 0x60, 0x39,
                                      0xa3, 0x3c, 0xe4, 0x59, 0x64, 0xff, 0x21, 0x67,
                                      0xf6, 0xec, 0xed, 0xd4, 0x19, 0xdb, 0x06, 0xc1};
  return HashKnownAnswer<Sha256>("abc", kAbc,
                                 "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", kLong);
}

// clang-format off
#define SHA256_S0(x) (Rotr32(x, 2) ^ Rotr32(x, 13) ^ Rotr32(x, 22))
#define SHA256_S1(x) (Rotr32(x, 6) ^ Rotr32(x, 11) ^ Rotr32(x, 25))
#define SHA256_s0(x) (Rotr32(x, 7) ^ Rotr32(x, 18) ^ ((x) >> 3))
#define SHA256_s1(x) (Rotr32(x, 17) ^ Rotr32(x, 19) ^ ((x) >> 10))
#define SHA256_CH(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define SHA256_MAJ(x, y, z) (((x) & (y)) | ((z) & ((x) | (y))))
// W[t] for t >= 16 overwrites W[t - 16] in the window; the other three terms are still there.
#define SHA256_W(t) ((t) < 16 ? w[(t) & 15] : (w[(t) & 15] += \
  SHA256_s1(w[((t) + 14) & 15]) + w[((t) + 9) & 15] + SHA256_s0(w[((t) + 1) & 15])))
// Renames the registers instead of moving them: h receives the new a and d the new e.
#define SHA256_STEP(a, b, c, d, e, f, g, h, t) \
  h += SHA256_S1(e) + SHA256_CH(e, f, g) + kRound[t] + SHA256_W(t); \
  d += h; \
  h += SHA256_S0(a) + SHA256_MAJ(a, b, c);
#define SHA256_EIGHT(t) \
  SHA256_STEP(a, b, c, d, e, f, g, h, t)     SHA256_STEP(h, a, b, c, d, e, f, g, t + 1) \
  SHA256_STEP(g, h, a, b, c, d, e, f, t + 2) SHA256_STEP(f, g, h, a, b, c, d, e, t + 3) \
  SHA256_STEP(e, f, g, h, a, b, c, d, t + 4) SHA256_STEP(d, e, f, g, h, a, b, c, t + 5) \
  SHA256_STEP(c, d, e, f, g, h, a, b, t + 6) SHA256_STEP(b, c, d, e, f, g, h, a, t + 7)
// clang-format on

void Sha256::ChoosePath(uint32_t features) {
  const uint32_t need = cpu::kShaNi | cpu::kSse41 | cpu::kSsse3;
  isa_ = (features & need) == need ? cpu::Isa::kSse2 : cpu::Isa::kPortable;
}

void Sha256::CompressBlocks(const uint8_t* p, std::size_t n) {
#ifdef KRYVANE_X86_VECTORS
  if (isa_ != cpu::Isa::kPortable) return ShaNiCompress(state_.data(), p, n);
#endif
  for (; n > 0; --n, p += 64) PortableCompress(p);
}

void Sha256::PortableCompress(const uint8_t* block) {
  // The schedule is kept as a rolling window of sixteen words, each expanded just before its
  // step; it gives the same W[t] as expanding all sixty-four first, with far fewer loads and
  // stores.
  uint32_t w[16];
  for (int t = 0; t < 16; ++t) w[t] = LoadWord(block + 4 * t);
  uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
  uint32_t e = state_[4], f = state_[5], g = state_[6], h = state_[7];
  SHA256_EIGHT(0)
  SHA256_EIGHT(8)
  SHA256_EIGHT(16)
  SHA256_EIGHT(24)
  SHA256_EIGHT(32)
  SHA256_EIGHT(40)
  SHA256_EIGHT(48)
  SHA256_EIGHT(56)
  state_[0] += a;
  state_[1] += b;
  state_[2] += c;
  state_[3] += d;
  state_[4] += e;
  state_[5] += f;
  state_[6] += g;
  state_[7] += h;
  SecureZeroObject(w);
}

}  // namespace kryvane
