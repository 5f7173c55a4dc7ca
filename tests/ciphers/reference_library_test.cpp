// Blowfish, CAST-128, IDEA and RC2 against established libraries: every key size the key-size
// rule accepts (which includes every size the file job derives from a digest), random and
// degenerate keys, random blocks, both directions; the sizes that must be refused; and the file
// path (key from a passphrase, streamed CBC) with every hash in the catalogue.
#define OPENSSL_SUPPRESS_DEPRECATED  // the one-block RC2 and CAST interfaces are all we need
#include <botan/block_cipher.h>
#include <gtest/gtest.h>
#include <openssl/cast.h>
#include <openssl/rc2.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <random>

#include "app/catalogue.h"
#include "tests/support/hex.h"

namespace kryvane {
namespace {

using test::ToHex;
using Bytes = std::vector<uint8_t>;

// One keyed block transform of a reference library.
class RefCipher {
 public:
  virtual ~RefCipher() = default;
  virtual void Encrypt(const uint8_t* in, uint8_t* out) = 0;
  virtual void Decrypt(const uint8_t* in, uint8_t* out) = 0;
};

class BotanRef final : public RefCipher {
 public:
  BotanRef(const char* name, const Bytes& key) : c_(Botan::BlockCipher::create_or_throw(name)) {
    c_->set_key(key.data(), key.size());
  }
  void Encrypt(const uint8_t* in, uint8_t* out) override { c_->encrypt(in, out); }
  void Decrypt(const uint8_t* in, uint8_t* out) override { c_->decrypt(in, out); }

 private:
  std::unique_ptr<Botan::BlockCipher> c_;
};

// OpenSSL pads CAST-128 keys shorter than 16 bytes with zeros and runs 12 rounds up to 10 bytes.
class OpenSslCast final : public RefCipher {
 public:
  explicit OpenSslCast(const Bytes& key) { CAST_set_key(&k_, int(key.size()), key.data()); }
  void Encrypt(const uint8_t* in, uint8_t* out) override {
    CAST_ecb_encrypt(in, out, &k_, CAST_ENCRYPT);
  }
  void Decrypt(const uint8_t* in, uint8_t* out) override {
    CAST_ecb_encrypt(in, out, &k_, CAST_DECRYPT);
  }

 private:
  CAST_KEY k_;
};

class OpenSslRc2 final : public RefCipher {
 public:
  explicit OpenSslRc2(const Bytes& key) { RC2_set_key(&k_, int(key.size()), key.data(), 1024); }
  void Encrypt(const uint8_t* in, uint8_t* out) override {
    RC2_ecb_encrypt(in, out, &k_, RC2_ENCRYPT);
  }
  void Decrypt(const uint8_t* in, uint8_t* out) override {
    RC2_ecb_encrypt(in, out, &k_, RC2_DECRYPT);
  }

 private:
  RC2_KEY k_;
};

struct Reference {
  const char* shortName;
  // Keys the library with the whole key bytes our class uses, applying its padding rule.
  std::function<std::unique_ptr<RefCipher>(const Bytes&)> make;
};

const Reference kReferences[] = {
    {"blowfish", [](const Bytes& k) { return std::make_unique<BotanRef>("Blowfish", k); }},
    {"cast128", [](const Bytes& k) { return std::make_unique<OpenSslCast>(k); }},
    // Botan takes only 128-bit IDEA keys; shorter keys are zero-padded on the right.
    {"idea",
     [](const Bytes& k) {
       Bytes padded(k);
       padded.resize(16, 0);
       return std::make_unique<BotanRef>("IDEA", padded);
     }},
    {"rc2", [](const Bytes& k) { return std::make_unique<OpenSslRc2>(k); }},
};

class ReferenceLibrary : public ::testing::TestWithParam<Reference> {
 protected:
  void SetUp() override {
    const CipherEntry* entry = FindCipher(GetParam().shortName);
    ASSERT_NE(entry, nullptr);
    ASSERT_TRUE(entry->cipher.has_value());
    ref_ = *entry->cipher;
  }

  std::unique_ptr<BlockCipher> Create() const {
    auto c = ref_.Create();
    auto* block = dynamic_cast<BlockCipher*>(c.get());
    if (block == nullptr) return nullptr;
    c.release();
    return std::unique_ptr<BlockCipher>(block);
  }

  CipherRef ref_;
};

TEST_P(ReferenceLibrary, SelfTestPasses) {
  EXPECT_TRUE(ref_.SelfTest());
}

// Sizes above 0, in steps of 4, up to the maximum: a trailing half byte must be ignored, so the
// library gets bits / 8 bytes. Besides random keys, all-zero and all-FF keys give degenerate
// subkeys (IDEA multiplication keys of 0, which stand for 65536).
TEST_P(ReferenceLibrary, MatchesForEveryAcceptedKeySize) {
  std::mt19937 rng(20240531);
  auto random = [&](std::size_t n) {
    Bytes b(n);
    for (auto& x : b) x = uint8_t(rng());
    return b;
  };
  auto ours = Create();
  ASSERT_NE(ours, nullptr);
  for (uint32_t bits = 8; bits <= uint32_t(ref_.maxKeySize); bits += 4) {
    const std::size_t whole = bits / 8, stored = (bits + 7) / 8;
    std::vector<Bytes> keys = {Bytes(stored, 0x00), Bytes(stored, 0xFF)};
    for (int i = 0; i < 3; ++i) keys.push_back(random(stored));
    for (const Bytes& key : keys) {
      SCOPED_TRACE("bits " + std::to_string(bits) + ", key " + ToHex(key));
      ours->Init(key.data(), bits);
      auto theirs = GetParam().make(Bytes(key.begin(), key.begin() + long(whole)));
      for (int i = 0; i < 6; ++i) {
        const Bytes plain = random(8);
        uint8_t mine[8], expected[8];
        ours->EncryptBlock(plain.data(), mine);
        theirs->Encrypt(plain.data(), expected);
        ASSERT_EQ(ToHex(mine, 8), ToHex(expected, 8)) << "encrypt " << ToHex(plain);
        ours->DecryptBlock(expected, mine);
        ASSERT_EQ(ToHex(mine, 8), ToHex(plain)) << "decrypt of the library's ciphertext";
        ours->DecryptBlock(plain.data(), mine);
        theirs->Decrypt(plain.data(), expected);
        ASSERT_EQ(ToHex(mine, 8), ToHex(expected, 8)) << "decrypt " << ToHex(plain);
      }
    }
  }
}

TEST_P(ReferenceLibrary, RefusesInvalidKeySizes) {
  const uint8_t key[256] = {0x5A};
  auto c = Create();
  const uint32_t max = uint32_t(ref_.maxKeySize);
  for (uint32_t bits : {0u, 4u, 6u, 9u, max + 4, max + 8}) {
    SCOPED_TRACE("bits " + std::to_string(bits));
    c->Init(key, 64);  // a refused Init must also drop the previous key
    try {
      c->Init(key, bits);
      ADD_FAILURE() << "accepted";
    } catch (const CipherError& e) {
      EXPECT_STREQ(e.what(), kInvalidKeySize);
    }
    EXPECT_FALSE(c->Initialized());
    uint8_t block[8] = {};
    EXPECT_THROW(c->EncryptBlock(block, block), BlockCipherError);
    EXPECT_THROW(c->Encrypt(block, block, 8), BlockCipherError);
  }
}

// The file format: key = digest of the passphrase cut to the maximum key size, IV = E(0), one CBC
// chain over the whole stream, a final partial block XORed with E(CV). Checked against the
// library's block transform, then decrypted back by a second instance.
TEST_P(ReferenceLibrary, FileRoundTripWithEveryHash) {
  const std::string passphrase = "correct horse battery staple";
  std::mt19937 rng(7);
  int hashes = 0;
  for (const HashEntry& h : HashCatalogue()) {
    if (!h.hash) continue;
    ++hashes;
    SCOPED_TRACE(std::string(h.shortName));
    Bytes digest(std::size_t(h.hash->hashSize / 8));
    {
      auto hash = h.hash->Create();
      hash->Init();
      hash->UpdateText(passphrase);
      hash->Final(digest.data());
    }
    const std::size_t keyBytes = std::size_t(std::min(h.hash->hashSize, ref_.maxKeySize) / 8);
    auto theirs = GetParam().make(Bytes(digest.begin(), digest.begin() + long(keyBytes)));

    for (std::size_t n : {0u, 1u, 7u, 8u, 9u, 8191u, 8192u, 8193u, 20000u}) {
      SCOPED_TRACE("size " + std::to_string(n));
      Bytes plain(n);
      for (auto& b : plain) b = uint8_t(rng());

      Bytes expected(n);
      uint8_t cv[8] = {};
      theirs->Encrypt(cv, cv);
      std::size_t i = 0;
      for (; i + 8 <= n; i += 8) {
        for (int j = 0; j < 8; ++j) cv[j] ^= plain[i + std::size_t(j)];
        theirs->Encrypt(cv, cv);
        std::copy(cv, cv + 8, expected.begin() + long(i));
      }
      if (i < n) {
        theirs->Encrypt(cv, cv);
        for (std::size_t j = 0; i + j < n; ++j) expected[i + j] = plain[i + j] ^ cv[j];
      }

      auto enc = ref_.Create();
      enc->InitFromPassphrase(passphrase, *h.hash);
      MemorySource src(plain);
      MemorySink encrypted;
      EXPECT_EQ(enc->EncryptStream(src, encrypted, n), n);
      ASSERT_EQ(ToHex(encrypted.Data()), ToHex(expected));

      auto dec = ref_.Create();
      dec->InitFromPassphrase(passphrase, *h.hash);
      MemorySource back(encrypted.Data());
      MemorySink decrypted;
      EXPECT_EQ(dec->DecryptStream(back, decrypted, n), n);
      ASSERT_EQ(ToHex(decrypted.Data()), ToHex(plain));
    }
  }
  EXPECT_GT(hashes, 0);
}

INSTANTIATE_TEST_SUITE_P(Ciphers, ReferenceLibrary, ::testing::ValuesIn(kReferences),
                         [](const auto& info) { return std::string(info.param.shortName); });

}  // namespace
}  // namespace kryvane
