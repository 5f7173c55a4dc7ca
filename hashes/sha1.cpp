#include "hashes/sha1.h"

namespace kryvane {

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

void Sha1::Compress(const uint8_t* block) {
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
