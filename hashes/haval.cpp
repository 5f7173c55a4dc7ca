#include "hashes/haval.h"

namespace kryvane {

bool Haval::SelfTest() {
  static constexpr uint8_t kAlphabet[] = {0x1a, 0x1d, 0xc8, 0x09, 0x9b, 0xda, 0xa7, 0xf3,
                                          0x5b, 0x4d, 0xa4, 0xe8, 0x05, 0xf1, 0xa2, 0x8f,
                                          0xee, 0x90, 0x9d, 0x8d, 0xee, 0x92, 0x01, 0x98,
                                          0x18, 0x5c, 0xbc, 0xae, 0xd8, 0xa1, 0x0a, 0x8d};
  static constexpr uint8_t kAlphanumeric[] = {0xc5, 0x64, 0x7f, 0xc6, 0xc1, 0x87, 0x7f, 0xff,
                                              0x96, 0x74, 0x2f, 0x27, 0xe9, 0x26, 0x6b, 0x68,
                                              0x74, 0x89, 0x4f, 0x41, 0xa0, 0x8f, 0x59, 0x13,
                                              0x03, 0x3d, 0x9d, 0x53, 0x2a, 0xed, 0xdb, 0x39};
  return HashKnownAnswer<Haval>("abcdefghijklmnopqrstuvwxyz", kAlphabet,
                                "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
                                kAlphanumeric);
}

// clang-format off
// The five Boolean functions, factored to few operations.
#define HAVAL_F1(x6, x5, x4, x3, x2, x1, x0) \
  (((x1) & ((x0) ^ (x4))) ^ ((x2) & (x5)) ^ ((x3) & (x6)) ^ (x0))
#define HAVAL_F2(x6, x5, x4, x3, x2, x1, x0) \
  (((x2) & (((x1) & ~(x3)) ^ ((x4) & (x5)) ^ (x6) ^ (x0))) ^ ((x4) & ((x1) ^ (x5))) ^ \
   ((x3) & (x5)) ^ (x0))
#define HAVAL_F3(x6, x5, x4, x3, x2, x1, x0) \
  (((x3) & (((x1) & (x2)) ^ (x6) ^ (x0))) ^ ((x1) & (x4)) ^ ((x2) & (x5)) ^ (x0))
#define HAVAL_F4(x6, x5, x4, x3, x2, x1, x0) \
  (((x4) & (((x5) & ~(x2)) ^ ((x3) & ~(x6)) ^ (x1) ^ (x6) ^ (x0))) ^ \
   ((x3) & (((x1) & (x2)) ^ (x5) ^ (x6))) ^ ((x2) & (x6)) ^ (x0))
#define HAVAL_F5(x6, x5, x4, x3, x2, x1, x0) \
  (((x0) & (((x1) & (x2) & (x3)) ^ ~(x5))) ^ ((x1) & (x4)) ^ ((x2) & (x5)) ^ ((x3) & (x6)))
// Each pass feeds its function the words in its own order (the permutations for five passes).
#define HAVAL_P1(x6, x5, x4, x3, x2, x1, x0) HAVAL_F1(x3, x4, x1, x0, x5, x2, x6)
#define HAVAL_P2(x6, x5, x4, x3, x2, x1, x0) HAVAL_F2(x6, x2, x1, x0, x3, x4, x5)
#define HAVAL_P3(x6, x5, x4, x3, x2, x1, x0) HAVAL_F3(x2, x6, x0, x4, x3, x1, x5)
#define HAVAL_P4(x6, x5, x4, x3, x2, x1, x0) HAVAL_F4(x1, x5, x3, x2, x0, x4, x6)
#define HAVAL_P5(x6, x5, x4, x3, x2, x1, x0) HAVAL_F5(x2, x5, x0, x6, x4, x3, x1)
#define HAVAL_STEP(p, x7, x6, x5, x4, x3, x2, x1, x0, w, k) \
  x7 = Rotr32(p(x6, x5, x4, x3, x2, x1, x0), 7) + Rotr32(x7, 11) + m[w] + k;
#define S1(x7, x6, x5, x4, x3, x2, x1, x0, w) \
  HAVAL_STEP(HAVAL_P1, x7, x6, x5, x4, x3, x2, x1, x0, w, 0u)
#define S2(x7, x6, x5, x4, x3, x2, x1, x0, w, k) \
  HAVAL_STEP(HAVAL_P2, x7, x6, x5, x4, x3, x2, x1, x0, w, k)
#define S3(x7, x6, x5, x4, x3, x2, x1, x0, w, k) \
  HAVAL_STEP(HAVAL_P3, x7, x6, x5, x4, x3, x2, x1, x0, w, k)
#define S4(x7, x6, x5, x4, x3, x2, x1, x0, w, k) \
  HAVAL_STEP(HAVAL_P4, x7, x6, x5, x4, x3, x2, x1, x0, w, k)
#define S5(x7, x6, x5, x4, x3, x2, x1, x0, w, k) \
  HAVAL_STEP(HAVAL_P5, x7, x6, x5, x4, x3, x2, x1, x0, w, k)
// clang-format on

void Haval::Compress(const uint8_t* block) {
  uint32_t m[32];
  for (int i = 0; i < 32; ++i) m[i] = LoadWord(block + 4 * i);
  uint32_t t0 = state_[0], t1 = state_[1], t2 = state_[2], t3 = state_[3];
  uint32_t t4 = state_[4], t5 = state_[5], t6 = state_[6], t7 = state_[7];
  // Step i replaces the word t[(7 - i) mod 8]; the words are renamed rather than moved.
  // The round constants are the fraction of pi that follows the initial value.
  // clang-format off
  // Pass 1
  S1(t7, t6, t5, t4, t3, t2, t1, t0, 0)
  S1(t6, t5, t4, t3, t2, t1, t0, t7, 1)
  S1(t5, t4, t3, t2, t1, t0, t7, t6, 2)
  S1(t4, t3, t2, t1, t0, t7, t6, t5, 3)
  S1(t3, t2, t1, t0, t7, t6, t5, t4, 4)
  S1(t2, t1, t0, t7, t6, t5, t4, t3, 5)
  S1(t1, t0, t7, t6, t5, t4, t3, t2, 6)
  S1(t0, t7, t6, t5, t4, t3, t2, t1, 7)
  S1(t7, t6, t5, t4, t3, t2, t1, t0, 8)
  S1(t6, t5, t4, t3, t2, t1, t0, t7, 9)
  S1(t5, t4, t3, t2, t1, t0, t7, t6, 10)
  S1(t4, t3, t2, t1, t0, t7, t6, t5, 11)
  S1(t3, t2, t1, t0, t7, t6, t5, t4, 12)
  S1(t2, t1, t0, t7, t6, t5, t4, t3, 13)
  S1(t1, t0, t7, t6, t5, t4, t3, t2, 14)
  S1(t0, t7, t6, t5, t4, t3, t2, t1, 15)
  S1(t7, t6, t5, t4, t3, t2, t1, t0, 16)
  S1(t6, t5, t4, t3, t2, t1, t0, t7, 17)
  S1(t5, t4, t3, t2, t1, t0, t7, t6, 18)
  S1(t4, t3, t2, t1, t0, t7, t6, t5, 19)
  S1(t3, t2, t1, t0, t7, t6, t5, t4, 20)
  S1(t2, t1, t0, t7, t6, t5, t4, t3, 21)
  S1(t1, t0, t7, t6, t5, t4, t3, t2, 22)
  S1(t0, t7, t6, t5, t4, t3, t2, t1, 23)
  S1(t7, t6, t5, t4, t3, t2, t1, t0, 24)
  S1(t6, t5, t4, t3, t2, t1, t0, t7, 25)
  S1(t5, t4, t3, t2, t1, t0, t7, t6, 26)
  S1(t4, t3, t2, t1, t0, t7, t6, t5, 27)
  S1(t3, t2, t1, t0, t7, t6, t5, t4, 28)
  S1(t2, t1, t0, t7, t6, t5, t4, t3, 29)
  S1(t1, t0, t7, t6, t5, t4, t3, t2, 30)
  S1(t0, t7, t6, t5, t4, t3, t2, t1, 31)
  // Pass 2
  S2(t7, t6, t5, t4, t3, t2, t1, t0, 5, 0x452821E6u)
  S2(t6, t5, t4, t3, t2, t1, t0, t7, 14, 0x38D01377u)
  S2(t5, t4, t3, t2, t1, t0, t7, t6, 26, 0xBE5466CFu)
  S2(t4, t3, t2, t1, t0, t7, t6, t5, 18, 0x34E90C6Cu)
  S2(t3, t2, t1, t0, t7, t6, t5, t4, 11, 0xC0AC29B7u)
  S2(t2, t1, t0, t7, t6, t5, t4, t3, 28, 0xC97C50DDu)
  S2(t1, t0, t7, t6, t5, t4, t3, t2, 7, 0x3F84D5B5u)
  S2(t0, t7, t6, t5, t4, t3, t2, t1, 16, 0xB5470917u)
  S2(t7, t6, t5, t4, t3, t2, t1, t0, 0, 0x9216D5D9u)
  S2(t6, t5, t4, t3, t2, t1, t0, t7, 23, 0x8979FB1Bu)
  S2(t5, t4, t3, t2, t1, t0, t7, t6, 20, 0xD1310BA6u)
  S2(t4, t3, t2, t1, t0, t7, t6, t5, 22, 0x98DFB5ACu)
  S2(t3, t2, t1, t0, t7, t6, t5, t4, 1, 0x2FFD72DBu)
  S2(t2, t1, t0, t7, t6, t5, t4, t3, 10, 0xD01ADFB7u)
  S2(t1, t0, t7, t6, t5, t4, t3, t2, 4, 0xB8E1AFEDu)
  S2(t0, t7, t6, t5, t4, t3, t2, t1, 8, 0x6A267E96u)
  S2(t7, t6, t5, t4, t3, t2, t1, t0, 30, 0xBA7C9045u)
  S2(t6, t5, t4, t3, t2, t1, t0, t7, 3, 0xF12C7F99u)
  S2(t5, t4, t3, t2, t1, t0, t7, t6, 21, 0x24A19947u)
  S2(t4, t3, t2, t1, t0, t7, t6, t5, 9, 0xB3916CF7u)
  S2(t3, t2, t1, t0, t7, t6, t5, t4, 17, 0x0801F2E2u)
  S2(t2, t1, t0, t7, t6, t5, t4, t3, 24, 0x858EFC16u)
  S2(t1, t0, t7, t6, t5, t4, t3, t2, 29, 0x636920D8u)
  S2(t0, t7, t6, t5, t4, t3, t2, t1, 6, 0x71574E69u)
  S2(t7, t6, t5, t4, t3, t2, t1, t0, 19, 0xA458FEA3u)
  S2(t6, t5, t4, t3, t2, t1, t0, t7, 12, 0xF4933D7Eu)
  S2(t5, t4, t3, t2, t1, t0, t7, t6, 15, 0x0D95748Fu)
  S2(t4, t3, t2, t1, t0, t7, t6, t5, 13, 0x728EB658u)
  S2(t3, t2, t1, t0, t7, t6, t5, t4, 2, 0x718BCD58u)
  S2(t2, t1, t0, t7, t6, t5, t4, t3, 25, 0x82154AEEu)
  S2(t1, t0, t7, t6, t5, t4, t3, t2, 31, 0x7B54A41Du)
  S2(t0, t7, t6, t5, t4, t3, t2, t1, 27, 0xC25A59B5u)
  // Pass 3
  S3(t7, t6, t5, t4, t3, t2, t1, t0, 19, 0x9C30D539u)
  S3(t6, t5, t4, t3, t2, t1, t0, t7, 9, 0x2AF26013u)
  S3(t5, t4, t3, t2, t1, t0, t7, t6, 4, 0xC5D1B023u)
  S3(t4, t3, t2, t1, t0, t7, t6, t5, 20, 0x286085F0u)
  S3(t3, t2, t1, t0, t7, t6, t5, t4, 28, 0xCA417918u)
  S3(t2, t1, t0, t7, t6, t5, t4, t3, 17, 0xB8DB38EFu)
  S3(t1, t0, t7, t6, t5, t4, t3, t2, 8, 0x8E79DCB0u)
  S3(t0, t7, t6, t5, t4, t3, t2, t1, 22, 0x603A180Eu)
  S3(t7, t6, t5, t4, t3, t2, t1, t0, 29, 0x6C9E0E8Bu)
  S3(t6, t5, t4, t3, t2, t1, t0, t7, 14, 0xB01E8A3Eu)
  S3(t5, t4, t3, t2, t1, t0, t7, t6, 25, 0xD71577C1u)
  S3(t4, t3, t2, t1, t0, t7, t6, t5, 12, 0xBD314B27u)
  S3(t3, t2, t1, t0, t7, t6, t5, t4, 24, 0x78AF2FDAu)
  S3(t2, t1, t0, t7, t6, t5, t4, t3, 30, 0x55605C60u)
  S3(t1, t0, t7, t6, t5, t4, t3, t2, 16, 0xE65525F3u)
  S3(t0, t7, t6, t5, t4, t3, t2, t1, 26, 0xAA55AB94u)
  S3(t7, t6, t5, t4, t3, t2, t1, t0, 31, 0x57489862u)
  S3(t6, t5, t4, t3, t2, t1, t0, t7, 15, 0x63E81440u)
  S3(t5, t4, t3, t2, t1, t0, t7, t6, 7, 0x55CA396Au)
  S3(t4, t3, t2, t1, t0, t7, t6, t5, 3, 0x2AAB10B6u)
  S3(t3, t2, t1, t0, t7, t6, t5, t4, 1, 0xB4CC5C34u)
  S3(t2, t1, t0, t7, t6, t5, t4, t3, 0, 0x1141E8CEu)
  S3(t1, t0, t7, t6, t5, t4, t3, t2, 18, 0xA15486AFu)
  S3(t0, t7, t6, t5, t4, t3, t2, t1, 27, 0x7C72E993u)
  S3(t7, t6, t5, t4, t3, t2, t1, t0, 13, 0xB3EE1411u)
  S3(t6, t5, t4, t3, t2, t1, t0, t7, 6, 0x636FBC2Au)
  S3(t5, t4, t3, t2, t1, t0, t7, t6, 21, 0x2BA9C55Du)
  S3(t4, t3, t2, t1, t0, t7, t6, t5, 10, 0x741831F6u)
  S3(t3, t2, t1, t0, t7, t6, t5, t4, 23, 0xCE5C3E16u)
  S3(t2, t1, t0, t7, t6, t5, t4, t3, 11, 0x9B87931Eu)
  S3(t1, t0, t7, t6, t5, t4, t3, t2, 5, 0xAFD6BA33u)
  S3(t0, t7, t6, t5, t4, t3, t2, t1, 2, 0x6C24CF5Cu)
  // Pass 4
  S4(t7, t6, t5, t4, t3, t2, t1, t0, 24, 0x7A325381u)
  S4(t6, t5, t4, t3, t2, t1, t0, t7, 4, 0x28958677u)
  S4(t5, t4, t3, t2, t1, t0, t7, t6, 0, 0x3B8F4898u)
  S4(t4, t3, t2, t1, t0, t7, t6, t5, 14, 0x6B4BB9AFu)
  S4(t3, t2, t1, t0, t7, t6, t5, t4, 2, 0xC4BFE81Bu)
  S4(t2, t1, t0, t7, t6, t5, t4, t3, 7, 0x66282193u)
  S4(t1, t0, t7, t6, t5, t4, t3, t2, 28, 0x61D809CCu)
  S4(t0, t7, t6, t5, t4, t3, t2, t1, 23, 0xFB21A991u)
  S4(t7, t6, t5, t4, t3, t2, t1, t0, 26, 0x487CAC60u)
  S4(t6, t5, t4, t3, t2, t1, t0, t7, 6, 0x5DEC8032u)
  S4(t5, t4, t3, t2, t1, t0, t7, t6, 30, 0xEF845D5Du)
  S4(t4, t3, t2, t1, t0, t7, t6, t5, 20, 0xE98575B1u)
  S4(t3, t2, t1, t0, t7, t6, t5, t4, 18, 0xDC262302u)
  S4(t2, t1, t0, t7, t6, t5, t4, t3, 25, 0xEB651B88u)
  S4(t1, t0, t7, t6, t5, t4, t3, t2, 19, 0x23893E81u)
  S4(t0, t7, t6, t5, t4, t3, t2, t1, 3, 0xD396ACC5u)
  S4(t7, t6, t5, t4, t3, t2, t1, t0, 22, 0x0F6D6FF3u)
  S4(t6, t5, t4, t3, t2, t1, t0, t7, 11, 0x83F44239u)
  S4(t5, t4, t3, t2, t1, t0, t7, t6, 31, 0x2E0B4482u)
  S4(t4, t3, t2, t1, t0, t7, t6, t5, 21, 0xA4842004u)
  S4(t3, t2, t1, t0, t7, t6, t5, t4, 8, 0x69C8F04Au)
  S4(t2, t1, t0, t7, t6, t5, t4, t3, 27, 0x9E1F9B5Eu)
  S4(t1, t0, t7, t6, t5, t4, t3, t2, 12, 0x21C66842u)
  S4(t0, t7, t6, t5, t4, t3, t2, t1, 9, 0xF6E96C9Au)
  S4(t7, t6, t5, t4, t3, t2, t1, t0, 1, 0x670C9C61u)
  S4(t6, t5, t4, t3, t2, t1, t0, t7, 29, 0xABD388F0u)
  S4(t5, t4, t3, t2, t1, t0, t7, t6, 5, 0x6A51A0D2u)
  S4(t4, t3, t2, t1, t0, t7, t6, t5, 15, 0xD8542F68u)
  S4(t3, t2, t1, t0, t7, t6, t5, t4, 17, 0x960FA728u)
  S4(t2, t1, t0, t7, t6, t5, t4, t3, 10, 0xAB5133A3u)
  S4(t1, t0, t7, t6, t5, t4, t3, t2, 16, 0x6EEF0B6Cu)
  S4(t0, t7, t6, t5, t4, t3, t2, t1, 13, 0x137A3BE4u)
  // Pass 5
  S5(t7, t6, t5, t4, t3, t2, t1, t0, 27, 0xBA3BF050u)
  S5(t6, t5, t4, t3, t2, t1, t0, t7, 3, 0x7EFB2A98u)
  S5(t5, t4, t3, t2, t1, t0, t7, t6, 21, 0xA1F1651Du)
  S5(t4, t3, t2, t1, t0, t7, t6, t5, 26, 0x39AF0176u)
  S5(t3, t2, t1, t0, t7, t6, t5, t4, 17, 0x66CA593Eu)
  S5(t2, t1, t0, t7, t6, t5, t4, t3, 11, 0x82430E88u)
  S5(t1, t0, t7, t6, t5, t4, t3, t2, 20, 0x8CEE8619u)
  S5(t0, t7, t6, t5, t4, t3, t2, t1, 29, 0x456F9FB4u)
  S5(t7, t6, t5, t4, t3, t2, t1, t0, 19, 0x7D84A5C3u)
  S5(t6, t5, t4, t3, t2, t1, t0, t7, 0, 0x3B8B5EBEu)
  S5(t5, t4, t3, t2, t1, t0, t7, t6, 12, 0xE06F75D8u)
  S5(t4, t3, t2, t1, t0, t7, t6, t5, 7, 0x85C12073u)
  S5(t3, t2, t1, t0, t7, t6, t5, t4, 13, 0x401A449Fu)
  S5(t2, t1, t0, t7, t6, t5, t4, t3, 8, 0x56C16AA6u)
  S5(t1, t0, t7, t6, t5, t4, t3, t2, 31, 0x4ED3AA62u)
  S5(t0, t7, t6, t5, t4, t3, t2, t1, 10, 0x363F7706u)
  S5(t7, t6, t5, t4, t3, t2, t1, t0, 5, 0x1BFEDF72u)
  S5(t6, t5, t4, t3, t2, t1, t0, t7, 9, 0x429B023Du)
  S5(t5, t4, t3, t2, t1, t0, t7, t6, 14, 0x37D0D724u)
  S5(t4, t3, t2, t1, t0, t7, t6, t5, 30, 0xD00A1248u)
  S5(t3, t2, t1, t0, t7, t6, t5, t4, 18, 0xDB0FEAD3u)
  S5(t2, t1, t0, t7, t6, t5, t4, t3, 6, 0x49F1C09Bu)
  S5(t1, t0, t7, t6, t5, t4, t3, t2, 28, 0x075372C9u)
  S5(t0, t7, t6, t5, t4, t3, t2, t1, 24, 0x80991B7Bu)
  S5(t7, t6, t5, t4, t3, t2, t1, t0, 2, 0x25D479D8u)
  S5(t6, t5, t4, t3, t2, t1, t0, t7, 23, 0xF6E8DEF7u)
  S5(t5, t4, t3, t2, t1, t0, t7, t6, 16, 0xE3FE501Au)
  S5(t4, t3, t2, t1, t0, t7, t6, t5, 22, 0xB6794C3Bu)
  S5(t3, t2, t1, t0, t7, t6, t5, t4, 4, 0x976CE0BDu)
  S5(t2, t1, t0, t7, t6, t5, t4, t3, 1, 0x04C006BAu)
  S5(t1, t0, t7, t6, t5, t4, t3, t2, 25, 0xC1A94FB6u)
  S5(t0, t7, t6, t5, t4, t3, t2, t1, 15, 0x409F60C4u)
  // clang-format on
  state_[0] += t0;
  state_[1] += t1;
  state_[2] += t2;
  state_[3] += t3;
  state_[4] += t4;
  state_[5] += t5;
  state_[6] += t6;
  state_[7] += t7;
  SecureZeroObject(m);
}

#undef S1
#undef S2
#undef S3
#undef S4
#undef S5

}  // namespace kryvane
