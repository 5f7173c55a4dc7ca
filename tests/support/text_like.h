// Text-like content of any size, as most legacy files hold: the wrong-key guard takes a right
// decryption of it for a real file, and an odd size leaves a partial last block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kryvane::test {

inline std::vector<uint8_t> TextLike(std::size_t n) {
  static const std::string words = "the quick brown fox jumps over the lazy dog; ";
  std::vector<uint8_t> data(n);
  for (std::size_t i = 0; i < n; ++i) data[i] = uint8_t(words[(i * 7 + i / 45) % words.size()]);
  return data;
}

}  // namespace kryvane::test
