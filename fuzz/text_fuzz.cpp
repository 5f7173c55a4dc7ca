// Text encryption for any cipher and hash of the menus: decrypting any text is safe, and a text
// encrypted and decrypted again is the text.
#include "app/catalogue.h"
#include "fuzz/fuzz_input.h"

using kryvane::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  kryvane::fuzz::Input in(data, size);
  const auto ciphers = kryvane::CipherCatalogue();
  const auto hashes = kryvane::HashCatalogue();
  const auto& cipherEntry = ciphers[in.Byte() % ciphers.size()];
  const auto& hashEntry = hashes[in.Byte() % hashes.size()];
  const std::string passphrase = in.Piece();
  const std::string text = in.Rest();

  auto cipher = cipherEntry.cipher.Create();
  cipher->InitFromPassphrase(passphrase, hashEntry.hash);
  (void)cipher->DecryptText(text);

  cipher->Reset();
  const std::string sealed = cipher->EncryptText(text);
  cipher->Reset();
  Require(cipher->DecryptText(sealed) == text);
  return 0;
}
