#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kryvane::test {

// Accepts upper or lower case and ignores spaces.
std::vector<uint8_t> FromHex(std::string_view hex);
std::string ToHex(const void* data, std::size_t size);
inline std::string ToHex(const std::vector<uint8_t>& v) {
  return ToHex(v.data(), v.size());
}

}  // namespace kryvane::test
