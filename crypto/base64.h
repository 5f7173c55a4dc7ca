// Base64 with the standard alphabet and padding, no line breaks. Decoding is lenient in the
// way stored texts rely on: groups after a padded group are still decoded, and 1 to 3 characters
// after the last whole group are ignored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kryvane {

// Writes 4 * ((size + 2) / 3) characters and returns that count.
std::size_t EncodeBase64Buffer(const void* input, char* output, std::size_t size);
std::string EncodeBase64Text(std::string_view text);
// Returns the number of bytes written, at most (size / 4) * 3. A character outside the alphabet
// counts as the value 0.
std::size_t DecodeBase64Buffer(const char* input, void* output, std::size_t size);
std::string DecodeBase64Text(std::string_view text);

}  // namespace kryvane
