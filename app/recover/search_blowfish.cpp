#include "app/recover/search_blowfish.h"

#include <array>
#include <cstring>
#include <vector>

#include "crypto/bytes.h"

namespace kryvane::recover {
namespace {

constexpr std::size_t kPiWords = 18 + 4 * 256;

// Blowfish's initial P-array and S-boxes are the fraction of pi, word by word. Computed once (a
// few milliseconds) by Machin's formula, pi = 16 atan(1/5) - 4 atan(1/239), in fixed point:
// limb 0 the integer part, then 32-bit fraction limbs, with guard limbs for the rounding of ten
// thousand terms.
class Fixed {
 public:
  static constexpr std::size_t kLimbs = 1 + kPiWords + 3;

  // this = value / d.
  void Divide(uint32_t d, std::size_t from) {
    uint64_t rem = 0;
    for (std::size_t i = from; i < kLimbs; ++i) {
      const uint64_t cur = (rem << 32) | limbs[i];
      limbs[i] = uint32_t(cur / d);
      rem = cur % d;
    }
  }
  void Add(const Fixed& x, std::size_t from) {
    uint64_t carry = 0;
    for (std::size_t i = kLimbs; i-- > from;) {
      const uint64_t sum = uint64_t(limbs[i]) + x.limbs[i] + carry;
      limbs[i] = uint32_t(sum);
      carry = sum >> 32;
    }
    for (std::size_t i = from; carry != 0 && i-- > 0;) {
      const uint64_t sum = uint64_t(limbs[i]) + carry;
      limbs[i] = uint32_t(sum);
      carry = sum >> 32;
    }
  }
  void Subtract(const Fixed& x, std::size_t from) {
    uint64_t borrow = 0;
    for (std::size_t i = kLimbs; i-- > from;) {
      const uint64_t diff = uint64_t(limbs[i]) - x.limbs[i] - borrow;
      limbs[i] = uint32_t(diff);
      borrow = (diff >> 32) != 0 ? 1 : 0;
    }
    for (std::size_t i = from; borrow != 0 && i-- > 0;) {
      const uint64_t diff = uint64_t(limbs[i]) - borrow;
      limbs[i] = uint32_t(diff);
      borrow = (diff >> 32) != 0 ? 1 : 0;
    }
  }
  std::size_t FirstNonZero() const {
    std::size_t i = 0;
    while (i < kLimbs && limbs[i] == 0) ++i;
    return i;
  }

  std::array<uint32_t, kLimbs> limbs{};
};

// sum += sign * c * atan(1 / m).
void AddArctan(Fixed& sum, uint32_t c, uint32_t m, bool negative) {
  Fixed power, term;
  power.limbs[0] = c;
  power.Divide(m, 0);
  for (uint32_t k = 0;; ++k) {
    const std::size_t from = power.FirstNonZero();
    if (from == Fixed::kLimbs) break;
    term = power;
    term.Divide(2 * k + 1, from);
    if (negative == (k % 2 == 0)) {
      sum.Subtract(term, from);
    } else {
      sum.Add(term, from);
    }
    power.Divide(m * m, from);
  }
}

const std::array<uint32_t, kPiWords>& PiWords() {
  static const std::array<uint32_t, kPiWords> words = [] {
    Fixed pi;
    AddArctan(pi, 16, 5, false);
    AddArctan(pi, 4, 239, true);
    std::array<uint32_t, kPiWords> w{};
    for (std::size_t i = 0; i < kPiWords; ++i) w[i] = pi.limbs[1 + i];
    return w;
  }();
  return words;
}

struct Lanes {
  uint32_t s[kBlowfishLanes][4][256];
  uint32_t p[kBlowfishLanes][18];
};

[[gnu::always_inline]] inline uint32_t F(const uint32_t (*s)[256], uint32_t x) {
  return ((s[0][x >> 24] + s[1][(x >> 16) & 0xFF]) ^ s[2][(x >> 8) & 0xFF]) + s[3][x & 0xFF];
}

// The class's EncryptWords on every lane, the rounds interleaved.
[[gnu::always_inline]] inline void EncryptLanes(const Lanes& t, uint32_t* l, uint32_t* r) {
  uint32_t a[kBlowfishLanes], b[kBlowfishLanes];
  for (std::size_t j = 0; j < kBlowfishLanes; ++j) {
    a[j] = l[j] ^ t.p[j][0];
    b[j] = r[j];
  }
  for (std::size_t i = 1; i < 17; i += 2) {
#pragma GCC unroll 8
    for (std::size_t j = 0; j < kBlowfishLanes; ++j) b[j] = (b[j] ^ t.p[j][i]) ^ F(t.s[j], a[j]);
#pragma GCC unroll 8
    for (std::size_t j = 0; j < kBlowfishLanes; ++j) {
      a[j] = (a[j] ^ t.p[j][i + 1]) ^ F(t.s[j], b[j]);
    }
  }
  for (std::size_t j = 0; j < kBlowfishLanes; ++j) {
    l[j] = b[j] ^ t.p[j][17];
    r[j] = a[j];
  }
}

// The class's decryption of one block (DecryptLanes) for lane j.
void DecryptOne(const Lanes& t, std::size_t j, const uint8_t* in, uint8_t* out) {
  uint32_t l = LoadBe32(in), r = LoadBe32(in + 4);
  for (std::size_t i = 17; i > 1; i -= 2) {
    r ^= F(t.s[j], l ^= t.p[j][i]);
    l ^= F(t.s[j], r ^= t.p[j][i - 1]);
  }
  StoreBe32(out, r ^ t.p[j][0]);
  StoreBe32(out + 4, l ^ t.p[j][1]);
}

}  // namespace

void BlowfishStarts(const uint8_t* const* keys, std::size_t keyBytes, std::size_t count,
                    const uint8_t* c0, const uint8_t* c248, uint8_t (*first)[16],
                    uint8_t (*tar)[16]) {
  const std::array<uint32_t, kPiWords>& pi = PiWords();
  // 33 KB per thread, reused from call to call and wiped after each.
  static thread_local Lanes t;
  for (std::size_t at = 0; at < count; at += kBlowfishLanes) {
    const std::size_t n = count - at < kBlowfishLanes ? count - at : kBlowfishLanes;
    for (std::size_t j = 0; j < kBlowfishLanes; ++j) {
      // Lanes past count repeat the last key; their results are not stored.
      const uint8_t* key = keys[at + (j < n ? j : n - 1)];
      std::memcpy(t.s[j], pi.data() + 18, sizeof t.s[j]);
      std::size_t k = 0;
      for (std::size_t i = 0; i < 18; ++i) {
        uint32_t w = 0;
        for (int b = 0; b < 4; ++b) {
          w = (w << 8) | key[k];
          k = k + 1 == keyBytes ? 0 : k + 1;
        }
        t.p[j][i] = pi[i] ^ w;
      }
    }
    // Each encryption already sees the entries replaced before it.
    uint32_t l[kBlowfishLanes] = {}, r[kBlowfishLanes] = {};
    for (std::size_t i = 0; i < 18; i += 2) {
      EncryptLanes(t, l, r);
      for (std::size_t j = 0; j < kBlowfishLanes; ++j) {
        t.p[j][i] = l[j];
        t.p[j][i + 1] = r[j];
      }
    }
    for (std::size_t box = 0; box < 4; ++box) {
      for (std::size_t i = 0; i < 256; i += 2) {
        EncryptLanes(t, l, r);
        for (std::size_t j = 0; j < kBlowfishLanes; ++j) {
          t.s[j][box][i] = l[j];
          t.s[j][box][i + 1] = r[j];
        }
      }
    }
    // The initial vector E_K(0), then the CBC chain: P0 = D(C0) ^ IV, P1 = D(C1) ^ C0, and the
    // block at 256 after the one at 248.
    uint32_t ivl[kBlowfishLanes] = {}, ivr[kBlowfishLanes] = {};
    EncryptLanes(t, ivl, ivr);
    for (std::size_t j = 0; j < n; ++j) {
      uint8_t d[8];
      DecryptOne(t, j, c0, d);
      StoreBe32(first[at + j], LoadBe32(d) ^ ivl[j]);
      StoreBe32(first[at + j] + 4, LoadBe32(d + 4) ^ ivr[j]);
      DecryptOne(t, j, c0 + 8, d);
      for (int b = 0; b < 8; ++b) first[at + j][8 + b] = uint8_t(d[b] ^ c0[b]);
      if (c248 != nullptr) {
        DecryptOne(t, j, c248 + 8, d);
        for (int b = 0; b < 8; ++b) tar[at + j][b] = uint8_t(d[b] ^ c248[b]);
      }
      SecureZeroObject(d);
    }
    SecureZeroObject(ivl);
    SecureZeroObject(ivr);
    SecureZeroObject(l);
    SecureZeroObject(r);
  }
  SecureZeroObject(t);
}

}  // namespace kryvane::recover
