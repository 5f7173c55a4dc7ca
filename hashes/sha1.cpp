#include "hashes/sha1.h"

#include "ciphers/x86_vectors.h"

namespace kryvane {
namespace {

#ifdef KRYVANE_X86_VECTORS
// The SHA instructions do four rounds per instruction on ABCD, with E folded into the message
// words (sha1nexte); the schedule is four registers of four words, each group of four computed
// from the four before it (msg1, the XOR of the group two back, msg2).
KRYVANE_TARGET_SHA void ShaNiCompress(uint32_t* state, const uint8_t* p, std::size_t n) {
  const __m128i swap = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
  __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1B);
  __m128i e0 = _mm_set_epi32(int(state[4]), 0, 0, 0);
  for (; n > 0; --n, p += 64) {
    const __m128i saveAbcd = abcd, saveE = e0;
    __m128i w[4];
    __m128i e1 = _mm_setzero_si128();
#pragma GCC unroll 20
    for (int g = 0; g < 20; ++g) {
      __m128i& cur = w[g & 3];
      if (g < 4) {
        cur = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * g)), swap);
      }
      __m128i& e = (g & 1) == 0 ? e0 : e1;
      __m128i& other = (g & 1) == 0 ? e1 : e0;
      e = g == 0 ? _mm_add_epi32(e, cur) : _mm_sha1nexte_epu32(e, cur);
      other = abcd;
      if (g >= 3 && g <= 18) {
        __m128i& next = w[(g + 1) & 3];
        next = _mm_sha1msg2_epu32(next, cur);
      }
      switch (g / 5) {
        case 0:
          abcd = _mm_sha1rnds4_epu32(abcd, e, 0);
          break;
        case 1:
          abcd = _mm_sha1rnds4_epu32(abcd, e, 1);
          break;
        case 2:
          abcd = _mm_sha1rnds4_epu32(abcd, e, 2);
          break;
        default:
          abcd = _mm_sha1rnds4_epu32(abcd, e, 3);
          break;
      }
      if (g >= 1 && g <= 16) {
        __m128i& prev = w[(g + 3) & 3];
        prev = _mm_sha1msg1_epu32(prev, cur);
      }
      if (g >= 2 && g <= 17) {
        __m128i& twoBack = w[(g + 2) & 3];
        twoBack = _mm_xor_si128(twoBack, cur);
      }
    }
    e0 = _mm_sha1nexte_epu32(e0, saveE);
    abcd = _mm_add_epi32(abcd, saveAbcd);
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(abcd, 0x1B));
  state[4] = uint32_t(_mm_extract_epi32(e0, 3));
}
#endif

}  // namespace

bool Sha1::SelfTest() {
  static constexpr uint8_t kAbc[] = {0xa9, 0x99, 0x3e, 0x36, 0x47, 0x06, 0x81, 0x6a, 0xba, 0x3e,
                                     0x25, 0x71, 0x78, 0x50, 0xc2, 0x6c, 0x9c, 0xd0, 0xd8, 0x9d};
  static constexpr uint8_t kLong[] = {0x84, 0x98, 0x3e, 0x44, 0x1c, 0x3b, 0xd2, 0x6e, 0xba, 0xae,
                                      0x4a, 0xa1, 0xf9, 0x51, 0x29, 0xe5, 0xe5, 0x46, 0x70, 0xf1};
  return HashKnownAnswer<Sha1>("abc", kAbc,
                               "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", kLong);
}

// clang-format off
#define SHA1_F1(b, c, d) (((b) & (c)) | (~(b) & (d)))
#define SHA1_F2(b, c, d) ((b) ^ (c) ^ (d))
#define SHA1_F3(b, c, d) (((b) & (c)) | ((b) & (d)) | ((c) & (d)))
#define SHA1_W(t) ((t) < 16 ? w[(t) & 15] : (w[(t) & 15] = Rotl32( \
  w[((t) + 13) & 15] ^ w[((t) + 8) & 15] ^ w[((t) + 2) & 15] ^ w[(t) & 15], 1)))
#define SHA1_STEP(f, k, a, b, c, d, e, t) \
  e += Rotl32(a, 5) + f(b, c, d) + k + SHA1_W(t); b = Rotl32(b, 30);
#define SHA1_FIVE(f, k, t) \
  SHA1_STEP(f, k, a, b, c, d, e, t)     SHA1_STEP(f, k, e, a, b, c, d, t + 1) \
  SHA1_STEP(f, k, d, e, a, b, c, t + 2) SHA1_STEP(f, k, c, d, e, a, b, t + 3) \
  SHA1_STEP(f, k, b, c, d, e, a, t + 4)
#define SHA1_TWENTY(f, k, t) \
  SHA1_FIVE(f, k, t) SHA1_FIVE(f, k, t + 5) SHA1_FIVE(f, k, t + 10) SHA1_FIVE(f, k, t + 15)
// clang-format on

void Sha1::ChoosePath(uint32_t features) {
  const uint32_t need = cpu::kShaNi | cpu::kSse41 | cpu::kSsse3;
  isa_ = (features & need) == need ? cpu::Isa::kSse2 : cpu::Isa::kPortable;
}

void Sha1::CompressBlocks(const uint8_t* p, std::size_t n) {
#ifdef KRYVANE_X86_VECTORS
  if (isa_ != cpu::Isa::kPortable) return ShaNiCompress(state_.data(), p, n);
#endif
  for (; n > 0; --n, p += 64) PortableCompress(p);
}

void Sha1::PortableCompress(const uint8_t* block) {
  // The schedule is kept as a rolling window of sixteen words, each expanded just before its
  // step; it gives the same W[t] as expanding all eighty first, in registers instead of memory.
  uint32_t w[16];
  for (int t = 0; t < 16; ++t) w[t] = LoadWord(block + 4 * t);
  uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3], e = state_[4];
  // Each step renames the registers instead of moving them: the rotation of roles repeats
  // every five steps.
  SHA1_TWENTY(SHA1_F1, 0x5A827999u, 0)
  SHA1_TWENTY(SHA1_F2, 0x6ED9EBA1u, 20)
  SHA1_TWENTY(SHA1_F3, 0x8F1BBCDCu, 40)
  SHA1_TWENTY(SHA1_F2, 0xCA62C1D6u, 60)
  state_[0] += a;
  state_[1] += b;
  state_[2] += c;
  state_[3] += d;
  state_[4] += e;
  SecureZeroObject(w);
}

}  // namespace kryvane
