// The shared known-answer procedures must be able to fail: a self-test that passes whatever the
// cipher or hash computes guards nothing.
#include <gtest/gtest.h>

#include "hashes/sha1.h"
#include "tests/crypto/toy_cipher.h"
#include "tests/support/hex.h"

namespace kryvane {
namespace {

using Bytes = std::vector<uint8_t>;

// Encrypts like the toy cipher but decrypts to something else.
class OneWayToy final : public BlockCipherN<OneWayToy, 8> {
 public:
  static constexpr int32_t kId = 97;
  static constexpr std::string_view kAlgorithm = "OneWayToy";
  static constexpr int32_t kMaxKeySize = 64;
  static bool SelfTest() { return false; }
  void ExpandKey(const uint8_t* key, uint32_t bits) override { toy_.Init(key, bits); }
  void WipeKey() { toy_.Wipe(); }
  void EncryptBlockImpl(const uint8_t* in, uint8_t* out) const { toy_.EncryptBlock(in, out); }
  void DecryptBlockImpl(const uint8_t* in, uint8_t* out) const {
    toy_.DecryptBlock(in, out);
    out[7] ^= 1;
  }

 private:
  test::Toy<8> toy_;
};

TEST(KnownAnswer, BlockCipherCheckFailsOnAWrongEncryptionOrDecryption) {
  const Bytes key = test::FromHex("0123456789ABCDEF"), plain = test::FromHex("1122334455667788");
  test::Toy<8> toy;
  toy.Init(key.data(), 64);
  Bytes right(8);
  toy.EncryptBlock(plain.data(), right.data());
  EXPECT_TRUE(BlockKnownAnswer<test::Toy<8>>(key.data(), 64, plain.data(), right.data()));
  for (std::size_t i : {0u, 7u}) {
    Bytes wrong = right;
    wrong[i] ^= 0x80;
    EXPECT_FALSE(BlockKnownAnswer<test::Toy<8>>(key.data(), 64, plain.data(), wrong.data())) << i;
  }
  // Encryption matches, decryption does not give the plaintext back.
  EXPECT_FALSE(BlockKnownAnswer<OneWayToy>(key.data(), 64, plain.data(), right.data()));
}

TEST(KnownAnswer, HashCheckFailsWhenEitherDigestIsWrong) {
  const Bytes abc = test::FromHex("A9993E364706816ABA3E25717850C26C9CD0D89D");
  const Bytes empty = test::FromHex("DA39A3EE5E6B4B0D3255BFEF95601890AFD80709");
  EXPECT_TRUE(HashKnownAnswer<Sha1>("abc", abc.data(), "", empty.data()));
  Bytes wrong = abc;
  wrong[19] ^= 1;
  EXPECT_FALSE(HashKnownAnswer<Sha1>("abc", wrong.data(), "", empty.data()));
  EXPECT_FALSE(HashKnownAnswer<Sha1>("", empty.data(), "abc", wrong.data()));
}

}  // namespace
}  // namespace kryvane
