#include "app/recover/search_aes.h"

#include <cstring>

#include "ciphers/x86_vectors.h"
#include "crypto/bytes.h"
#include "crypto/cpu.h"

#ifdef KRYVANE_X86_VECTORS
#define KRYVANE_SEARCH_AES_TARGET __attribute__((target("aes,sse4.1")))
#endif

namespace kryvane::recover {
namespace {

#ifdef KRYVANE_X86_VECTORS

// Keys interleaved per call: enough independent chains to cover the AES instructions' latency.
constexpr std::size_t kWays = 8;

KRYVANE_SEARCH_AES_TARGET inline uint32_t SubWord(uint32_t w) {
  // aeskeygenassist's first word is SubWord of its second.
  const __m128i x = _mm_shuffle_epi32(_mm_cvtsi32_si128(int(w)), 0);
  return uint32_t(_mm_cvtsi128_si32(_mm_aeskeygenassist_si128(x, 0)));
}

// The project's key schedule (ciphers/rijndael.cpp), kNk words of key, kNk + 6 rounds, words in
// memory byte order; the rotation comes after SubWord, with which it commutes.
template <int kNk>
KRYVANE_SEARCH_AES_TARGET inline void Expand(const uint8_t* key, uint32_t* w) {
  constexpr int kWords = 4 * (kNk + 7);
  for (int i = 0; i < kNk; ++i) w[i] = LoadLe32(key + 4 * i);
  uint8_t rcon = 0x01;
  for (int i = kNk; i < kWords; ++i) {
    uint32_t t = w[i - 1];
    if (i % kNk == 0) {
      t = Rotr32(SubWord(t), 8) ^ rcon;
      rcon = uint8_t((rcon << 1) ^ ((rcon & 0x80) != 0 ? 0x1B : 0));
    } else if (kNk > 6 && i % kNk == 4) {
      t = SubWord(t);
    }
    w[i] = w[i - kNk] ^ t;
  }
}

template <int kNk>
KRYVANE_SEARCH_AES_TARGET void Starts(const uint8_t* const* keys, std::size_t keyBytes,
                                      std::size_t count, const uint8_t* c0, const uint8_t* c240,
                                      uint8_t (*first)[16], uint8_t (*tar)[16]) {
  constexpr int kRounds = kNk + 6;
  constexpr int kWords = 4 * (kRounds + 1);
  alignas(16) uint8_t padded[kWays][32];
  alignas(16) uint32_t w[kWays][kWords];
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
#pragma GCC unroll 8
    for (std::size_t j = 0; j < kWays; ++j) Expand<kNk>(padded[j], w[j]);
    for (std::size_t j = 0; j < kWays; ++j) {
      for (int r = 0; r <= kRounds; ++r) {
        rk[j][r] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w[j] + 4 * r));
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

#endif

}  // namespace

bool RijndaelStartsAvailable() {
#ifdef KRYVANE_X86_VECTORS
  return cpu::Has(cpu::kAesNi | cpu::kSse41);
#else
  return false;
#endif
}

void RijndaelStarts(const uint8_t* const* keys, std::size_t keyBytes, std::size_t count,
                    const uint8_t* c0, const uint8_t* c240, uint8_t (*first)[16],
                    uint8_t (*tar)[16]) {
#ifdef KRYVANE_X86_VECTORS
  if (keyBytes <= 16) return Starts<4>(keys, keyBytes, count, c0, c240, first, tar);
  if (keyBytes <= 24) return Starts<6>(keys, keyBytes, count, c0, c240, first, tar);
  return Starts<8>(keys, keyBytes, count, c0, c240, first, tar);
#else
  (void)keys, (void)keyBytes, (void)count, (void)c0, (void)c240, (void)first, (void)tar;
#endif
}

}  // namespace kryvane::recover
