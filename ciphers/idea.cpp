#include "ciphers/idea.h"

#include "ciphers/vector_lanes.h"

namespace kryvane {
namespace {

// ---------------------------------------------------------------------------------------------
// Vector paths: one block per 16-bit lane position, so a 128-bit register holds one word of
// eight blocks. The rounds are those of Idea::Crypt, with the multiplication modulo 65537 made
// from the low and high halves of the 16 x 16-bit product.

#ifdef KRYVANE_X86_VECTORS

// x = x * k modulo 65537 in every lane, 0 standing for 65536 (as Idea::Mul).
template <class L, class V>
[[gnu::always_inline]] inline void MulInto(V& x, const V& k) {
  const V lo = x * k;
  V hi;
  L::MulHigh16(x, k, hi);
  const V borrow = V(lo < hi);  // all ones where lo - hi wrapped: add the 1 back
  const V product = lo - hi - borrow;
  const V zero = V(x == 0) | V(k == 0);
  const V other = 1 - x - k;  // 65536 * k = -k, and 65536 * 65536 = 1, modulo 65537
  x = (other & zero) | (product & ~zero);
}

template <class L, class V>
[[gnu::always_inline]] inline void CryptLanes(const uint16_t* k, V& x1, V& x2, V& x3, V& x4) {
  for (int round = 0; round < 8; ++round, k += 6) {
    MulInto<L>(x1, V{} + k[0]);
    x2 += k[1];
    x3 += k[2];
    MulInto<L>(x4, V{} + k[3]);
    V t2 = x1 ^ x3;
    MulInto<L>(t2, V{} + k[4]);
    V t1 = t2 + (x2 ^ x4);
    MulInto<L>(t1, V{} + k[5]);
    t2 += t1;
    x1 ^= t1;
    x4 ^= t2;
    const V oldX2 = x2;
    x2 = x3 ^ t1;
    x3 = oldX2 ^ t2;
  }
  MulInto<L>(x1, V{} + k[0]);
  const V y2 = x3 + k[1];
  const V y3 = x2 + k[2];
  MulInto<L>(x4, V{} + k[3]);
  x2 = y2;
  x3 = y3;
}

#endif

// A group of independent blocks on a vector path: four registers of them.
struct CryptGroup {
  static constexpr std::size_t kBlock = 8;
  static constexpr std::size_t kRegisters = 4;
  const uint16_t* k;

#ifdef KRYVANE_X86_VECTORS
  template <class L>
  [[gnu::always_inline]] void Group(const uint8_t* in, uint8_t* out) const {
    typename L::U16 x[4];
    LoadHalfWords<L>(in, x);
    for (auto& w : x) ByteSwap16<L>(w);
    CryptLanes<L>(k, x[0], x[1], x[2], x[3]);
    for (auto& w : x) ByteSwap16<L>(w);
    StoreHalfWords<L>(x, out);
  }
#endif
};

}  // namespace

bool Idea::SelfTest() {
  static constexpr uint8_t kKey1[16] = {0x3A, 0x98, 0x4E, 0x20, 0x00, 0x19, 0x5D, 0xB3,
                                        0x2E, 0xE5, 0x01, 0xC8, 0xC4, 0x7C, 0xEA, 0x60};
  static constexpr uint8_t kPlain1[8] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
  static constexpr uint8_t kCipher1[8] = {0x97, 0xBC, 0xD8, 0x20, 0x07, 0x80, 0xDA, 0x86};
  static constexpr uint8_t kKey2[16] = {0x00, 0x64, 0x00, 0xC8, 0x01, 0x2C, 0x01, 0x90,
                                        0x01, 0xF4, 0x02, 0x58, 0x02, 0xBC, 0x03, 0x20};
  static constexpr uint8_t kPlain2[8] = {0x05, 0x32, 0x0A, 0x64, 0x14, 0xC8, 0x19, 0xFA};
  static constexpr uint8_t kCipher2[8] = {0x65, 0xBE, 0x87, 0xE7, 0xA2, 0x53, 0x8A, 0xED};
  const bool first = BlockKnownAnswer<Idea>(kKey1, 128, kPlain1, kCipher1);
  const bool second = BlockKnownAnswer<Idea>(kKey2, 128, kPlain2, kCipher2);
  return first && second;
}

uint16_t Idea::MulInverse(uint16_t x) {
  if (x <= 1) return x;  // 0 stands for 65536 = -1, its own inverse, like 1
  // Extended Euclid on 65537 and x, tracking only the coefficient of x.
  int32_t a = 65537, b = x, t0 = 0, t1 = 1;
  while (b != 0) {
    const int32_t q = a / b;
    int32_t r = a - q * b;
    a = b;
    b = r;
    r = t0 - q * t1;
    t0 = t1;
    t1 = r;
  }
  if (t0 < 0) t0 += 65537;
  return uint16_t(t0);
}

void Idea::ExpandKey(const uint8_t* key, uint32_t bits) {
  const std::size_t n = bits / 8;
  uint8_t padded[16] = {};
  for (std::size_t i = 0; i < n; ++i) padded[i] = key[i];
  for (int j = 0; j < 8; ++j) z_[j] = uint16_t((padded[2 * j] << 8) | padded[2 * j + 1]);
  SecureZeroObject(padded);
  // Each group of eight is the previous group's 128 bits rotated left by 25.
  for (int i = 8; i < 52; ++i) {
    const int g = i - i % 8 - 8;
    const int j = i % 8;
    z_[i] = uint16_t((z_[g + (j + 1) % 8] << 9) | (z_[g + (j + 2) % 8] >> 7));
  }
  auto neg = [](uint16_t v) { return uint16_t(0 - v); };
  d_[0] = MulInverse(z_[48]);
  d_[1] = neg(z_[49]);
  d_[2] = neg(z_[50]);
  d_[3] = MulInverse(z_[51]);
  d_[4] = z_[46];
  d_[5] = z_[47];
  // Inner rounds exchange the two additive keys because the round swaps the middle words.
  for (int r = 2; r <= 8; ++r) {
    const int e = 6 * (9 - r);
    uint16_t* dk = d_.data() + 6 * (r - 1);
    dk[0] = MulInverse(z_[e]);
    dk[1] = neg(z_[e + 2]);
    dk[2] = neg(z_[e + 1]);
    dk[3] = MulInverse(z_[e + 3]);
    dk[4] = z_[e - 2];
    dk[5] = z_[e - 1];
  }
  d_[48] = MulInverse(z_[0]);
  d_[49] = neg(z_[1]);
  d_[50] = neg(z_[2]);
  d_[51] = MulInverse(z_[3]);
  isa_ = cpu::VectorIsa(PlannedPaths().decrypt);
}

void Idea::Crypt(const uint16_t* k, const uint8_t* in, uint8_t* out) {
  uint16_t x1 = uint16_t((in[0] << 8) | in[1]), x2 = uint16_t((in[2] << 8) | in[3]);
  uint16_t x3 = uint16_t((in[4] << 8) | in[5]), x4 = uint16_t((in[6] << 8) | in[7]);
  for (int round = 0; round < 8; ++round, k += 6) {
    x1 = Mul(x1, k[0]);
    x2 = uint16_t(x2 + k[1]);
    x3 = uint16_t(x3 + k[2]);
    x4 = Mul(x4, k[3]);
    uint16_t t2 = Mul(uint16_t(x1 ^ x3), k[4]);
    const uint16_t t1 = Mul(uint16_t(t2 + (x2 ^ x4)), k[5]);
    t2 = uint16_t(t1 + t2);
    x1 ^= t1;
    x4 ^= t2;
    const uint16_t oldX2 = x2;
    x2 = uint16_t(x3 ^ t1);
    x3 = uint16_t(oldX2 ^ t2);
  }
  // The output transformation undoes the last round's exchange of the middle words.
  const uint16_t y1 = Mul(x1, k[0]), y2 = uint16_t(x3 + k[1]);
  const uint16_t y3 = uint16_t(x2 + k[2]), y4 = Mul(x4, k[3]);
  out[0] = uint8_t(y1 >> 8);
  out[1] = uint8_t(y1);
  out[2] = uint8_t(y2 >> 8);
  out[3] = uint8_t(y2);
  out[4] = uint8_t(y3 >> 8);
  out[5] = uint8_t(y3);
  out[6] = uint8_t(y4 >> 8);
  out[7] = uint8_t(y4);
}

void Idea::DecryptBlocksImpl(const uint8_t* in, uint8_t* out, std::size_t n) const {
  const uint16_t* k = d_.data();
  const auto one = [k](const uint8_t* p, uint8_t* q) { Crypt(k, p, q); };
  RunGroupsOnPath(LanePaths<Avx512Lanes, Avx2Lanes, SseLanes>{}, isa_, CryptGroup{k}, one, in, out,
                  n);
}

void Idea::WipeKey() {
  z_.Wipe();
  d_.Wipe();
  isa_ = cpu::Isa::kPortable;
}

}  // namespace kryvane
