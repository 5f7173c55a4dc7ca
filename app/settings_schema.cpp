#include "app/settings_schema.h"

#include "app/passphrase.h"
#include "app/text_util.h"

namespace kryvane {
namespace {

constexpr std::string_view kPhraseKey = "Phrase";
constexpr std::string_view kCipherKey = "Cipher";
constexpr std::string_view kHashKey = "Hash";

std::optional<std::string> Read(const std::string& path, std::string_view key,
                                ProfileText* read = nullptr) {
  std::optional<std::string> value = ReadProfileString(path, kSettingsSection, key, read);
  if (!value) {
    throw SettingsError(
        path, "read",
        "no " + std::string(key) + " entry in the [" + std::string(kSettingsSection) + "] section");
  }
  return value;
}

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
  SavedSettings saved;
  ProfileText read = ProfileText::kUtf8;
  std::optional<std::string> phrase = Read(path, kPhraseKey, &read);
  saved.phrase = Secret(*phrase);
  EraseString(*phrase);
  if (read == ProfileText::kUtf8) {
    saved.phraseAmbiguous = EncodePassphrase(saved.phrase.View(), PassphraseEncoding::kAuto) !=
                            EncodePassphrase(saved.phrase.View(), PassphraseEncoding::kUtf8);
  }
  saved.cipherMenuText = *Read(path, kCipherKey);
  saved.hashMenuText = *Read(path, kHashKey);
  return saved;
}

const CipherEntry* CipherForMenuText(std::string_view text) {
  return ForMenuText(CipherCatalogue(), text);
}

const HashEntry* HashForMenuText(std::string_view text) {
  return ForMenuText(HashCatalogue(), text);
}

}  // namespace kryvane
