// Status bar texts that only the window shows; the job's own outcomes carry theirs.
#pragma once

#include <string_view>

namespace kryvane {

inline constexpr std::string_view kStatusStarted = "Last action: Kryvane 2.0 started";
inline constexpr std::string_view kStatusCleared = "Last action: Clear all fields";
inline constexpr std::string_view kStatusAbout = "Last action: Show about Kryvane 2.0";
inline constexpr std::string_view kStatusCancelled = "Last action: Cancelled, nothing written";

}  // namespace kryvane
