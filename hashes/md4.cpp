#include "hashes/md4.h"

namespace kryvane {

bool Md4::SelfTest() {
  static constexpr uint8_t kAbc[] = {0xa4, 0x48, 0x01, 0x7a, 0xaf, 0x21, 0xd8, 0x52,
                                     0x5f, 0xc1, 0x0a, 0xe8, 0x7a, 0xa6, 0x72, 0x9d};
  static constexpr uint8_t kAlphabet[] = {0xd7, 0x9e, 0x1c, 0x30, 0x8a, 0xa5, 0xbb, 0xcd,
                                          0xee, 0xa8, 0xed, 0x63, 0xdf, 0x41, 0x2d, 0xa9};
  return HashKnownAnswer<Md4>("abc", kAbc, "abcdefghijklmnopqrstuvwxyz", kAlphabet);
}

// The message words are read where they are added, straight from the block: no copy to make and
// wipe. Round 2's majority as (c & d) + (b & (c ^ d)), two terms that never share a bit: only
// b & (c ^ d) waits for b, the newest word, and the rest is added while it is computed.
// clang-format off
#define MD4_X(k) LoadWord(block + 4 * (k))
#define MD4_F(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define MD4_H(x, y, z) ((x) ^ (y) ^ (z))
#define MD4_R1(a, b, c, d, k, s) a = Rotl32(a + MD4_X(k) + MD4_F(b, c, d), s);
#define MD4_R2(a, b, c, d, k, s) \
  a = Rotl32((a + MD4_X(k) + 0x5A827999u + ((c) & (d))) + ((b) & ((c) ^ (d))), s);
#define MD4_R3(a, b, c, d, k, s) a = Rotl32(a + MD4_X(k) + 0x6ED9EBA1u + MD4_H(b, c, d), s);
// clang-format on

void Md4::Compress(const uint8_t* block) {
  uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
  // clang-format off
  MD4_R1(a, b, c, d,  0,  3)
  MD4_R1(d, a, b, c,  1,  7)
  MD4_R1(c, d, a, b,  2, 11)
  MD4_R1(b, c, d, a,  3, 19)
  MD4_R1(a, b, c, d,  4,  3)
  MD4_R1(d, a, b, c,  5,  7)
  MD4_R1(c, d, a, b,  6, 11)
  MD4_R1(b, c, d, a,  7, 19)
  MD4_R1(a, b, c, d,  8,  3)
  MD4_R1(d, a, b, c,  9,  7)
  MD4_R1(c, d, a, b, 10, 11)
  MD4_R1(b, c, d, a, 11, 19)
  MD4_R1(a, b, c, d, 12,  3)
  MD4_R1(d, a, b, c, 13,  7)
  MD4_R1(c, d, a, b, 14, 11)
  MD4_R1(b, c, d, a, 15, 19)
  MD4_R2(a, b, c, d,  0,  3)
  MD4_R2(d, a, b, c,  4,  5)
  MD4_R2(c, d, a, b,  8,  9)
  MD4_R2(b, c, d, a, 12, 13)
  MD4_R2(a, b, c, d,  1,  3)
  MD4_R2(d, a, b, c,  5,  5)
  MD4_R2(c, d, a, b,  9,  9)
  MD4_R2(b, c, d, a, 13, 13)
  MD4_R2(a, b, c, d,  2,  3)
  MD4_R2(d, a, b, c,  6,  5)
  MD4_R2(c, d, a, b, 10,  9)
  MD4_R2(b, c, d, a, 14, 13)
  MD4_R2(a, b, c, d,  3,  3)
  MD4_R2(d, a, b, c,  7,  5)
  MD4_R2(c, d, a, b, 11,  9)
  MD4_R2(b, c, d, a, 15, 13)
  MD4_R3(a, b, c, d,  0,  3)
  MD4_R3(d, a, b, c,  8,  9)
  MD4_R3(c, d, a, b,  4, 11)
  MD4_R3(b, c, d, a, 12, 15)
  MD4_R3(a, b, c, d,  2,  3)
  MD4_R3(d, a, b, c, 10,  9)
  MD4_R3(c, d, a, b,  6, 11)
  MD4_R3(b, c, d, a, 14, 15)
  MD4_R3(a, b, c, d,  1,  3)
  MD4_R3(d, a, b, c,  9,  9)
  MD4_R3(c, d, a, b,  5, 11)
  MD4_R3(b, c, d, a, 13, 15)
  MD4_R3(a, b, c, d,  3,  3)
  MD4_R3(d, a, b, c, 11,  9)
  MD4_R3(c, d, a, b,  7, 11)
  MD4_R3(b, c, d, a, 15, 15)
  // clang-format on
  state_[0] += a;
  state_[1] += b;
  state_[2] += c;
  state_[3] += d;
}

}  // namespace kryvane
