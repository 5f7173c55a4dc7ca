#include "ciphers/twofish.h"

#include <atomic>
#include <cstring>

#include "ciphers/vector_lanes.h"
#include "crypto/bytes.h"

namespace kryvane {
namespace {

// The fixed permutations q0 and q1.
// clang-format off
constexpr uint8_t kQ[2][256] = {
    {  // q0
        0xA9, 0x67, 0xB3, 0xE8, 0x04, 0xFD, 0xA3, 0x76,
        0x9A, 0x92, 0x80, 0x78, 0xE4, 0xDD, 0xD1, 0x38,
        0x0D, 0xC6, 0x35, 0x98, 0x18, 0xF7, 0xEC, 0x6C,
        0x43, 0x75, 0x37, 0x26, 0xFA, 0x13, 0x94, 0x48,
        0xF2, 0xD0, 0x8B, 0x30, 0x84, 0x54, 0xDF, 0x23,
        0x19, 0x5B, 0x3D, 0x59, 0xF3, 0xAE, 0xA2, 0x82,
        0x63, 0x01, 0x83, 0x2E, 0xD9, 0x51, 0x9B, 0x7C,
        0xA6, 0xEB, 0xA5, 0xBE, 0x16, 0x0C, 0xE3, 0x61,
        0xC0, 0x8C, 0x3A, 0xF5, 0x73, 0x2C, 0x25, 0x0B,
        0xBB, 0x4E, 0x89, 0x6B, 0x53, 0x6A, 0xB4, 0xF1,
        0xE1, 0xE6, 0xBD, 0x45, 0xE2, 0xF4, 0xB6, 0x66,
        0xCC, 0x95, 0x03, 0x56, 0xD4, 0x1C, 0x1E, 0xD7,
        0xFB, 0xC3, 0x8E, 0xB5, 0xE9, 0xCF, 0xBF, 0xBA,
        0xEA, 0x77, 0x39, 0xAF, 0x33, 0xC9, 0x62, 0x71,
        0x81, 0x79, 0x09, 0xAD, 0x24, 0xCD, 0xF9, 0xD8,
        0xE5, 0xC5, 0xB9, 0x4D, 0x44, 0x08, 0x86, 0xE7,
        0xA1, 0x1D, 0xAA, 0xED, 0x06, 0x70, 0xB2, 0xD2,
        0x41, 0x7B, 0xA0, 0x11, 0x31, 0xC2, 0x27, 0x90,
        0x20, 0xF6, 0x60, 0xFF, 0x96, 0x5C, 0xB1, 0xAB,
        0x9E, 0x9C, 0x52, 0x1B, 0x5F, 0x93, 0x0A, 0xEF,
        0x91, 0x85, 0x49, 0xEE, 0x2D, 0x4F, 0x8F, 0x3B,
        0x47, 0x87, 0x6D, 0x46, 0xD6, 0x3E, 0x69, 0x64,
        0x2A, 0xCE, 0xCB, 0x2F, 0xFC, 0x97, 0x05, 0x7A,
        0xAC, 0x7F, 0xD5, 0x1A, 0x4B, 0x0E, 0xA7, 0x5A,
        0x28, 0x14, 0x3F, 0x29, 0x88, 0x3C, 0x4C, 0x02,
        0xB8, 0xDA, 0xB0, 0x17, 0x55, 0x1F, 0x8A, 0x7D,
        0x57, 0xC7, 0x8D, 0x74, 0xB7, 0xC4, 0x9F, 0x72,
        0x7E, 0x15, 0x22, 0x12, 0x58, 0x07, 0x99, 0x34,
        0x6E, 0x50, 0xDE, 0x68, 0x65, 0xBC, 0xDB, 0xF8,
        0xC8, 0xA8, 0x2B, 0x40, 0xDC, 0xFE, 0x32, 0xA4,
        0xCA, 0x10, 0x21, 0xF0, 0xD3, 0x5D, 0x0F, 0x00,
        0x6F, 0x9D, 0x36, 0x42, 0x4A, 0x5E, 0xC1, 0xE0,
    },
    {  // q1
        0x75, 0xF3, 0xC6, 0xF4, 0xDB, 0x7B, 0xFB, 0xC8,
        0x4A, 0xD3, 0xE6, 0x6B, 0x45, 0x7D, 0xE8, 0x4B,
        0xD6, 0x32, 0xD8, 0xFD, 0x37, 0x71, 0xF1, 0xE1,
        0x30, 0x0F, 0xF8, 0x1B, 0x87, 0xFA, 0x06, 0x3F,
        0x5E, 0xBA, 0xAE, 0x5B, 0x8A, 0x00, 0xBC, 0x9D,
        0x6D, 0xC1, 0xB1, 0x0E, 0x80, 0x5D, 0xD2, 0xD5,
        0xA0, 0x84, 0x07, 0x14, 0xB5, 0x90, 0x2C, 0xA3,
        0xB2, 0x73, 0x4C, 0x54, 0x92, 0x74, 0x36, 0x51,
        0x38, 0xB0, 0xBD, 0x5A, 0xFC, 0x60, 0x62, 0x96,
        0x6C, 0x42, 0xF7, 0x10, 0x7C, 0x28, 0x27, 0x8C,
        0x13, 0x95, 0x9C, 0xC7, 0x24, 0x46, 0x3B, 0x70,
        0xCA, 0xE3, 0x85, 0xCB, 0x11, 0xD0, 0x93, 0xB8,
        0xA6, 0x83, 0x20, 0xFF, 0x9F, 0x77, 0xC3, 0xCC,
        0x03, 0x6F, 0x08, 0xBF, 0x40, 0xE7, 0x2B, 0xE2,
        0x79, 0x0C, 0xAA, 0x82, 0x41, 0x3A, 0xEA, 0xB9,
        0xE4, 0x9A, 0xA4, 0x97, 0x7E, 0xDA, 0x7A, 0x17,
        0x66, 0x94, 0xA1, 0x1D, 0x3D, 0xF0, 0xDE, 0xB3,
        0x0B, 0x72, 0xA7, 0x1C, 0xEF, 0xD1, 0x53, 0x3E,
        0x8F, 0x33, 0x26, 0x5F, 0xEC, 0x76, 0x2A, 0x49,
        0x81, 0x88, 0xEE, 0x21, 0xC4, 0x1A, 0xEB, 0xD9,
        0xC5, 0x39, 0x99, 0xCD, 0xAD, 0x31, 0x8B, 0x01,
        0x18, 0x23, 0xDD, 0x1F, 0x4E, 0x2D, 0xF9, 0x48,
        0x4F, 0xF2, 0x65, 0x8E, 0x78, 0x5C, 0x58, 0x19,
        0x8D, 0xE5, 0x98, 0x57, 0x67, 0x7F, 0x05, 0x64,
        0xAF, 0x63, 0xB6, 0xFE, 0xF5, 0xB7, 0x3C, 0xA5,
        0xCE, 0xE9, 0x68, 0x44, 0xE0, 0x4D, 0x43, 0x69,
        0x29, 0x2E, 0xAC, 0x15, 0x59, 0xA8, 0x0A, 0x9E,
        0x6E, 0x47, 0xDF, 0x34, 0x35, 0x6A, 0xCF, 0xDC,
        0x22, 0xC9, 0xC0, 0x9B, 0x89, 0xD4, 0xED, 0xAB,
        0x12, 0xA2, 0x0D, 0x52, 0xBB, 0x02, 0x2F, 0xA9,
        0xD7, 0x61, 0x1E, 0xB4, 0x50, 0x04, 0xF6, 0xC2,
        0x16, 0x25, 0x86, 0x56, 0x55, 0x09, 0xBE, 0x91,
    },
};
// clang-format on

// The q permutation each byte position passes through in each key layer of h, the layer of key
// word 3 first. The last q of every position is folded into the MDS tables.
constexpr int kLayerQ[4][4] = {{0, 0, 1, 1}, {0, 1, 0, 1}, {1, 1, 0, 0}, {1, 0, 0, 1}};

// Multiplications by 5B and EF in GF(2^8) modulo x^8 + x^6 + x^5 + x^3 + 1.
constexpr uint8_t Lfsr1(uint8_t y) {
  return uint8_t((y >> 1) ^ ((y & 1) ? 0xB4 : 0));
}
constexpr uint8_t Lfsr2(uint8_t y) {
  return uint8_t((y >> 2) ^ ((y & 2) ? 0xB4 : 0) ^ ((y & 1) ? 0x5A : 0));
}
constexpr uint8_t Mul5B(uint8_t y) {
  return uint8_t(y ^ Lfsr2(y));
}
constexpr uint8_t MulEF(uint8_t y) {
  return uint8_t(y ^ Lfsr1(y) ^ Lfsr2(y));
}

constexpr uint32_t Word(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
  return uint32_t(b0) | (uint32_t(b1) << 8) | (uint32_t(b2) << 16) | (uint32_t(b3) << 24);
}

// Column j of the MDS matrix times the final q of byte position j.
struct MdsTables {
  uint32_t t[4][256];
};

std::atomic<int> gMdsTableBuilds{0};

MdsTables BuildMdsTables() {
  gMdsTableBuilds.fetch_add(1, std::memory_order_relaxed);
  MdsTables m;
  for (int x = 0; x < 256; ++x) {
    const uint8_t a = kQ[1][x];
    const uint8_t b = kQ[0][x];
    m.t[0][x] = Word(a, Mul5B(a), MulEF(a), MulEF(a));
    m.t[1][x] = Word(MulEF(b), MulEF(b), Mul5B(b), b);
    m.t[2][x] = Word(Mul5B(a), MulEF(a), a, MulEF(a));
    m.t[3][x] = Word(Mul5B(b), b, MulEF(b), Mul5B(b));
  }
  return m;
}

// Built on first use, once per process; the language makes concurrent first use safe.
const MdsTables& Mds() {
  static const MdsTables tables = BuildMdsTables();
  return tables;
}

constexpr uint8_t Byte(uint32_t w, int j) {
  return uint8_t(w >> (8 * j));
}

// Byte position j of h without its final q and MDS column: the key layers of words k-1 .. 0.
inline uint8_t KeyedQ(uint8_t x, int j, const uint32_t* l, int k) {
  for (int layer = k - 1; layer >= 0; --layer)
    x = uint8_t(kQ[kLayerQ[layer][j]][x] ^ Byte(l[layer], j));
  return x;
}

// The h function of k key words.
uint32_t H(uint32_t x, const uint32_t* l, int k, const MdsTables& mds) {
  uint32_t y = 0;
  for (int j = 0; j < 4; ++j) y ^= mds.t[j][KeyedQ(Byte(x, j), j, l, k)];
  return y;
}

// Reed-Solomon code of one 64-bit key block over GF(2^8) modulo x^8 + x^6 + x^3 + x^2 + 1.
uint32_t RsEncode(uint32_t even, uint32_t odd) {
  uint32_t r = odd;
  for (int pass = 0; pass < 2; ++pass) {
    if (pass == 1) r ^= even;
    for (int step = 0; step < 4; ++step) {
      const uint32_t b = r >> 24;
      const uint32_t g2 = ((b << 1) ^ ((b & 0x80) ? 0x14D : 0)) & 0xFF;
      const uint32_t g3 = (b >> 1) ^ ((b & 1) ? 0xA6 : 0) ^ g2;
      r = (r << 8) ^ (g3 << 24) ^ (g2 << 16) ^ (g3 << 8) ^ b;
    }
  }
  return r;
}

#ifdef KRYVANE_X86_VECTORS
// ---------------------------------------------------------------------------------------------
// Decryption with one block per 32-bit vector lane and gathered table look-ups (the four keyed
// tables interleaved as in Twofish::sBoxes_). Only with AVX-512: eight-lane gathers lose to four
// blocks interleaved in plain code.

template <class L, class V>
[[gnu::always_inline]] inline void GLanes(const uint32_t* s, const V& x, V& out) {
  V a, b, c, d;
  L::Gather(s, (x & 0xFF) << 1, a);
  L::Gather(s + 1, ((x >> 8) & 0xFF) << 1, b);
  L::Gather(s + 512, ((x >> 16) & 0xFF) << 1, c);
  L::Gather(s + 513, (x >> 24) << 1, d);
  out = a ^ b ^ c ^ d;
}

template <class L, class V>
[[gnu::always_inline]] inline void DecryptLanes(const uint32_t* s, const uint32_t* k, V& r0, V& r1,
                                                V& r2, V& r3) {
  r0 ^= k[4];
  r1 ^= k[5];
  r2 ^= k[6];
  r3 ^= k[7];
  for (int r = 15; r > 0; r -= 2) {
    V t0, t1, u;
    GLanes<L>(s, r0, t0);
    u = r1;
    Rotl<8>(u);
    GLanes<L>(s, u, t1);
    Rotl<1>(r2);
    r2 ^= t0 + t1 + k[2 * r + 8];
    r3 ^= t0 + 2 * t1 + k[2 * r + 9];
    Rotl<31>(r3);
    GLanes<L>(s, r2, t0);
    u = r3;
    Rotl<8>(u);
    GLanes<L>(s, u, t1);
    Rotl<1>(r0);
    r0 ^= t0 + t1 + k[2 * r + 6];
    r1 ^= t0 + 2 * t1 + k[2 * r + 7];
    Rotl<31>(r1);
  }
  // The output order is r2, r3, r0, r1.
  const V a = r2 ^ k[0], b = r3 ^ k[1], c = r0 ^ k[2], d = r1 ^ k[3];
  r0 = a;
  r1 = b;
  r2 = c;
  r3 = d;
}

#endif

// A group of independent blocks on a vector path: four registers of consecutive blocks,
// transposed to one word per register and back.
struct GatherGroup {
  static constexpr std::size_t kBlock = 16;
  static constexpr std::size_t kRegisters = 4;
  const uint32_t* s;
  const uint32_t* k;

#ifdef KRYVANE_X86_VECTORS
  template <class L>
  [[gnu::always_inline]] void Group(const uint8_t* in, uint8_t* out) const {
    typename L::U32 w[4];
    LoadWords<L>(in, w);
    DecryptLanes<L>(s, k, w[0], w[1], w[2], w[3]);
    StoreWords<L>(w, out);
  }
#endif
};

}  // namespace

// The shared tables are built with the first instance, not inside the first key setup.
Twofish::Twofish() {
  Mds();
}

int Twofish::MdsTableBuilds() {
  return gMdsTableBuilds.load(std::memory_order_relaxed);
}

void Twofish::WipeKey() {
  sBoxes_.Wipe();
  subKeys_.Wipe();
  isa_ = cpu::Isa::kPortable;
}

void Twofish::ExpandKey(const uint8_t* key, uint32_t bits) {
  const std::size_t bytes = bits / 8;
  const int k = bits <= 128 ? 2 : bits <= 192 ? 3 : 4;  // by bits, not by whole bytes
  uint8_t padded[32] = {};
  std::memcpy(padded, key, bytes);
  uint32_t even[4] = {}, odd[4] = {}, s[4] = {};
  for (int i = 0; i < k; ++i) {
    even[i] = LoadLe32(padded + 8 * i);
    odd[i] = LoadLe32(padded + 8 * i + 4);
    s[k - 1 - i] = RsEncode(even[i], odd[i]);
  }
  const MdsTables& mds = Mds();
  for (uint32_t i = 0; i < 20; ++i) {
    const uint32_t a = H(2 * i * 0x01010101u, even, k, mds);
    const uint32_t b = Rotl32(H((2 * i + 1) * 0x01010101u, odd, k, mds), 8);
    subKeys_[2 * i] = a + b;
    subKeys_[2 * i + 1] = Rotl32(a + 2 * b, 9);
  }
  for (int x = 0; x < 256; ++x) {
    const auto v = uint8_t(x);
    sBoxes_[2 * x] = mds.t[0][KeyedQ(v, 0, s, k)];
    sBoxes_[2 * x + 1] = mds.t[1][KeyedQ(v, 1, s, k)];
    sBoxes_[512 + 2 * x] = mds.t[2][KeyedQ(v, 2, s, k)];
    sBoxes_[512 + 2 * x + 1] = mds.t[3][KeyedQ(v, 3, s, k)];
  }
  SecureZeroObject(padded);
  SecureZeroObject(even);
  SecureZeroObject(odd);
  SecureZeroObject(s);
  isa_ = cpu::VectorIsa(PlannedPaths().decrypt);
}

void Twofish::EncryptBlockImpl(const uint8_t* in, uint8_t* out) const {
  const uint32_t* k = subKeys_.data();
  uint32_t r0 = LoadLe32(in) ^ k[0];
  uint32_t r1 = LoadLe32(in + 4) ^ k[1];
  uint32_t r2 = LoadLe32(in + 8) ^ k[2];
  uint32_t r3 = LoadLe32(in + 12) ^ k[3];
  for (int r = 0; r < 16; r += 2) {
    uint32_t t0 = G(r0);
    uint32_t t1 = G8(r1);
    r2 = Rotr32(r2 ^ (t0 + t1 + k[2 * r + 8]), 1);
    r3 = Rotl32(r3, 1) ^ (t0 + 2 * t1 + k[2 * r + 9]);
    t0 = G(r2);
    t1 = G8(r3);
    r0 = Rotr32(r0 ^ (t0 + t1 + k[2 * r + 10]), 1);
    r1 = Rotl32(r1, 1) ^ (t0 + 2 * t1 + k[2 * r + 11]);
  }
  StoreLe32(out, r2 ^ k[4]);
  StoreLe32(out + 4, r3 ^ k[5]);
  StoreLe32(out + 8, r0 ^ k[6]);
  StoreLe32(out + 12, r1 ^ k[7]);
}

void Twofish::DecryptBlockImpl(const uint8_t* in, uint8_t* out) const {
  DecryptGroup<1>(in, out);
}

// kN blocks side by side: the table look-ups of one block overlap the additions of the others.
template <int kN>
inline void Twofish::DecryptGroup(const uint8_t* in, uint8_t* out) const {
  const uint32_t* k = subKeys_.data();
  uint32_t r0[kN], r1[kN], r2[kN], r3[kN];
  for (int b = 0; b < kN; ++b) {
    r0[b] = LoadLe32(in + 16 * b) ^ k[4];
    r1[b] = LoadLe32(in + 16 * b + 4) ^ k[5];
    r2[b] = LoadLe32(in + 16 * b + 8) ^ k[6];
    r3[b] = LoadLe32(in + 16 * b + 12) ^ k[7];
  }
  for (int r = 15; r > 0; r -= 2) {
#pragma GCC unroll 4
    for (int b = 0; b < kN; ++b) {
      const uint32_t t0 = G(r0[b]);
      const uint32_t t1 = G8(r1[b]);
      r2[b] = Rotl32(r2[b], 1) ^ (t0 + t1 + k[2 * r + 8]);
      r3[b] = Rotr32(r3[b] ^ (t0 + 2 * t1 + k[2 * r + 9]), 1);
    }
#pragma GCC unroll 4
    for (int b = 0; b < kN; ++b) {
      const uint32_t t0 = G(r2[b]);
      const uint32_t t1 = G8(r3[b]);
      r0[b] = Rotl32(r0[b], 1) ^ (t0 + t1 + k[2 * r + 6]);
      r1[b] = Rotr32(r1[b] ^ (t0 + 2 * t1 + k[2 * r + 7]), 1);
    }
  }
  for (int b = 0; b < kN; ++b) {
    StoreLe32(out + 16 * b, r2[b] ^ k[0]);
    StoreLe32(out + 16 * b + 4, r3[b] ^ k[1]);
    StoreLe32(out + 16 * b + 8, r0[b] ^ k[2]);
    StoreLe32(out + 16 * b + 12, r1[b] ^ k[3]);
  }
}

void Twofish::DecryptBlocksImpl(const uint8_t* in, uint8_t* out, std::size_t n) const {
  const auto one = [this](const uint8_t* p, uint8_t* q) { DecryptGroup<1>(p, q); };
  const auto portable = [this](const uint8_t* p, uint8_t* q, std::size_t m) {
    for (; m >= kInterleave; m -= kInterleave, p += 16 * kInterleave, q += 16 * kInterleave) {
      DecryptGroup<kInterleave>(p, q);
    }
    for (; m > 0; --m, p += 16, q += 16) DecryptGroup<1>(p, q);
  };
  RunGroupsOnPath(LanePaths<Avx512Lanes>{}, isa_, GatherGroup{sBoxes_.data(), subKeys_.data()}, one,
                  portable, in, out, n);
}

bool Twofish::SelfTest() {
  // The iterated test of the Twofish submission: each pass keys with the previous ciphertext and
  // part of the previous key, 49 passes per key length.
  struct Case {
    uint32_t bits;
    uint8_t expected[16];
  };
  static constexpr Case kCases[3] = {
      {128,
       {0x5d, 0x9d, 0x4e, 0xef, 0xfa, 0x91, 0x51, 0x57, 0x55, 0x24, 0xf1, 0x15, 0x81, 0x5a, 0x12,
        0xe0}},
      {192,
       {0xe7, 0x54, 0x49, 0x21, 0x2b, 0xee, 0xf9, 0xf4, 0xa3, 0x90, 0xbd, 0x86, 0x0a, 0x64, 0x09,
        0x41}},
      {256,
       {0x37, 0xfe, 0x26, 0xff, 0x1c, 0xf6, 0x61, 0x75, 0xf5, 0xdd, 0xf4, 0xc3, 0x3b, 0x97, 0xa2,
        0x05}},
  };
  bool ok = true;
  try {
    Twofish c;
    for (const Case& t : kCases) {
      uint8_t key[32] = {};
      uint8_t block[16] = {};
      for (int pass = 0; pass < 49; ++pass) {
        c.Init(key, t.bits);
        if (t.bits == 192) std::memcpy(key + 16, key, 8);
        if (t.bits == 256) std::memcpy(key + 16, key, 16);
        std::memcpy(key, block, 16);
        c.EncryptBlock(block, block);
        c.Wipe();
      }
      ok = ok && std::memcmp(block, t.expected, 16) == 0;
    }
    c.Wipe();
  } catch (...) {
    return false;
  }
  return ok;
}

}  // namespace kryvane
