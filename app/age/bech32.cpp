#include "app/age/bech32.h"

#include <array>
#include <utility>

namespace kryvane::bech32 {
namespace {

constexpr char kCharset[] = "qpzry9x8gf2tvdw0s3jn54khce6mua7l";

uint32_t PolyMod(std::span<const uint8_t> values) {
  static constexpr uint32_t kGenerator[5] = {0x3b6a57b2, 0x26508e6d, 0x1ea119fa, 0x3d4233dd,
                                             0x2a1462b3};
  uint32_t chk = 1;
  for (const uint8_t v : values) {
    const uint32_t top = chk >> 25;
    chk = ((chk & 0x1ffffff) << 5) ^ v;
    for (int i = 0; i < 5; ++i) {
      if ((top >> i) & 1) chk ^= kGenerator[i];
    }
  }
  return chk;
}

// The human-readable part expanded for the checksum, with room for what follows it.
Secret ExpandHrp(std::string_view hrp, std::size_t more) {
  Secret out;
  out.Reserve(hrp.size() * 2 + 1 + more);
  for (const char c : hrp) out.Append(char(uint8_t(c) >> 5));
  out.Append('\0');
  for (const char c : hrp) out.Append(char(uint8_t(c) & 31));
  return out;
}

int CharValue(char c) {
  for (int i = 0; i < 32; ++i) {
    if (kCharset[i] == c) return i;
  }
  return -1;
}

}  // namespace

Secret EncodeGroups(std::string_view hrp, std::span<const uint8_t> groups) {
  Secret values = ExpandHrp(hrp, groups.size() + 6);
  values.Append(std::string_view(reinterpret_cast<const char*>(groups.data()), groups.size()));
  values.Resize(values.size() + 6);
  const uint32_t mod = PolyMod(values.Bytes()) ^ 1;
  Secret out;
  out.Reserve(hrp.size() + 1 + groups.size() + 6);
  out.Append(hrp);
  out.Append('1');
  for (const uint8_t g : groups) out.Append(kCharset[g & 31]);
  for (int i = 0; i < 6; ++i) out.Append(kCharset[(mod >> (5 * (5 - i))) & 31]);
  return out;
}

std::optional<Decoded> DecodeGroups(std::string_view text) {
  bool lower = false, upper = false;
  for (const char c : text) {
    const auto u = uint8_t(c);
    if (u < 33 || u > 126) return std::nullopt;
    lower |= c >= 'a' && c <= 'z';
    upper |= c >= 'A' && c <= 'Z';
  }
  if (lower && upper) return std::nullopt;
  const auto sep = text.rfind('1');
  // A non-empty human-readable part and at least the checksum after the separator.
  if (sep == std::string_view::npos || sep == 0 || sep + 7 > text.size()) return std::nullopt;
  Decoded d;
  for (const char c : text.substr(0, sep)) d.hrp += (c >= 'A' && c <= 'Z') ? char(c + 32) : c;
  Secret values = ExpandHrp(d.hrp, text.size() - sep - 1);
  for (char c : text.substr(sep + 1)) {
    if (c >= 'A' && c <= 'Z') c = char(c + 32);
    const int v = CharValue(c);
    if (v < 0) return std::nullopt;
    values.Append(char(v));
  }
  if (PolyMod(values.Bytes()) != 1) return std::nullopt;
  const std::size_t dataLength = text.size() - sep - 1 - 6;
  d.data = Secret(values.View().substr(values.size() - 6 - dataLength, dataLength));
  return d;
}

Secret BytesToGroups(std::span<const uint8_t> bytes) {
  Secret out;
  out.Reserve((bytes.size() * 8 + 4) / 5);
  uint32_t acc = 0;
  int bits = 0;
  for (const uint8_t b : bytes) {
    acc = (acc << 8) | b;
    bits += 8;
    while (bits >= 5) {
      bits -= 5;
      out.Append(char((acc >> bits) & 31));
    }
  }
  if (bits > 0) out.Append(char((acc << (5 - bits)) & 31));
  return out;
}

std::optional<Secret> GroupsToBytes(std::span<const uint8_t> groups) {
  Secret out;
  out.Reserve(groups.size() * 5 / 8);
  uint32_t acc = 0;
  int bits = 0;
  for (const uint8_t g : groups) {
    if (g > 31) return std::nullopt;
    acc = ((acc << 5) | g) & 0xfff;
    bits += 5;
    if (bits >= 8) {
      bits -= 8;
      out.Append(char(acc >> bits));
    }
  }
  if (bits >= 5 || (acc & ((1u << bits) - 1)) != 0) return std::nullopt;
  return out;
}

Secret Encode(std::string_view hrp, std::span<const uint8_t> bytes, bool upper) {
  Secret out = EncodeGroups(hrp, BytesToGroups(bytes).Bytes());
  if (upper) {
    for (char& c : std::span(out.data(), out.size())) {
      if (c >= 'a' && c <= 'z') c = char(c - 32);
    }
  }
  return out;
}

std::optional<DecodedBytes> Decode(std::string_view text) {
  std::optional<Decoded> d = DecodeGroups(text);
  if (!d) return std::nullopt;
  std::optional<Secret> bytes = GroupsToBytes(d->data.Bytes());
  if (!bytes) return std::nullopt;
  return DecodedBytes{std::move(d->hrp), std::move(*bytes)};
}

}  // namespace kryvane::bech32
