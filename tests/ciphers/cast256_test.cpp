// CAST-256 against Botan for every accepted key size: shorter keys are zero-padded to 256 bits.
#include "ciphers/cast256.h"

#include <gtest/gtest.h>

#include "tests/support/botan_block.h"

namespace kryvane {
namespace {

TEST(Cast256, MatchesBotanOnEveryKeySize) {
  test::ExpectMatchesReferenceForEveryKeySize(CipherRef::Of<Cast256>(),
                                              [](const test::Bytes& key, uint32_t bits) {
                                                return test::BotanBlock(
                                                    "CAST-256", test::PaddedKey(key, bits, 32));
                                              },
                                              {.seed = 2612});
}

}  // namespace
}  // namespace kryvane
