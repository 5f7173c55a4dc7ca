// Windows-1252 and UTF-8: every byte string converts to valid UTF-8 and back unchanged; UTF-8 that
// converts to Windows-1252 comes back unchanged; passphrase encoding never fails on auto.
#include "app/passphrase.h"
#include "fuzz/fuzz_input.h"

using kryvane::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);

  const kryvane::Secret utf8 = kryvane::Cp1252ToUtf8(bytes);
  Require(kryvane::IsValidUtf8(utf8.View()));
  const auto back = kryvane::Utf8ToCp1252(utf8.View());
  Require(back && back->View() == bytes);

  if (const auto cp = kryvane::Utf8ToCp1252(bytes)) {
    Require(kryvane::IsValidUtf8(bytes));
    Require(kryvane::Cp1252ToUtf8(cp->View()).View() == bytes);
  }

  Require(kryvane::EncodePassphrase(bytes, kryvane::PassphraseEncoding::kAuto).has_value());
  Require(kryvane::EncodePassphrase(bytes, kryvane::PassphraseEncoding::kUtf8)->View() == bytes);
  const auto strict = kryvane::EncodePassphrase(bytes, kryvane::PassphraseEncoding::kCp1252);
  if (strict && kryvane::IsValidUtf8(bytes)) {
    Require(kryvane::Cp1252ToUtf8(strict->View()).View() == bytes);
  }
  return 0;
}
