#include "app/settings_schema.h"

#include <fcntl.h>

#include "app/base/text_util.h"
#include "app/passphrase.h"

namespace kryvane {
namespace {

constexpr std::string_view kPhraseKey = "Phrase";
constexpr std::string_view kCipherKey = "Cipher";
constexpr std::string_view kHashKey = "Hash";

template <class Entry>
const Entry* ForMenuText(std::span<const Entry> catalogue, std::string_view text) {
  for (const Entry& e : catalogue) {
    if (TrimBlanks(e.menuText) == TrimBlanks(text)) return &e;
  }
  return nullptr;
}

}  // namespace

std::string SettingsPathFor(const std::string& source) {
  return source + std::string(kSettingsSuffix);
}

ProfileEntries SettingsEntries(std::string_view phrase, std::string_view cipherMenuText,
                               std::string_view hashMenuText) {
  return {{kPhraseKey, phrase}, {kCipherKey, cipherMenuText}, {kHashKey, hashMenuText}};
}

SavedSettings ReadSavedSettings(const std::string& path) {
  return ReadSavedSettings(AT_FDCWD, path, path, true);
}

SavedSettings ReadSavedSettings(int folder, const std::string& name, const std::string& path,
                                bool followLink) {
  static constexpr std::string_view kKeys[] = {kPhraseKey, kCipherKey, kHashKey};
  ProfileText read = ProfileText::kUtf8;
  std::vector<std::optional<Secret>> values =
      ReadProfileStrings(folder, name, path, followLink, kSettingsSection, kKeys, &read);
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (!values[i]) {
      throw SettingsError(path, "read",
                          "no " + std::string(kKeys[i]) + " entry in the [" +
                              std::string(kSettingsSection) + "] section");
    }
  }
  SavedSettings saved;
  saved.phrase = std::move(*values[0]);
  if (read == ProfileText::kUtf8) {
    saved.phraseAmbiguous = EncodePassphrase(saved.phrase.View(), PassphraseEncoding::kAuto) !=
                            EncodePassphrase(saved.phrase.View(), PassphraseEncoding::kUtf8);
  }
  saved.cipherMenuText = values[1]->View();
  saved.hashMenuText = values[2]->View();
  return saved;
}

const CipherEntry* CipherForMenuText(std::string_view text) {
  return ForMenuText(CipherCatalogue(), text);
}

const HashEntry* HashForMenuText(std::string_view text) {
  return ForMenuText(HashCatalogue(), text);
}

}  // namespace kryvane
