// Any cipher of the menu, any key size, chaining mode and initial vector, data cut into random
// pieces: decryption in the same pieces gives the data back, and for a block cipher, pieces of
// whole blocks give the same result as one call.
#include <cstring>
#include <vector>

#include "app/catalogue.h"
#include "fuzz/fuzz_input.h"

using kryvane::fuzz::Require;

namespace {

std::vector<std::size_t> Pieces(kryvane::fuzz::Input& in, std::size_t total) {
  std::vector<std::size_t> pieces;
  const int cuts = in.Byte() % 8;
  std::size_t left = total;
  for (int i = 0; i < cuts && left > 0; ++i) {
    const std::size_t n = in.Short() % (left + 1);
    pieces.push_back(n);
    left -= n;
  }
  pieces.push_back(left);
  return pieces;
}

template <class Step>
std::string InPieces(const std::string& from, const std::vector<std::size_t>& pieces, bool inPlace,
                     Step step) {
  std::string to = inPlace ? from : std::string(from.size(), '\0');
  std::size_t at = 0;
  for (std::size_t n : pieces) {
    step(inPlace ? to.data() + at : from.data() + at, to.data() + at, n);
    at += n;
  }
  return to;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  kryvane::fuzz::Input in(data, size);
  const auto ciphers = kryvane::CipherCatalogue();
  const kryvane::CipherRef& ref = ciphers[in.Byte() % ciphers.size()].cipher;
  auto cipher = ref.Create();
  auto* block = dynamic_cast<kryvane::BlockCipher*>(cipher.get());
  Require((block != nullptr) == (ref.blockSize > 0));

  // Any multiple of 4 bits up to a little past the largest size (refused like zero).
  const auto maxBits = uint32_t(ref.maxKeySize);
  const uint32_t bits = 4 * (in.Short() % (maxBits / 4 + 2));
  std::string key = in.Take((bits + 7) / 8);
  key.resize(maxBits / 8 + 8, '\0');
  const std::size_t blockBytes = block ? std::size_t(ref.blockSize / 8) : 0;
  std::string iv;
  const bool withIv = block && (in.Byte() & 1);
  if (withIv) {
    iv = in.Take(blockBytes);
    iv.resize(blockBytes, '\0');
  }
  const auto mode = kryvane::ChainingMode(in.Byte() % 5);
  const bool inPlace = in.Byte() & 1;
  const std::string plain = in.Take(in.Short() % 4096);
  const std::vector<std::size_t> pieces = Pieces(in, plain.size());

  try {
    cipher->Init(key.data(), bits, withIv ? iv.data() : nullptr);
  } catch (const kryvane::CipherError&) {
    Require(bits == 0 || bits > maxBits || !cipher->Initialized());
    return 0;
  }
  Require(bits > 0 && bits <= maxBits);
  if (block) block->SetCipherMode(mode);

  const std::string sealed =
      InPieces(plain, pieces, inPlace,
               [&](const char* p, char* q, std::size_t n) { cipher->Encrypt(p, q, n); });
  cipher->Reset();
  const std::string back =
      InPieces(sealed, pieces, !inPlace,
               [&](const char* p, char* q, std::size_t n) { cipher->Decrypt(p, q, n); });
  Require(back == plain);

  if (block) {
    bool whole = true;
    for (std::size_t i = 0; i + 1 < pieces.size(); ++i)
      whole = whole && pieces[i] % blockBytes == 0;
    if (whole || mode == kryvane::ChainingMode::cmCFB8bit) {
      cipher->Reset();
      std::string once = plain;
      cipher->Encrypt(once.data(), once.data(), once.size());
      Require(once == sealed);
    }
  }
  cipher->Wipe();
  return 0;
}
