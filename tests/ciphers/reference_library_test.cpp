// Blowfish, CAST-128, IDEA and RC2 against established libraries for every key size the key-size
// rule accepts (which includes every size the file job derives from a digest), with random and
// degenerate keys, both directions.
#define OPENSSL_SUPPRESS_DEPRECATED  // the one-block RC2 and CAST interfaces are all we need
#include <gtest/gtest.h>
#include <openssl/cast.h>
#include <openssl/rc2.h>

#include <memory>

#include "app/catalogue.h"
#include "tests/support/botan_block.h"

namespace kryvane {
namespace {

using test::Bytes;
using test::ReferenceBlock;

// OpenSSL pads CAST-128 keys shorter than 16 bytes with zeros and runs 12 rounds up to 10 bytes.
ReferenceBlock OpenSslCast(const Bytes& key) {
  auto k = std::make_shared<CAST_KEY>();
  CAST_set_key(k.get(), int(key.size()), key.data());
  return {
      [k](const uint8_t* in, uint8_t* out) { CAST_ecb_encrypt(in, out, k.get(), CAST_ENCRYPT); },
      [k](const uint8_t* in, uint8_t* out) { CAST_ecb_encrypt(in, out, k.get(), CAST_DECRYPT); }};
}

ReferenceBlock OpenSslRc2(const Bytes& key) {
  auto k = std::make_shared<RC2_KEY>();
  RC2_set_key(k.get(), int(key.size()), key.data(), 1024);
  return {[k](const uint8_t* in, uint8_t* out) { RC2_ecb_encrypt(in, out, k.get(), RC2_ENCRYPT); },
          [k](const uint8_t* in, uint8_t* out) { RC2_ecb_encrypt(in, out, k.get(), RC2_DECRYPT); }};
}

// The whole key bytes our class uses; a trailing half byte must be ignored.
Bytes WholeBytes(const Bytes& key, uint32_t bits) {
  return Bytes(key.begin(), key.begin() + bits / 8);
}

struct Reference {
  const char* shortName;
  ReferenceBlock (*make)(const Bytes& key, uint32_t bits);
};

const Reference kReferences[] = {
    {"blowfish", [](const Bytes& k,
                    uint32_t bits) { return test::BotanBlock("Blowfish", WholeBytes(k, bits)); }},
    {"cast128", [](const Bytes& k, uint32_t bits) { return OpenSslCast(WholeBytes(k, bits)); }},
    // Botan takes only 128-bit IDEA keys; shorter keys are zero-padded on the right.
    {"idea", [](const Bytes& k,
                uint32_t bits) { return test::BotanBlock("IDEA", test::PaddedKey(k, bits, 16)); }},
    {"rc2", [](const Bytes& k, uint32_t bits) { return OpenSslRc2(WholeBytes(k, bits)); }},
};

class ReferenceLibrary : public ::testing::TestWithParam<Reference> {};

// All-zero and all-FF keys give degenerate subkeys (IDEA multiplication keys of 0, which stand
// for 65536); the sweep includes both besides random keys.
TEST_P(ReferenceLibrary, MatchesForEveryAcceptedKeySize) {
  const CipherEntry* entry = FindCipher(GetParam().shortName);
  ASSERT_NE(entry, nullptr);
  test::ExpectMatchesReferenceForEveryKeySize(entry->cipher, GetParam().make, {.seed = 20240531});
}

INSTANTIATE_TEST_SUITE_P(Ciphers, ReferenceLibrary, ::testing::ValuesIn(kReferences),
                         [](const auto& info) { return std::string(info.param.shortName); });

}  // namespace
}  // namespace kryvane
