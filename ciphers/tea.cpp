#include "ciphers/tea.h"

namespace kryvane {
namespace {

constexpr uint32_t kDelta = 0x9E3779B9;
constexpr uint32_t kDecryptSum = 0xC6EF3720;  // 32 * kDelta mod 2^32
static_assert(uint32_t(32u * kDelta) == kDecryptSum);

// (x << 4) + (x ^ a) + ((x >> 5) ^ sum) + b: the term the file format was written with.
inline uint32_t Mix(uint32_t x, uint32_t sum, uint32_t a, uint32_t b) {
  return (x << 4) + (x ^ a) + ((x >> 5) ^ sum) + b;
}

}  // namespace

bool Tea::SelfTest() {
  static constexpr uint8_t kKey[16] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF,
                                       0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10};
  static constexpr uint8_t kPlain[8] = {0x78, 0x56, 0x34, 0x12, 0xF0, 0xDE, 0xBC, 0x9A};
  try {
    Tea c;
    c.Init(kKey, 128);
    uint8_t buf[8];
    c.EncryptBlock(kPlain, buf);
    const bool changed = std::memcmp(buf, kPlain, 8) != 0;
    c.DecryptBlock(buf, buf);
    const bool restored = std::memcmp(buf, kPlain, 8) == 0;
    c.Wipe();
    return changed && restored;
  } catch (...) {
    return false;
  }
}

void Tea::ExpandKey(const uint8_t* key, uint32_t bits) {
  if (bits < 8) throw CipherError(kInvalidKeySize);
  uint8_t buf[16] = {};
  const uint32_t bytes = bits / 8 < 16 ? bits / 8 : 16;
  for (uint32_t i = 0; i < bytes; ++i) buf[i] = key[i];
  for (int i = 0; i < 4; ++i) k_[i] = LoadBe32(buf + 4 * i);
  SecureZeroObject(buf);
}

void Tea::EncryptBlockImpl(const uint8_t* in, uint8_t* out) const {
  const uint32_t k0 = k_[0], k1 = k_[1], k2 = k_[2], k3 = k_[3];
  uint32_t y = LoadBe32(in);
  uint32_t z = LoadBe32(in + 4);
  uint32_t sum = 0;
  for (int n = 0; n < 32; ++n) {
    sum += kDelta;
    y += Mix(z, sum, k0, k1);
    z += Mix(y, sum, k2, k3);
  }
  StoreBe32(out, y);
  StoreBe32(out + 4, z);
}

void Tea::DecryptBlockImpl(const uint8_t* in, uint8_t* out) const {
  const uint32_t k0 = k_[0], k1 = k_[1], k2 = k_[2], k3 = k_[3];
  uint32_t y = LoadBe32(in);
  uint32_t z = LoadBe32(in + 4);
  uint32_t sum = kDecryptSum;
  for (int n = 0; n < 32; ++n) {
    z -= Mix(y, sum, k2, k3);
    y -= Mix(z, sum, k0, k1);
    sum -= kDelta;
  }
  StoreBe32(out, y);
  StoreBe32(out + 4, z);
}

}  // namespace kryvane
