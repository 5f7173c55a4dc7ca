// How passphrase text becomes the bytes the hash sees. Files from the original Windows program
// were keyed with the passphrase in Windows-1252, so that is the default whenever the text fits it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "app/base/secret.h"
#include "app/codepage.h"

namespace kryvane {

enum class PassphraseEncoding {
  kAuto,    // Windows-1252 when every character has a code there, otherwise UTF-8
  kCp1252,  // Windows-1252; text with a character outside it is refused
  kUtf8,    // the UTF-8 bytes as they are
};

// Parses "auto", "cp1252" (also "windows-1252") and "utf-8" (also "utf8"), any case.
std::optional<PassphraseEncoding> ParsePassphraseEncoding(std::string_view name);

// Text is UTF-8; text that is not valid UTF-8 is taken as the bytes themselves, whatever the
// encoding. Returns nothing when kCp1252 is asked for and a character has no Windows-1252 code.
std::optional<Secret> EncodePassphrase(std::string_view text, PassphraseEncoding encoding);

// The Windows program's passphrase field held 80 characters and kept the first 80 of a longer
// paste, so its files from such a paste were keyed with those.
inline constexpr std::size_t kWindowsPhraseLength = 80;

// The first kWindowsPhraseLength characters of text (UTF-8; text that is not valid UTF-8 counts
// in bytes), or nothing when text is no longer than that.
std::optional<Secret> WindowsFieldPrefix(std::string_view text);

// Overwrites the whole buffer of s (its spare capacity too) and empties it, for strings that held
// a passphrase. Only for kryvane-cli's identify, which still holds its texts as strings: code
// here keeps a passphrase in a Secret.
void EraseString(std::string& s);

}  // namespace kryvane
