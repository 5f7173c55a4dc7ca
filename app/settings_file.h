// Private-profile (INI) files: "[Section]" lines followed by "Key=Value" lines, as the Windows
// program wrote its settings file. Section and key names match without regard to case; the first
// matching section and key win. Comments (";" or "#") and unknown lines are kept as they are.
#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/base/io.h"

namespace kryvane {

// A settings file that cannot be read or written names the file, the operation and the cause.
using SettingsError = IoError;

using ProfileEntries = std::vector<std::pair<std::string_view, std::string_view>>;

// Whether a value can be stored so that a private-profile reader gets it back exactly: it must not
// hold a line break or a NUL.
bool IsStorableProfileValue(std::string_view value);

// Sets each key of section to its value: replaces the values of keys that are there, adds missing
// keys after the section's last entry and a missing section at the end. Everything else, the line
// ends (CRLF or LF) and a UTF-8 byte order mark are kept; a new file gets CRLF line ends and is
// created readable and writable by its owner only. A value with leading or trailing blanks, or
// framed by a pair of quotes, is written inside double quotes. The file is replaced atomically and
// an existing file keeps its permissions. The file holds a passphrase, so it is never read or
// written through a symbolic link: a link, or anything else that is not a regular file, is
// refused. Throws SettingsError.
void WriteProfileStrings(const std::string& path, std::string_view section,
                         const ProfileEntries& entries);
void WriteProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value);

class AtomicOutput;

// The same update in two steps: the constructor checks the file, reads it and writes the new
// content to a flushed temporary file beside it; Commit puts that in the file's place. Dropped
// without a commit, it leaves the file as it was. Both throw SettingsError.
class ProfileUpdate {
 public:
  ProfileUpdate(const std::string& path, std::string_view section, const ProfileEntries& entries);
  // The same for the entry name of an open folder (not owned); path names it in errors.
  ProfileUpdate(int folder, const std::string& name, const std::string& path,
                std::string_view section, const ProfileEntries& entries);
  ProfileUpdate(const ProfileUpdate&) = delete;
  ProfileUpdate& operator=(const ProfileUpdate&) = delete;
  ~ProfileUpdate();
  void Commit();

 private:
  std::unique_ptr<AtomicOutput> output_;
};

// The value of key in section as UTF-8, blanks around it trimmed and one pair of surrounding
// quotes removed; nothing when the section or key is missing. A file that is not valid UTF-8 is
// read as Windows-1252. A symbolic link is followed (the caller named the file). Throws
// SettingsError when the file cannot be read or is larger than kMaxSmallRead.
// read, when given, says how the file's text was taken.
enum class ProfileText {
  kUtf8WithBom,  // UTF-8 with a byte order mark: nothing else
  kUtf8,         // valid UTF-8; a file written on Windows in its code page may look the same
  kCp1252,       // not valid UTF-8, so Windows-1252
};
std::optional<Secret> ReadProfileString(const std::string& path, std::string_view section,
                                        std::string_view key, ProfileText* read = nullptr);
// Several keys from one reading of the file name in folder (AT_FDCWD: a path); with followLink
// false a symbolic link there is refused. path names the file in errors. Values in keys' order.
std::vector<std::optional<Secret>> ReadProfileStrings(int folder, const std::string& name,
                                                      const std::string& path, bool followLink,
                                                      std::string_view section,
                                                      std::span<const std::string_view> keys,
                                                      ProfileText* read = nullptr);

}  // namespace kryvane
