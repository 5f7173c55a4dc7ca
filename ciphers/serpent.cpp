#include "ciphers/serpent.h"

#include <cstring>

namespace kryvane {
namespace {

// The S-boxes and their inverses in bitslice form: bit j of the four words is one 4-bit input
// (word 0 the least significant bit), so one call substitutes all 32 columns. Each output bit is
// written as its algebraic normal form, derived mechanically from the S-box tables.
// clang-format off
inline void S0(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3) {
  const uint32_t a = x0, b = x1, c = x2, d = x3;
  const uint32_t ab = a & b;
  const uint32_t ac = a & c;
  const uint32_t bc = b & c;
  const uint32_t ad = a & d;
  const uint32_t bd = b & d;
  const uint32_t abc = a & b & c;
  const uint32_t acd = a & c & d;
  const uint32_t bcd = b & c & d;
  x0 = ~(a ^ ab ^ c ^ ac ^ bc ^ abc ^ d ^ acd ^ bcd);
  x1 = ~(a ^ ac ^ bc ^ abc ^ bd ^ acd ^ bcd);
  x2 = b ^ ab ^ ac ^ abc ^ d ^ bd ^ bcd;
  x3 = a ^ b ^ c ^ d ^ ad;
}

inline void InvS0(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3) {
  const uint32_t a = x0, b = x1, c = x2, d = x3;
  const uint32_t ab = a & b;
  const uint32_t ac = a & c;
  const uint32_t bc = b & c;
  const uint32_t ad = a & d;
  const uint32_t bd = b & d;
  const uint32_t cd = c & d;
  const uint32_t abd = a & b & d;
  const uint32_t acd = a & c & d;
  const uint32_t bcd = b & c & d;
  x0 = ~(ab ^ c ^ bc ^ ad ^ bd ^ abd ^ cd ^ acd ^ bcd);
  x1 = a ^ b ^ c ^ ac ^ bd ^ acd ^ bcd;
  x2 = ~(a ^ b ^ ab ^ c ^ d);
  x3 = ~(a ^ bc ^ d ^ abd ^ cd ^ acd ^ bcd);
}

inline void S1(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3) {
  const uint32_t a = x0, b = x1, c = x2, d = x3;
  const uint32_t ab = a & b;
  const uint32_t ac = a & c;
  const uint32_t bc = b & c;
  const uint32_t ad = a & d;
  const uint32_t bd = b & d;
  const uint32_t cd = c & d;
  const uint32_t abd = a & b & d;
  const uint32_t acd = a & c & d;
  const uint32_t bcd = b & c & d;
  x0 = ~(a ^ b ^ bc ^ ad ^ cd ^ acd ^ bcd);
  x1 = ~(a ^ ab ^ c ^ ac ^ d ^ bd ^ abd ^ acd ^ bcd);
  x2 = ~(b ^ ab ^ c ^ d);
  x3 = ~(b ^ ac ^ d ^ ad ^ abd ^ acd ^ bcd);
}

inline void InvS1(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3) {
  const uint32_t a = x0, b = x1, c = x2, d = x3;
  const uint32_t ab = a & b;
  const uint32_t ac = a & c;
  const uint32_t bc = b & c;
  const uint32_t ad = a & d;
  const uint32_t bd = b & d;
  const uint32_t abc = a & b & c;
  const uint32_t acd = a & c & d;
  const uint32_t bcd = b & c & d;
  x0 = ~(a ^ b ^ ab ^ abc ^ bd ^ acd ^ bcd);
  x1 = b ^ c ^ abc ^ d ^ ad ^ bd ^ acd ^ bcd;
  x2 = ~(a ^ b ^ ac ^ bc ^ abc ^ d ^ acd);
  x3 = a ^ c ^ d ^ bd;
}

inline void S2(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3) {
  const uint32_t a = x0, b = x1, c = x2, d = x3;
  const uint32_t ac = a & c;
  const uint32_t bc = b & c;
  const uint32_t ad = a & d;
  const uint32_t bd = b & d;
  const uint32_t cd = c & d;
  const uint32_t abc = a & b & c;
  const uint32_t abd = a & b & d;
  const uint32_t acd = a & c & d;
  x0 = b ^ c ^ ac ^ d;
  x1 = a ^ b ^ c ^ bc ^ abc ^ ad ^ abd ^ cd ^ acd;
  x2 = a ^ b ^ bc ^ d ^ bd ^ abd ^ cd ^ acd;
  x3 = ~(a ^ b ^ c ^ abc ^ bd);
}

inline void InvS2(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3) {
  const uint32_t a = x0, b = x1, c = x2, d = x3;
  const uint32_t ab = a & b;
  const uint32_t bc = b & c;
  const uint32_t ad = a & d;
  const uint32_t bd = b & d;
  const uint32_t cd = c & d;
  const uint32_t abc = a & b & c;
  const uint32_t abd = a & b & d;
  const uint32_t acd = a & c & d;
  x0 = a ^ b ^ c ^ bc ^ bd;
  x1 = b ^ ab ^ c ^ ad ^ abd ^ cd ^ acd;
  x2 = ~(a ^ ab ^ c ^ d ^ ad ^ bd ^ abd ^ acd);
  x3 = ~(ab ^ bc ^ abc ^ d ^ acd);
}

inline void S3(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3) {
  const uint32_t a = x0, b = x1, c = x2, d = x3;
  const uint32_t ab = a & b;
  const uint32_t ac = a & c;
  const uint32_t bc = b & c;
  const uint32_t ad = a & d;
  const uint32_t bd = b & d;
  const uint32_t cd = c & d;
  const uint32_t abc = a & b & c;
  const uint32_t abd = a & b & d;
  const uint32_t acd = a & c & d;
  const uint32_t bcd = b & c & d;
  x0 = a ^ b ^ bc ^ d ^ ad ^ cd ^ acd ^ bcd;
  x1 = a ^ b ^ ac ^ ad ^ abd ^ cd ^ acd;
  x2 = a ^ ab ^ c ^ abc ^ d ^ bd ^ abd;
  x3 = a ^ b ^ ab ^ c ^ ac ^ abc ^ d ^ cd ^ acd;
}

inline void InvS3(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3) {
  const uint32_t a = x0, b = x1, c = x2, d = x3;
  const uint32_t ab = a & b;
  const uint32_t ac = a & c;
  const uint32_t bc = b & c;
  const uint32_t ad = a & d;
  const uint32_t bd = b & d;
  const uint32_t cd = c & d;
  const uint32_t abc = a & b & c;
  const uint32_t abd = a & b & d;
  const uint32_t acd = a & c & d;
  const uint32_t bcd = b & c & d;
  x0 = a ^ c ^ bc ^ d ^ ad ^ bd ^ bcd;
  x1 = b ^ c ^ bc ^ abc ^ d ^ ad ^ acd ^ bcd;
  x2 = ab ^ ac ^ bc ^ ad ^ bd ^ abd ^ cd ^ acd;
  x3 = a ^ b ^ c ^ ac ^ abc ^ ad ^ abd ^ cd;
}

inline void S4(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3) {
  const uint32_t a = x0, b = x1, c = x2, d = x3;
  const uint32_t ab = a & b;
  const uint32_t ac = a & c;
  const uint32_t bc = b & c;
  const uint32_t ad = a & d;
  const uint32_t bd = b & d;
  const uint32_t cd = c & d;
  const uint32_t abc = a & b & c;
  const uint32_t abd = a & b & d;
  const uint32_t acd = a & c & d;
  const uint32_t bcd = b & c & d;
  x0 = ~(b ^ ab ^ c ^ d ^ ad ^ bd);
  x1 = a ^ ac ^ bc ^ d ^ bd ^ cd ^ acd ^ bcd;
  x2 = a ^ ab ^ c ^ bc ^ abc ^ bd ^ abd ^ cd ^ bcd;
  x3 = a ^ b ^ c ^ bc ^ ad ^ bd ^ abd;
}

inline void InvS4(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3) {
  const uint32_t a = x0, b = x1, c = x2, d = x3;
  const uint32_t ab = a & b;
  const uint32_t ac = a & c;
  const uint32_t ad = a & d;
  const uint32_t bd = b & d;
  const uint32_t cd = c & d;
  const uint32_t abc = a & b & c;
  const uint32_t abd = a & b & d;
  const uint32_t acd = a & c & d;
  x0 = ~(a ^ b ^ c ^ d ^ ad ^ abd ^ cd ^ acd);
  x1 = ab ^ c ^ ac ^ d ^ ad ^ acd;
  x2 = ~(a ^ b ^ ab ^ c ^ ac ^ abc ^ d ^ bd ^ abd);
  x3 = b ^ ab ^ c ^ ad ^ abd ^ cd;
}

inline void S5(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3) {
  const uint32_t a = x0, b = x1, c = x2, d = x3;
  const uint32_t ab = a & b;
  const uint32_t ac = a & c;
  const uint32_t ad = a & d;
  const uint32_t bd = b & d;
  const uint32_t cd = c & d;
  const uint32_t abc = a & b & c;
  const uint32_t abd = a & b & d;
  const uint32_t acd = a & c & d;
  const uint32_t bcd = b & c & d;
  x0 = ~(b ^ ab ^ c ^ d ^ ad ^ bd);
  x1 = ~(a ^ ab ^ c ^ d ^ bd ^ abd ^ cd);
  x2 = ~(b ^ ac ^ d ^ abd ^ cd ^ acd ^ bcd);
  x3 = ~(a ^ b ^ c ^ abc ^ d ^ ad ^ acd);
}

inline void InvS5(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3) {
  const uint32_t a = x0, b = x1, c = x2, d = x3;
  const uint32_t ab = a & b;
  const uint32_t ac = a & c;
  const uint32_t bc = b & c;
  const uint32_t ad = a & d;
  const uint32_t bd = b & d;
  const uint32_t abc = a & b & c;
  const uint32_t abd = a & b & d;
  const uint32_t acd = a & c & d;
  x0 = a ^ bc ^ d ^ abd;
  x1 = a ^ b ^ ac ^ bc ^ abc ^ d ^ ad ^ abd;
  x2 = a ^ ab ^ c ^ bd ^ abd ^ acd;
  x3 = ~(b ^ ab ^ c ^ abc ^ ad);
}

inline void S6(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3) {
  const uint32_t a = x0, b = x1, c = x2, d = x3;
  const uint32_t ab = a & b;
  const uint32_t ac = a & c;
  const uint32_t bc = b & c;
  const uint32_t ad = a & d;
  const uint32_t bd = b & d;
  const uint32_t cd = c & d;
  const uint32_t abc = a & b & c;
  const uint32_t abd = a & b & d;
  const uint32_t bcd = b & c & d;
  x0 = ~(a ^ b ^ c ^ ac ^ bc ^ abc ^ d ^ abd ^ bcd);
  x1 = ~(b ^ c ^ ad);
  x2 = ~(a ^ ab ^ c ^ bc ^ abc ^ bd ^ abd ^ cd ^ bcd);
  x3 = b ^ ab ^ c ^ ac ^ abc ^ d ^ cd ^ bcd;
}

inline void InvS6(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3) {
  const uint32_t a = x0, b = x1, c = x2, d = x3;
  const uint32_t ab = a & b;
  const uint32_t ac = a & c;
  const uint32_t bc = b & c;
  const uint32_t ad = a & d;
  const uint32_t bd = b & d;
  const uint32_t cd = c & d;
  const uint32_t abc = a & b & c;
  const uint32_t abd = a & b & d;
  const uint32_t bcd = b & c & d;
  x0 = ~(a ^ ab ^ ac ^ bc ^ abc ^ d ^ abd ^ bcd);
  x1 = ~(b ^ c ^ ac ^ d);
  x2 = ~(a ^ b ^ bc ^ bd ^ abd ^ cd ^ bcd);
  x3 = ~(b ^ ab ^ c ^ bc ^ abc ^ d ^ ad ^ abd ^ cd ^ bcd);
}

inline void S7(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3) {
  const uint32_t a = x0, b = x1, c = x2, d = x3;
  const uint32_t ab = a & b;
  const uint32_t ac = a & c;
  const uint32_t bc = b & c;
  const uint32_t ad = a & d;
  const uint32_t bd = b & d;
  const uint32_t cd = c & d;
  const uint32_t abc = a & b & c;
  const uint32_t abd = a & b & d;
  const uint32_t acd = a & c & d;
  const uint32_t bcd = b & c & d;
  x0 = ~(ab ^ c ^ ad ^ bd ^ cd ^ acd ^ bcd);
  x1 = b ^ ab ^ c ^ ac ^ bc ^ d ^ ad ^ abd ^ acd;
  x2 = a ^ b ^ c ^ abc ^ d ^ ad ^ bd ^ abd ^ bcd;
  x3 = a ^ b ^ c ^ ac ^ abc ^ ad;
}

inline void InvS7(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3) {
  const uint32_t a = x0, b = x1, c = x2, d = x3;
  const uint32_t ab = a & b;
  const uint32_t ac = a & c;
  const uint32_t bc = b & c;
  const uint32_t ad = a & d;
  const uint32_t bd = b & d;
  const uint32_t cd = c & d;
  const uint32_t abc = a & b & c;
  const uint32_t abd = a & b & d;
  const uint32_t acd = a & c & d;
  const uint32_t bcd = b & c & d;
  x0 = ~(a ^ b ^ bc ^ bd ^ abd ^ cd ^ bcd);
  x1 = ~(a ^ c ^ bc ^ d ^ ad ^ bd ^ acd ^ bcd);
  x2 = b ^ ac ^ d ^ abd ^ cd ^ acd;
  x3 = ab ^ c ^ abc ^ ad ^ bd ^ abd;
}
// clang-format on

inline void LinearTransform(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3) {
  x0 = Rotl32(x0, 13);
  x2 = Rotl32(x2, 3);
  x1 ^= x0 ^ x2;
  x3 ^= x2 ^ (x0 << 3);
  x1 = Rotl32(x1, 1);
  x3 = Rotl32(x3, 7);
  x0 ^= x1 ^ x3;
  x2 ^= x3 ^ (x1 << 7);
  x0 = Rotl32(x0, 5);
  x2 = Rotl32(x2, 22);
}

inline void InverseLinearTransform(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3) {
  x2 = Rotr32(x2, 22);
  x0 = Rotr32(x0, 5);
  x2 ^= x3 ^ (x1 << 7);
  x0 ^= x1 ^ x3;
  x3 = Rotr32(x3, 7);
  x1 = Rotr32(x1, 1);
  x3 ^= x2 ^ (x0 << 3);
  x1 ^= x0 ^ x2;
  x2 = Rotr32(x2, 3);
  x0 = Rotr32(x0, 13);
}

using SBoxFn = void (*)(uint32_t&, uint32_t&, uint32_t&, uint32_t&);
constexpr SBoxFn kSBoxes[8] = {S0, S1, S2, S3, S4, S5, S6, S7};

}  // namespace

bool Serpent::SelfTest() {
  struct Vector {
    uint8_t key[32];
    uint32_t bits;
    uint8_t cipher[16];
  };
  static constexpr uint8_t kPlain[16] = {0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE,
                                         0xEF, 0xCD, 0xAB, 0x89, 0x67, 0x45, 0x23, 0x01};
  // clang-format off
  static constexpr Vector kVectors[3] = {
      {{0xFF, 0xEE, 0xDD, 0xCC, 0xBB, 0xAA, 0x99, 0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11, 0x00},
       128,
       {0xD5, 0xBA, 0xA0, 0x0A, 0x4B, 0xB9, 0xD8, 0xA7, 0xC9, 0x81, 0xC8, 0xDC, 0x90, 0xD8, 0x9D, 0x92}},
      {{0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0xFF, 0xEE, 0xDD, 0xCC, 0xBB, 0xAA, 0x99, 0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11, 0x00},
       192,
       {0xDA, 0x86, 0x08, 0x42, 0xB7, 0x20, 0x80, 0x2B, 0xF4, 0x04, 0xA4, 0xC7, 0x10, 0x34, 0x87, 0x9A}},
      {{0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0xFF, 0xEE, 0xDD, 0xCC, 0xBB, 0xAA, 0x99, 0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11, 0x00},
       256,
       {0x93, 0xDF, 0x9A, 0x3C, 0xAF, 0xE3, 0x87, 0xBD, 0x99, 0x9E, 0xEB, 0xE3, 0x93, 0xA1, 0x7F, 0xCA}},
  };
  // clang-format on
  bool ok = true;
  try {
    // One instance for all three keys, so re-keying after Wipe is exercised as well.
    Serpent c;
    uint8_t buf[16];
    for (const Vector& v : kVectors) {
      c.Init(v.key, v.bits);
      c.EncryptBlock(kPlain, buf);
      ok = ok && std::memcmp(buf, v.cipher, 16) == 0;
      c.DecryptBlock(buf, buf);
      c.Wipe();
      ok = ok && std::memcmp(buf, kPlain, 16) == 0;
    }
  } catch (...) {
    return false;
  }
  return ok;
}

void Serpent::ExpandKey(const uint8_t* key, uint32_t bits) {
  // w[0..7] are the prekey words w-8..w-1, w[8 + i] is w(i).
  uint32_t w[8 + 132] = {};
  uint8_t bytes[32] = {};
  std::memcpy(bytes, key, bits / 8);
  for (int i = 0; i < 8; ++i) w[i] = LoadLe32(bytes + 4 * i);
  if (bits < 256) {
    uint32_t& word = w[bits / 32];
    const uint32_t bit = uint32_t{1} << (bits % 32);
    word = (word & (bit - 1)) | bit;
  }
  for (uint32_t i = 0; i < 132; ++i) {
    w[8 + i] = Rotl32(w[i] ^ w[i + 3] ^ w[i + 5] ^ w[i + 7] ^ 0x9E3779B9u ^ i, 11);
  }
  for (int i = 0; i <= kRounds; ++i) {
    uint32_t* k = w + 8 + 4 * i;
    kSBoxes[(3 - i + 32) % 8](k[0], k[1], k[2], k[3]);
    subKeys_[i] = {k[0], k[1], k[2], k[3]};
  }
  SecureZeroObject(w);
  SecureZeroObject(bytes);
}

// clang-format off
#define SERPENT_KEY(i) \
  x0 ^= subKeys_[i][0]; x1 ^= subKeys_[i][1]; x2 ^= subKeys_[i][2]; x3 ^= subKeys_[i][3];
#define SERPENT_ROUND(i, S) SERPENT_KEY(i) S(x0, x1, x2, x3); LinearTransform(x0, x1, x2, x3);
#define SERPENT_INV_ROUND(i, S) InverseLinearTransform(x0, x1, x2, x3); S(x0, x1, x2, x3); SERPENT_KEY(i)
#define SERPENT_SEVEN(r) \
  SERPENT_ROUND(r, S0) SERPENT_ROUND(r + 1, S1) SERPENT_ROUND(r + 2, S2) SERPENT_ROUND(r + 3, S3) \
  SERPENT_ROUND(r + 4, S4) SERPENT_ROUND(r + 5, S5) SERPENT_ROUND(r + 6, S6)
#define SERPENT_INV_SEVEN(r) \
  SERPENT_INV_ROUND(r + 6, InvS6) SERPENT_INV_ROUND(r + 5, InvS5) SERPENT_INV_ROUND(r + 4, InvS4) \
  SERPENT_INV_ROUND(r + 3, InvS3) SERPENT_INV_ROUND(r + 2, InvS2) SERPENT_INV_ROUND(r + 1, InvS1) \
  SERPENT_INV_ROUND(r, InvS0)

void Serpent::EncryptBlockImpl(const uint8_t* in, uint8_t* out) const {
  uint32_t x0 = LoadLe32(in), x1 = LoadLe32(in + 4), x2 = LoadLe32(in + 8), x3 = LoadLe32(in + 12);
  SERPENT_SEVEN(0)  SERPENT_ROUND(7, S7)
  SERPENT_SEVEN(8)  SERPENT_ROUND(15, S7)
  SERPENT_SEVEN(16) SERPENT_ROUND(23, S7)
  SERPENT_SEVEN(24)
  // The last round replaces the linear transformation with the final subkey.
  SERPENT_KEY(31) S7(x0, x1, x2, x3); SERPENT_KEY(32)
  StoreLe32(out, x0);
  StoreLe32(out + 4, x1);
  StoreLe32(out + 8, x2);
  StoreLe32(out + 12, x3);
}

void Serpent::DecryptBlockImpl(const uint8_t* in, uint8_t* out) const {
  uint32_t x0 = LoadLe32(in), x1 = LoadLe32(in + 4), x2 = LoadLe32(in + 8), x3 = LoadLe32(in + 12);
  SERPENT_KEY(32) InvS7(x0, x1, x2, x3); SERPENT_KEY(31)
  SERPENT_INV_SEVEN(24)
  SERPENT_INV_ROUND(23, InvS7) SERPENT_INV_SEVEN(16)
  SERPENT_INV_ROUND(15, InvS7) SERPENT_INV_SEVEN(8)
  SERPENT_INV_ROUND(7, InvS7)  SERPENT_INV_SEVEN(0)
  StoreLe32(out, x0);
  StoreLe32(out + 4, x1);
  StoreLe32(out + 8, x2);
  StoreLe32(out + 12, x3);
}
// clang-format on

#undef SERPENT_KEY
#undef SERPENT_ROUND
#undef SERPENT_INV_ROUND
#undef SERPENT_SEVEN
#undef SERPENT_INV_SEVEN

void Serpent::WipeKey() {
  SecureZeroObject(subKeys_);
}

}  // namespace kryvane
