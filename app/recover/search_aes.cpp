#include "app/recover/search_aes.h"

#include <cstring>

#include "ciphers/x86_vectors.h"
#include "crypto/bytes.h"
#include "crypto/cpu.h"

#ifdef KRYVANE_X86_VECTORS
#define KRYVANE_SEARCH_AES_TARGET __attribute__((target("aes,sse4.1,ssse3")))
#define KRYVANE_SEARCH_VAES_TARGET \
  __attribute__((target("aes,sse4.1,ssse3,avx2,avx512f,avx512vl,avx512bw,avx512dq,vaes")))
#endif

namespace kryvane::recover {
namespace {

#ifdef KRYVANE_X86_VECTORS

// Keys interleaved per call: enough independent chains to cover the AES instructions' latency.
constexpr std::size_t kWays = 8;

// SubWord on the four words of a register at once: aesenclast with a zero key is ShiftRows after
// SubBytes, so the bytes are put through the inverse ShiftRows first. rotate: RotWord before it
// (the project's rotation by 8 bits, which moves byte 1 to the front), with which it commutes.
template <bool kRotate>
KRYVANE_SEARCH_AES_TARGET inline __m128i SubWords(__m128i t) {
  // Byte 4c + r takes byte 4((c - r) mod 4) + r: the inverse ShiftRows.
  const __m128i unshift = _mm_setr_epi8(0, 13, 10, 7, 4, 1, 14, 11, 8, 5, 2, 15, 12, 9, 6, 3);
  const __m128i rotate = _mm_setr_epi8(1, 2, 3, 0, 5, 6, 7, 4, 9, 10, 11, 8, 13, 14, 15, 12);
  if constexpr (kRotate) t = _mm_shuffle_epi8(t, rotate);
  return _mm_aesenclast_si128(_mm_shuffle_epi8(t, unshift), _mm_setzero_si128());
}

// The project's key schedule (ciphers/rijndael.cpp) of four keys, one per 32-bit lane: kNk words of
// key, kNk + 6 rounds. w[i] holds word i of each key.
template <int kNk>
KRYVANE_SEARCH_AES_TARGET inline void ExpandFour(const uint8_t (*padded)[32], __m128i* w) {
  constexpr int kWords = 4 * (kNk + 7);
  for (int i = 0; i < kNk; ++i) {
    w[i] = _mm_setr_epi32(int(LoadLe32(padded[0] + 4 * i)), int(LoadLe32(padded[1] + 4 * i)),
                          int(LoadLe32(padded[2] + 4 * i)), int(LoadLe32(padded[3] + 4 * i)));
  }
  uint8_t rcon = 0x01;
#pragma GCC unroll 60
  for (int i = kNk; i < kWords; ++i) {
    __m128i t = w[i - 1];
    if (i % kNk == 0) {
      t = _mm_xor_si128(SubWords<true>(t), _mm_set1_epi32(rcon));
      rcon = uint8_t((rcon << 1) ^ ((rcon & 0x80) != 0 ? 0x1B : 0));
    } else if (kNk > 6 && i % kNk == 4) {
      t = SubWords<false>(t);
    }
    w[i] = _mm_xor_si128(w[i - kNk], t);
  }
}

template <int kNk>
KRYVANE_SEARCH_AES_TARGET void Starts(const uint8_t* const* keys, std::size_t keyBytes,
                                      std::size_t count, const uint8_t* c0, const uint8_t* c240,
                                      uint8_t (*first)[16], uint8_t (*tar)[16]) {
  constexpr int kRounds = kNk + 6;
  constexpr int kWords = 4 * (kRounds + 1);
  alignas(16) uint8_t padded[kWays][32];
  __m128i w[kWays / 4][kWords];
  __m128i rk[kWays][kRounds + 1];
  const __m128i cipher0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c0));
  __m128i before = _mm_setzero_si128(), block = _mm_setzero_si128();
  if (c240 != nullptr) {
    before = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c240));
    block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c240 + 16));
  }
  for (std::size_t at = 0; at < count; at += kWays) {
    const std::size_t n = count - at < kWays ? count - at : kWays;
    for (std::size_t j = 0; j < kWays; ++j) {
      std::memset(padded[j], 0, sizeof padded[j]);
      if (j < n) std::memcpy(padded[j], keys[at + j], keyBytes);
    }
#pragma GCC unroll 2
    for (std::size_t g = 0; g < kWays / 4; ++g) ExpandFour<kNk>(padded + 4 * g, w[g]);
    // Word lanes to round keys: a 4 x 4 transposition per round and group.
    for (std::size_t g = 0; g < kWays / 4; ++g) {
#pragma GCC unroll 15
      for (int r = 0; r <= kRounds; ++r) {
        const __m128i* q = w[g] + 4 * r;
        const __m128i t0 = _mm_unpacklo_epi32(q[0], q[1]), t1 = _mm_unpackhi_epi32(q[0], q[1]);
        const __m128i t2 = _mm_unpacklo_epi32(q[2], q[3]), t3 = _mm_unpackhi_epi32(q[2], q[3]);
        rk[4 * g][r] = _mm_unpacklo_epi64(t0, t2);
        rk[4 * g + 1][r] = _mm_unpackhi_epi64(t0, t2);
        rk[4 * g + 2][r] = _mm_unpacklo_epi64(t1, t3);
        rk[4 * g + 3][r] = _mm_unpackhi_epi64(t1, t3);
      }
    }
    // E_K(0), the initial vector, and D_K of the two ciphertext blocks, with the round keys of
    // the equivalent inverse cipher made on the way.
    __m128i iv[kWays], d0[kWays], d16[kWays];
#pragma GCC unroll 8
    for (std::size_t j = 0; j < kWays; ++j) {
      iv[j] = rk[j][0];
      d0[j] = _mm_xor_si128(cipher0, rk[j][kRounds]);
      d16[j] = _mm_xor_si128(block, rk[j][kRounds]);
    }
#pragma GCC unroll 14
    for (int r = 1; r < kRounds; ++r) {
#pragma GCC unroll 8
      for (std::size_t j = 0; j < kWays; ++j) {
        iv[j] = _mm_aesenc_si128(iv[j], rk[j][r]);
        const __m128i k = _mm_aesimc_si128(rk[j][kRounds - r]);
        d0[j] = _mm_aesdec_si128(d0[j], k);
        if (c240 != nullptr) d16[j] = _mm_aesdec_si128(d16[j], k);
      }
    }
#pragma GCC unroll 8
    for (std::size_t j = 0; j < kWays; ++j) {
      iv[j] = _mm_aesenclast_si128(iv[j], rk[j][kRounds]);
      d0[j] = _mm_xor_si128(_mm_aesdeclast_si128(d0[j], rk[j][0]), iv[j]);
      if (c240 != nullptr) {
        d16[j] = _mm_xor_si128(_mm_aesdeclast_si128(d16[j], rk[j][0]), before);
      }
    }
    for (std::size_t j = 0; j < n; ++j) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(first[at + j]), d0[j]);
      if (c240 != nullptr) _mm_storeu_si128(reinterpret_cast<__m128i*>(tar[at + j]), d16[j]);
    }
  }
  SecureZeroObject(padded);
  SecureZeroObject(w);
  SecureZeroObject(rk);
}

// The same on 512-bit registers: sixteen keys a group, one key per 32-bit lane in the schedule
// and four keys per register in the rounds.
template <bool kRotate>
KRYVANE_SEARCH_VAES_TARGET inline __m512i SubWordsWide(__m512i t) {
  const __m512i unshift =
      _mm512_broadcast_i32x4(_mm_setr_epi8(0, 13, 10, 7, 4, 1, 14, 11, 8, 5, 2, 15, 12, 9, 6, 3));
  const __m512i rotate =
      _mm512_broadcast_i32x4(_mm_setr_epi8(1, 2, 3, 0, 5, 6, 7, 4, 9, 10, 11, 8, 13, 14, 15, 12));
  if constexpr (kRotate) t = _mm512_shuffle_epi8(t, rotate);
  return _mm512_aesenclast_epi128(_mm512_shuffle_epi8(t, unshift), _mm512_setzero_si512());
}

// InvMixColumns of four round keys: aesenclast with a zero key is ShiftRows and SubBytes, which
// aesdec with a zero key undoes before its InvMixColumns (there is no wide aesimc).
KRYVANE_SEARCH_VAES_TARGET inline __m512i InvMixWide(__m512i k) {
  const __m512i zero = _mm512_setzero_si512();
  return _mm512_aesdec_epi128(_mm512_aesenclast_epi128(k, zero), zero);
}

template <int kNk>
KRYVANE_SEARCH_VAES_TARGET void StartsWide(const uint8_t* const* keys, std::size_t keyBytes,
                                           std::size_t count, const uint8_t* c0,
                                           const uint8_t* c240, uint8_t (*first)[16],
                                           uint8_t (*tar)[16]) {
  constexpr int kRounds = kNk + 6;
  constexpr int kWords = 4 * (kRounds + 1);
  constexpr std::size_t kKeys = 16;
  __m512i w[kWords];
  __m512i rk[4][kRounds + 1];  // rk[j][r]: round key r of keys j, 4 + j, 8 + j and 12 + j
  alignas(64) uint8_t outFirst[4][64], outTar[4][64];
  __m512i z[8], t[8];  // key rows on their way to words
  const __m512i cipher0 =
      _mm512_broadcast_i32x4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(c0)));
  __m512i before = _mm512_setzero_si512(), block = _mm512_setzero_si512();
  if (c240 != nullptr) {
    before = _mm512_broadcast_i32x4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(c240)));
    block = _mm512_broadcast_i32x4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(c240 + 16)));
  }
  for (std::size_t at = 0; at < count; at += kKeys) {
    const std::size_t n = count - at < kKeys ? count - at : kKeys;
    // Key j's bytes (a masked load reads none past them) in row j: rows j and 8 + j share a
    // register, and an 8 x 8 transposition in each half gives word i of every key in w[i].
    const __mmask32 bytes = __mmask32((uint64_t(1) << keyBytes) - 1);
    for (std::size_t j = 0; j < 8; ++j) {
      const __m256i lo =
          j < n ? _mm256_maskz_loadu_epi8(bytes, keys[at + j]) : _mm256_setzero_si256();
      const __m256i hi =
          8 + j < n ? _mm256_maskz_loadu_epi8(bytes, keys[at + 8 + j]) : _mm256_setzero_si256();
      z[j] = _mm512_inserti64x4(_mm512_castsi256_si512(lo), hi, 1);
    }
    for (std::size_t j = 0; j < 8; j += 2) {
      t[j] = _mm512_unpacklo_epi32(z[j], z[j + 1]);
      t[j + 1] = _mm512_unpackhi_epi32(z[j], z[j + 1]);
    }
    for (std::size_t q = 0; q < 8; q += 4) {
      z[q] = _mm512_unpacklo_epi64(t[q], t[q + 2]);
      z[q + 1] = _mm512_unpackhi_epi64(t[q], t[q + 2]);
      z[q + 2] = _mm512_unpacklo_epi64(t[q + 1], t[q + 3]);
      z[q + 3] = _mm512_unpackhi_epi64(t[q + 1], t[q + 3]);
    }
    const __m512i low = _mm512_setr_epi64(0, 1, 8, 9, 4, 5, 12, 13);
    const __m512i high = _mm512_setr_epi64(2, 3, 10, 11, 6, 7, 14, 15);
    for (int c = 0; c < 4; ++c) {
      w[c] = _mm512_permutex2var_epi64(z[c], low, z[4 + c]);
      if (c + 4 < kNk) w[c + 4] = _mm512_permutex2var_epi64(z[c], high, z[4 + c]);
    }
    uint8_t rcon = 0x01;
#pragma GCC unroll 60
    for (int i = kNk; i < kWords; ++i) {
      __m512i t = w[i - 1];
      if (i % kNk == 0) {
        t = _mm512_xor_si512(SubWordsWide<true>(t), _mm512_set1_epi32(rcon));
        rcon = uint8_t((rcon << 1) ^ ((rcon & 0x80) != 0 ? 0x1B : 0));
      } else if (kNk > 6 && i % kNk == 4) {
        t = SubWordsWide<false>(t);
      }
      w[i] = _mm512_xor_si512(w[i - kNk], t);
    }
#pragma GCC unroll 15
    for (int r = 0; r <= kRounds; ++r) {
      const __m512i* q = w + 4 * r;
      const __m512i t0 = _mm512_unpacklo_epi32(q[0], q[1]), t1 = _mm512_unpackhi_epi32(q[0], q[1]);
      const __m512i t2 = _mm512_unpacklo_epi32(q[2], q[3]), t3 = _mm512_unpackhi_epi32(q[2], q[3]);
      rk[0][r] = _mm512_unpacklo_epi64(t0, t2);
      rk[1][r] = _mm512_unpackhi_epi64(t0, t2);
      rk[2][r] = _mm512_unpacklo_epi64(t1, t3);
      rk[3][r] = _mm512_unpackhi_epi64(t1, t3);
    }
    __m512i iv[4], d0[4], d16[4];
#pragma GCC unroll 4
    for (std::size_t j = 0; j < 4; ++j) {
      iv[j] = rk[j][0];
      d0[j] = _mm512_xor_si512(cipher0, rk[j][kRounds]);
      d16[j] = _mm512_xor_si512(block, rk[j][kRounds]);
    }
#pragma GCC unroll 14
    for (int r = 1; r < kRounds; ++r) {
#pragma GCC unroll 4
      for (std::size_t j = 0; j < 4; ++j) {
        iv[j] = _mm512_aesenc_epi128(iv[j], rk[j][r]);
        const __m512i k = InvMixWide(rk[j][kRounds - r]);
        d0[j] = _mm512_aesdec_epi128(d0[j], k);
        if (c240 != nullptr) d16[j] = _mm512_aesdec_epi128(d16[j], k);
      }
    }
#pragma GCC unroll 4
    for (std::size_t j = 0; j < 4; ++j) {
      iv[j] = _mm512_aesenclast_epi128(iv[j], rk[j][kRounds]);
      _mm512_store_si512(outFirst[j],
                         _mm512_xor_si512(_mm512_aesdeclast_epi128(d0[j], rk[j][0]), iv[j]));
      if (c240 != nullptr) {
        _mm512_store_si512(outTar[j],
                           _mm512_xor_si512(_mm512_aesdeclast_epi128(d16[j], rk[j][0]), before));
      }
    }
    // Lane l of register j belongs to key 4l + j.
    for (std::size_t i = 0; i < n; ++i) {
      std::memcpy(first[at + i], outFirst[i % 4] + 16 * (i / 4), 16);
      if (c240 != nullptr) std::memcpy(tar[at + i], outTar[i % 4] + 16 * (i / 4), 16);
    }
  }
  SecureZeroObject(outFirst);
  SecureZeroObject(outTar);
  SecureZeroObject(z);
  SecureZeroObject(t);
  SecureZeroObject(w);
  SecureZeroObject(rk);
}

#endif

}  // namespace

bool RijndaelStartsAvailable() {
#ifdef KRYVANE_X86_VECTORS
  return cpu::Has(cpu::kAesNi | cpu::kSse41 | cpu::kSsse3);
#else
  return false;
#endif
}

void RijndaelStarts(const uint8_t* const* keys, std::size_t keyBytes, std::size_t count,
                    const uint8_t* c0, const uint8_t* c240, uint8_t (*first)[16],
                    uint8_t (*tar)[16]) {
#ifdef KRYVANE_X86_VECTORS
  if (cpu::Has(cpu::kAesNi | cpu::kSse41 | cpu::kSsse3 | cpu::kAvx2 | cpu::kAvx512 | cpu::kVaes)) {
    if (keyBytes <= 16) return StartsWide<4>(keys, keyBytes, count, c0, c240, first, tar);
    if (keyBytes <= 24) return StartsWide<6>(keys, keyBytes, count, c0, c240, first, tar);
    return StartsWide<8>(keys, keyBytes, count, c0, c240, first, tar);
  }
  if (keyBytes <= 16) return Starts<4>(keys, keyBytes, count, c0, c240, first, tar);
  if (keyBytes <= 24) return Starts<6>(keys, keyBytes, count, c0, c240, first, tar);
  return Starts<8>(keys, keyBytes, count, c0, c240, first, tar);
#else
  (void)keys, (void)keyBytes, (void)count, (void)c0, (void)c240, (void)first, (void)tar;
#endif
}

}  // namespace kryvane::recover
