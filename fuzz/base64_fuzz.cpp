// Base64: decoding any text stays within its bound, and decoding an encoding gives the bytes back.
#include <cstring>
#include <vector>

#include "crypto/base64.h"
#include "fuzz/fuzz_input.h"

using kryvane::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  // Exactly the promised room, so that a byte too many is an overflow the sanitizer sees.
  std::vector<uint8_t> out(size / 4 * 3);
  const std::size_t got = kryvane::DecodeBase64Buffer(text, out.data(), size);
  Require(got <= out.size());
  Require(kryvane::DecodeBase64Text(std::string_view(text, size)) ==
          std::string(reinterpret_cast<const char*>(out.data()), got));

  const std::string encoded = kryvane::EncodeBase64Text(std::string_view(text, size));
  Require(encoded.size() == 4 * ((size + 2) / 3));
  Require(kryvane::DecodeBase64Text(encoded) == std::string_view(text, size));
  return 0;
}
