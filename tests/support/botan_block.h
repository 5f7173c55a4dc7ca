// A Botan block cipher as the reference of a key-size sweep (test binaries that link Botan only).
#pragma once

#include <botan/block_cipher.h>

#include <memory>

#include "tests/support/cipher_checks.h"

namespace kryvane::test {

inline ReferenceBlock BotanBlock(const char* name, const Bytes& key) {
  std::shared_ptr<Botan::BlockCipher> c = Botan::BlockCipher::create_or_throw(name);
  c->set_key(key.data(), key.size());
  return {[c](const uint8_t* in, uint8_t* out) { c->encrypt(in, out); },
          [c](const uint8_t* in, uint8_t* out) { c->decrypt(in, out); }};
}

}  // namespace kryvane::test
