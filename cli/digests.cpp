#include "cli/digests.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <vector>

#include "app/file_util.h"

namespace kryvane::cli {

EscapedName EscapeDigestName(std::string_view name) {
  EscapedName out;
  out.text.reserve(name.size());
  for (char c : name) {
    switch (c) {
      case '\\':
        out.text += "\\\\";
        out.escaped = true;
        break;
      case '\n':
        out.text += "\\n";
        out.escaped = true;
        break;
      case '\r':
        out.text += "\\r";
        out.escaped = true;
        break;
      default:
        out.text += c;
    }
  }
  return out;
}

std::string FormatDigestLine(std::string_view hex, std::string_view name) {
  const EscapedName escaped = EscapeDigestName(name);
  std::string line = escaped.escaped ? "\\" : "";
  line.append(hex);
  line += "  ";
  line += escaped.text;
  return line;
}

namespace {

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

std::optional<std::string> UnescapeName(std::string_view text) {
  std::string name;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      name += text[i];
      continue;
    }
    if (++i == text.size()) return std::nullopt;
    switch (text[i]) {
      case '\\':
        name += '\\';
        break;
      case 'n':
        name += '\n';
        break;
      case 'r':
        name += '\r';
        break;
      default:
        return std::nullopt;
    }
  }
  return name;
}

}  // namespace

std::optional<DigestLine> ParseDigestLine(std::string_view line) {
  if (line.ends_with('\r')) line.remove_suffix(1);
  const bool escaped = line.starts_with('\\');
  if (escaped) line.remove_prefix(1);
  std::size_t digits = 0;
  while (digits < line.size() && IsHexDigit(line[digits])) ++digits;
  // Hex digits, one space, then a space (text) or '*' (binary), then a name of at least one byte.
  if (digits == 0 || line.size() < digits + 3 || line[digits] != ' ') return std::nullopt;
  const char marker = line[digits + 1];
  if (marker != ' ' && marker != '*') return std::nullopt;
  DigestLine parsed;
  parsed.hex = std::string(line.substr(0, digits));
  parsed.binary = marker == '*';
  const std::string_view name = line.substr(digits + 2);
  if (escaped) {
    std::optional<std::string> plain = UnescapeName(name);
    if (!plain) return std::nullopt;
    parsed.name = std::move(*plain);
  } else {
    parsed.name = std::string(name);
  }
  return parsed;
}

std::optional<std::string> FileDigest(const HashRef& ref, const std::string& name,
                                      std::string* error) {
  UniqueFd owned;
  int fd = STDIN_FILENO;
  if (name != "-") {
    owned = UniqueFd(::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
    if (!owned) {
      *error = FormatError(name, "open", ErrnoText(errno));
      return std::nullopt;
    }
    fd = owned.Get();
  }
  std::unique_ptr<Hash> hash = ref.Create();
  hash->Init();
  std::vector<uint8_t> buffer(1 << 16);
  FdReader reader(fd, name == "-" ? "standard input" : name);
  try {
    while (const std::size_t got = reader.Read(buffer.data(), buffer.size())) {
      hash->Update(buffer.data(), got);
      if (got < buffer.size()) break;
    }
  } catch (const IoError& e) {
    *error = e.what();
    return std::nullopt;
  }
  std::vector<uint8_t> digest(std::size_t(ref.hashSize / 8));
  hash->Final(digest.data());
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (uint8_t b : digest) {
    hex += kHex[b >> 4];
    hex += kHex[b & 15];
  }
  return hex;
}

}  // namespace kryvane::cli
