#include "tests/support/cipher_checks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <set>
#include <string>

#include "crypto/algorithm_ids.h"
#include "tests/support/hex.h"

namespace kryvane::test {

Bytes PaddedKey(const Bytes& key, uint32_t bits, std::size_t length) {
  Bytes k(length, 0);
  std::copy_n(key.begin(), bits / 8, k.begin());
  return k;
}

std::unique_ptr<BlockCipher> MakeBlockCipher(const CipherRef& ref) {
  std::unique_ptr<Cipher> c = ref.Create();
  auto* block = dynamic_cast<BlockCipher*>(c.get());
  if (block == nullptr) return nullptr;
  c.release();
  return std::unique_ptr<BlockCipher>(block);
}

Bytes EncryptBlocks(const BlockCipher& c, const Bytes& in) {
  Bytes out(in.size());
  const std::size_t b = static_cast<std::size_t>(c.BlockSize() / 8);
  for (std::size_t i = 0; i + b <= in.size(); i += b) c.EncryptBlock(&in[i], &out[i]);
  return out;
}

Bytes ReferenceCbc(const BlockFunction& encrypt, std::size_t blockBytes, const Bytes& plain) {
  Bytes out(plain.size());
  Bytes cv(blockBytes, 0);
  encrypt(cv.data(), cv.data());
  std::size_t i = 0;
  for (; i + blockBytes <= plain.size(); i += blockBytes) {
    for (std::size_t j = 0; j < blockBytes; ++j) cv[j] ^= plain[i + j];
    encrypt(cv.data(), cv.data());
    std::copy(cv.begin(), cv.end(), out.begin() + static_cast<std::ptrdiff_t>(i));
  }
  if (i < plain.size()) {
    encrypt(cv.data(), cv.data());
    for (std::size_t j = 0; i + j < plain.size(); ++j) out[i + j] = plain[i + j] ^ cv[j];
  }
  return out;
}

void ExpectMatchesReferenceForEveryKeySize(const CipherRef& ref, const ReferenceFactory& make,
                                           const KeySweep& sweep) {
  SCOPED_TRACE(std::string(ref.algorithm));
  auto ours = MakeBlockCipher(ref);
  ASSERT_NE(ours, nullptr);
  const std::size_t b = static_cast<std::size_t>(ref.blockSize / 8);
  const uint32_t max = static_cast<uint32_t>(ref.maxKeySize);
  std::mt19937 rng(sweep.seed);
  Bytes mine(b), theirs(b);
  for (uint32_t bits = sweep.minBits; bits <= max; bits += 4) {
    std::vector<Bytes> keys = {Bytes(max / 8 + 1, 0x00), Bytes(max / 8 + 1, 0xFF)};
    for (int i = 0; i < sweep.randomKeys; ++i) keys.push_back(RandomBytes(rng, max / 8 + 1));
    for (const Bytes& key : keys) {
      SCOPED_TRACE("bits " + std::to_string(bits) + ", key " + ToHex(key));
      const ReferenceBlock reference = make(key, bits);
      const Bytes exact(key.begin(), key.begin() + (bits + 7) / 8);
      for (const Bytes* buffer : {&exact, &key}) {
        ours->Init(buffer->data(), bits);
        const Bytes plain = RandomBytes(rng, b * static_cast<std::size_t>(sweep.blocks));
        for (std::size_t i = 0; i < plain.size(); i += b) {
          const uint8_t* p = &plain[i];
          ours->EncryptBlock(p, mine.data());
          reference.encrypt(p, theirs.data());
          ASSERT_EQ(ToHex(mine), ToHex(theirs)) << "encrypt " << ToHex(p, b);
          ours->DecryptBlock(theirs.data(), mine.data());
          ASSERT_EQ(ToHex(mine), ToHex(p, b)) << "decrypt of the reference's ciphertext";
          ours->DecryptBlock(p, mine.data());
          reference.decrypt(p, theirs.data());
          ASSERT_EQ(ToHex(mine), ToHex(theirs)) << "decrypt " << ToHex(p, b);
        }
      }
    }
  }
}

void ExpectZeroPaddedKeys(const CipherRef& ref) {
  const uint32_t max = static_cast<uint32_t>(ref.maxKeySize);
  auto padded = MakeBlockCipher(ref);
  ASSERT_NE(padded, nullptr);
  ExpectMatchesReferenceForEveryKeySize(ref, [&](const Bytes& key, uint32_t bits) {
    padded->Init(PaddedKey(key, bits, max / 8).data(), max);
    const BlockCipher* c = padded.get();
    return ReferenceBlock{[c](const uint8_t* in, uint8_t* out) { c->EncryptBlock(in, out); },
                          [c](const uint8_t* in, uint8_t* out) { c->DecryptBlock(in, out); }};
  });
  // The comparison above holds even if the class dropped its last key byte at every size.
  std::mt19937 rng(max);
  const Bytes full = RandomBytes(rng, max / 8);
  const Bytes blocks = RandomBytes(rng, 4 * static_cast<std::size_t>(ref.blockSize / 8));
  auto c = MakeBlockCipher(ref);
  for (uint32_t bits = 8; bits <= max; bits += 8) {
    SCOPED_TRACE(bits);
    c->Init(full.data(), bits);
    const Bytes before = EncryptBlocks(*c, blocks);
    Bytes changed = full;
    changed[bits / 8 - 1] ^= 0x01;
    c->Init(changed.data(), bits);
    EXPECT_NE(ToHex(EncryptBlocks(*c, blocks)), ToHex(before));
  }
}

// Long buffers: say where they part instead of printing them whole.
::testing::AssertionResult SameBytes(const Bytes& actual, const Bytes& expected) {
  if (actual == expected) return ::testing::AssertionSuccess();
  if (actual.size() != expected.size()) {
    return ::testing::AssertionFailure()
           << actual.size() << " bytes instead of " << expected.size();
  }
  const auto at = static_cast<std::size_t>(
      std::mismatch(actual.begin(), actual.end(), expected.begin()).first - actual.begin());
  const std::size_t n = std::min<std::size_t>(16, actual.size() - at);
  return ::testing::AssertionFailure()
         << "first difference at byte " << at << ": " << ToHex(&actual[at], n) << " instead of "
         << ToHex(&expected[at], n);
}

Bytes ReferenceRc4File(const Bytes& key, const Bytes& plain) {
  std::array<uint8_t, 256> s;
  for (int n = 0; n < 256; ++n) s[n] = static_cast<uint8_t>(n);
  uint8_t j = 0;
  for (std::size_t n = 0; n < 256; ++n) {
    j = static_cast<uint8_t>(j + s[n] + key[n % key.size()]);
    std::swap(s[n], s[j]);
  }
  Bytes out(plain.size());
  for (std::size_t chunk = 0; chunk < plain.size(); chunk += Cipher::kStreamChunk) {
    uint8_t x = 0, y = 0;
    const std::size_t end = std::min(plain.size(), chunk + Cipher::kStreamChunk);
    for (std::size_t n = chunk; n < end; ++n) {
      x = static_cast<uint8_t>(x + 1);
      y = static_cast<uint8_t>(y + s[x]);
      std::swap(s[x], s[y]);
      out[n] = plain[n] ^ s[static_cast<uint8_t>(s[x] + s[y])];
    }
  }
  return out;
}

void ExpectFileFormat(const CipherRef& cipher, const HashRef& hash, std::mt19937& rng) {
  SCOPED_TRACE(std::string(cipher.algorithm) + " with " + std::string(hash.algorithm));
  const std::string passphrase = "correct horse battery staple";
  Bytes digest(static_cast<std::size_t>(hash.hashSize / 8));
  {
    auto h = hash.Create();
    h->Init();
    h->UpdateText(passphrase);
    h->Final(digest.data());
  }
  const uint32_t keyBits = static_cast<uint32_t>(std::min(hash.hashSize, cipher.maxKeySize));
  const Bytes key(digest.begin(), digest.begin() + keyBits / 8);

  // The model of the whole stream, from a class instance keyed directly.
  std::function<Bytes(const Bytes&)> expected;
  std::unique_ptr<BlockCipher> block = MakeBlockCipher(cipher);
  std::size_t b = 1;
  if (block != nullptr) {
    b = static_cast<std::size_t>(block->BlockSize() / 8);
    block->Init(key.data(), keyBits);
    const BlockCipher* c = block.get();
    expected = [c, b](const Bytes& plain) {
      return ReferenceCbc([c](const uint8_t* in, uint8_t* out) { c->EncryptBlock(in, out); }, b,
                          plain);
    };
  } else {
    ASSERT_EQ(cipher.id, ids::kRc4) << "no model of this stream cipher";
    expected = [&key](const Bytes& plain) { return ReferenceRc4File(key, plain); };
  }

  const std::set<std::size_t> sizes = {0, 1, b - 1, b, b + 1, 8191, 8192, 8193, 3 * 8192 + 40};
  for (std::size_t size : sizes) {
    SCOPED_TRACE(std::to_string(size) + " bytes");
    const Bytes plain = RandomBytes(rng, size);
    auto enc = cipher.Create();
    enc->InitFromPassphrase(passphrase, hash);
    MemorySource source(plain);
    MemorySink sealed;
    EXPECT_EQ(enc->EncryptStream(source, sealed, size), size);
    ASSERT_TRUE(SameBytes(sealed.Data(), expected(plain)));

    auto dec = cipher.Create();
    dec->InitFromPassphrase(passphrase, hash);
    MemorySource back(sealed.Data());
    MemorySink restored;
    EXPECT_EQ(dec->DecryptStream(back, restored, size), size);
    ASSERT_TRUE(SameBytes(restored.Data(), plain));
  }
}

}  // namespace kryvane::test
