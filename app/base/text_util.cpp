#include "app/base/text_util.h"

#include <algorithm>

namespace kryvane {
namespace {

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

}  // namespace

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](char x, char y) { return Lower(x) == Lower(y); });
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

std::string_view StripOneLineEnd(std::string_view s) {
  if (s.ends_with("\r\n")) {
    s.remove_suffix(2);
  } else if (s.ends_with('\n')) {
    s.remove_suffix(1);
  }
  return s;
}

namespace {

// The length of the well-formed UTF-8 sequence at the start of s (2 to 4 bytes), with its code
// point; 0 when s does not start with one (a stray, overlong, surrogate or cut-off sequence).
std::size_t Utf8Sequence(std::string_view s, char32_t* code) {
  const auto b0 = static_cast<unsigned char>(s[0]);
  std::size_t n = 0;
  char32_t c = 0, min = 0;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    n = 2, c = b0 & 0x1F, min = 0x80;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    n = 3, c = b0 & 0x0F, min = 0x800;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    n = 4, c = b0 & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (s.size() < n) return 0;
  for (std::size_t i = 1; i < n; ++i) {
    const auto b = static_cast<unsigned char>(s[i]);
    if ((b & 0xC0) != 0x80) return 0;
    c = (c << 6) | (b & 0x3F);
  }
  if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  *code = c;
  return n;
}

// Characters that are valid text but act on the terminal or on the order in which it shows what
// follows: the C1 controls, the line and paragraph separators, and the bidirectional marks,
// embeddings, overrides and isolates that can make a name read as another.
bool IsHiddenControl(char32_t c) {
  return (c >= 0x80 && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F || c == 0x2028 ||
         c == 0x2029 || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

// Runs over s, passing each piece on as it is (escaped = false) or as its escaped form.
template <typename Out>
void ForEachPiece(std::string_view s, Out out) {
  static constexpr char kHex[] = "0123456789abcdef";
  const auto hexBytes = [&](std::string_view bytes) {
    std::string text;
    for (const char c : bytes) {
      const auto b = static_cast<unsigned char>(c);
      text += "\\x";
      text += kHex[b >> 4];
      text += kHex[b & 15];
    }
    out(std::string_view(text), true);
  };
  for (std::size_t i = 0; i < s.size();) {
    const char c = s[i];
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x80) {
      if (c == '\\') {
        out(std::string_view("\\\\"), false);
      } else if (c == '\n') {
        out(std::string_view("\\n"), true);
      } else if (c == '\r') {
        out(std::string_view("\\r"), true);
      } else if (c == '\t') {
        out(std::string_view("\\t"), true);
      } else if (b < 0x20 || b == 0x7F) {
        hexBytes(s.substr(i, 1));
      } else {
        out(s.substr(i, 1), false);
      }
      ++i;
      continue;
    }
    char32_t code = 0;
    const std::size_t n = Utf8Sequence(s.substr(i), &code);
    if (n == 0) {
      // A byte that is no UTF-8: 0x80-0x9F are the C1 controls of 8-bit terminals (0x9B starts
      // an escape sequence there); the others are kept, so that a Latin-1 name stays readable
      // where it is shown in Latin-1. None can join what follows into a character, as every
      // escape is ASCII.
      if (b <= 0x9F) {
        hexBytes(s.substr(i, 1));
      } else {
        out(s.substr(i, 1), false);
      }
      ++i;
    } else {
      if (IsHiddenControl(code)) {
        hexBytes(s.substr(i, n));
      } else {
        out(s.substr(i, n), false);
      }
      i += n;
    }
  }
}

}  // namespace

std::string EscapeControls(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  ForEachPiece(s, [&](std::string_view piece, bool) { out += piece; });
  return out;
}

bool HasControls(std::string_view s) {
  bool any = false;
  ForEachPiece(s, [&](std::string_view, bool escaped) { any = any || escaped; });
  return any;
}

}  // namespace kryvane
