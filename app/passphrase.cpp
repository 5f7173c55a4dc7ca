#include "app/passphrase.h"

#include "app/base/text_util.h"
#include "crypto/bytes.h"

namespace kryvane {

std::optional<PassphraseEncoding> ParsePassphraseEncoding(std::string_view name) {
  if (EqualsIgnoreCase(name, "auto")) return PassphraseEncoding::kAuto;
  if (EqualsIgnoreCase(name, "cp1252") || EqualsIgnoreCase(name, "windows-1252")) {
    return PassphraseEncoding::kCp1252;
  }
  if (EqualsIgnoreCase(name, "utf-8") || EqualsIgnoreCase(name, "utf8")) {
    return PassphraseEncoding::kUtf8;
  }
  return std::nullopt;
}

std::optional<Secret> WindowsFieldPrefix(std::string_view text) {
  if (!IsValidUtf8(text)) {
    if (text.size() <= kWindowsPhraseLength) return std::nullopt;
    return Secret(text.substr(0, kWindowsPhraseLength));
  }
  std::size_t pos = 0;
  for (std::size_t n = 0; n < kWindowsPhraseLength && pos < text.size(); ++n) {
    NextCodePoint(text, pos);
  }
  if (pos >= text.size()) return std::nullopt;
  return Secret(text.substr(0, pos));
}

void EraseString(std::string& s) {
  s.resize(s.capacity());
  SecureZero(s.data(), s.size());
  s.clear();
}

std::optional<Secret> EncodePassphrase(std::string_view text, PassphraseEncoding encoding) {
  if (!IsValidUtf8(text)) return Secret(text);
  switch (encoding) {
    case PassphraseEncoding::kUtf8:
      return Secret(text);
    case PassphraseEncoding::kCp1252:
      return Utf8ToCp1252(text);
    case PassphraseEncoding::kAuto: {
      std::optional<Secret> out = Utf8ToCp1252(text);
      if (!out) out.emplace(text);
      return out;
    }
  }
  return std::nullopt;
}

}  // namespace kryvane
