// Algorithm identifiers answered by each class's Id. They are the values stored
// by older releases, so they never change.
#pragma once

#include <cstdint>

namespace kryvane::ids {

inline constexpr int32_t kRc2 = 1;
inline constexpr int32_t kSha1 = 2;
inline constexpr int32_t kBlowfish = 5;
inline constexpr int32_t kTwofish = 6;
inline constexpr int32_t kCast128 = 7;
inline constexpr int32_t kRijndael = 9;
inline constexpr int32_t kRipemd160 = 10;
inline constexpr int32_t kMisty1 = 11;
inline constexpr int32_t kIdea = 12;
inline constexpr int32_t kMars = 13;
inline constexpr int32_t kHaval = 14;
inline constexpr int32_t kCast256 = 15;
inline constexpr int32_t kMd5 = 16;
inline constexpr int32_t kMd4 = 17;
inline constexpr int32_t kTiger = 18;
inline constexpr int32_t kRc4 = 19;
inline constexpr int32_t kIce = 20;
inline constexpr int32_t kThinIce = 21;
inline constexpr int32_t kIce2 = 22;
inline constexpr int32_t kDes = 23;
inline constexpr int32_t kTripleDes = 24;
inline constexpr int32_t kTea = 25;
inline constexpr int32_t kSerpent = 26;
inline constexpr int32_t kRipemd128 = 27;
inline constexpr int32_t kSha256 = 28;
inline constexpr int32_t kSha384 = 29;
inline constexpr int32_t kSha512 = 30;

}  // namespace kryvane::ids
