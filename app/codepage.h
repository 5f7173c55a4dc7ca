// The Windows-1252 code page and UTF-8: files and passphrases from the original Windows program
// are in Windows-1252, everything here is UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "app/base/secret.h"

namespace kryvane {

bool IsValidUtf8(std::string_view text);

// Decodes one code point at text[pos], advancing pos; nothing on malformed input (overlong forms,
// surrogates and values above 10FFFF included).
std::optional<char32_t> NextCodePoint(std::string_view text, std::size_t& pos);

// The Windows-1252 byte of a code point, if it has one. The five byte values Windows-1252 leaves
// unassigned (81, 8D, 8F, 90, 9D) stand for the control characters of the same number, as
// Windows converts them, so every byte round-trips.
std::optional<uint8_t> Cp1252Byte(char32_t cp);

// UTF-8 to Windows-1252; nothing when a character has no Windows-1252 code or the text is not
// valid UTF-8. Both ways give a Secret: the text is most often a passphrase.
std::optional<Secret> Utf8ToCp1252(std::string_view text);
Secret Cp1252ToUtf8(std::string_view bytes);

}  // namespace kryvane
