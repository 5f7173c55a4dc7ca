// Bech32 strings (checksum constant 1), as age keys use them: a human-readable part, the
// separator '1', data in 5-bit groups and a six-character checksum. Unlike the original address
// format there is no length limit, since identities and recipients are longer than 90 characters.
// Secret keys pass through here, so every buffer is a Secret: none leaves a copy behind.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "app/base/secret.h"

namespace kryvane::bech32 {

struct Decoded {
  std::string hrp;  // lower case
  Secret data;      // 5-bit groups, checksum removed
};

// Lower-case string of hrp (lower case, characters 33-126) and 5-bit groups.
Secret EncodeGroups(std::string_view hrp, std::span<const uint8_t> groups);
// Checks the characters, the case (all lower or all upper), the separator and the checksum.
std::optional<Decoded> DecodeGroups(std::string_view text);

// Bytes regrouped into 5-bit groups (zero-padded at the end), and back; the way back refuses
// more than 4 bits of padding and padding that is not zero.
Secret BytesToGroups(std::span<const uint8_t> bytes);
std::optional<Secret> GroupsToBytes(std::span<const uint8_t> groups);

// The two together, as keys are written. Upper case on request (age's secret keys).
Secret Encode(std::string_view hrp, std::span<const uint8_t> bytes, bool upper = false);
struct DecodedBytes {
  std::string hrp;  // lower case
  Secret bytes;
};
std::optional<DecodedBytes> Decode(std::string_view text);

}  // namespace kryvane::bech32
