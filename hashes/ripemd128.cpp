#include "hashes/ripemd128.h"

namespace kryvane {

bool Ripemd128::SelfTest() {
  static constexpr uint8_t kA[] = {0x86, 0xbe, 0x7a, 0xfa, 0x33, 0x9d, 0x0f, 0xc7,
                                   0xcf, 0xc7, 0x85, 0xe7, 0x2f, 0x57, 0x8d, 0x33};
  static constexpr uint8_t kAlphabet[] = {0xfd, 0x2a, 0xa6, 0x07, 0xf7, 0x1d, 0xc8, 0xf5,
                                          0x10, 0x71, 0x49, 0x22, 0xb3, 0x71, 0x83, 0x4e};
  return HashKnownAnswer<Ripemd128>("a", kA, "abcdefghijklmnopqrstuvwxyz", kAlphabet);
}

// clang-format off
#define RMD128_F(x, y, z) ((x) ^ (y) ^ (z))
// The two selects in three operations instead of four: where the selector bit is 1 the xor
// of the other two cancels one of them.
#define RMD128_G(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define RMD128_H(x, y, z) (((x) | ~(y)) ^ (z))
#define RMD128_I(x, y, z) ((y) ^ ((z) & ((x) ^ (y))))
#define RMD128_STEP(f, k, a, b, c, d, i, s) a = Rotl32(a + f(b, c, d) + x[i] + k, s);
// Left line: F, G, H, I; right line: I, H, G, F, each with its own constant.
#define L1(a, b, c, d, i, s) RMD128_STEP(RMD128_F, 0x00000000u, a, b, c, d, i, s)
#define L2(a, b, c, d, i, s) RMD128_STEP(RMD128_G, 0x5A827999u, a, b, c, d, i, s)
#define L3(a, b, c, d, i, s) RMD128_STEP(RMD128_H, 0x6ED9EBA1u, a, b, c, d, i, s)
#define L4(a, b, c, d, i, s) RMD128_STEP(RMD128_I, 0x8F1BBCDCu, a, b, c, d, i, s)
#define R1(a, b, c, d, i, s) RMD128_STEP(RMD128_I, 0x50A28BE6u, a, b, c, d, i, s)
#define R2(a, b, c, d, i, s) RMD128_STEP(RMD128_H, 0x5C4DD124u, a, b, c, d, i, s)
#define R3(a, b, c, d, i, s) RMD128_STEP(RMD128_G, 0x6D703EF3u, a, b, c, d, i, s)
#define R4(a, b, c, d, i, s) RMD128_STEP(RMD128_F, 0x00000000u, a, b, c, d, i, s)
// clang-format on

void Ripemd128::Compress(const uint8_t* block) {
  uint32_t x[16];
  for (int i = 0; i < 16; ++i) x[i] = LoadWord(block + 4 * i);
  uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
  uint32_t a1 = a, b1 = b, c1 = c, d1 = d;
  // Each step renames the registers instead of moving them; the names come round again
  // every four steps, so both lines end with their registers in place.
  // The two lines are independent until the end, so their steps are interleaved: the
  // processor then works on one line while the other waits on its rotation.
  // clang-format off
  L1(a, b, c, d, 0, 11) R1(a1, b1, c1, d1, 5, 8)
  L1(d, a, b, c, 1, 14) R1(d1, a1, b1, c1, 14, 9)
  L1(c, d, a, b, 2, 15) R1(c1, d1, a1, b1, 7, 9)
  L1(b, c, d, a, 3, 12) R1(b1, c1, d1, a1, 0, 11)
  L1(a, b, c, d, 4, 5) R1(a1, b1, c1, d1, 9, 13)
  L1(d, a, b, c, 5, 8) R1(d1, a1, b1, c1, 2, 15)
  L1(c, d, a, b, 6, 7) R1(c1, d1, a1, b1, 11, 15)
  L1(b, c, d, a, 7, 9) R1(b1, c1, d1, a1, 4, 5)
  L1(a, b, c, d, 8, 11) R1(a1, b1, c1, d1, 13, 7)
  L1(d, a, b, c, 9, 13) R1(d1, a1, b1, c1, 6, 7)
  L1(c, d, a, b, 10, 14) R1(c1, d1, a1, b1, 15, 8)
  L1(b, c, d, a, 11, 15) R1(b1, c1, d1, a1, 8, 11)
  L1(a, b, c, d, 12, 6) R1(a1, b1, c1, d1, 1, 14)
  L1(d, a, b, c, 13, 7) R1(d1, a1, b1, c1, 10, 14)
  L1(c, d, a, b, 14, 9) R1(c1, d1, a1, b1, 3, 12)
  L1(b, c, d, a, 15, 8) R1(b1, c1, d1, a1, 12, 6)
  L2(a, b, c, d, 7, 7) R2(a1, b1, c1, d1, 6, 9)
  L2(d, a, b, c, 4, 6) R2(d1, a1, b1, c1, 11, 13)
  L2(c, d, a, b, 13, 8) R2(c1, d1, a1, b1, 3, 15)
  L2(b, c, d, a, 1, 13) R2(b1, c1, d1, a1, 7, 7)
  L2(a, b, c, d, 10, 11) R2(a1, b1, c1, d1, 0, 12)
  L2(d, a, b, c, 6, 9) R2(d1, a1, b1, c1, 13, 8)
  L2(c, d, a, b, 15, 7) R2(c1, d1, a1, b1, 5, 9)
  L2(b, c, d, a, 3, 15) R2(b1, c1, d1, a1, 10, 11)
  L2(a, b, c, d, 12, 7) R2(a1, b1, c1, d1, 14, 7)
  L2(d, a, b, c, 0, 12) R2(d1, a1, b1, c1, 15, 7)
  L2(c, d, a, b, 9, 15) R2(c1, d1, a1, b1, 8, 12)
  L2(b, c, d, a, 5, 9) R2(b1, c1, d1, a1, 12, 7)
  L2(a, b, c, d, 2, 11) R2(a1, b1, c1, d1, 4, 6)
  L2(d, a, b, c, 14, 7) R2(d1, a1, b1, c1, 9, 15)
  L2(c, d, a, b, 11, 13) R2(c1, d1, a1, b1, 1, 13)
  L2(b, c, d, a, 8, 12) R2(b1, c1, d1, a1, 2, 11)
  L3(a, b, c, d, 3, 11) R3(a1, b1, c1, d1, 15, 9)
  L3(d, a, b, c, 10, 13) R3(d1, a1, b1, c1, 5, 7)
  L3(c, d, a, b, 14, 6) R3(c1, d1, a1, b1, 1, 15)
  L3(b, c, d, a, 4, 7) R3(b1, c1, d1, a1, 3, 11)
  L3(a, b, c, d, 9, 14) R3(a1, b1, c1, d1, 7, 8)
  L3(d, a, b, c, 15, 9) R3(d1, a1, b1, c1, 14, 6)
  L3(c, d, a, b, 8, 13) R3(c1, d1, a1, b1, 6, 6)
  L3(b, c, d, a, 1, 15) R3(b1, c1, d1, a1, 9, 14)
  L3(a, b, c, d, 2, 14) R3(a1, b1, c1, d1, 11, 12)
  L3(d, a, b, c, 7, 8) R3(d1, a1, b1, c1, 8, 13)
  L3(c, d, a, b, 0, 13) R3(c1, d1, a1, b1, 12, 5)
  L3(b, c, d, a, 6, 6) R3(b1, c1, d1, a1, 2, 14)
  L3(a, b, c, d, 13, 5) R3(a1, b1, c1, d1, 10, 13)
  L3(d, a, b, c, 11, 12) R3(d1, a1, b1, c1, 0, 13)
  L3(c, d, a, b, 5, 7) R3(c1, d1, a1, b1, 4, 7)
  L3(b, c, d, a, 12, 5) R3(b1, c1, d1, a1, 13, 5)
  L4(a, b, c, d, 1, 11) R4(a1, b1, c1, d1, 8, 15)
  L4(d, a, b, c, 9, 12) R4(d1, a1, b1, c1, 6, 5)
  L4(c, d, a, b, 11, 14) R4(c1, d1, a1, b1, 4, 8)
  L4(b, c, d, a, 10, 15) R4(b1, c1, d1, a1, 1, 11)
  L4(a, b, c, d, 0, 14) R4(a1, b1, c1, d1, 3, 14)
  L4(d, a, b, c, 8, 15) R4(d1, a1, b1, c1, 11, 14)
  L4(c, d, a, b, 12, 9) R4(c1, d1, a1, b1, 15, 6)
  L4(b, c, d, a, 4, 8) R4(b1, c1, d1, a1, 0, 14)
  L4(a, b, c, d, 13, 9) R4(a1, b1, c1, d1, 5, 6)
  L4(d, a, b, c, 3, 14) R4(d1, a1, b1, c1, 12, 9)
  L4(c, d, a, b, 7, 5) R4(c1, d1, a1, b1, 2, 12)
  L4(b, c, d, a, 15, 6) R4(b1, c1, d1, a1, 13, 9)
  L4(a, b, c, d, 14, 8) R4(a1, b1, c1, d1, 9, 12)
  L4(d, a, b, c, 5, 6) R4(d1, a1, b1, c1, 7, 5)
  L4(c, d, a, b, 6, 5) R4(c1, d1, a1, b1, 10, 15)
  L4(b, c, d, a, 2, 12) R4(b1, c1, d1, a1, 14, 8)
      // clang-format on
      const uint32_t t = state_[1] + c + d1;
  state_[1] = state_[2] + d + a1;
  state_[2] = state_[3] + a + b1;
  state_[3] = state_[0] + b + c1;
  state_[0] = t;
  SecureZeroObject(x);
}

#undef L1
#undef L2
#undef L3
#undef L4
#undef R1
#undef R2
#undef R3
#undef R4

}  // namespace kryvane
