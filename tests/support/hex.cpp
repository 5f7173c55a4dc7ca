#include "tests/support/hex.h"

#include <stdexcept>

namespace kryvane::test {

std::vector<uint8_t> FromHex(std::string_view hex) {
  std::vector<uint8_t> out;
  int hi = -1;
  for (char c : hex) {
    int v;
    if (c >= '0' && c <= '9')
      v = c - '0';
    else if (c >= 'a' && c <= 'f')
      v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      v = c - 'A' + 10;
    else if (c == ' ')
      continue;
    else
      throw std::invalid_argument("bad hex digit in: " + std::string(hex));
    if (hi < 0) {
      hi = v;
    } else {
      out.push_back(static_cast<uint8_t>(hi * 16 + v));
      hi = -1;
    }
  }
  if (hi >= 0) throw std::invalid_argument("odd number of hex digits: " + std::string(hex));
  return out;
}

std::string ToHex(const void* data, std::size_t size) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  const auto* p = static_cast<const uint8_t*>(data);
  std::string s;
  s.reserve(size * 2);
  for (std::size_t i = 0; i < size; ++i) {
    s.push_back(kDigits[p[i] >> 4]);
    s.push_back(kDigits[p[i] & 15]);
  }
  return s;
}

}  // namespace kryvane::test
