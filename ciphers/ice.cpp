#include "ciphers/ice.h"

#include <atomic>

#include "ciphers/ice_internal.h"

namespace kryvane {
namespace ice_detail {
namespace {

using Schedule = IceKeySchedule;

// Published ICE constants: S-box reduction polynomials and XOR values indexed [S-box][row], the
// P-box (entry i is where input bit i goes) and the key rotation list of the two schedule passes.
// clang-format off
constexpr uint16_t kSMod[4][4] = {
    {333, 313, 505, 369},
    {379, 375, 319, 391},
    {361, 445, 451, 397},
    {397, 425, 395, 505},
};
constexpr uint8_t kSXor[4][4] = {
    {0x83, 0x85, 0x9B, 0xCD},
    {0xCC, 0xA7, 0xAD, 0x41},
    {0x4B, 0x2E, 0xD4, 0x33},
    {0xEA, 0xCB, 0x2E, 0x04},
};
constexpr uint32_t kPBox[32] = {
    0x00000001, 0x00000080, 0x00000400, 0x00002000,
    0x00080000, 0x00200000, 0x01000000, 0x40000000,
    0x00000008, 0x00000020, 0x00000100, 0x00004000,
    0x00010000, 0x00800000, 0x04000000, 0x20000000,
    0x00000004, 0x00000010, 0x00000200, 0x00008000,
    0x00020000, 0x00400000, 0x08000000, 0x10000000,
    0x00000002, 0x00000040, 0x00000800, 0x00001000,
    0x00040000, 0x00100000, 0x02000000, 0x80000000,
};
constexpr uint8_t kKeyRot[16] = {
    0, 1, 2, 3, 2, 1, 3, 0,
    1, 3, 2, 0, 3, 1, 0, 2,
};
// clang-format on

std::atomic<int> gSBoxBuilds{0};

// Product in GF(2^8) reduced by the 9-bit polynomial m.
uint32_t GfMultiply(uint32_t a, uint32_t b, uint32_t m) {
  uint32_t r = 0;
  while (b != 0) {
    if (b & 1) r ^= a;
    a <<= 1;
    b >>= 1;
    if (a >= 256) a ^= m;
  }
  return r;
}

uint32_t GfSeventhPower(uint32_t b, uint32_t m) {
  if (b == 0) return 0;
  uint32_t t = GfMultiply(b, b, m);
  t = GfMultiply(b, t, m);
  t = GfMultiply(t, t, m);
  return GfMultiply(b, t, m);
}

uint32_t Permute(uint32_t x) {
  uint32_t r = 0;
  for (int i = 0; x != 0; ++i, x >>= 1) {
    if (x & 1) r |= kPBox[i];
  }
  return r;
}

void BuildSBoxes(SBoxes& sb) {
  gSBoxBuilds.fetch_add(1, std::memory_order_relaxed);
  for (uint32_t x = 0; x < 1024; ++x) {
    const uint32_t column = (x >> 1) & 0xFF;
    const uint32_t row = (x & 1) | ((x >> 8) & 2);  // bits 0 and 9 of the index
    for (int s = 0; s < 4; ++s) {
      const uint32_t v = GfSeventhPower(column ^ kSXor[s][row], kSMod[s][row]);
      sb.s[s][x] = Permute(v << (24 - 8 * s));
    }
  }
}

uint32_t RoundFunction(const SBoxes& sb, uint32_t p, const std::array<uint32_t, 3>& k) {
  // Each 16-bit half grows to 20 bits by borrowing two bits from each neighbour.
  const uint32_t tl = ((p >> 16) & 0x3FF) | (((p >> 14) | (p << 18)) & 0xFFC00);
  const uint32_t tr = (p & 0x3FF) | ((p << 2) & 0xFFC00);
  // The salt k2 selects which bits of the two halves trade places.
  const uint32_t a = k[2] & (tl ^ tr);
  const uint32_t ar = a ^ tr ^ k[1];
  const uint32_t al = a ^ tl ^ k[0];
  return sb.s[0][al >> 10] | sb.s[1][al & 0x3FF] | sb.s[2][ar >> 10] | sb.s[3][ar & 0x3FF];
}

// Fills subkeys n..n+7 from the four key words, rotating (and inverting) the words as their bits
// are consumed, so a following call continues from where this one stopped.
void BuildSchedule(Schedule& schedule, uint16_t w[4], uint32_t n, const uint8_t* rot) {
  for (uint32_t i = 0; i < 8; ++i) {
    auto& sk = schedule.k[n + i];
    sk = {0, 0, 0};
    for (uint32_t j = 0; j < 15; ++j) {
      uint32_t& word = sk[j % 3];
      for (uint32_t k = 0; k < 4; ++k) {
        uint16_t& kw = w[(rot[i] + k) & 3];
        const uint32_t bit = kw & 1u;
        word = (word << 1) | bit;
        kw = uint16_t((kw >> 1) | ((bit ^ 1u) << 15));
      }
    }
  }
}

}  // namespace

const SBoxes& SharedSBoxes() {
  // A function-local static is initialised exactly once even when threads race to it.
  static const SBoxes* const table = [] {
    static SBoxes storage;
    BuildSBoxes(storage);
    return &storage;
  }();
  return *table;
}

int SBoxBuildCount() {
  return gSBoxBuilds.load(std::memory_order_relaxed);
}

namespace {

void SetupKey(Schedule& schedule, const uint8_t* key, uint32_t bits, unsigned level) {
  uint8_t buf[16] = {};
  const uint32_t length = (level < 2 ? 8u : 16u);
  const uint32_t bytes = bits / 8 < length ? bits / 8 : length;
  for (uint32_t i = 0; i < bytes; ++i) buf[i] = key[i];
  uint16_t w[4];
  if (level == 0) {
    schedule.rounds = 8;
    for (int i = 0; i < 4; ++i) w[3 - i] = uint16_t((buf[2 * i] << 8) | buf[2 * i + 1]);
    BuildSchedule(schedule, w, 0, kKeyRot);
  } else {
    schedule.rounds = 16 * level;
    for (uint32_t c = 0; c < level; ++c) {
      for (uint32_t i = 0; i < 4; ++i) {
        w[3 - i] = uint16_t((buf[8 * c + 2 * i] << 8) | buf[8 * c + 2 * i + 1]);
      }
      BuildSchedule(schedule, w, 8 * c, kKeyRot);
      BuildSchedule(schedule, w, schedule.rounds - 8 - 8 * c, kKeyRot + 8);
    }
  }
  SecureZeroObject(buf);
  SecureZeroObject(w);
}

void Encrypt(const SBoxes& sb, const Schedule& schedule, const uint8_t* in, uint8_t* out) {
  uint32_t l = LoadBe32(in);
  uint32_t r = LoadBe32(in + 4);
  for (uint32_t i = 0; i < schedule.rounds; i += 2) {
    l ^= RoundFunction(sb, r, schedule.k[i]);
    r ^= RoundFunction(sb, l, schedule.k[i + 1]);
  }
  StoreBe32(out, r);
  StoreBe32(out + 4, l);
}

void Decrypt(const SBoxes& sb, const Schedule& schedule, const uint8_t* in, uint8_t* out) {
  uint32_t l = LoadBe32(in);
  uint32_t r = LoadBe32(in + 4);
  for (uint32_t i = schedule.rounds; i > 0; i -= 2) {
    l ^= RoundFunction(sb, r, schedule.k[i - 1]);
    r ^= RoundFunction(sb, l, schedule.k[i - 2]);
  }
  StoreBe32(out, r);
  StoreBe32(out + 4, l);
}

void DecryptBlocks(const SBoxes& sb, const Schedule& schedule, const uint8_t* in, uint8_t* out,
                   std::size_t n) {
  // Four blocks round by round: one block's round is a chain of dependent lookups, four keep
  // the processor busy.
  constexpr std::size_t N = 4;
  for (; n >= N; n -= N, in += 8 * N, out += 8 * N) {
    uint32_t l[N], r[N];
    for (std::size_t j = 0; j < N; ++j) {
      l[j] = LoadBe32(in + 8 * j);
      r[j] = LoadBe32(in + 8 * j + 4);
    }
    for (uint32_t i = schedule.rounds; i > 0; i -= 2) {
      for (std::size_t j = 0; j < N; ++j) l[j] ^= RoundFunction(sb, r[j], schedule.k[i - 1]);
      for (std::size_t j = 0; j < N; ++j) r[j] ^= RoundFunction(sb, l[j], schedule.k[i - 2]);
    }
    for (std::size_t j = 0; j < N; ++j) {
      StoreBe32(out + 8 * j, r[j]);
      StoreBe32(out + 8 * j + 4, l[j]);
    }
  }
  for (; n > 0; --n, in += 8, out += 8) Decrypt(sb, schedule, in, out);
}

}  // namespace
}  // namespace ice_detail

// The machinery of the three levels, compiled here once for each.
template <class Derived>
CustomIce<Derived>::CustomIce() : sboxes_(&ice_detail::SharedSBoxes()) {}

template <class Derived>
void CustomIce<Derived>::SetupKey(const uint8_t* key, uint32_t bits, unsigned level) {
  ice_detail::SetupKey(schedule_, key, bits, level);
}

template <class Derived>
void CustomIce<Derived>::EncryptBlockImpl(const uint8_t* in, uint8_t* out) const {
  ice_detail::Encrypt(*sboxes_, schedule_, in, out);
}

template <class Derived>
void CustomIce<Derived>::DecryptBlockImpl(const uint8_t* in, uint8_t* out) const {
  ice_detail::Decrypt(*sboxes_, schedule_, in, out);
}

template <class Derived>
void CustomIce<Derived>::DecryptBlocksImpl(const uint8_t* in, uint8_t* out, std::size_t n) const {
  ice_detail::DecryptBlocks(*sboxes_, schedule_, in, out, n);
}

template class CustomIce<ThinIce>;
template class CustomIce<Ice>;
template class CustomIce<Ice2>;

namespace {

constexpr uint8_t kPlain[8] = {0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10};
constexpr uint8_t kIceKey[8] = {0xDE, 0xAD, 0xBE, 0xEF, 0x01, 0x23, 0x45, 0x67};

}  // namespace

bool ThinIce::SelfTest() {
  static constexpr uint8_t kCipher[8] = {0xDE, 0x24, 0x0D, 0x83, 0xA0, 0x0A, 0x9C, 0xC0};
  return BlockKnownAnswer<ThinIce>(kIceKey, 64, kPlain, kCipher);
}

bool Ice::SelfTest() {
  static constexpr uint8_t kCipher[8] = {0x7D, 0x6E, 0xF1, 0xEF, 0x30, 0xD4, 0x7A, 0x96};
  return BlockKnownAnswer<Ice>(kIceKey, 64, kPlain, kCipher);
}

bool Ice2::SelfTest() {
  static constexpr uint8_t kKey[16] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                       0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
  static constexpr uint8_t kCipher[8] = {0xF9, 0x48, 0x40, 0xD8, 0x69, 0x72, 0xF2, 0x1C};
  return BlockKnownAnswer<Ice2>(kKey, 128, kPlain, kCipher);
}

}  // namespace kryvane
