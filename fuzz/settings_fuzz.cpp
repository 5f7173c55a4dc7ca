// The settings file: reading any file is safe, and values written to a key are the values read
// back, whatever else the file held before.
#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <set>

#include "app/passphrase.h"
#include "app/settings_file.h"
#include "fuzz/fuzz_input.h"

using kryvane::fuzz::Require;

namespace {

const std::string& ScratchFile() {
  static const std::string path = [] {
    const char* base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string folder = std::string(base) + "/kryvane-fuzz-XXXXXX";
    if (::mkdtemp(folder.data()) == nullptr) __builtin_trap();
    return folder + "/settings.txt";
  }();
  static const bool cleanup = [] {
    return std::atexit([] {
             ::unlink(path.c_str());
             ::rmdir(path.substr(0, path.rfind('/')).c_str());
           }) == 0;
  }();
  (void)cleanup;
  return path;
}

bool Blank(char c) {
  return c == ' ' || c == '\t';
}

// A section or key name a private-profile file can hold.
bool PlainName(std::string_view s) {
  if (s.empty() || Blank(s.front()) || Blank(s.back())) return false;
  if (s.front() == ';' || s.front() == '#' || s.front() == '[') return false;
  for (char c : s) {
    if (c == '\r' || c == '\n' || c == '\0' || c == '=' || c == ']') return false;
  }
  return kryvane::IsValidUtf8(s);
}

std::string Lower(std::string_view view) {
  std::string s(view);
  for (char& c : s) c = char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  kryvane::fuzz::Input in(data, size);
  const bool existing = in.Byte() & 1;
  const std::string before = in.Take(in.Short() % 2048);
  const std::string section = in.Piece();
  // The entries are views; their text lives in texts, which never reallocates.
  std::vector<std::pair<std::string, std::string>> texts;
  texts.reserve(4);
  for (int n = in.Byte() % 4; n > 0; --n) {
    std::string key = in.Piece();
    texts.emplace_back(std::move(key), in.Piece());
  }
  kryvane::ProfileEntries entries;
  for (const auto& [key, value] : texts) entries.emplace_back(key, value);

  const std::string& path = ScratchFile();
  ::unlink(path.c_str());
  if (existing) std::ofstream(path, std::ios::binary) << before;

  for (const auto& [key, value] : entries) {
    try {
      (void)kryvane::ReadProfileString(path, section, key);
    } catch (const kryvane::SettingsError&) {
      Require(!existing);
    }
  }

  // A file that is not valid UTF-8 (one written on Windows) is rewritten in UTF-8, so the
  // values come back whatever the file held.
  bool sound = PlainName(section) && !entries.empty();
  std::set<std::string> keys;
  for (const auto& [key, value] : entries) {
    sound = sound && PlainName(key) && keys.insert(Lower(key)).second &&
            kryvane::IsStorableProfileValue(value) && kryvane::IsValidUtf8(value);
  }
  try {
    kryvane::WriteProfileStrings(path, section, entries);
  } catch (const kryvane::SettingsError&) {
    Require(!sound);
    return 0;
  }
  if (!sound) return 0;
  for (const auto& [key, value] : entries) {
    Require(kryvane::ReadProfileString(path, section, key) == value);
  }
  return 0;
}
