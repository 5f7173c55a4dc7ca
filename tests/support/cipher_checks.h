// Checks shared by the cipher tests: random data, reference keys, a library-independent model of
// the file chain, and the sweep of every accepted key size against another implementation.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <vector>

#include "crypto/components.h"
#include "tests/support/random_bytes.h"

namespace kryvane::test {

using Bytes = std::vector<uint8_t>;
using BlockFunction = std::function<void(const uint8_t* in, uint8_t* out)>;

// The first bits / 8 bytes of key (a trailing half byte dropped), zero-padded to length bytes.
Bytes PaddedKey(const Bytes& key, uint32_t bits, std::size_t length);

// A fresh instance of the class, or null when it is no block cipher.
std::unique_ptr<BlockCipher> MakeBlockCipher(const CipherRef& ref);

// Each whole block of in through EncryptBlock on its own.
Bytes EncryptBlocks(const BlockCipher& c, const Bytes& in);

// The chain every file is written with, built only on a one-block function: IV = E(0), CBC over
// the whole blocks, and a final partial block XORed with E(last chaining value).
Bytes ReferenceCbc(const BlockFunction& encrypt, std::size_t blockBytes, const Bytes& plain);

// RC4 as files are written: the published key schedule, then one generator run per 8192-byte
// stream call whose indices start at 0 each time while the permutation carries on.
Bytes ReferenceRc4File(const Bytes& key, const Bytes& plain);

// Another implementation's block transform, keyed.
struct ReferenceBlock {
  BlockFunction encrypt;
  BlockFunction decrypt;
};

// Keys the reference the way the class must behave for (key, bits). key is longer than the size
// needs and its bytes past bits / 8 are random: the factory must use only the whole bytes.
using ReferenceFactory = std::function<ReferenceBlock(const Bytes& key, uint32_t bits)>;

struct KeySweep {
  uint32_t minBits = 8;  // the smallest accepted size
  int randomKeys = 3;    // per size, besides an all-zero and an all-FF key
  int blocks = 8;        // per key
  uint32_t seed = 1;
};

// Every size from minBits to the maximum in steps of 4: the class, keyed once from a buffer of
// exactly the bytes the size touches (so reading further trips the address sanitizer) and once
// from a longer buffer, agrees with the reference in both directions and decrypts the
// reference's ciphertext back.
void ExpectMatchesReferenceForEveryKeySize(const CipherRef& ref, const ReferenceFactory& make,
                                           const KeySweep& sweep = {});

// For classes that zero-pad shorter keys to their maximum size: every accepted size keys like
// the maximum-size key made of its whole bytes and zeros, and its last whole byte counts.
void ExpectZeroPaddedKeys(const CipherRef& ref);

// The file path for one cipher and one hash: InitFromPassphrase + EncryptStream writes the
// independent model of the chain (block ciphers: ReferenceCbc over the class's own EncryptBlock
// keyed with the digest cut to the maximum key size; RC4: ReferenceRc4File with that key), and
// DecryptStream on a fresh instance gives the source back. Sizes: 0, 1, B-1, B, B+1, around one
// chunk, and several chunks.
void ExpectFileFormat(const CipherRef& cipher, const HashRef& hash, std::mt19937& rng);

}  // namespace kryvane::test
