#include "ciphers/rijndael.h"

#include <algorithm>

#include "ciphers/x86_vectors.h"
#include "crypto/bytes.h"
#include "crypto/cpu.h"

#ifdef KRYVANE_X86_VECTORS
#define KRYVANE_HAVE_AES_INSTRUCTIONS 1
#define KRYVANE_HAVE_VAES 1
// Only these functions are compiled for the AES instructions; they run only after the
// processor has been asked, so the rest of the build needs no extra flags.
#define KRYVANE_AES_TARGET __attribute__((target("aes,sse4.1")))
#define KRYVANE_VAES_TARGET \
  __attribute__((target("aes,sse4.1,avx2,avx512f,avx512vl,avx512bw,avx512dq,vaes")))
#endif

namespace kryvane {
namespace {

// clang-format off
constexpr uint8_t kSbox[256] = {
    0x63, 0x7C, 0x77, 0x7B, 0xF2, 0x6B, 0x6F, 0xC5, 0x30, 0x01, 0x67, 0x2B, 0xFE, 0xD7, 0xAB, 0x76,
    0xCA, 0x82, 0xC9, 0x7D, 0xFA, 0x59, 0x47, 0xF0, 0xAD, 0xD4, 0xA2, 0xAF, 0x9C, 0xA4, 0x72, 0xC0,
    0xB7, 0xFD, 0x93, 0x26, 0x36, 0x3F, 0xF7, 0xCC, 0x34, 0xA5, 0xE5, 0xF1, 0x71, 0xD8, 0x31, 0x15,
    0x04, 0xC7, 0x23, 0xC3, 0x18, 0x96, 0x05, 0x9A, 0x07, 0x12, 0x80, 0xE2, 0xEB, 0x27, 0xB2, 0x75,
    0x09, 0x83, 0x2C, 0x1A, 0x1B, 0x6E, 0x5A, 0xA0, 0x52, 0x3B, 0xD6, 0xB3, 0x29, 0xE3, 0x2F, 0x84,
    0x53, 0xD1, 0x00, 0xED, 0x20, 0xFC, 0xB1, 0x5B, 0x6A, 0xCB, 0xBE, 0x39, 0x4A, 0x4C, 0x58, 0xCF,
    0xD0, 0xEF, 0xAA, 0xFB, 0x43, 0x4D, 0x33, 0x85, 0x45, 0xF9, 0x02, 0x7F, 0x50, 0x3C, 0x9F, 0xA8,
    0x51, 0xA3, 0x40, 0x8F, 0x92, 0x9D, 0x38, 0xF5, 0xBC, 0xB6, 0xDA, 0x21, 0x10, 0xFF, 0xF3, 0xD2,
    0xCD, 0x0C, 0x13, 0xEC, 0x5F, 0x97, 0x44, 0x17, 0xC4, 0xA7, 0x7E, 0x3D, 0x64, 0x5D, 0x19, 0x73,
    0x60, 0x81, 0x4F, 0xDC, 0x22, 0x2A, 0x90, 0x88, 0x46, 0xEE, 0xB8, 0x14, 0xDE, 0x5E, 0x0B, 0xDB,
    0xE0, 0x32, 0x3A, 0x0A, 0x49, 0x06, 0x24, 0x5C, 0xC2, 0xD3, 0xAC, 0x62, 0x91, 0x95, 0xE4, 0x79,
    0xE7, 0xC8, 0x37, 0x6D, 0x8D, 0xD5, 0x4E, 0xA9, 0x6C, 0x56, 0xF4, 0xEA, 0x65, 0x7A, 0xAE, 0x08,
    0xBA, 0x78, 0x25, 0x2E, 0x1C, 0xA6, 0xB4, 0xC6, 0xE8, 0xDD, 0x74, 0x1F, 0x4B, 0xBD, 0x8B, 0x8A,
    0x70, 0x3E, 0xB5, 0x66, 0x48, 0x03, 0xF6, 0x0E, 0x61, 0x35, 0x57, 0xB9, 0x86, 0xC1, 0x1D, 0x9E,
    0xE1, 0xF8, 0x98, 0x11, 0x69, 0xD9, 0x8E, 0x94, 0x9B, 0x1E, 0x87, 0xE9, 0xCE, 0x55, 0x28, 0xDF,
    0x8C, 0xA1, 0x89, 0x0D, 0xBF, 0xE6, 0x42, 0x68, 0x41, 0x99, 0x2D, 0x0F, 0xB0, 0x54, 0xBB, 0x16,
};

constexpr uint8_t kInvSbox[256] = {
    0x52, 0x09, 0x6A, 0xD5, 0x30, 0x36, 0xA5, 0x38, 0xBF, 0x40, 0xA3, 0x9E, 0x81, 0xF3, 0xD7, 0xFB,
    0x7C, 0xE3, 0x39, 0x82, 0x9B, 0x2F, 0xFF, 0x87, 0x34, 0x8E, 0x43, 0x44, 0xC4, 0xDE, 0xE9, 0xCB,
    0x54, 0x7B, 0x94, 0x32, 0xA6, 0xC2, 0x23, 0x3D, 0xEE, 0x4C, 0x95, 0x0B, 0x42, 0xFA, 0xC3, 0x4E,
    0x08, 0x2E, 0xA1, 0x66, 0x28, 0xD9, 0x24, 0xB2, 0x76, 0x5B, 0xA2, 0x49, 0x6D, 0x8B, 0xD1, 0x25,
    0x72, 0xF8, 0xF6, 0x64, 0x86, 0x68, 0x98, 0x16, 0xD4, 0xA4, 0x5C, 0xCC, 0x5D, 0x65, 0xB6, 0x92,
    0x6C, 0x70, 0x48, 0x50, 0xFD, 0xED, 0xB9, 0xDA, 0x5E, 0x15, 0x46, 0x57, 0xA7, 0x8D, 0x9D, 0x84,
    0x90, 0xD8, 0xAB, 0x00, 0x8C, 0xBC, 0xD3, 0x0A, 0xF7, 0xE4, 0x58, 0x05, 0xB8, 0xB3, 0x45, 0x06,
    0xD0, 0x2C, 0x1E, 0x8F, 0xCA, 0x3F, 0x0F, 0x02, 0xC1, 0xAF, 0xBD, 0x03, 0x01, 0x13, 0x8A, 0x6B,
    0x3A, 0x91, 0x11, 0x41, 0x4F, 0x67, 0xDC, 0xEA, 0x97, 0xF2, 0xCF, 0xCE, 0xF0, 0xB4, 0xE6, 0x73,
    0x96, 0xAC, 0x74, 0x22, 0xE7, 0xAD, 0x35, 0x85, 0xE2, 0xF9, 0x37, 0xE8, 0x1C, 0x75, 0xDF, 0x6E,
    0x47, 0xF1, 0x1A, 0x71, 0x1D, 0x29, 0xC5, 0x89, 0x6F, 0xB7, 0x62, 0x0E, 0xAA, 0x18, 0xBE, 0x1B,
    0xFC, 0x56, 0x3E, 0x4B, 0xC6, 0xD2, 0x79, 0x20, 0x9A, 0xDB, 0xC0, 0xFE, 0x78, 0xCD, 0x5A, 0xF4,
    0x1F, 0xDD, 0xA8, 0x33, 0x88, 0x07, 0xC7, 0x31, 0xB1, 0x12, 0x10, 0x59, 0x27, 0x80, 0xEC, 0x5F,
    0x60, 0x51, 0x7F, 0xA9, 0x19, 0xB5, 0x4A, 0x0D, 0x2D, 0xE5, 0x7A, 0x9F, 0x93, 0xC9, 0x9C, 0xEF,
    0xA0, 0xE0, 0x3B, 0x4D, 0xAE, 0x2A, 0xF5, 0xB0, 0xC8, 0xEB, 0xBB, 0x3C, 0x83, 0x53, 0x99, 0x61,
    0x17, 0x2B, 0x04, 0x7E, 0xBA, 0x77, 0xD6, 0x26, 0xE1, 0x69, 0x14, 0x63, 0x55, 0x21, 0x0C, 0x7D,
};
// clang-format on

constexpr uint8_t XTime(uint8_t x) {
  return uint8_t((x << 1) ^ ((x & 0x80) != 0 ? 0x1B : 0));
}

// x times a small constant in GF(2^8) modulo x^8 + x^4 + x^3 + x + 1.
constexpr uint8_t Mul(uint8_t x, uint8_t m) {
  uint8_t r = 0;
  for (; m != 0; m >>= 1, x = XTime(x)) {
    if ((m & 1) != 0) r ^= x;
  }
  return r;
}

// b0 is the byte that comes first in memory order.
constexpr uint32_t Word(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
  return uint32_t(b0) | (uint32_t(b1) << 8) | (uint32_t(b2) << 16) | (uint32_t(b3) << 24);
}

constexpr uint8_t Byte(uint32_t w, int n) {
  return uint8_t(w >> (8 * n));
}

// Table n is table 0 rotated by n byte positions, so that table n serves state row n.
struct Tables {
  uint32_t enc[4][256];  // SubBytes and MixColumns
  uint32_t dec[4][256];  // InvSubBytes and InvMixColumns
  uint32_t imc[4][256];  // InvMixColumns alone, for the decryption round keys
};

constexpr Tables MakeTables() {
  Tables t{};
  for (int x = 0; x < 256; ++x) {
    const uint8_t s = kSbox[x];
    const uint8_t si = kInvSbox[x];
    const auto v = uint8_t(x);
    t.enc[0][x] = Word(Mul(s, 2), s, s, Mul(s, 3));
    t.dec[0][x] = Word(Mul(si, 0x0E), Mul(si, 0x09), Mul(si, 0x0D), Mul(si, 0x0B));
    t.imc[0][x] = Word(Mul(v, 0x0E), Mul(v, 0x09), Mul(v, 0x0D), Mul(v, 0x0B));
    for (int n = 1; n < 4; ++n) {
      t.enc[n][x] = std::rotl(t.enc[0][x], 8 * n);
      t.dec[n][x] = std::rotl(t.dec[0][x], 8 * n);
      t.imc[n][x] = std::rotl(t.imc[0][x], 8 * n);
    }
  }
  return t;
}

constexpr Tables kT = MakeTables();

uint32_t SubWord(uint32_t w) {
  return Word(kSbox[Byte(w, 0)], kSbox[Byte(w, 1)], kSbox[Byte(w, 2)], kSbox[Byte(w, 3)]);
}

uint32_t InvMixColumn(uint32_t w) {
  return kT.imc[0][Byte(w, 0)] ^ kT.imc[1][Byte(w, 1)] ^ kT.imc[2][Byte(w, 2)] ^
         kT.imc[3][Byte(w, 3)];
}

// ---------------------------------------------------------------------------------------------
// Table-driven path. Column c of the state is word s[c]; row r is its byte r.

void TableEncrypt(const uint32_t* rk, int rounds, const uint8_t* in, uint8_t* out) {
  uint32_t s0 = LoadLe32(in) ^ rk[0];
  uint32_t s1 = LoadLe32(in + 4) ^ rk[1];
  uint32_t s2 = LoadLe32(in + 8) ^ rk[2];
  uint32_t s3 = LoadLe32(in + 12) ^ rk[3];
  const auto& e = kT.enc;
  for (int r = 1; r < rounds; ++r) {
    rk += 4;
    // ShiftRows: row n of column c comes from column c + n.
    const uint32_t t0 =
        e[0][Byte(s0, 0)] ^ e[1][Byte(s1, 1)] ^ e[2][Byte(s2, 2)] ^ e[3][Byte(s3, 3)];
    const uint32_t t1 =
        e[0][Byte(s1, 0)] ^ e[1][Byte(s2, 1)] ^ e[2][Byte(s3, 2)] ^ e[3][Byte(s0, 3)];
    const uint32_t t2 =
        e[0][Byte(s2, 0)] ^ e[1][Byte(s3, 1)] ^ e[2][Byte(s0, 2)] ^ e[3][Byte(s1, 3)];
    const uint32_t t3 =
        e[0][Byte(s3, 0)] ^ e[1][Byte(s0, 1)] ^ e[2][Byte(s1, 2)] ^ e[3][Byte(s2, 3)];
    s0 = t0 ^ rk[0];
    s1 = t1 ^ rk[1];
    s2 = t2 ^ rk[2];
    s3 = t3 ^ rk[3];
  }
  rk += 4;
  const auto last = [](uint32_t a, uint32_t b, uint32_t c, uint32_t d) {
    return Word(kSbox[Byte(a, 0)], kSbox[Byte(b, 1)], kSbox[Byte(c, 2)], kSbox[Byte(d, 3)]);
  };
  const uint32_t t0 = last(s0, s1, s2, s3) ^ rk[0];
  const uint32_t t1 = last(s1, s2, s3, s0) ^ rk[1];
  const uint32_t t2 = last(s2, s3, s0, s1) ^ rk[2];
  const uint32_t t3 = last(s3, s0, s1, s2) ^ rk[3];
  StoreLe32(out, t0);
  StoreLe32(out + 4, t1);
  StoreLe32(out + 8, t2);
  StoreLe32(out + 12, t3);
}

// The equivalent inverse cipher: the same round shape as encryption, with round keys that
// have InvMixColumns applied, taken from the last to the first.
void TableDecrypt(const uint32_t* dk, int rounds, const uint8_t* in, uint8_t* out) {
  const uint32_t* rk = dk + 4 * rounds;
  uint32_t s0 = LoadLe32(in) ^ rk[0];
  uint32_t s1 = LoadLe32(in + 4) ^ rk[1];
  uint32_t s2 = LoadLe32(in + 8) ^ rk[2];
  uint32_t s3 = LoadLe32(in + 12) ^ rk[3];
  const auto& d = kT.dec;
  for (int r = rounds - 1; r > 0; --r) {
    rk -= 4;
    // InvShiftRows: row n of column c comes from column c - n.
    const uint32_t t0 =
        d[0][Byte(s0, 0)] ^ d[1][Byte(s3, 1)] ^ d[2][Byte(s2, 2)] ^ d[3][Byte(s1, 3)];
    const uint32_t t1 =
        d[0][Byte(s1, 0)] ^ d[1][Byte(s0, 1)] ^ d[2][Byte(s3, 2)] ^ d[3][Byte(s2, 3)];
    const uint32_t t2 =
        d[0][Byte(s2, 0)] ^ d[1][Byte(s1, 1)] ^ d[2][Byte(s0, 2)] ^ d[3][Byte(s3, 3)];
    const uint32_t t3 =
        d[0][Byte(s3, 0)] ^ d[1][Byte(s2, 1)] ^ d[2][Byte(s1, 2)] ^ d[3][Byte(s0, 3)];
    s0 = t0 ^ rk[0];
    s1 = t1 ^ rk[1];
    s2 = t2 ^ rk[2];
    s3 = t3 ^ rk[3];
  }
  const auto last = [](uint32_t a, uint32_t b, uint32_t c, uint32_t e) {
    return Word(kInvSbox[Byte(a, 0)], kInvSbox[Byte(b, 1)], kInvSbox[Byte(c, 2)],
                kInvSbox[Byte(e, 3)]);
  };
  const uint32_t t0 = last(s0, s3, s2, s1) ^ dk[0];
  const uint32_t t1 = last(s1, s0, s3, s2) ^ dk[1];
  const uint32_t t2 = last(s2, s1, s0, s3) ^ dk[2];
  const uint32_t t3 = last(s3, s2, s1, s0) ^ dk[3];
  StoreLe32(out, t0);
  StoreLe32(out + 4, t1);
  StoreLe32(out + 8, t2);
  StoreLe32(out + 12, t3);
}

// ---------------------------------------------------------------------------------------------
// AES instructions. The round keys are the schedule bytes in order, as the instructions expect;
// aesdec implements the equivalent inverse cipher, so it takes the decryption round keys as they
// are.

#ifdef KRYVANE_HAVE_AES_INSTRUCTIONS

KRYVANE_AES_TARGET inline __m128i RoundKey(const uint32_t* keys, int r) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(keys + 4 * r));
}

KRYVANE_AES_TARGET void HardwareEncrypt(const uint32_t* rk, int rounds, const uint8_t* in,
                                        uint8_t* out) {
  __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
  s = _mm_xor_si128(s, RoundKey(rk, 0));
  for (int r = 1; r < rounds; ++r) s = _mm_aesenc_si128(s, RoundKey(rk, r));
  s = _mm_aesenclast_si128(s, RoundKey(rk, rounds));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), s);
}

KRYVANE_AES_TARGET void HardwareDecrypt(const uint32_t* dk, int rounds, const uint8_t* in,
                                        uint8_t* out) {
  __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
  s = _mm_xor_si128(s, RoundKey(dk, rounds));
  for (int r = rounds - 1; r > 0; --r) s = _mm_aesdec_si128(s, RoundKey(dk, r));
  s = _mm_aesdeclast_si128(s, RoundKey(dk, 0));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), s);
}

// CBC-enciphers whole blocks. chain holds the chaining value on entry and the last ciphertext
// block on return. p may equal q.
KRYVANE_AES_TARGET void HardwareEncryptCbc(const uint32_t* rk, int rounds, const uint8_t* p,
                                           uint8_t* q, std::size_t blocks, uint8_t* chain) {
  const auto load = [](const uint8_t* a) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(a));
  };
  __m128i s = load(chain);
  if (blocks == 0) return;
  const __m128i first = RoundKey(rk, 0), last = RoundKey(rk, rounds);
  // The chain is latency-bound, so nothing but the rounds stays on it: the next block's input
  // C ^ P' ^ K0 comes out of the last round itself, whose final step XORs its key, as
  // aesenclast(state, Klast ^ K0 ^ P'); C, stored, comes from a second aesenclast beside it.
  s = _mm_xor_si128(s, _mm_xor_si128(load(p), first));
  for (std::size_t i = 0;; ++i, p += 16, q += 16) {
    for (int r = 1; r < rounds; ++r) s = _mm_aesenc_si128(s, RoundKey(rk, r));
    const __m128i c = _mm_aesenclast_si128(s, last);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(q), c);
    if (i + 1 == blocks) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(chain), c);
      return;
    }
    s = _mm_aesenclast_si128(s, _mm_xor_si128(last, _mm_xor_si128(first, load(p + 16))));
  }
}

// CBC-deciphers whole blocks, eight at a time so the instruction latencies overlap. chain holds
// the chaining value on entry and the last ciphertext block on return. Each group is read
// completely before it is written, so p may equal q.
KRYVANE_AES_TARGET void HardwareDecryptCbc(const uint32_t* dk, int rounds, const uint8_t* p,
                                           uint8_t* q, std::size_t blocks, uint8_t* chain) {
  constexpr std::size_t kLanes = 8;
  const auto load = [](const uint8_t* a) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(a));
  };
  __m128i prev = load(chain);
  std::size_t i = 0;
  for (; i + kLanes <= blocks; i += kLanes, p += 16 * kLanes, q += 16 * kLanes) {
    __m128i c[kLanes];
    __m128i s[kLanes];
    __m128i k = RoundKey(dk, rounds);
#pragma GCC unroll 8
    for (std::size_t j = 0; j < kLanes; ++j) {
      c[j] = load(p + 16 * j);
      s[j] = _mm_xor_si128(c[j], k);
    }
    for (int r = rounds - 1; r > 0; --r) {
      k = RoundKey(dk, r);
#pragma GCC unroll 8
      for (std::size_t j = 0; j < kLanes; ++j) s[j] = _mm_aesdec_si128(s[j], k);
    }
    k = RoundKey(dk, 0);
#pragma GCC unroll 8
    for (std::size_t j = 0; j < kLanes; ++j) {
      s[j] = _mm_aesdeclast_si128(s[j], k);
      s[j] = _mm_xor_si128(s[j], j == 0 ? prev : c[j - 1]);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(q + 16 * j), s[j]);
    }
    prev = c[kLanes - 1];
  }
  for (; i < blocks; ++i, p += 16, q += 16) {
    const __m128i c = load(p);
    __m128i s = _mm_xor_si128(c, RoundKey(dk, rounds));
    for (int r = rounds - 1; r > 0; --r) s = _mm_aesdec_si128(s, RoundKey(dk, r));
    s = _mm_aesdeclast_si128(s, RoundKey(dk, 0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(q), _mm_xor_si128(s, prev));
    prev = c;
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(chain), prev);
}

#endif

#ifdef KRYVANE_HAVE_VAES
// Four blocks deciphered in one register.
template <int kRounds>
KRYVANE_VAES_TARGET inline __m512i VaesDecrypt(const __m512i* k, __m512i s) {
  s = _mm512_xor_si512(s, k[kRounds]);
#pragma GCC unroll 14
  for (int r = kRounds - 1; r > 0; --r) s = _mm512_aesdec_epi128(s, k[r]);
  return _mm512_aesdeclast_epi128(s, k[0]);
}

// CBC decryption four blocks per 512-bit register, kRounds known at compile time so that every
// round key stays in a register. Each group is read completely before it is written, so p may
// equal q.
template <int kRounds>
KRYVANE_VAES_TARGET void VaesDecryptCbc(const uint32_t* dk, const uint8_t* p, uint8_t* q,
                                        std::size_t blocks, uint8_t* chain) {
  constexpr std::size_t kRegs = 8;  // 32 blocks in flight hide the instruction latency
  __m512i k[kRounds + 1];
  for (int r = 0; r <= kRounds; ++r) {
    k[r] = _mm512_broadcast_i32x4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(dk + 4 * r)));
  }
  // The previous ciphertext block sits in the top 128 bits of prev.
  __m512i prev = _mm512_inserti32x4(_mm512_setzero_si512(),
                                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(chain)), 3);
  std::size_t i = 0;
  for (; i + 4 * kRegs <= blocks; i += 4 * kRegs, p += 64 * kRegs, q += 64 * kRegs) {
    __m512i c[kRegs], s[kRegs];
#pragma GCC unroll 8
    for (std::size_t j = 0; j < kRegs; ++j) c[j] = _mm512_loadu_si512(p + 64 * j);
#pragma GCC unroll 8
    for (std::size_t j = 0; j < kRegs; ++j) s[j] = _mm512_xor_si512(c[j], k[kRounds]);
#pragma GCC unroll 14
    for (int r = kRounds - 1; r > 0; --r) {
#pragma GCC unroll 8
      for (std::size_t j = 0; j < kRegs; ++j) s[j] = _mm512_aesdec_epi128(s[j], k[r]);
    }
#pragma GCC unroll 8
    for (std::size_t j = 0; j < kRegs; ++j) {
      s[j] = _mm512_aesdeclast_epi128(s[j], k[0]);
      // Blocks 4j-1 .. 4j+2: the last block of the previous register and the first three of c[j].
      const __m512i before = _mm512_alignr_epi64(c[j], j == 0 ? prev : c[j - 1], 6);
      _mm512_storeu_si512(q + 64 * j, _mm512_xor_si512(s[j], before));
    }
    prev = c[kRegs - 1];
  }
  for (; i + 4 <= blocks; i += 4, p += 64, q += 64) {
    const __m512i c = _mm512_loadu_si512(p);
    const __m512i s = VaesDecrypt<kRounds>(k, c);
    _mm512_storeu_si512(q, _mm512_xor_si512(s, _mm512_alignr_epi64(c, prev, 6)));
    prev = c;
  }
  __m128i prev1 = _mm512_extracti32x4_epi32(prev, 3);
  for (; i < blocks; ++i, p += 16, q += 16) {
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i s = _mm512_castsi512_si128(VaesDecrypt<kRounds>(k, _mm512_castsi128_si512(c)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(q), _mm_xor_si128(s, prev1));
    prev1 = c;
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(chain), prev1);
  SecureZeroObject(k);
}
#endif

}  // namespace

bool Rijndael::SelfTest() {
  // 128 and 256 bits: known answers from the algorithm's submission tables; 192 bits: FIPS-197
  // Appendix C.2.
  static constexpr uint8_t kKey128[16] = {0x00, 0x01, 0x02, 0x03, 0x05, 0x06, 0x07, 0x08,
                                          0x0A, 0x0B, 0x0C, 0x0D, 0x0F, 0x10, 0x11, 0x12};
  static constexpr uint8_t kPlain128[16] = {0x50, 0x68, 0x12, 0xA4, 0x5F, 0x08, 0xC8, 0x89,
                                            0xB9, 0x7F, 0x59, 0x80, 0x03, 0x8B, 0x83, 0x59};
  static constexpr uint8_t kCipher128[16] = {0xD8, 0xF5, 0x32, 0x53, 0x82, 0x89, 0xEF, 0x7D,
                                             0x06, 0xB5, 0x06, 0xA4, 0xFD, 0x5B, 0xE9, 0xC9};
  static constexpr uint8_t kKey192[24] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07,
                                          0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F,
                                          0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17};
  static constexpr uint8_t kPlain192[16] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                            0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
  static constexpr uint8_t kCipher192[16] = {0xDD, 0xA9, 0x7C, 0xA4, 0x86, 0x4C, 0xDF, 0xE0,
                                             0x6E, 0xAF, 0x70, 0xA0, 0xEC, 0x0D, 0x71, 0x91};
  static constexpr uint8_t kKey256[32] = {0x00, 0x01, 0x02, 0x03, 0x05, 0x06, 0x07, 0x08,
                                          0x0A, 0x0B, 0x0C, 0x0D, 0x0F, 0x10, 0x11, 0x12,
                                          0x14, 0x15, 0x16, 0x17, 0x19, 0x1A, 0x1B, 0x1C,
                                          0x1E, 0x1F, 0x20, 0x21, 0x23, 0x24, 0x25, 0x26};
  static constexpr uint8_t kPlain256[16] = {0x5E, 0x25, 0xCA, 0x78, 0xF0, 0xDE, 0x55, 0x80,
                                            0x25, 0x24, 0xD3, 0x8D, 0xA3, 0xFE, 0x44, 0x56};
  static constexpr uint8_t kCipher256[16] = {0xE8, 0xB7, 0x2B, 0x4E, 0x8B, 0xE2, 0x43, 0x43,
                                             0x8C, 0x9F, 0xFF, 0x1F, 0x0E, 0x20, 0x58, 0x72};
  bool ok = BlockKnownAnswer<Rijndael>(kKey128, 128, kPlain128, kCipher128);
  ok &= BlockKnownAnswer<Rijndael>(kKey192, 192, kPlain192, kCipher192);
  ok &= BlockKnownAnswer<Rijndael>(kKey256, 256, kPlain256, kCipher256);
  return ok;
}

void Rijndael::ExpandKey(const uint8_t* key, uint32_t bits) {
  const std::size_t used = bits / 8;  // a trailing half byte is ignored
  std::array<uint8_t, 32> padded{};
  std::memcpy(padded.data(), key, used);
  const int nk = used <= 16 ? 4 : used <= 24 ? 6 : 8;
  rounds_ = nk + 6;
  const int words = 4 * (rounds_ + 1);

  for (int i = 0; i < nk; ++i) enc_[i] = LoadLe32(padded.data() + 4 * i);
  uint8_t rcon = 0x01;
  for (int i = nk; i < words; ++i) {
    uint32_t t = enc_[i - 1];
    if (i % nk == 0) {
      t = SubWord(std::rotr(t, 8)) ^ rcon;  // RotWord moves byte 1 to the front
      rcon = XTime(rcon);
    } else if (nk > 6 && i % nk == 4) {
      t = SubWord(t);
    }
    enc_[i] = enc_[i - nk] ^ t;
  }
  SecureZeroObject(padded);

  dec_ = enc_;
  for (int i = 4; i < 4 * rounds_; ++i) dec_[i] = InvMixColumn(dec_[i]);

  const cpu::Plan plan = PlannedPaths();
  isa_ = PathFor(plan.decrypt);
  encIsa_ = std::min(PathFor(plan.encrypt), cpu::Isa::kSse2);
}

cpu::Isa Rijndael::PathFor(uint32_t features) {
  const auto has = [features](uint32_t f) { return (features & f) == f; };
  cpu::Isa isa = cpu::Isa::kPortable;
#ifdef KRYVANE_HAVE_AES_INSTRUCTIONS
  if (has(cpu::kAesNi | cpu::kSse41)) isa = cpu::Isa::kSse2;
  if (has(cpu::kAesNi | cpu::kSse41 | cpu::kAvx2 | cpu::kAvx512 | cpu::kVaes)) {
    isa = cpu::Isa::kAvx512;
  }
#else
  (void)has;
#endif
  return isa;
}

void Rijndael::EncryptBlockImpl(const uint8_t* in, uint8_t* out) const {
#ifdef KRYVANE_HAVE_AES_INSTRUCTIONS
  if (encIsa_ != cpu::Isa::kPortable) return HardwareEncrypt(enc_.data(), rounds_, in, out);
#endif
  TableEncrypt(enc_.data(), rounds_, in, out);
}

void Rijndael::DecryptBlockImpl(const uint8_t* in, uint8_t* out) const {
#ifdef KRYVANE_HAVE_AES_INSTRUCTIONS
  if (isa_ != cpu::Isa::kPortable) return HardwareDecrypt(dec_.data(), rounds_, in, out);
#endif
  TableDecrypt(dec_.data(), rounds_, in, out);
}

void Rijndael::EncryptCbcImpl(const uint8_t* in, uint8_t* out, std::size_t n, uint8_t* cv) const {
#ifdef KRYVANE_HAVE_AES_INSTRUCTIONS
  // Encryption is one serial chain: wider registers do not help it.
  if (encIsa_ != cpu::Isa::kPortable)
    return HardwareEncryptCbc(enc_.data(), rounds_, in, out, n, cv);
#endif
  for (std::size_t i = 0; i < n; ++i, in += 16, out += 16) {
    for (int j = 0; j < 16; ++j) cv[j] ^= in[j];
    TableEncrypt(enc_.data(), rounds_, cv, cv);
    std::memcpy(out, cv, 16);
  }
}

void Rijndael::DecryptCbcImpl(const uint8_t* in, uint8_t* out, std::size_t n, uint8_t* cv) const {
#ifdef KRYVANE_HAVE_VAES
  if (isa_ == cpu::Isa::kAvx512) {
    switch (rounds_) {
      case 10:
        return VaesDecryptCbc<10>(dec_.data(), in, out, n, cv);
      case 12:
        return VaesDecryptCbc<12>(dec_.data(), in, out, n, cv);
      default:
        return VaesDecryptCbc<14>(dec_.data(), in, out, n, cv);
    }
  }
#endif
#ifdef KRYVANE_HAVE_AES_INSTRUCTIONS
  if (isa_ != cpu::Isa::kPortable) return HardwareDecryptCbc(dec_.data(), rounds_, in, out, n, cv);
#endif
  uint8_t c[16], d[16];
  for (std::size_t i = 0; i < n; ++i, in += 16, out += 16) {
    std::memcpy(c, in, 16);  // before out, which may be in, is written
    TableDecrypt(dec_.data(), rounds_, c, d);
    for (int j = 0; j < 16; ++j) out[j] = uint8_t(d[j] ^ cv[j]);
    std::memcpy(cv, c, 16);
  }
  SecureZeroObject(d);
}

void Rijndael::WipeKey() {
  rounds_ = 0;
  isa_ = cpu::Isa::kPortable;
  encIsa_ = cpu::Isa::kPortable;
  enc_.Wipe();
  dec_.Wipe();
}

}  // namespace kryvane
