// Status bar texts that only the window shows; the job's own outcomes carry theirs.
#pragma once

#include <string_view>

namespace kryvane {

inline constexpr std::string_view kStatusStarted = "Last action: Kryvane 2.0 started";
inline constexpr std::string_view kStatusCleared = "Last action: Clear all fields";
inline constexpr std::string_view kStatusAbout = "Last action: Show about Kryvane 2.0";
inline constexpr std::string_view kStatusCancelled = "Last action: Cancelled, nothing written";
// The outcomes of "Find cipher and hash".
inline constexpr std::string_view kStatusFound = "Last action: Cipher and hash found";
inline constexpr std::string_view kStatusSeveralFound =
    "Last action: Several ciphers and hashes fit";
inline constexpr std::string_view kStatusNotFound = "Last action: No cipher and hash found";

}  // namespace kryvane
