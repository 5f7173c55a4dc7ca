// Does a buffer look like the start of a real file, or like the garbage a wrong passphrase, cipher
// or hash decrypts into? Files carry no check value, so this guess is all there is to tell a right
// decryption from a wrong one. It looks only at the first kAssessedBytes of what it is given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

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

// What a random-looking decryption means, in the words every message about one uses: a wrong key
// gives such bytes, and so does a file that really holds encrypted or compressed data of a kind
// the detector does not know.
inline constexpr std::string_view kRandomResultMeaning =
    "the result looks random: either the passphrase, cipher or hash is wrong, or the file was "
    "itself encrypted or compressed";

std::string_view VerdictName(Verdict verdict);  // "plausible", "unclear", "random-looking"

}  // namespace kryvane
