#include "hashes/md5.h"

namespace kryvane {

bool Md5::SelfTest() {
  static constexpr uint8_t kAbc[] = {0x90, 0x01, 0x50, 0x98, 0x3c, 0xd2, 0x4f, 0xb0,
                                     0xd6, 0x96, 0x3f, 0x7d, 0x28, 0xe1, 0x7f, 0x72};
  static constexpr uint8_t kAlphabet[] = {0xc3, 0xfc, 0xd3, 0xd7, 0x61, 0x92, 0xe4, 0x00,
                                          0x7d, 0xfb, 0x49, 0x6c, 0xca, 0x67, 0xe1, 0x3b};
  return HashKnownAnswer<Md5>("abc", kAbc, "abcdefghijklmnopqrstuvwxyz", kAlphabet);
}

// clang-format off
#define MD5_F(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define MD5_H(x, y, z) ((x) ^ ((y) ^ (z)))
#define MD5_I(x, y, z) ((y) ^ ((x) | ~(z)))
// b, the word the previous step just made, is the one on the serial chain: everything that does
// not need it is added in first.
#define MD5_STEP(f, a, b, c, d, k, s, t) a += x[k] + t; a = b + Rotl32(a + f(b, c, d), s);
// G(b, c, d) = (b & d) | (c & ~d), whose two terms never share a bit: as a sum, the term
// without b joins the early additions and only b & d is left on the chain.
#define MD5_STEP_G(a, b, c, d, k, s, t) a += x[k] + t + ((c) & ~(d)); a = b + Rotl32(a + ((b) & (d)), s);
// clang-format on

void Md5::Compress(const uint8_t* block) {
  uint32_t x[16];
  for (int i = 0; i < 16; ++i) x[i] = LoadWord(block + 4 * i);
  uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
  // clang-format off
  MD5_STEP(MD5_F, a, b, c, d,  0,  7, 0xD76AA478u)
  MD5_STEP(MD5_F, d, a, b, c,  1, 12, 0xE8C7B756u)
  MD5_STEP(MD5_F, c, d, a, b,  2, 17, 0x242070DBu)
  MD5_STEP(MD5_F, b, c, d, a,  3, 22, 0xC1BDCEEEu)
  MD5_STEP(MD5_F, a, b, c, d,  4,  7, 0xF57C0FAFu)
  MD5_STEP(MD5_F, d, a, b, c,  5, 12, 0x4787C62Au)
  MD5_STEP(MD5_F, c, d, a, b,  6, 17, 0xA8304613u)
  MD5_STEP(MD5_F, b, c, d, a,  7, 22, 0xFD469501u)
  MD5_STEP(MD5_F, a, b, c, d,  8,  7, 0x698098D8u)
  MD5_STEP(MD5_F, d, a, b, c,  9, 12, 0x8B44F7AFu)
  MD5_STEP(MD5_F, c, d, a, b, 10, 17, 0xFFFF5BB1u)
  MD5_STEP(MD5_F, b, c, d, a, 11, 22, 0x895CD7BEu)
  MD5_STEP(MD5_F, a, b, c, d, 12,  7, 0x6B901122u)
  MD5_STEP(MD5_F, d, a, b, c, 13, 12, 0xFD987193u)
  MD5_STEP(MD5_F, c, d, a, b, 14, 17, 0xA679438Eu)
  MD5_STEP(MD5_F, b, c, d, a, 15, 22, 0x49B40821u)
  MD5_STEP_G(a, b, c, d,  1,  5, 0xF61E2562u)
  MD5_STEP_G(d, a, b, c,  6,  9, 0xC040B340u)
  MD5_STEP_G(c, d, a, b, 11, 14, 0x265E5A51u)
  MD5_STEP_G(b, c, d, a,  0, 20, 0xE9B6C7AAu)
  MD5_STEP_G(a, b, c, d,  5,  5, 0xD62F105Du)
  MD5_STEP_G(d, a, b, c, 10,  9, 0x02441453u)
  MD5_STEP_G(c, d, a, b, 15, 14, 0xD8A1E681u)
  MD5_STEP_G(b, c, d, a,  4, 20, 0xE7D3FBC8u)
  MD5_STEP_G(a, b, c, d,  9,  5, 0x21E1CDE6u)
  MD5_STEP_G(d, a, b, c, 14,  9, 0xC33707D6u)
  MD5_STEP_G(c, d, a, b,  3, 14, 0xF4D50D87u)
  MD5_STEP_G(b, c, d, a,  8, 20, 0x455A14EDu)
  MD5_STEP_G(a, b, c, d, 13,  5, 0xA9E3E905u)
  MD5_STEP_G(d, a, b, c,  2,  9, 0xFCEFA3F8u)
  MD5_STEP_G(c, d, a, b,  7, 14, 0x676F02D9u)
  MD5_STEP_G(b, c, d, a, 12, 20, 0x8D2A4C8Au)
  MD5_STEP(MD5_H, a, b, c, d,  5,  4, 0xFFFA3942u)
  MD5_STEP(MD5_H, d, a, b, c,  8, 11, 0x8771F681u)
  MD5_STEP(MD5_H, c, d, a, b, 11, 16, 0x6D9D6122u)
  MD5_STEP(MD5_H, b, c, d, a, 14, 23, 0xFDE5380Cu)
  MD5_STEP(MD5_H, a, b, c, d,  1,  4, 0xA4BEEA44u)
  MD5_STEP(MD5_H, d, a, b, c,  4, 11, 0x4BDECFA9u)
  MD5_STEP(MD5_H, c, d, a, b,  7, 16, 0xF6BB4B60u)
  MD5_STEP(MD5_H, b, c, d, a, 10, 23, 0xBEBFBC70u)
  MD5_STEP(MD5_H, a, b, c, d, 13,  4, 0x289B7EC6u)
  MD5_STEP(MD5_H, d, a, b, c,  0, 11, 0xEAA127FAu)
  MD5_STEP(MD5_H, c, d, a, b,  3, 16, 0xD4EF3085u)
  MD5_STEP(MD5_H, b, c, d, a,  6, 23, 0x04881D05u)
  MD5_STEP(MD5_H, a, b, c, d,  9,  4, 0xD9D4D039u)
  MD5_STEP(MD5_H, d, a, b, c, 12, 11, 0xE6DB99E5u)
  MD5_STEP(MD5_H, c, d, a, b, 15, 16, 0x1FA27CF8u)
  MD5_STEP(MD5_H, b, c, d, a,  2, 23, 0xC4AC5665u)
  MD5_STEP(MD5_I, a, b, c, d,  0,  6, 0xF4292244u)
  MD5_STEP(MD5_I, d, a, b, c,  7, 10, 0x432AFF97u)
  MD5_STEP(MD5_I, c, d, a, b, 14, 15, 0xAB9423A7u)
  MD5_STEP(MD5_I, b, c, d, a,  5, 21, 0xFC93A039u)
  MD5_STEP(MD5_I, a, b, c, d, 12,  6, 0x655B59C3u)
  MD5_STEP(MD5_I, d, a, b, c,  3, 10, 0x8F0CCC92u)
  MD5_STEP(MD5_I, c, d, a, b, 10, 15, 0xFFEFF47Du)
  MD5_STEP(MD5_I, b, c, d, a,  1, 21, 0x85845DD1u)
  MD5_STEP(MD5_I, a, b, c, d,  8,  6, 0x6FA87E4Fu)
  MD5_STEP(MD5_I, d, a, b, c, 15, 10, 0xFE2CE6E0u)
  MD5_STEP(MD5_I, c, d, a, b,  6, 15, 0xA3014314u)
  MD5_STEP(MD5_I, b, c, d, a, 13, 21, 0x4E0811A1u)
  MD5_STEP(MD5_I, a, b, c, d,  4,  6, 0xF7537E82u)
  MD5_STEP(MD5_I, d, a, b, c, 11, 10, 0xBD3AF235u)
  MD5_STEP(MD5_I, c, d, a, b,  2, 15, 0x2AD7D2BBu)
  MD5_STEP(MD5_I, b, c, d, a,  9, 21, 0xEB86D391u)
  // clang-format on
  state_[0] += a;
  state_[1] += b;
  state_[2] += c;
  state_[3] += d;
  // The copy of the block is message data too.
  SecureZeroObject(x);
}

}  // namespace kryvane
