// What a settings file holds and where it lies: one description for the job that writes it and
// the readers (kryvane-cli --settings, --use-settings).
#pragma once

#include <string>
#include <string_view>

#include "app/base/secret.h"
#include "app/catalogue.h"
#include "app/settings_file.h"

namespace kryvane {

// Appended to the source path to name the settings file beside it.
inline constexpr std::string_view kSettingsSuffix = "-settings.txt";
inline constexpr std::string_view kSettingsSection = "Settings";

std::string SettingsPathFor(const std::string& source);

// What encryption saves: the passphrase as typed and the two menu texts as displayed.
ProfileEntries SettingsEntries(std::string_view phrase, std::string_view cipherMenuText,
                               std::string_view hashMenuText);

struct SavedSettings {
  Secret phrase;
  // The file was read as UTF-8, but a file written on Windows in its code page has the same bytes:
  // there the phrase is other characters, keyed with the bytes EncodePassphrase(phrase, kUtf8)
  // gives rather than with the automatic encoding's. Only set when the two differ.
  bool phraseAmbiguous = false;
  std::string cipherMenuText;
  std::string hashMenuText;
};

// Reads all three; a missing one throws SettingsError naming the file.
SavedSettings ReadSavedSettings(const std::string& path);
// The same for the entry name of an open folder, read once; with followLink false a symbolic link
// there is refused. path names the file in errors.
SavedSettings ReadSavedSettings(int folder, const std::string& name, const std::string& path,
                                bool followLink);

// The entry a stored menu text names, or nothing. Settings files written on Windows store menu
// texts unquoted, so a reader gets them back without their trailing spaces; such a text still
// names its entry.
const CipherEntry* CipherForMenuText(std::string_view text);
const HashEntry* HashForMenuText(std::string_view text);

}  // namespace kryvane
