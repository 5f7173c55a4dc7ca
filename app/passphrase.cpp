#include "app/passphrase.h"

#include "app/base/text_util.h"
#include "crypto/bytes.h"

namespace kryvane {
namespace {

// Windows-1252 bytes straight into a secret, so that no unerased copy is made; nothing when a
// character has no code there.
std::optional<Secret> ToCp1252Secret(std::string_view text) {
  Secret out;
  out.Reserve(text.size());
  for (std::size_t pos = 0; pos < text.size();) {
    const auto cp = NextCodePoint(text, pos);
    const auto b = cp ? Cp1252Byte(*cp) : std::nullopt;
    if (!b) return std::nullopt;
    out.Append(char(*b));
  }
  return out;
}

}  // namespace

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
      return ToCp1252Secret(text);
    case PassphraseEncoding::kAuto: {
      std::optional<Secret> out = ToCp1252Secret(text);
      if (!out) out.emplace(text);
      return out;
    }
  }
  return std::nullopt;
}

}  // namespace kryvane
