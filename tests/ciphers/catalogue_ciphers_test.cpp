// What every cipher of the menu must do alike: pass its self-test, accept exactly the key sizes
// its rule allows, and write and read files in the one chain they are stored with, for every
// hash of the menu.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "app/catalogue.h"
#include "tests/support/cipher_checks.h"

namespace kryvane {
namespace {

using test::Bytes;

// Short names of the menu entries.
std::vector<std::string> MenuCiphers() {
  std::vector<std::string> v;
  for (const CipherEntry& e : CipherCatalogue()) v.emplace_back(e.shortName);
  return v;
}

// The smallest size each algorithm can key with: one whole byte, except Serpent (which pads
// any size, even a half byte) and MARS (whole 32-bit words only).
const std::map<std::string, uint32_t, std::less<>> kSmallestKey = {
    {"blowfish", 8}, {"cast128", 8},  {"cast256", 8}, {"des", 8},   {"3des", 8},    {"ice", 8},
    {"thinice", 8},  {"ice2", 8},     {"idea", 8},    {"mars", 32}, {"misty1", 8},  {"rc2", 8},
    {"rc4", 8},      {"rijndael", 8}, {"serpent", 4}, {"tea", 8},   {"twofish", 8},
};

class CatalogueCipher : public ::testing::TestWithParam<std::string> {
 protected:
  const CipherRef& Ref() const { return FindCipher(GetParam())->cipher; }
};

TEST_P(CatalogueCipher, SelfTestPasses) {
  EXPECT_TRUE(Ref().SelfTest());
}

// A refused size raises "Invalid key size" and leaves even a keyed instance unkeyed, so nothing
// can run with the former key.
void ExpectRefused(Cipher& c, uint32_t bits, const Bytes& key, uint32_t validBits) {
  SCOPED_TRACE("bits " + std::to_string(bits));
  c.Init(key.data(), validBits);
  try {
    c.Init(key.data(), bits);
    ADD_FAILURE() << "accepted";
  } catch (const CipherError& e) {
    EXPECT_STREQ(e.what(), kInvalidKeySize);
  }
  EXPECT_FALSE(c.Initialized());
  uint8_t buf[32] = {};
  EXPECT_THROW(c.Encrypt(buf, buf, sizeof buf), CipherError);
  if (auto* block = dynamic_cast<BlockCipher*>(&c)) {
    EXPECT_THROW(block->EncryptBlock(buf, buf), BlockCipherError);
    EXPECT_THROW(block->GetIV(buf), BlockCipherError);
    EXPECT_THROW(block->EncryptCBC(buf, buf, sizeof buf), BlockCipherError);
    EXPECT_THROW(block->DecryptCBC(buf, buf, sizeof buf), BlockCipherError);
  }
}

// Accepted: every multiple of 4 from the smallest size to the maximum. Refused: everything
// below it, sizes that are no multiple of 4, and sizes above the maximum.
TEST_P(CatalogueCipher, KeySizeRule) {
  const auto smallest = kSmallestKey.find(GetParam());
  ASSERT_NE(smallest, kSmallestKey.end()) << "no key rule listed for " << GetParam();
  const uint32_t min = smallest->second;
  const uint32_t max = static_cast<uint32_t>(Ref().maxKeySize);
  std::mt19937 rng(max);
  const Bytes key = test::RandomBytes(rng, max / 8 + 8);
  auto c = Ref().Create();
  for (uint32_t bits = min; bits <= max; bits += 4) {
    c->Init(key.data(), bits);
    EXPECT_TRUE(c->Initialized()) << bits;
  }
  std::vector<uint32_t> refused = {6, 9, max - 2, max + 1, max + 4, max + 8};
  for (uint32_t bits = 0; bits < min; bits += 4) refused.push_back(bits);
  for (uint32_t bits : refused) ExpectRefused(*c, bits, key, max);
}

// Every hash of the menu, sizes around a block and around the 8192-byte stream chunk.
TEST_P(CatalogueCipher, FileFormatWithEveryHash) {
  std::mt19937 rng(7);
  for (const HashEntry& h : HashCatalogue()) test::ExpectFileFormat(Ref(), h.hash, rng);
}

INSTANTIATE_TEST_SUITE_P(Menu, CatalogueCipher, ::testing::ValuesIn(MenuCiphers()),
                         [](const auto& info) { return info.param; });

}  // namespace
}  // namespace kryvane
