// Serpent against Botan 2 for every key size: a key of n bits below 256 keys like the 256-bit key
// made of its whole bytes, a 1 bit at position n and zeros. For n = 160 that is the 20 bytes, 01
// and eleven zero bytes; for n = 132 it is 16 bytes, 10 and fifteen zero bytes, whatever the
// key's half-used byte 16 holds. Full-length keys go to Botan as they are.
#include "ciphers/serpent.h"

#include <gtest/gtest.h>

#include "tests/support/botan_block.h"

namespace kryvane {
namespace {

test::ReferenceBlock Reference(const test::Bytes& key, uint32_t bits) {
  test::Bytes k(key.begin(), key.begin() + bits / 8);
  if (bits < 256) k.push_back(uint8_t(1u << (bits % 8)));
  k.resize(32, 0);
  return test::BotanBlock("Serpent", k);
}

TEST(Serpent, MatchesBotanOnEveryKeySize) {
  test::ExpectMatchesReferenceForEveryKeySize(CipherRef::Of<Serpent>(), &Reference,
                                              {.minBits = 4, .randomKeys = 6, .seed = 11});
}

}  // namespace
}  // namespace kryvane
