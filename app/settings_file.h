// Private-profile (INI) files: "[Section]" lines followed by "Key=Value" lines, as the Windows
// program wrote its settings file. Section and key names match without regard to case; the first
// matching section and key win. Comments (";" or "#") and unknown lines are kept as they are.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kryvane {

class SettingsError : public std::runtime_error {
 public:
  SettingsError(std::string file, std::string operation, std::string cause);
  const std::string& File() const { return file_; }
  const std::string& Operation() const { return operation_; }
  const std::string& Cause() const { return cause_; }

 private:
  std::string file_, operation_, cause_;
};

using ProfileEntries = std::vector<std::pair<std::string, std::string>>;

// Whether a value can be stored so that a private-profile reader gets it back exactly: it must not
// hold a line break or a NUL.
bool IsStorableProfileValue(std::string_view value);

// Sets each key of section to its value: replaces the values of keys that are there, adds missing
// keys after the section's last entry and a missing section at the end. Everything else, the line
// ends (CRLF or LF) and a UTF-8 byte order mark are kept; a new file gets CRLF line ends and is
// created readable and writable by its owner only. A value with leading or trailing blanks, or
// framed by a pair of quotes, is written inside double quotes. The file is replaced atomically (a
// symbolic link keeps pointing at it, an existing file keeps its permissions). Throws
// SettingsError.
void WriteProfileStrings(const std::string& path, std::string_view section,
                         const ProfileEntries& entries);
void WriteProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value);

// The value of key in section as UTF-8, blanks around it trimmed and one pair of surrounding
// quotes removed; nothing when the section or key is missing. A file that is not valid UTF-8 is
// read as Windows-1252. Throws SettingsError when the file cannot be read.
std::optional<std::string> ReadProfileString(const std::string& path, std::string_view section,
                                             std::string_view key);

}  // namespace kryvane
