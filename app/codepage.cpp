#include "app/codepage.h"

#include <algorithm>
#include <array>

namespace kryvane {
namespace {

// Code points of the bytes 80..9F; every other byte is the code point of the same number.
// clang-format off
constexpr std::array<char32_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};
// clang-format on

char32_t Cp1252CodePoint(uint8_t b) {
  return b >= 0x80 && b < 0xA0 ? kHighControls[b - 0x80] : char32_t(b);
}

void AppendUtf8(Secret& out, char32_t cp) {
  if (cp < 0x80) {
    out.Append(char(cp));
  } else if (cp < 0x800) {
    out.Append(char(0xC0 | (cp >> 6)));
    out.Append(char(0x80 | (cp & 0x3F)));
  } else {
    out.Append(char(0xE0 | (cp >> 12)));
    out.Append(char(0x80 | ((cp >> 6) & 0x3F)));
    out.Append(char(0x80 | (cp & 0x3F)));
  }
}

}  // namespace

std::optional<char32_t> NextCodePoint(std::string_view text, std::size_t& pos) {
  const auto b0 = uint8_t(text[pos]);
  if (b0 < 0x80) {
    ++pos;
    return b0;
  }
  std::size_t len;
  char32_t cp;
  char32_t min;
  if ((b0 & 0xE0) == 0xC0) {
    len = 2, cp = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3, cp = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4, cp = b0 & 0x07, min = 0x10000;
  } else {
    return std::nullopt;
  }
  if (text.size() - pos < len) return std::nullopt;
  for (std::size_t i = 1; i < len; ++i) {
    const auto b = uint8_t(text[pos + i]);
    if ((b & 0xC0) != 0x80) return std::nullopt;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return std::nullopt;
  pos += len;
  return cp;
}

bool IsValidUtf8(std::string_view text) {
  for (std::size_t pos = 0; pos < text.size();) {
    if (!NextCodePoint(text, pos)) return false;
  }
  return true;
}

std::optional<uint8_t> Cp1252Byte(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return uint8_t(cp);
  const auto* it = std::find(kHighControls.begin(), kHighControls.end(), cp);
  if (it == kHighControls.end()) return std::nullopt;
  return uint8_t(0x80 + (it - kHighControls.begin()));
}

std::optional<Secret> Utf8ToCp1252(std::string_view text) {
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

Secret Cp1252ToUtf8(std::string_view bytes) {
  Secret out;
  // At most three bytes a character: one allocation.
  out.Reserve(bytes.size() * 3);
  for (char c : bytes) AppendUtf8(out, Cp1252CodePoint(uint8_t(c)));
  return out;
}

}  // namespace kryvane
