// The x86 vector intrinsics and the function attributes that compile one function for one
// instruction set (see crypto/cpu.h; such a function runs only after the processor has been
// asked). Private to the cipher units.
#pragma once

#include <cstdint>

#if defined(__x86_64__) || defined(__i386__)
#define KRYVANE_X86_VECTORS 1

// GCC 12's AVX-512 unpack intrinsics start from a deliberately undefined register.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop

#define KRYVANE_TARGET_SSE __attribute__((target("sse4.1,ssse3")))
#define KRYVANE_TARGET_AVX2 __attribute__((target("avx2")))
#define KRYVANE_TARGET_AVX512 __attribute__((target("avx2,avx512f,avx512vl,avx512bw")))
#define KRYVANE_TARGET_SHA __attribute__((target("sse4.1,ssse3,sha")))

namespace kryvane {

// Vectors of 32-bit and 16-bit lanes for the arithmetic (the operators work lane by lane).
using U32x4 = uint32_t __attribute__((vector_size(16)));
using U32x8 = uint32_t __attribute__((vector_size(32)));
using U32x16 = uint32_t __attribute__((vector_size(64)));
using U16x8 = uint16_t __attribute__((vector_size(16)));
using U16x16 = uint16_t __attribute__((vector_size(32)));
using U16x32 = uint16_t __attribute__((vector_size(64)));

// For blocks of four 32-bit words: four registers loaded with consecutive blocks become four
// registers of one word each (the block order within a register is the same for all four), and
// back: the 4 x 4 transposition in every 128-bit lane, its own inverse.
KRYVANE_TARGET_AVX2 inline void Transpose4x4(__m256i& a, __m256i& b, __m256i& c, __m256i& d) {
  const __m256i t0 = _mm256_unpacklo_epi32(a, b), t1 = _mm256_unpackhi_epi32(a, b);
  const __m256i t2 = _mm256_unpacklo_epi32(c, d), t3 = _mm256_unpackhi_epi32(c, d);
  a = _mm256_unpacklo_epi64(t0, t2);
  b = _mm256_unpackhi_epi64(t0, t2);
  c = _mm256_unpacklo_epi64(t1, t3);
  d = _mm256_unpackhi_epi64(t1, t3);
}

KRYVANE_TARGET_AVX512 inline void Transpose4x4(__m512i& a, __m512i& b, __m512i& c, __m512i& d) {
  const __m512i t0 = _mm512_unpacklo_epi32(a, b), t1 = _mm512_unpackhi_epi32(a, b);
  const __m512i t2 = _mm512_unpacklo_epi32(c, d), t3 = _mm512_unpackhi_epi32(c, d);
  a = _mm512_unpacklo_epi64(t0, t2);
  b = _mm512_unpackhi_epi64(t0, t2);
  c = _mm512_unpacklo_epi64(t1, t3);
  d = _mm512_unpackhi_epi64(t1, t3);
}

// out[i] = table[index[i]] for every lane.
KRYVANE_TARGET_AVX2 inline void Gather(const uint32_t* table, const U32x8& index, U32x8& out) {
  out = U32x8(_mm256_i32gather_epi32(reinterpret_cast<const int*>(table), __m256i(index), 4));
}
KRYVANE_TARGET_AVX512 inline void Gather(const uint32_t* table, const U32x16& index, U32x16& out) {
  out = U32x16(_mm512_i32gather_epi32(__m512i(index), table, 4));
}

}  // namespace kryvane

#endif

namespace kryvane {

// The same for a plain word, so that code written over a word type W serves both.
[[gnu::always_inline]] inline void Gather(const uint32_t* table, const uint32_t& index,
                                          uint32_t& out) {
  out = table[index];
}

}  // namespace kryvane
