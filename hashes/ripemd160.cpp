#include "hashes/ripemd160.h"

namespace kryvane {

bool Ripemd160::SelfTest() {
  static constexpr uint8_t kA[] = {0x0b, 0xdc, 0x9d, 0x2d, 0x25, 0x6b, 0x3e, 0xe9, 0xda, 0xae,
                                   0x34, 0x7b, 0xe6, 0xf4, 0xdc, 0x83, 0x5a, 0x46, 0x7f, 0xfe};
  static constexpr uint8_t kAlphabet[] = {0xf7, 0x1c, 0x27, 0x10, 0x9c, 0x69, 0x2c,
                                          0x1b, 0x56, 0xbb, 0xdc, 0xeb, 0x5b, 0x9d,
                                          0x28, 0x65, 0xb3, 0x70, 0x8d, 0xbc};
  return HashKnownAnswer<Ripemd160>("a", kA, "abcdefghijklmnopqrstuvwxyz", kAlphabet);
}

// clang-format off
#define RMD160_F1(x, y, z) ((x) ^ (y) ^ (z))
// The two selects in three operations instead of four: where the selector bit is 1 the xor
// of the other two cancels one of them.
#define RMD160_F2(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define RMD160_F3(x, y, z) (((x) | ~(y)) ^ (z))
#define RMD160_F4(x, y, z) ((y) ^ ((z) & ((x) ^ (y))))
#define RMD160_F5(x, y, z) ((x) ^ ((y) | ~(z)))
#define RMD160_STEP(f, k, a, b, c, d, e, i, s) \
  a = Rotl32(a + f(b, c, d) + x[i] + k, s) + e; c = Rotl32(c, 10);
// Left line: F1..F5; right line: F5..F1, each with its own constant.
#define L1(a, b, c, d, e, i, s) RMD160_STEP(RMD160_F1, 0x00000000u, a, b, c, d, e, i, s)
#define L2(a, b, c, d, e, i, s) RMD160_STEP(RMD160_F2, 0x5A827999u, a, b, c, d, e, i, s)
#define L3(a, b, c, d, e, i, s) RMD160_STEP(RMD160_F3, 0x6ED9EBA1u, a, b, c, d, e, i, s)
#define L4(a, b, c, d, e, i, s) RMD160_STEP(RMD160_F4, 0x8F1BBCDCu, a, b, c, d, e, i, s)
#define L5(a, b, c, d, e, i, s) RMD160_STEP(RMD160_F5, 0xA953FD4Eu, a, b, c, d, e, i, s)
#define R1(a, b, c, d, e, i, s) RMD160_STEP(RMD160_F5, 0x50A28BE6u, a, b, c, d, e, i, s)
#define R2(a, b, c, d, e, i, s) RMD160_STEP(RMD160_F4, 0x5C4DD124u, a, b, c, d, e, i, s)
#define R3(a, b, c, d, e, i, s) RMD160_STEP(RMD160_F3, 0x6D703EF3u, a, b, c, d, e, i, s)
#define R4(a, b, c, d, e, i, s) RMD160_STEP(RMD160_F2, 0x7A6D76E9u, a, b, c, d, e, i, s)
#define R5(a, b, c, d, e, i, s) RMD160_STEP(RMD160_F1, 0x00000000u, a, b, c, d, e, i, s)
// clang-format on

void Ripemd160::Compress(const uint8_t* block) {
  uint32_t x[16];
  for (int i = 0; i < 16; ++i) x[i] = LoadWord(block + 4 * i);
  uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3], e = state_[4];
  uint32_t a1 = a, b1 = b, c1 = c, d1 = d, e1 = e;
  // Each step renames the registers instead of moving them; the names come round again
  // every five steps, so both lines end with their registers in place.
  // The two lines are independent until the end, so their steps are interleaved: the
  // processor then works on one line while the other waits on its rotation.
  // clang-format off
  L1(a, b, c, d, e, 0, 11) R1(a1, b1, c1, d1, e1, 5, 8)
  L1(e, a, b, c, d, 1, 14) R1(e1, a1, b1, c1, d1, 14, 9)
  L1(d, e, a, b, c, 2, 15) R1(d1, e1, a1, b1, c1, 7, 9)
  L1(c, d, e, a, b, 3, 12) R1(c1, d1, e1, a1, b1, 0, 11)
  L1(b, c, d, e, a, 4, 5) R1(b1, c1, d1, e1, a1, 9, 13)
  L1(a, b, c, d, e, 5, 8) R1(a1, b1, c1, d1, e1, 2, 15)
  L1(e, a, b, c, d, 6, 7) R1(e1, a1, b1, c1, d1, 11, 15)
  L1(d, e, a, b, c, 7, 9) R1(d1, e1, a1, b1, c1, 4, 5)
  L1(c, d, e, a, b, 8, 11) R1(c1, d1, e1, a1, b1, 13, 7)
  L1(b, c, d, e, a, 9, 13) R1(b1, c1, d1, e1, a1, 6, 7)
  L1(a, b, c, d, e, 10, 14) R1(a1, b1, c1, d1, e1, 15, 8)
  L1(e, a, b, c, d, 11, 15) R1(e1, a1, b1, c1, d1, 8, 11)
  L1(d, e, a, b, c, 12, 6) R1(d1, e1, a1, b1, c1, 1, 14)
  L1(c, d, e, a, b, 13, 7) R1(c1, d1, e1, a1, b1, 10, 14)
  L1(b, c, d, e, a, 14, 9) R1(b1, c1, d1, e1, a1, 3, 12)
  L1(a, b, c, d, e, 15, 8) R1(a1, b1, c1, d1, e1, 12, 6)
  L2(e, a, b, c, d, 7, 7) R2(e1, a1, b1, c1, d1, 6, 9)
  L2(d, e, a, b, c, 4, 6) R2(d1, e1, a1, b1, c1, 11, 13)
  L2(c, d, e, a, b, 13, 8) R2(c1, d1, e1, a1, b1, 3, 15)
  L2(b, c, d, e, a, 1, 13) R2(b1, c1, d1, e1, a1, 7, 7)
  L2(a, b, c, d, e, 10, 11) R2(a1, b1, c1, d1, e1, 0, 12)
  L2(e, a, b, c, d, 6, 9) R2(e1, a1, b1, c1, d1, 13, 8)
  L2(d, e, a, b, c, 15, 7) R2(d1, e1, a1, b1, c1, 5, 9)
  L2(c, d, e, a, b, 3, 15) R2(c1, d1, e1, a1, b1, 10, 11)
  L2(b, c, d, e, a, 12, 7) R2(b1, c1, d1, e1, a1, 14, 7)
  L2(a, b, c, d, e, 0, 12) R2(a1, b1, c1, d1, e1, 15, 7)
  L2(e, a, b, c, d, 9, 15) R2(e1, a1, b1, c1, d1, 8, 12)
  L2(d, e, a, b, c, 5, 9) R2(d1, e1, a1, b1, c1, 12, 7)
  L2(c, d, e, a, b, 2, 11) R2(c1, d1, e1, a1, b1, 4, 6)
  L2(b, c, d, e, a, 14, 7) R2(b1, c1, d1, e1, a1, 9, 15)
  L2(a, b, c, d, e, 11, 13) R2(a1, b1, c1, d1, e1, 1, 13)
  L2(e, a, b, c, d, 8, 12) R2(e1, a1, b1, c1, d1, 2, 11)
  L3(d, e, a, b, c, 3, 11) R3(d1, e1, a1, b1, c1, 15, 9)
  L3(c, d, e, a, b, 10, 13) R3(c1, d1, e1, a1, b1, 5, 7)
  L3(b, c, d, e, a, 14, 6) R3(b1, c1, d1, e1, a1, 1, 15)
  L3(a, b, c, d, e, 4, 7) R3(a1, b1, c1, d1, e1, 3, 11)
  L3(e, a, b, c, d, 9, 14) R3(e1, a1, b1, c1, d1, 7, 8)
  L3(d, e, a, b, c, 15, 9) R3(d1, e1, a1, b1, c1, 14, 6)
  L3(c, d, e, a, b, 8, 13) R3(c1, d1, e1, a1, b1, 6, 6)
  L3(b, c, d, e, a, 1, 15) R3(b1, c1, d1, e1, a1, 9, 14)
  L3(a, b, c, d, e, 2, 14) R3(a1, b1, c1, d1, e1, 11, 12)
  L3(e, a, b, c, d, 7, 8) R3(e1, a1, b1, c1, d1, 8, 13)
  L3(d, e, a, b, c, 0, 13) R3(d1, e1, a1, b1, c1, 12, 5)
  L3(c, d, e, a, b, 6, 6) R3(c1, d1, e1, a1, b1, 2, 14)
  L3(b, c, d, e, a, 13, 5) R3(b1, c1, d1, e1, a1, 10, 13)
  L3(a, b, c, d, e, 11, 12) R3(a1, b1, c1, d1, e1, 0, 13)
  L3(e, a, b, c, d, 5, 7) R3(e1, a1, b1, c1, d1, 4, 7)
  L3(d, e, a, b, c, 12, 5) R3(d1, e1, a1, b1, c1, 13, 5)
  L4(c, d, e, a, b, 1, 11) R4(c1, d1, e1, a1, b1, 8, 15)
  L4(b, c, d, e, a, 9, 12) R4(b1, c1, d1, e1, a1, 6, 5)
  L4(a, b, c, d, e, 11, 14) R4(a1, b1, c1, d1, e1, 4, 8)
  L4(e, a, b, c, d, 10, 15) R4(e1, a1, b1, c1, d1, 1, 11)
  L4(d, e, a, b, c, 0, 14) R4(d1, e1, a1, b1, c1, 3, 14)
  L4(c, d, e, a, b, 8, 15) R4(c1, d1, e1, a1, b1, 11, 14)
  L4(b, c, d, e, a, 12, 9) R4(b1, c1, d1, e1, a1, 15, 6)
  L4(a, b, c, d, e, 4, 8) R4(a1, b1, c1, d1, e1, 0, 14)
  L4(e, a, b, c, d, 13, 9) R4(e1, a1, b1, c1, d1, 5, 6)
  L4(d, e, a, b, c, 3, 14) R4(d1, e1, a1, b1, c1, 12, 9)
  L4(c, d, e, a, b, 7, 5) R4(c1, d1, e1, a1, b1, 2, 12)
  L4(b, c, d, e, a, 15, 6) R4(b1, c1, d1, e1, a1, 13, 9)
  L4(a, b, c, d, e, 14, 8) R4(a1, b1, c1, d1, e1, 9, 12)
  L4(e, a, b, c, d, 5, 6) R4(e1, a1, b1, c1, d1, 7, 5)
  L4(d, e, a, b, c, 6, 5) R4(d1, e1, a1, b1, c1, 10, 15)
  L4(c, d, e, a, b, 2, 12) R4(c1, d1, e1, a1, b1, 14, 8)
  L5(b, c, d, e, a, 4, 9) R5(b1, c1, d1, e1, a1, 12, 8)
  L5(a, b, c, d, e, 0, 15) R5(a1, b1, c1, d1, e1, 15, 5)
  L5(e, a, b, c, d, 5, 5) R5(e1, a1, b1, c1, d1, 10, 12)
  L5(d, e, a, b, c, 9, 11) R5(d1, e1, a1, b1, c1, 4, 9)
  L5(c, d, e, a, b, 7, 6) R5(c1, d1, e1, a1, b1, 1, 12)
  L5(b, c, d, e, a, 12, 8) R5(b1, c1, d1, e1, a1, 5, 5)
  L5(a, b, c, d, e, 2, 13) R5(a1, b1, c1, d1, e1, 8, 14)
  L5(e, a, b, c, d, 10, 12) R5(e1, a1, b1, c1, d1, 7, 6)
  L5(d, e, a, b, c, 14, 5) R5(d1, e1, a1, b1, c1, 6, 8)
  L5(c, d, e, a, b, 1, 12) R5(c1, d1, e1, a1, b1, 2, 13)
  L5(b, c, d, e, a, 3, 13) R5(b1, c1, d1, e1, a1, 13, 6)
  L5(a, b, c, d, e, 8, 14) R5(a1, b1, c1, d1, e1, 14, 5)
  L5(e, a, b, c, d, 11, 11) R5(e1, a1, b1, c1, d1, 0, 15)
  L5(d, e, a, b, c, 6, 8) R5(d1, e1, a1, b1, c1, 3, 13)
  L5(c, d, e, a, b, 15, 5) R5(c1, d1, e1, a1, b1, 9, 11)
  L5(b, c, d, e, a, 13, 6) R5(b1, c1, d1, e1, a1, 11, 11)
      // clang-format on
      const uint32_t t = state_[1] + c + d1;
  state_[1] = state_[2] + d + e1;
  state_[2] = state_[3] + e + a1;
  state_[3] = state_[4] + a + b1;
  state_[4] = state_[0] + b + c1;
  state_[0] = t;
  SecureZeroObject(x);
}

#undef L1
#undef L2
#undef L3
#undef L4
#undef L5
#undef R1
#undef R2
#undef R3
#undef R4
#undef R5

}  // namespace kryvane
