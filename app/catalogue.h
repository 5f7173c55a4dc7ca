// The two algorithm menus: positions, menu texts exactly as shown (trailing spaces included,
// because settings files store them), short names for the command line, and the classes.
#pragma once

#include <functional>
#include <span>
#include <string_view>

#include "crypto/components.h"

namespace kryvane {

struct CipherEntry {
  int position;
  std::string_view menuText;
  std::string_view shortName;
  CipherRef cipher;
};

struct HashEntry {
  int position;
  std::string_view menuText;
  std::string_view shortName;
  HashRef hash;
};

std::span<const CipherEntry> CipherCatalogue();
std::span<const HashEntry> HashCatalogue();

// Finds an entry by short name (any case), menu position ("0".."16") or exact menu text.
const CipherEntry* FindCipher(std::string_view name);
const HashEntry* FindHash(std::string_view name);

// Runs the known-answer test of every class listed, ciphers first, and reports each one; true only
// when every one passed.
bool RunSelfTests(std::span<const CipherEntry> ciphers, std::span<const HashEntry> hashes,
                  const std::function<void(std::string_view algorithm, bool passed)>& report);

}  // namespace kryvane
