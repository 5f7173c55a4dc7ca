// `kryvane --version` and `kryvane --help`, answered before the window toolkit starts, so that
// they work without a display.
#pragma once

#include <cstdio>
#include <optional>
#include <string_view>

#include "kryvane/version.h"

namespace kryvane {

// The exit status when the command line asked for the version or the usage; nothing otherwise
// (the window toolkit then takes the rest of the arguments).
inline std::optional<int> AnswerInfoOptions(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--version") {
      std::printf("kryvane %s\n", KRYVANE_VERSION);
      return 0;
    }
    if (arg == "--help" || arg == "-h") {
      std::printf(
          "Usage: kryvane [--version] [--help]\n"
          "Encrypts and decrypts files under a passphrase, compatible with Kryvane 2.0 files.\n"
          "kryvane-cli does the same from a terminal or a script; see kryvane-cli(1).\n");
      return 0;
    }
  }
  return std::nullopt;
}

}  // namespace kryvane
