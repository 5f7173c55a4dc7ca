// Does a buffer look like the start of a real file, or like the garbage a wrong passphrase, cipher
// or hash decrypts into? Files carry no check value, so this guess is all there is to tell a right
// decryption from a wrong one. It looks only at the first kAssessedBytes of what it is given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace kryvane {

inline constexpr std::size_t kAssessedBytes = 4096;

enum class Verdict {
  kPlausible,      // a known file signature, text, or clearly structured bytes
  kUnclear,        // too little to go on either way
  kRandomLooking,  // what a wrong key gives (or data that was compressed or encrypted already)
};

struct Plausibility {
  // 0-100, comparable between buffers: 50 and above is plausible, below 20 random-looking.
  // Signatures score 72-100, text 50-90, UTF-16 text 50-85, structured bytes 50-65.
  int score = 0;
  Verdict verdict = Verdict::kUnclear;
  std::string evidence;  // such as "PDF signature", "text, 99% printable", "random-looking bytes"
};

inline constexpr int kPlausibleScore = 50;
inline constexpr int kUnclearScore = 20;

Plausibility Assess(std::span<const uint8_t> head);

std::string_view VerdictName(Verdict verdict);  // "plausible", "unclear", "random-looking"

}  // namespace kryvane
