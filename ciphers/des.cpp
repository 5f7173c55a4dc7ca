#include "ciphers/des.h"

#include <bit>
#include <cstring>

#include "crypto/bytes.h"

namespace kryvane {
namespace {

// The tables of FIPS 46-3 in their published form: bit numbers count from 1 at the most
// significant bit of byte 0. The fast tables below are derived from these by the compiler.
// clang-format off
constexpr uint8_t kIp[64] = {
    58, 50, 42, 34, 26, 18, 10,  2,
    60, 52, 44, 36, 28, 20, 12,  4,
    62, 54, 46, 38, 30, 22, 14,  6,
    64, 56, 48, 40, 32, 24, 16,  8,
    57, 49, 41, 33, 25, 17,  9,  1,
    59, 51, 43, 35, 27, 19, 11,  3,
    61, 53, 45, 37, 29, 21, 13,  5,
    63, 55, 47, 39, 31, 23, 15,  7,
};
constexpr uint8_t kFp[64] = {
    40,  8, 48, 16, 56, 24, 64, 32,
    39,  7, 47, 15, 55, 23, 63, 31,
    38,  6, 46, 14, 54, 22, 62, 30,
    37,  5, 45, 13, 53, 21, 61, 29,
    36,  4, 44, 12, 52, 20, 60, 28,
    35,  3, 43, 11, 51, 19, 59, 27,
    34,  2, 42, 10, 50, 18, 58, 26,
    33,  1, 41,  9, 49, 17, 57, 25,
};
constexpr uint8_t kE[48] = {
    32,  1,  2,  3,  4,  5,
     4,  5,  6,  7,  8,  9,
     8,  9, 10, 11, 12, 13,
    12, 13, 14, 15, 16, 17,
    16, 17, 18, 19, 20, 21,
    20, 21, 22, 23, 24, 25,
    24, 25, 26, 27, 28, 29,
    28, 29, 30, 31, 32,  1,
};
constexpr uint8_t kP[32] = {
    16,  7, 20, 21,
    29, 12, 28, 17,
     1, 15, 23, 26,
     5, 18, 31, 10,
     2,  8, 24, 14,
    32, 27,  3,  9,
    19, 13, 30,  6,
    22, 11,  4, 25,
};
constexpr uint8_t kPc1[56] = {
    57, 49, 41, 33, 25, 17,  9,
     1, 58, 50, 42, 34, 26, 18,
    10,  2, 59, 51, 43, 35, 27,
    19, 11,  3, 60, 52, 44, 36,
    63, 55, 47, 39, 31, 23, 15,
     7, 62, 54, 46, 38, 30, 22,
    14,  6, 61, 53, 45, 37, 29,
    21, 13,  5, 28, 20, 12,  4,
};
constexpr uint8_t kPc2[48] = {
    14, 17, 11, 24,  1,  5,
     3, 28, 15,  6, 21, 10,
    23, 19, 12,  4, 26,  8,
    16,  7, 27, 20, 13,  2,
    41, 52, 31, 37, 47, 55,
    30, 40, 51, 45, 33, 48,
    44, 49, 39, 56, 34, 53,
    46, 42, 50, 36, 29, 32,
};
constexpr uint8_t kShifts[16] = {
     1,  1,  2,  2,  2,  2,  2,  2,  1,  2,  2,  2,  2,  2,  2,  1,
};
constexpr uint8_t kSBoxes[8][64] = {
    {
        14,  4, 13,  1,  2, 15, 11,  8,  3, 10,  6, 12,  5,  9,  0,  7,
         0, 15,  7,  4, 14,  2, 13,  1, 10,  6, 12, 11,  9,  5,  3,  8,
         4,  1, 14,  8, 13,  6,  2, 11, 15, 12,  9,  7,  3, 10,  5,  0,
        15, 12,  8,  2,  4,  9,  1,  7,  5, 11,  3, 14, 10,  0,  6, 13,
    },
    {
        15,  1,  8, 14,  6, 11,  3,  4,  9,  7,  2, 13, 12,  0,  5, 10,
         3, 13,  4,  7, 15,  2,  8, 14, 12,  0,  1, 10,  6,  9, 11,  5,
         0, 14,  7, 11, 10,  4, 13,  1,  5,  8, 12,  6,  9,  3,  2, 15,
        13,  8, 10,  1,  3, 15,  4,  2, 11,  6,  7, 12,  0,  5, 14,  9,
    },
    {
        10,  0,  9, 14,  6,  3, 15,  5,  1, 13, 12,  7, 11,  4,  2,  8,
        13,  7,  0,  9,  3,  4,  6, 10,  2,  8,  5, 14, 12, 11, 15,  1,
        13,  6,  4,  9,  8, 15,  3,  0, 11,  1,  2, 12,  5, 10, 14,  7,
         1, 10, 13,  0,  6,  9,  8,  7,  4, 15, 14,  3, 11,  5,  2, 12,
    },
    {
         7, 13, 14,  3,  0,  6,  9, 10,  1,  2,  8,  5, 11, 12,  4, 15,
        13,  8, 11,  5,  6, 15,  0,  3,  4,  7,  2, 12,  1, 10, 14,  9,
        10,  6,  9,  0, 12, 11,  7, 13, 15,  1,  3, 14,  5,  2,  8,  4,
         3, 15,  0,  6, 10,  1, 13,  8,  9,  4,  5, 11, 12,  7,  2, 14,
    },
    {
         2, 12,  4,  1,  7, 10, 11,  6,  8,  5,  3, 15, 13,  0, 14,  9,
        14, 11,  2, 12,  4,  7, 13,  1,  5,  0, 15, 10,  3,  9,  8,  6,
         4,  2,  1, 11, 10, 13,  7,  8, 15,  9, 12,  5,  6,  3,  0, 14,
        11,  8, 12,  7,  1, 14,  2, 13,  6, 15,  0,  9, 10,  4,  5,  3,
    },
    {
        12,  1, 10, 15,  9,  2,  6,  8,  0, 13,  3,  4, 14,  7,  5, 11,
        10, 15,  4,  2,  7, 12,  9,  5,  6,  1, 13, 14,  0, 11,  3,  8,
         9, 14, 15,  5,  2,  8, 12,  3,  7,  0,  4, 10,  1, 13, 11,  6,
         4,  3,  2, 12,  9,  5, 15, 10, 11, 14,  1,  7,  6,  0,  8, 13,
    },
    {
         4, 11,  2, 14, 15,  0,  8, 13,  3, 12,  9,  7,  5, 10,  6,  1,
        13,  0, 11,  7,  4,  9,  1, 10, 14,  3,  5, 12,  2, 15,  8,  6,
         1,  4, 11, 13, 12,  3,  7, 14, 10, 15,  6,  8,  0,  5,  9,  2,
         6, 11, 13,  8,  1,  4, 10,  7,  9,  5,  0, 15, 14,  2,  3, 12,
    },
    {
        13,  2,  8,  4,  6, 15, 11,  1, 10,  9,  3, 14,  5,  0, 12,  7,
         1, 15, 13,  8, 10,  3,  7,  4, 12,  5,  6, 11,  0, 14,  9,  2,
         7, 11,  4,  1,  9, 12, 14,  2,  0,  6, 10, 13, 15,  3,  5,  8,
         2,  1, 14,  7,  4, 10,  8, 13, 15, 12,  9,  0,  3,  5,  6, 11,
    },
};
// clang-format on

// ---------------------------------------------------------------------------------------------
// Block layout. A block is read as two little-endian words (bytes 0..3 and 4..7) and rearranged by
// exchange steps, so that each 32-bit half of the standard initial permutation lands in one word
// with every S-box's six input bits at fixed places. The rounds then need no bit permutation.

constexpr void Exchange(uint32_t& a, uint32_t& b, int n, uint32_t m) {
  const uint32_t t = ((a >> n) ^ b) & m;
  b ^= t;
  a ^= t << n;
}

constexpr void InitialPermutation(uint32_t& l, uint32_t& r) {
  Exchange(r, l, 4, 0x0F0F0F0F);
  Exchange(l, r, 16, 0x0000FFFF);
  Exchange(r, l, 2, 0x33333333);
  Exchange(l, r, 8, 0x00FF00FF);
  Exchange(r, l, 1, 0x55555555);
  l = std::rotl(l, 3);
  r = std::rotl(r, 3);
}

// The inverse network. After the rounds the word l holds the half that the standard puts first,
// so the roles of the two words are exchanged relative to InitialPermutation.
constexpr void FinalPermutation(uint32_t& l, uint32_t& r) {
  l = std::rotr(l, 3);
  r = std::rotr(r, 3);
  Exchange(l, r, 1, 0x55555555);
  Exchange(r, l, 8, 0x00FF00FF);
  Exchange(l, r, 2, 0x33333333);
  Exchange(r, l, 16, 0x0000FFFF);
  Exchange(l, r, 4, 0x0F0F0F0F);
}

// Where the network puts each bit of the two halves of the standard permuted block.
struct HalfLayout {
  int position[33] = {};  // [k] = word bit holding half-block bit k (1..32)
  int bit[32] = {};       // the inverse: [p] = half-block bit held at word bit p
};

constexpr HalfLayout DeriveHalfLayout() {
  HalfLayout layout;
  int leftHalfPosition[33] = {};
  for (int i = 1; i <= 64; ++i) {
    // Input bit n of the block: byte (n-1)/8, most significant bit first, little-endian words.
    const int n = kIp[i - 1];
    const int byte = (n - 1) / 8;
    const uint32_t mask = uint32_t{1} << (8 * (byte % 4) + 7 - (n - 1) % 8);
    uint32_t l = byte < 4 ? mask : 0;
    uint32_t r = byte < 4 ? 0 : mask;
    InitialPermutation(l, r);
    // The standard right half (permuted bits 33..64) feeds round 1, which updates word r from
    // word l, so it must sit in l; the standard left half in r, at the same places.
    if (i > 32) {
      if (r != 0 || !std::has_single_bit(l)) throw "right half not in word l";
      layout.position[i - 32] = std::countr_zero(l);
    } else {
      if (l != 0 || !std::has_single_bit(r)) throw "left half not in word r";
      leftHalfPosition[i] = std::countr_zero(r);
    }
  }
  for (int k = 1; k <= 32; ++k) {
    if (leftHalfPosition[k] != layout.position[k]) throw "halves laid out differently";
    layout.bit[layout.position[k]] = k;
  }
  return layout;
}

constexpr HalfLayout kHalf = DeriveHalfLayout();

// ---------------------------------------------------------------------------------------------
// Round tables. One round updates a word Y from a word Z with the key pair (k0, k1):
//   u = Z ^ k0,  t = (Z ^ k1) rotated right by 4,
//   Y ^= T0[u bits 2..7] ^ T2[u bits 10..15] ^ T4[u bits 18..23] ^ T6[u bits 26..31]
//       ^ T1[t bits 2..7] ^ T3[t bits 10..15] ^ T5[t bits 18..23] ^ T7[t bits 26..31].
// Each six-bit group is the expansion E of one S-box's input; each table merges that S-box with
// the permutation P, already in the word layout.

// The word-Z bit read by bit i (0..5) of the group of table t.
constexpr int GroupBit(int t, int i) {
  const int start = 2 + 8 * (t / 2);
  return t % 2 == 0 ? start + i : (start + i + 4) % 32;
}

struct RoundLayout {
  int sbox[8] = {};         // [t] = S-box (0..7) of table t
  int groupBit[8][6] = {};  // [t][m] = bit of table t's index that carries E bit m of its S-box
};

constexpr RoundLayout DeriveRoundLayout() {
  RoundLayout layout;
  bool used[8] = {};
  for (int t = 0; t < 8; ++t) {
    int found = -1;
    for (int j = 0; j < 8 && found < 0; ++j) {
      int matched = 0;
      for (int m = 0; m < 6; ++m) {
        for (int i = 0; i < 6; ++i) {
          if (kHalf.bit[GroupBit(t, i)] == kE[6 * j + m]) {
            layout.groupBit[t][m] = i;
            ++matched;
          }
        }
      }
      if (matched == 6) found = j;
    }
    if (found < 0 || used[found]) throw "a group is not the input of one S-box";
    used[found] = true;
    layout.sbox[t] = found;
  }
  return layout;
}

constexpr RoundLayout kRound = DeriveRoundLayout();

using RoundTables = std::array<std::array<uint32_t, 64>, 8>;

constexpr RoundTables DeriveRoundTables() {
  RoundTables tables{};
  for (int t = 0; t < 8; ++t) {
    const int j = kRound.sbox[t];
    for (int v = 0; v < 64; ++v) {
      int in = 0;  // the S-box input b1..b6, b1 most significant
      for (int m = 0; m < 6; ++m) in |= ((v >> kRound.groupBit[t][m]) & 1) << (5 - m);
      const int row = ((in >> 4) & 2) | (in & 1);
      const int column = (in >> 1) & 15;
      const int out = kSBoxes[j][16 * row + column];
      uint32_t word = 0;
      for (int q = 1; q <= 32; ++q) {  // output bit q of P is S-box output bit kP[q-1]
        const int src = kP[q - 1] - 1;
        if (src / 4 == j && ((out >> (3 - src % 4)) & 1) != 0) {
          word |= uint32_t{1} << kHalf.position[q];
        }
      }
      tables[t][v] = word;
    }
  }
  return tables;
}

constexpr RoundTables kSp = DeriveRoundTables();

// ---------------------------------------------------------------------------------------------
// Key schedule. C and D are kept as 28-bit numbers with bit 1 of the half most significant. PC-2
// uses 24 bits of each; they are read in four groups of six per half, and one table per group
// gives that group's subkey bits already placed in the round's word pair.

struct KeyLayout {
  int word[49] = {};      // [b] = 0 for k0, 1 for k1, of subkey bit b (1..48)
  int position[49] = {};  // [b] = bit within that word
  int group[8][6] = {};   // [g][m] = bit (1..56 of C||D) read as bit 5-m of group g's index
};

constexpr KeyLayout DeriveKeyLayout() {
  KeyLayout layout;
  for (int t = 0; t < 8; ++t) {
    for (int m = 0; m < 6; ++m) {
      const int b = 6 * kRound.sbox[t] + m + 1;  // this subkey bit meets E bit m of the S-box
      layout.word[b] = t % 2;
      layout.position[b] = GroupBit(t, kRound.groupBit[t][m]);
    }
  }
  for (int half = 0; half < 2; ++half) {
    int count = 0;
    for (int n = 28 * half + 1; n <= 28 * half + 28; ++n) {
      for (int b = 0; b < 48; ++b) {
        if (kPc2[b] == n) {
          const int g = 4 * half + count / 6;
          layout.group[g][count % 6] = n;
          ++count;
        }
      }
    }
    if (count != 24) throw "PC-2 does not take 24 bits of each half";
  }
  return layout;
}

constexpr KeyLayout kKey = DeriveKeyLayout();

using KeyTables = std::array<std::array<std::array<uint32_t, 2>, 64>, 8>;

constexpr KeyTables DeriveKeyTables() {
  KeyTables tables{};
  for (int g = 0; g < 8; ++g) {
    for (int v = 0; v < 64; ++v) {
      for (int m = 0; m < 6; ++m) {
        if (((v >> (5 - m)) & 1) == 0) continue;
        for (int b = 1; b <= 48; ++b) {
          if (kPc2[b - 1] == kKey.group[g][m]) {
            tables[g][v][kKey.word[b]] |= uint32_t{1} << kKey.position[b];
          }
        }
      }
    }
  }
  return tables;
}

constexpr KeyTables kKs = DeriveKeyTables();

constexpr uint32_t KeyBit(const uint8_t* key, int n) {
  return (key[(n - 1) / 8] >> (7 - (n - 1) % 8)) & 1u;
}

constexpr uint32_t Rotate28(uint32_t x, int s) {
  return ((x << s) | (x >> (28 - s))) & 0x0FFFFFFF;
}

// Index of group g: the six half bits it names, the first one most significant.
constexpr uint32_t GroupIndex(uint32_t c, uint32_t d, int g) {
  const uint32_t half = g < 4 ? c : d;
  const int offset = g < 4 ? 0 : 28;
  uint32_t index = 0;
  for (int m = 0; m < 6; ++m) {
    index |= ((half >> (28 - (kKey.group[g][m] - offset))) & 1u) << (5 - m);
  }
  return index;
}

// ---------------------------------------------------------------------------------------------

// Blocks decrypted side by side: four keep the table loads and the ALUs busy without spilling
// the sixteen words to memory.
constexpr std::size_t kDesLanes = 4;

// The odd S-boxes take their groups from t = rotr(z ^ k1, 4); three of the four groups are read
// from v = z ^ k1 directly (6 bits further up), and only the one that wraps around needs a
// rotation: one instruction less between z and the table loads, on the serial chain of CBC
// encryption.
inline uint32_t RoundF(uint32_t z, uint32_t k0, uint32_t k1) {
  const uint32_t u = z ^ k0;
  const uint32_t v = z ^ k1;
  return kSp[0][(u >> 2) & 0x3F] ^ kSp[2][(u >> 10) & 0x3F] ^ kSp[4][(u >> 18) & 0x3F] ^
         kSp[6][(u >> 26) & 0x3F] ^ kSp[1][(v >> 6) & 0x3F] ^ kSp[3][(v >> 14) & 0x3F] ^
         kSp[5][(v >> 22) & 0x3F] ^ kSp[7][std::rotr(v, 30) & 0x3F];
}

// Keeps the compiler from regrouping a sum of XORs.
inline uint32_t Settled(uint32_t x) {
#if defined(__GNUC__)
  asm("" : "+r"(x));
#endif
  return x;
}

// y ^= RoundF(z) for one block alone (the serial chain of CBC encryption): y and the word whose
// index takes one instruction go in first, so that after the last table word arrives only two
// levels of XOR remain.
inline void SerialRound(uint32_t& y, uint32_t z, uint32_t k0, uint32_t k1) {
  const uint32_t u = z ^ k0;
  const uint32_t v = z ^ k1;
  const uint32_t early = Settled(y ^ kSp[6][(u >> 26) & 0x3F]);
  const uint32_t a = kSp[0][(u >> 2) & 0x3F] ^ kSp[2][(u >> 10) & 0x3F];
  const uint32_t b = kSp[4][(u >> 18) & 0x3F] ^ kSp[1][(v >> 6) & 0x3F];
  const uint32_t c = kSp[3][(v >> 14) & 0x3F] ^ kSp[5][(v >> 22) & 0x3F];
  const uint32_t d = kSp[7][std::rotr(v, 30) & 0x3F] ^ early;
  y = Settled(a ^ b) ^ Settled(c ^ d);
}

// Sixteen rounds on the permuted words, the rounds in order or, to decrypt, reversed. Afterwards l
// holds the half the standard output starts with.
inline void Rounds(uint32_t& l, uint32_t& r, const DesKeySchedule& k, bool decrypt) {
  if (!decrypt) {
    for (int i = 0; i < 32; i += 8) {
      SerialRound(r, l, k[i], k[i + 1]);
      SerialRound(l, r, k[i + 2], k[i + 3]);
      SerialRound(r, l, k[i + 4], k[i + 5]);
      SerialRound(l, r, k[i + 6], k[i + 7]);
    }
  } else {
    for (int i = 30; i > 0; i -= 8) {
      SerialRound(r, l, k[i], k[i + 1]);
      SerialRound(l, r, k[i - 2], k[i - 1]);
      SerialRound(r, l, k[i - 4], k[i - 3]);
      SerialRound(l, r, k[i - 6], k[i - 5]);
    }
  }
}

// The same on N independent blocks, round by round, so one block's table loads overlap the
// next one's.
template <std::size_t N>
inline void Rounds(uint32_t (&l)[N], uint32_t (&r)[N], const DesKeySchedule& k, bool decrypt) {
  if (!decrypt) {
    for (int i = 0; i < 32; i += 4) {
      for (std::size_t j = 0; j < N; ++j) r[j] ^= RoundF(l[j], k[i], k[i + 1]);
      for (std::size_t j = 0; j < N; ++j) l[j] ^= RoundF(r[j], k[i + 2], k[i + 3]);
    }
  } else {
    for (int i = 30; i > 0; i -= 4) {
      for (std::size_t j = 0; j < N; ++j) r[j] ^= RoundF(l[j], k[i], k[i + 1]);
      for (std::size_t j = 0; j < N; ++j) l[j] ^= RoundF(r[j], k[i - 2], k[i - 1]);
    }
  }
}

inline void Load(const uint8_t* in, uint32_t& l, uint32_t& r) {
  l = LoadLe32(in);
  r = LoadLe32(in + 4);
  InitialPermutation(l, r);
}

inline void Store(uint8_t* out, uint32_t l, uint32_t r) {
  FinalPermutation(l, r);
  StoreLe32(out, r);
  StoreLe32(out + 4, l);
}

// Reading back a block just written gives the two words exchanged. CBC keeps its chaining value
// in that read form, so the permutations stay off the chain: both are linear, the plaintext's
// initial permutation can run ahead and the ciphertext's final permutation behind.
constexpr bool StoredBlockReadsSwapped() {
  const uint32_t words[][2] = {{0x01234567, 0x89ABCDEF}, {1, 0}, {0, 0x80000000}, {0xDEADBEEF, 7}};
  for (const auto& w : words) {
    uint32_t l = w[0], r = w[1];
    FinalPermutation(l, r);
    uint32_t l2 = r, r2 = l;  // as Store writes them and Load reads them
    InitialPermutation(l2, r2);
    if (l2 != w[1] || r2 != w[0]) return false;
  }
  return true;
}
static_assert(StoredBlockReadsSwapped());

namespace des_detail {

void MakeKeySchedule(const uint8_t* key, DesKeySchedule& schedule) {
  uint32_t c = 0, d = 0;
  for (int i = 0; i < 28; ++i) {
    c |= KeyBit(key, kPc1[i]) << (27 - i);
    d |= KeyBit(key, kPc1[28 + i]) << (27 - i);
  }
  for (int round = 0; round < 16; ++round) {
    c = Rotate28(c, kShifts[round]);
    d = Rotate28(d, kShifts[round]);
    uint32_t k0 = 0, k1 = 0;
    for (int g = 0; g < 8; ++g) {
      const auto& pair = kKs[g][GroupIndex(c, d, g)];
      k0 |= pair[0];
      k1 |= pair[1];
    }
    schedule[2 * round] = k0;
    schedule[2 * round + 1] = k1;
  }
  SecureZeroObject(c);
  SecureZeroObject(d);
}

void Encrypt(const uint8_t* in, uint8_t* out, const DesKeySchedule& k) {
  uint32_t l, r;
  Load(in, l, r);
  Rounds(l, r, k, false);
  Store(out, l, r);
}

void Decrypt(const uint8_t* in, uint8_t* out, const DesKeySchedule& k) {
  uint32_t l, r;
  Load(in, l, r);
  Rounds(l, r, k, true);
  Store(out, l, r);
}

// Between two stages the final and the initial permutation cancel except for the exchange of the
// halves, so the words are swapped instead.
void EncryptEde(const uint8_t* in, uint8_t* out, const DesKeySchedule& k1, const DesKeySchedule& k2,
                const DesKeySchedule& k3) {
  uint32_t l, r;
  Load(in, l, r);
  Rounds(l, r, k1, false);
  Rounds(r, l, k2, true);
  Rounds(l, r, k3, false);
  Store(out, l, r);
}

void DecryptEde(const uint8_t* in, uint8_t* out, const DesKeySchedule& k1, const DesKeySchedule& k2,
                const DesKeySchedule& k3) {
  uint32_t l, r;
  Load(in, l, r);
  Rounds(l, r, k3, true);
  Rounds(r, l, k2, false);
  Rounds(l, r, k1, true);
  Store(out, l, r);
}

void EncryptCbc(const uint8_t* in, uint8_t* out, std::size_t n, uint8_t* cv,
                const DesKeySchedule& k) {
  uint32_t cl, cr;
  Load(cv, cl, cr);
  for (; n > 0; --n, in += 8, out += 8) {
    uint32_t l, r;
    Load(in, l, r);
    l ^= cl;
    r ^= cr;
    Rounds(l, r, k, false);
    cl = r;
    cr = l;
    Store(out, l, r);
  }
  Store(cv, cr, cl);
}

void EncryptEdeCbc(const uint8_t* in, uint8_t* out, std::size_t n, uint8_t* cv,
                   const DesKeySchedule& k1, const DesKeySchedule& k2, const DesKeySchedule& k3) {
  uint32_t cl, cr;
  Load(cv, cl, cr);
  for (; n > 0; --n, in += 8, out += 8) {
    uint32_t l, r;
    Load(in, l, r);
    l ^= cl;
    r ^= cr;
    Rounds(l, r, k1, false);
    Rounds(r, l, k2, true);
    Rounds(l, r, k3, false);
    cl = r;
    cr = l;
    Store(out, l, r);
  }
  Store(cv, cr, cl);
}

void DecryptBlocks(const uint8_t* in, uint8_t* out, std::size_t n, const DesKeySchedule& k) {
  constexpr std::size_t N = kDesLanes;
  for (; n >= N; n -= N, in += 8 * N, out += 8 * N) {
    uint32_t l[N], r[N];
    for (std::size_t j = 0; j < N; ++j) Load(in + 8 * j, l[j], r[j]);
    Rounds(l, r, k, true);
    for (std::size_t j = 0; j < N; ++j) Store(out + 8 * j, l[j], r[j]);
  }
  for (; n > 0; --n, in += 8, out += 8) Decrypt(in, out, k);
}

void DecryptEdeBlocks(const uint8_t* in, uint8_t* out, std::size_t n, const DesKeySchedule& k1,
                      const DesKeySchedule& k2, const DesKeySchedule& k3) {
  constexpr std::size_t N = kDesLanes;
  for (; n >= N; n -= N, in += 8 * N, out += 8 * N) {
    uint32_t l[N], r[N];
    for (std::size_t j = 0; j < N; ++j) Load(in + 8 * j, l[j], r[j]);
    Rounds(l, r, k3, true);
    Rounds(r, l, k2, false);
    Rounds(l, r, k1, true);
    for (std::size_t j = 0; j < N; ++j) Store(out + 8 * j, l[j], r[j]);
  }
  for (; n > 0; --n, in += 8, out += 8) DecryptEde(in, out, k1, k2, k3);
}

}  // namespace des_detail
}  // namespace

template <class Derived>
void CustomDes<Derived>::MakeKeySchedule(const uint8_t* key, DesKeySchedule& schedule) {
  des_detail::MakeKeySchedule(key, schedule);
}
template <class Derived>
void CustomDes<Derived>::EncryptWithSchedule(const uint8_t* in, uint8_t* out,
                                             const DesKeySchedule& k) {
  des_detail::Encrypt(in, out, k);
}
template <class Derived>
void CustomDes<Derived>::DecryptWithSchedule(const uint8_t* in, uint8_t* out,
                                             const DesKeySchedule& k) {
  des_detail::Decrypt(in, out, k);
}

template class CustomDes<Des>;
template class CustomDes<TripleDes>;

void Des::EncryptBlockImpl(const uint8_t* in, uint8_t* out) const {
  des_detail::Encrypt(in, out, key_);
}
void Des::DecryptBlockImpl(const uint8_t* in, uint8_t* out) const {
  des_detail::Decrypt(in, out, key_);
}
void Des::DecryptBlocksImpl(const uint8_t* in, uint8_t* out, std::size_t n) const {
  des_detail::DecryptBlocks(in, out, n, key_);
}
void Des::EncryptCbcImpl(const uint8_t* in, uint8_t* out, std::size_t n, uint8_t* cv) const {
  des_detail::EncryptCbc(in, out, n, cv, key_);
}

void TripleDes::EncryptBlockImpl(const uint8_t* in, uint8_t* out) const {
  des_detail::EncryptEde(in, out, k1_, k2_, k3_);
}
void TripleDes::DecryptBlockImpl(const uint8_t* in, uint8_t* out) const {
  des_detail::DecryptEde(in, out, k1_, k2_, k3_);
}
void TripleDes::DecryptBlocksImpl(const uint8_t* in, uint8_t* out, std::size_t n) const {
  des_detail::DecryptEdeBlocks(in, out, n, k1_, k2_, k3_);
}
void TripleDes::EncryptCbcImpl(const uint8_t* in, uint8_t* out, std::size_t n, uint8_t* cv) const {
  des_detail::EncryptEdeCbc(in, out, n, cv, k1_, k2_, k3_);
}

// ---------------------------------------------------------------------------------------------

bool Des::SelfTest() {
  // The DES substitution-table known-answer test (NBS SP 500-20, NIST SP 800-17).
  static constexpr uint8_t kKey1[8] = {0x01, 0x70, 0xF1, 0x75, 0x46, 0x8F, 0xB5, 0xE6};
  static constexpr uint8_t kPlain1[8] = {0x07, 0x56, 0xD8, 0xE0, 0x77, 0x47, 0x61, 0xD2};
  static constexpr uint8_t kCipher1[8] = {0x0C, 0xD3, 0xDA, 0x02, 0x00, 0x21, 0xDC, 0x09};
  static constexpr uint8_t kKey2[8] = {0x02, 0x58, 0x16, 0x16, 0x46, 0x29, 0xB0, 0x07};
  static constexpr uint8_t kPlain2[8] = {0x48, 0x0D, 0x39, 0x00, 0x6E, 0xE7, 0x62, 0xF2};
  static constexpr uint8_t kCipher2[8] = {0xA1, 0xF9, 0x91, 0x55, 0x41, 0x02, 0x0B, 0x56};
  const bool first = BlockKnownAnswer<Des>(kKey1, 64, kPlain1, kCipher1);
  const bool second = BlockKnownAnswer<Des>(kKey2, 64, kPlain2, kCipher2);
  return first && second;
}

void Des::ExpandKey(const uint8_t* key, uint32_t bits) {
  const std::size_t bytes = bits / 8;
  uint8_t k[8] = {};
  std::memcpy(k, key, bytes);
  MakeKeySchedule(k, key_);
  SecureZeroObject(k);
}

bool TripleDes::SelfTest() {
  static constexpr uint8_t kKey[24] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF,
                                       0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10,
                                       0x89, 0xAB, 0xCD, 0xEF, 0x01, 0x23, 0x45, 0x67};
  static constexpr uint8_t kPlain[8] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xE7};
  static constexpr uint8_t kCipher[8] = {0xDE, 0x0B, 0x7C, 0x06, 0xAE, 0x5E, 0x0E, 0xD5};
  return BlockKnownAnswer<TripleDes>(kKey, 192, kPlain, kCipher);
}

void TripleDes::ExpandKey(const uint8_t* key, uint32_t bits) {
  const std::size_t bytes = bits / 8;
  uint8_t k[24] = {};
  std::memcpy(k, key, bytes);
  MakeKeySchedule(k, k1_);
  MakeKeySchedule(k + 8, k2_);
  if (bits <= 128) {
    k3_ = k1_;
  } else {
    MakeKeySchedule(k + 16, k3_);
  }
  SecureZeroObject(k);
}

}  // namespace kryvane
