#include "hashes/sha512.h"

#include "ciphers/x86_vectors.h"

namespace kryvane {
namespace {

// clang-format off
constexpr uint64_t kRound[80] = {
    0x428A2F98D728AE22ull, 0x7137449123EF65CDull, 0xB5C0FBCFEC4D3B2Full, 0xE9B5DBA58189DBBCull,
    0x3956C25BF348B538ull, 0x59F111F1B605D019ull, 0x923F82A4AF194F9Bull, 0xAB1C5ED5DA6D8118ull,
    0xD807AA98A3030242ull, 0x12835B0145706FBEull, 0x243185BE4EE4B28Cull, 0x550C7DC3D5FFB4E2ull,
    0x72BE5D74F27B896Full, 0x80DEB1FE3B1696B1ull, 0x9BDC06A725C71235ull, 0xC19BF174CF692694ull,
    0xE49B69C19EF14AD2ull, 0xEFBE4786384F25E3ull, 0x0FC19DC68B8CD5B5ull, 0x240CA1CC77AC9C65ull,
    0x2DE92C6F592B0275ull, 0x4A7484AA6EA6E483ull, 0x5CB0A9DCBD41FBD4ull, 0x76F988DA831153B5ull,
    0x983E5152EE66DFABull, 0xA831C66D2DB43210ull, 0xB00327C898FB213Full, 0xBF597FC7BEEF0EE4ull,
    0xC6E00BF33DA88FC2ull, 0xD5A79147930AA725ull, 0x06CA6351E003826Full, 0x142929670A0E6E70ull,
    0x27B70A8546D22FFCull, 0x2E1B21385C26C926ull, 0x4D2C6DFC5AC42AEDull, 0x53380D139D95B3DFull,
    0x650A73548BAF63DEull, 0x766A0ABB3C77B2A8ull, 0x81C2C92E47EDAEE6ull, 0x92722C851482353Bull,
    0xA2BFE8A14CF10364ull, 0xA81A664BBC423001ull, 0xC24B8B70D0F89791ull, 0xC76C51A30654BE30ull,
    0xD192E819D6EF5218ull, 0xD69906245565A910ull, 0xF40E35855771202Aull, 0x106AA07032BBD1B8ull,
    0x19A4C116B8D2D0C8ull, 0x1E376C085141AB53ull, 0x2748774CDF8EEB99ull, 0x34B0BCB5E19B48A8ull,
    0x391C0CB3C5C95A63ull, 0x4ED8AA4AE3418ACBull, 0x5B9CCA4F7763E373ull, 0x682E6FF3D6B2B8A3ull,
    0x748F82EE5DEFB2FCull, 0x78A5636F43172F60ull, 0x84C87814A1F0AB72ull, 0x8CC702081A6439ECull,
    0x90BEFFFA23631E28ull, 0xA4506CEBDE82BDE9ull, 0xBEF9A3F7B2C67915ull, 0xC67178F2E372532Bull,
    0xCA273ECEEA26619Cull, 0xD186B8C721C0C207ull, 0xEADA7DD6CDE0EB1Eull, 0xF57D4F7FEE6ED178ull,
    0x06F067AA72176FBAull, 0x0A637DC5A2C898A6ull, 0x113F9804BEF90DAEull, 0x1B710B35131C471Bull,
    0x28DB77F523047D84ull, 0x32CAAB7B40C72493ull, 0x3C9EBE0A15C9BEBCull, 0x431D67C49C100D4Cull,
    0x4CC5D4BECB3E42B6ull, 0x597F299CFC657E2Aull, 0x5FCB6FAB3AD6FAECull, 0x6C44198C4A475817ull,
};
// clang-format on

constexpr std::string_view kLongMessage =
    "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmn"
    "hijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu";

}  // namespace

bool Sha384::SelfTest() {
  static constexpr uint8_t kAbc[] = {0xcb, 0x00, 0x75, 0x3f, 0x45, 0xa3, 0x5e, 0x8b, 0xb5, 0xa0,
                                     0x3d, 0x69, 0x9a, 0xc6, 0x50, 0x07, 0x27, 0x2c, 0x32, 0xab,
                                     0x0e, 0xde, 0xd1, 0x63, 0x1a, 0x8b, 0x60, 0x5a, 0x43, 0xff,
                                     0x5b, 0xed, 0x80, 0x86, 0x07, 0x2b, 0xa1, 0xe7, 0xcc, 0x23,
                                     0x58, 0xba, 0xec, 0xa1, 0x34, 0xc8, 0x25, 0xa7};
  static constexpr uint8_t kLong[] = {0x09, 0x33, 0x0c, 0x33, 0xf7, 0x11, 0x47, 0xe8, 0x3d, 0x19,
                                      0x2f, 0xc7, 0x82, 0xcd, 0x1b, 0x47, 0x53, 0x11, 0x1b, 0x17,
                                      0x3b, 0x3b, 0x05, 0xd2, 0x2f, 0xa0, 0x80, 0x86, 0xe3, 0xb0,
                                      0xf7, 0x12, 0xfc, 0xc7, 0xc7, 0x1a, 0x55, 0x7e, 0x2d, 0xb9,
                                      0x66, 0xc3, 0xe9, 0xfa, 0x91, 0x74, 0x60, 0x39};
  return HashKnownAnswer<Sha384>("abc", kAbc, kLongMessage, kLong);
}

bool Sha512::SelfTest() {
  static constexpr uint8_t kAbc[] = {
      0xdd, 0xaf, 0x35, 0xa1, 0x93, 0x61, 0x7a, 0xba, 0xcc, 0x41, 0x73, 0x49, 0xae,
      0x20, 0x41, 0x31, 0x12, 0xe6, 0xfa, 0x4e, 0x89, 0xa9, 0x7e, 0xa2, 0x0a, 0x9e,
      0xee, 0xe6, 0x4b, 0x55, 0xd3, 0x9a, 0x21, 0x92, 0x99, 0x2a, 0x27, 0x4f, 0xc1,
      0xa8, 0x36, 0xba, 0x3c, 0x23, 0xa3, 0xfe, 0xeb, 0xbd, 0x45, 0x4d, 0x44, 0x23,
      0x64, 0x3c, 0xe8, 0x0e, 0x2a, 0x9a, 0xc9, 0x4f, 0xa5, 0x4c, 0xa4, 0x9f};
  static constexpr uint8_t kLong[] = {
      0x8e, 0x95, 0x9b, 0x75, 0xda, 0xe3, 0x13, 0xda, 0x8c, 0xf4, 0xf7, 0x28, 0x14,
      0xfc, 0x14, 0x3f, 0x8f, 0x77, 0x79, 0xc6, 0xeb, 0x9f, 0x7f, 0xa1, 0x72, 0x99,
      0xae, 0xad, 0xb6, 0x88, 0x90, 0x18, 0x50, 0x1d, 0x28, 0x9e, 0x49, 0x00, 0xf7,
      0xe4, 0x33, 0x1b, 0x99, 0xde, 0xc4, 0xb5, 0x43, 0x3a, 0xc7, 0xd3, 0x29, 0xee,
      0xb6, 0xdd, 0x26, 0x54, 0x5e, 0x96, 0xe5, 0x5b, 0x87, 0x4b, 0xe9, 0x09};
  return HashKnownAnswer<Sha512>("abc", kAbc, kLongMessage, kLong);
}

// clang-format off
#define SHA512_S0(x) (Rotr64(x, 28) ^ Rotr64(x, 34) ^ Rotr64(x, 39))
#define SHA512_S1(x) (Rotr64(x, 14) ^ Rotr64(x, 18) ^ Rotr64(x, 41))
#define SHA512_s0(x) (Rotr64(x, 1) ^ Rotr64(x, 8) ^ ((x) >> 7))
#define SHA512_s1(x) (Rotr64(x, 19) ^ Rotr64(x, 61) ^ ((x) >> 6))
#define SHA512_CH(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define SHA512_MAJ(x, y, z) (((x) & (y)) | ((z) & ((x) | (y))))
// W[t] for t >= 16 overwrites W[t - 16] in the window; the other three terms are still there.
#define SHA512_W(t) ((t) < 16 ? w[(t) & 15] : (w[(t) & 15] += \
  SHA512_s1(w[((t) + 14) & 15]) + w[((t) + 9) & 15] + SHA512_s0(w[((t) + 1) & 15])))
// Renames the registers instead of moving them: h receives the new a and d the new e.
#define SHA512_STEP(a, b, c, d, e, f, g, h, t) \
  h += SHA512_S1(e) + SHA512_CH(e, f, g) + kRound[t] + SHA512_W(t); \
  d += h; \
  h += SHA512_S0(a) + SHA512_MAJ(a, b, c);
#define SHA512_EIGHT(t) \
  SHA512_STEP(a, b, c, d, e, f, g, h, t)     SHA512_STEP(h, a, b, c, d, e, f, g, t + 1) \
  SHA512_STEP(g, h, a, b, c, d, e, f, t + 2) SHA512_STEP(f, g, h, a, b, c, d, e, t + 3) \
  SHA512_STEP(e, f, g, h, a, b, c, d, t + 4) SHA512_STEP(d, e, f, g, h, a, b, c, t + 5) \
  SHA512_STEP(c, d, e, f, g, h, a, b, t + 6) SHA512_STEP(b, c, d, e, f, g, h, a, t + 7)
// clang-format on

namespace {

// The schedule is a rolling window of sixteen words, each expanded just before its step: the
// same W[t] as expanding all eighty first, with far fewer loads and stores. Inlined into each
// caller, so each gets it compiled for its own instruction set.
__attribute__((always_inline)) inline void CompressBlock(std::array<uint64_t, 8>& state,
                                                         const uint8_t* block, uint64_t* w) {
  for (int t = 0; t < 16; ++t) w[t] = LoadBe64(block + 8 * t);
  uint64_t a = state[0], b = state[1], c = state[2], d = state[3];
  uint64_t e = state[4], f = state[5], g = state[6], h = state[7];
  SHA512_EIGHT(0)
  SHA512_EIGHT(8)
  SHA512_EIGHT(16)
  SHA512_EIGHT(24)
  SHA512_EIGHT(32)
  SHA512_EIGHT(40)
  SHA512_EIGHT(48)
  SHA512_EIGHT(56)
  SHA512_EIGHT(64)
  SHA512_EIGHT(72)
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  state[4] += e;
  state[5] += f;
  state[6] += g;
  state[7] += h;
}

void PortableBlocks(std::array<uint64_t, 8>& state, const uint8_t* p, std::size_t n) {
  uint64_t w[16];
  for (; n > 0; --n, p += 128) CompressBlock(state, p, w);
  SecureZeroObject(w);
}

#ifdef KRYVANE_X86_VECTORS
// The rounds are one long dependency chain of scalar additions; the message schedule is not, and
// in the scalar code it takes about a third of the instructions. So the vector unit expands the
// schedule of two blocks at once (block A in the low 128-bit lane, B in the high one, two words
// per lane per step) and stores W[t] + K[t] for both, while the scalar unit runs the rounds from
// memory. wk[4 * (t / 2) + 2 * block + t % 2] is W[t] + K[t] of the block. Only with the AVX-512
// rotations and three-input logic: with AVX2's shifts the schedule costs as many instructions
// as it saves (measured no faster than the scalar code).
// Every function of the path is compiled for the instructions it uses (helpers inlined): a vector
// value never passes through code compiled without them.
#define KRYVANE_SHA512_VECTOR \
  [[gnu::always_inline]] __attribute__((target("avx2,avx512f,avx512vl,avx512bw,bmi,bmi2"))) inline

// Words 2i and 2i + 1 of both blocks, in the machine's order.
KRYVANE_SHA512_VECTOR __m256i LoadTwo(const uint8_t* pa, const uint8_t* pb, int i) {
  const __m256i swap = _mm256_set_epi64x(0x08090a0b0c0d0e0fLL, 0x0001020304050607LL,
                                         0x08090a0b0c0d0e0fLL, 0x0001020304050607LL);
  const __m256i both = _mm256_inserti128_si256(
      _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pa + 16 * i))),
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(pb + 16 * i)), 1);
  return _mm256_shuffle_epi8(both, swap);
}

// The odd word of lo and the even word of hi in each lane.
KRYVANE_SHA512_VECTOR __m256i Middle(__m256i hi, __m256i lo) {
  return _mm256_alignr_epi8(hi, lo, 8);
}

// Two rotations and a shift, exclusive-ored in one instruction.
template <int kR1, int kR2, int kS>
KRYVANE_SHA512_VECTOR __m256i Sigma(__m256i x) {
  return _mm256_ternarylogic_epi64(_mm256_ror_epi64(x, kR1), _mm256_ror_epi64(x, kR2),
                                   _mm256_srli_epi64(x, kS), 0x96);
}

// Step i of 40 of the schedule of two blocks: words 2i and 2i + 1 of both into x[i % 8], and
// with K into wk. i is a constant once the callers' loops are unrolled.
KRYVANE_SHA512_VECTOR void ScheduleStep(__m256i (&x)[8], int i, const uint8_t* pa,
                                        const uint8_t* pb, uint64_t* wk) {
  __m256i& cur = x[i & 7];
  if (i < 8) {
    cur = LoadTwo(pa, pb, i);
  } else {
    // cur holds W[t - 16] and W[t - 15] for t = 2i.
    const __m256i s0 = Sigma<1, 8, 7>(Middle(x[(i + 1) & 7], cur));
    const __m256i s1 = Sigma<19, 61, 6>(x[(i + 7) & 7]);
    const __m256i w7 = Middle(x[(i + 5) & 7], x[(i + 4) & 7]);
    cur = _mm256_add_epi64(_mm256_add_epi64(cur, s0), _mm256_add_epi64(w7, s1));
  }
  const __m256i k = _mm256_broadcastsi128_si256(
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(kRound + 2 * i)));
  _mm256_store_si256(reinterpret_cast<__m256i*>(wk + 4 * i), _mm256_add_epi64(cur, k));
}

// The rounds of one block from its W[t] + K[t], every other pair of words (stride 4), with steps
// kStep to kStep + 19 of the next two blocks' schedule woven in when kNext (next, x: that
// schedule). Maj(a, b, c) as ((a ^ b) & (b ^ c)) ^ b, where b ^ c is the a ^ b of the round
// before: one instruction less in every round.
template <bool kNext, int kStep>
KRYVANE_SHA512_VECTOR void RoundsFromSchedule(std::array<uint64_t, 8>& state, const uint64_t* wk,
                                              __m256i (&x)[8], const uint8_t* pa, const uint8_t* pb,
                                              uint64_t* next) {
  // clang-format off
#define SHA512_VSTEP(a, b, c, d, e, f, g, h, t)                   \
  {                                                               \
    h += SHA512_S1(e) + SHA512_CH(e, f, g) + wk[4 * ((t) / 2) + (t) % 2]; \
    d += h;                                                       \
    const uint64_t ab = a ^ b;                                    \
    h += SHA512_S0(a) + ((ab & bc) ^ b);                          \
    bc = ab;                                                      \
  }
  // clang-format on
  uint64_t a = state[0], b = state[1], c = state[2], d = state[3];
  uint64_t e = state[4], f = state[5], g = state[6], h = state[7];
  uint64_t bc = b ^ c;
#pragma GCC unroll 10
  for (int t = 0; t < 80; t += 8) {
    SHA512_VSTEP(a, b, c, d, e, f, g, h, t)
    SHA512_VSTEP(h, a, b, c, d, e, f, g, t + 1)
    SHA512_VSTEP(g, h, a, b, c, d, e, f, t + 2)
    SHA512_VSTEP(f, g, h, a, b, c, d, e, t + 3)
    if constexpr (kNext) ScheduleStep(x, kStep + t / 4, pa, pb, next);
    SHA512_VSTEP(e, f, g, h, a, b, c, d, t + 4)
    SHA512_VSTEP(d, e, f, g, h, a, b, c, t + 5)
    SHA512_VSTEP(c, d, e, f, g, h, a, b, t + 6)
    SHA512_VSTEP(b, c, d, e, f, g, h, a, t + 7)
    if constexpr (kNext) ScheduleStep(x, kStep + t / 4 + 1, pa, pb, next);
  }
#undef SHA512_VSTEP
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  state[4] += e;
  state[5] += f;
  state[6] += g;
  state[7] += h;
}

// Two blocks at a time, the vector unit expanding the next two blocks' schedule while the scalar
// unit runs the rounds of these (a lone last block is scheduled beside itself).
KRYVANE_SHA512_VECTOR void VectorBlocks(std::array<uint64_t, 8>& state, const uint8_t* p,
                                        std::size_t n) {
  alignas(32) uint64_t wk[2][160];
  __m256i x[8];
  if (n == 0) return;
#pragma GCC unroll 40
  for (int i = 0; i < 40; ++i) ScheduleStep(x, i, p, n > 1 ? p + 128 : p, wk[0]);
  for (int cur = 0;; cur ^= 1) {
    // Read back from memory as operands of the additions: kept in vector registers instead, each
    // word would cost an extraction to a scalar register.
    asm volatile("" ::: "memory");
    if (n <= 2) {
      RoundsFromSchedule<false, 0>(state, wk[cur], x, p, p, nullptr);
      if (n == 2) RoundsFromSchedule<false, 0>(state, wk[cur] + 2, x, p, p, nullptr);
      break;
    }
    const uint8_t* pa = p + 256;
    const uint8_t* pb = n > 3 ? pa + 128 : pa;
    RoundsFromSchedule<true, 0>(state, wk[cur], x, pa, pb, wk[cur ^ 1]);
    RoundsFromSchedule<true, 20>(state, wk[cur] + 2, x, pa, pb, wk[cur ^ 1]);
    p += 256;
    n -= 2;
  }
  SecureZeroObject(wk);
}

__attribute__((target("avx2,avx512f,avx512vl,avx512bw,bmi,bmi2"))) void Avx512Blocks(
    std::array<uint64_t, 8>& state, const uint8_t* p, std::size_t n) {
  VectorBlocks(state, p, n);
}
#undef KRYVANE_SHA512_VECTOR

// The scalar code with the BMI2 rotations alone.
__attribute__((target("bmi,bmi2"))) void Bmi2Blocks(std::array<uint64_t, 8>& state,
                                                    const uint8_t* p, std::size_t n) {
  uint64_t w[16];
  for (; n > 0; --n, p += 128) CompressBlock(state, p, w);
  SecureZeroObject(w);
}
#endif

}  // namespace

void Sha512Compress(std::array<uint64_t, 8>& state, const uint8_t* p, std::size_t n, cpu::Isa isa) {
#ifdef KRYVANE_X86_VECTORS
  if (isa == cpu::Isa::kAvx512) return Avx512Blocks(state, p, n);
  if (isa == cpu::Isa::kAvx2) return Bmi2Blocks(state, p, n);
#else
  (void)isa;
#endif
  PortableBlocks(state, p, n);
}

}  // namespace kryvane
