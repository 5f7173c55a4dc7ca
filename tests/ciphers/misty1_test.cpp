#include "ciphers/misty1.h"

#include <gtest/gtest.h>

#include "tests/support/botan_block.h"

namespace kryvane {
namespace {

// Botan takes only full 128-bit keys; shorter keys are compared with their zero-padded form.
TEST(Misty1, MatchesBotanOnEveryKeySize) {
  test::ExpectMatchesReferenceForEveryKeySize(CipherRef::Of<Misty1>(),
                                              [](const test::Bytes& key, uint32_t bits) {
                                                return test::BotanBlock(
                                                    "MISTY1", test::PaddedKey(key, bits, 16));
                                              },
                                              {.randomKeys = 8, .blocks = 16});
}

}  // namespace
}  // namespace kryvane
