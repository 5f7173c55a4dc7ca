// Checks shared by the block ciphers whose shorter keys are zero-padded to the maximum size:
// every accepted size, the refused ones, and the file path (passphrase key + stream chain).
#pragma once

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "app/catalogue.h"
#include "crypto/streams.h"
#include "tests/support/hex.h"

namespace kryvane::test {

using Bytes = std::vector<uint8_t>;

inline std::unique_ptr<BlockCipher> MakeBlockCipher(std::string_view shortName) {
  const CipherEntry* entry = FindCipher(shortName);
  if (entry == nullptr || !entry->cipher) return nullptr;
  std::unique_ptr<Cipher> c = entry->cipher->Create();
  auto* block = dynamic_cast<BlockCipher*>(c.get());
  if (block == nullptr) return nullptr;
  c.release();
  return std::unique_ptr<BlockCipher>(block);
}

inline Bytes EncryptBlocks(const BlockCipher& c, const Bytes& in) {
  Bytes out(in.size());
  const std::size_t b = static_cast<std::size_t>(c.BlockSize() / 8);
  for (std::size_t i = 0; i < in.size(); i += b) c.EncryptBlock(in.data() + i, out.data() + i);
  return out;
}

inline Bytes RandomBytes(std::mt19937& rng, std::size_t n) {
  Bytes v(n);
  for (auto& x : v) x = static_cast<uint8_t>(rng());
  return v;
}

// Every size from 8 bits up to the maximum in steps of 4 keys the cipher like the maximum-size
// key made of the first size / 8 bytes and zeros: shorter keys are zero-padded and a trailing
// half byte is dropped. Each key is handed over in a buffer of exactly size / 8 bytes, so a
// cipher that reads further trips the address sanitizer.
inline void ExpectZeroPaddedKeys(std::string_view shortName) {
  SCOPED_TRACE(std::string(shortName));
  auto c = MakeBlockCipher(shortName);
  auto ref = MakeBlockCipher(shortName);
  ASSERT_TRUE(c && ref);
  const uint32_t max = static_cast<uint32_t>(c->MaxKeySize());
  std::mt19937 rng(max);
  for (int trial = 0; trial < 4; ++trial) {
    const Bytes full = RandomBytes(rng, max / 8);
    const Bytes blocks = RandomBytes(rng, 4 * static_cast<std::size_t>(c->BlockSize() / 8));
    for (uint32_t bits = 8; bits <= max; bits += 4) {
      SCOPED_TRACE(bits);
      const Bytes key(full.begin(), full.begin() + bits / 8);
      Bytes padded(max / 8, 0);
      std::copy(key.begin(), key.end(), padded.begin());
      ref->Init(padded.data(), max);
      const std::string expected = ToHex(EncryptBlocks(*ref, blocks));
      c->Init(key.data(), bits);
      ASSERT_EQ(ToHex(EncryptBlocks(*c, blocks)), expected);
      // Bytes past the key in the caller's buffer are ignored ...
      c->Init(full.data(), bits);
      ASSERT_EQ(ToHex(EncryptBlocks(*c, blocks)), expected);
      // ... and the last key byte is used.
      Bytes changed = padded;
      changed[bits / 8 - 1] ^= 0x01;
      ref->Init(changed.data(), max);
      ASSERT_NE(ToHex(EncryptBlocks(*ref, blocks)), expected);
    }
  }
}

// Sizes that are zero, not a multiple of 4, above the maximum, or hold no whole byte are refused
// with "Invalid key size", and a refused Init leaves even a keyed cipher unkeyed.
inline void ExpectRefusedKeySizes(std::string_view shortName) {
  SCOPED_TRACE(std::string(shortName));
  auto c = MakeBlockCipher(shortName);
  ASSERT_TRUE(c);
  const uint32_t max = static_cast<uint32_t>(c->MaxKeySize());
  const Bytes key(max / 8 + 8, 0x5A);
  const Bytes block(static_cast<std::size_t>(c->BlockSize() / 8), 0);
  for (uint32_t bits : {0u, 4u, 6u, 9u, max - 2, max + 4, max + 8}) {
    SCOPED_TRACE(bits);
    c->Init(key.data(), max);
    try {
      c->Init(key.data(), bits);
      ADD_FAILURE() << "accepted";
    } catch (const CipherError& e) {
      EXPECT_STREQ(e.what(), "Invalid key size");
    }
    EXPECT_FALSE(c->Initialized());
    Bytes out(block.size());
    EXPECT_THROW(c->EncryptBlock(block.data(), out.data()), BlockCipherError);
    EXPECT_THROW(c->GetIV(out.data()), BlockCipherError);
  }
}

// The file path: the key is the passphrase digest cut to the maximum key size, and a stream
// encrypted in chunks is one CBC chain that decrypts back to the source. Runs for every hash
// the catalogue offers.
inline void ExpectFileRoundTrips(std::string_view shortName) {
  SCOPED_TRACE(std::string(shortName));
  const std::string passphrase = "correct horse battery staple";
  std::mt19937 rng(7);
  int hashes = 0;
  for (const HashEntry& h : HashCatalogue()) {
    if (!h.hash) continue;
    ++hashes;
    SCOPED_TRACE(std::string(h.shortName));
    Bytes digest(static_cast<std::size_t>(h.hash->hashSize / 8));
    auto hash = h.hash->Create();
    hash->Init();
    hash->UpdateText(passphrase);
    hash->Final(digest.data());

    for (std::size_t size : {0u, 1u, 7u, 8u, 9u, 8191u, 8192u, 8193u}) {
      SCOPED_TRACE(size);
      const Bytes plain = RandomBytes(rng, size);
      auto enc = MakeBlockCipher(shortName);
      ASSERT_TRUE(enc);
      enc->InitFromPassphrase(passphrase, *h.hash);
      MemorySource src(plain);
      MemorySink sink;
      EXPECT_EQ(enc->EncryptStream(src, sink, size), size);
      const Bytes cipherText = sink.Data();
      ASSERT_EQ(cipherText.size(), size);

      auto direct = MakeBlockCipher(shortName);
      const uint32_t keyBits =
          static_cast<uint32_t>(std::min<int32_t>(direct->MaxKeySize(), h.hash->hashSize));
      const Bytes key(digest.begin(), digest.begin() + keyBits / 8);
      direct->Init(key.data(), keyBits);
      Bytes expected(size);
      direct->EncryptCBC(plain.data(), expected.data(), size);
      EXPECT_EQ(ToHex(cipherText), ToHex(expected));
      if (size >= 8) {
        EXPECT_NE(cipherText, plain);
      }

      auto dec = MakeBlockCipher(shortName);
      dec->InitFromPassphrase(passphrase, *h.hash);
      MemorySource back(cipherText);
      MemorySink restored;
      EXPECT_EQ(dec->DecryptStream(back, restored, size), size);
      EXPECT_EQ(ToHex(restored.Data()), ToHex(plain));
    }
  }
  EXPECT_GT(hashes, 0);
}

}  // namespace kryvane::test
