// The page's way into the library: plain C functions that the page's worker calls. Bytes and
// UTF-8 text cross in buffers of the module's memory; answers longer than a number come back as
// JSON text that stays valid until the next such call. The page never holds a key: a passphrase
// goes in, is turned into bytes with the window's encoding, keys a cipher and is wiped here.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "app/catalogue.h"
#include "app/codepage.h"
#include "app/detector.h"
#include "app/file_job.h"
#include "app/identify.h"
#include "app/passphrase.h"
#include "app/settings_schema.h"
#include "app/window/status_texts.h"
#include "crypto/bytes.h"
#include "crypto/components.h"

namespace kryvane::web {
namespace {

// A result shorter than this is too short to tell from garbage unless it is plainly a real file;
// the same rule as the file job's guard.
constexpr std::size_t kShortResult = 32;

std::string gAnswer;

const char* Answer(std::string json) {
  EraseString(gAnswer);  // the last answer may have held a passphrase or decrypted text
  gAnswer = std::move(json);
  return gAnswer.c_str();
}

std::string Quoted(std::string_view s) {
  std::string out = "\"";
  for (const char c : s) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
      out += escaped;
    } else {
      out += c;  // UTF-8 passes through
    }
  }
  return out + "\"";
}

std::string Hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (const char c : bytes) {
    out += kDigits[static_cast<unsigned char>(c) >> 4];
    out += kDigits[static_cast<unsigned char>(c) & 15];
  }
  return out;
}

const CipherEntry* CipherAt(int position) {
  const auto all = CipherCatalogue();
  return position >= 0 && std::size_t(position) < all.size() ? &all[std::size_t(position)]
                                                             : nullptr;
}

const HashEntry* HashAt(int position) {
  const auto all = HashCatalogue();
  return position >= 0 && std::size_t(position) < all.size() ? &all[std::size_t(position)]
                                                             : nullptr;
}

// The cipher keyed from the passphrase text as the window keys it (Windows-1252 when the text
// fits, else UTF-8); nothing when the pair refuses the key.
std::unique_ptr<Cipher> Keyed(int cipherPosition, int hashPosition, std::string_view phrase) {
  const CipherEntry* cipher = CipherAt(cipherPosition);
  const HashEntry* hash = HashAt(hashPosition);
  if (cipher == nullptr || hash == nullptr) return nullptr;
  const std::optional<Secret> bytes = EncodePassphrase(phrase, PassphraseEncoding::kAuto);
  if (!bytes) return nullptr;
  std::unique_ptr<Cipher> c = cipher->cipher.Create();
  try {
    c->InitFromPassphrase(bytes->View(), hash->hash);
  } catch (const CipherError&) {
    return nullptr;
  }
  return c;
}

std::string PlausibilityJson(const Plausibility& p) {
  return "{\"score\":" + std::to_string(p.score) +
         ",\"verdict\":" + Quoted(VerdictName(p.verdict)) + ",\"evidence\":" + Quoted(p.evidence) +
         "}";
}

struct Job {
  std::unique_ptr<Cipher> cipher;
  bool encrypt = true;
};

std::map<int, Job> gJobs;
int gNextJob = 1;

}  // namespace
}  // namespace kryvane::web

using namespace kryvane;
using namespace kryvane::web;

extern "C" {

// The menus and the fixed texts: {"ciphers":[{"text","name"}...],"hashes":[...],"status":{...}}.
const char* kv_catalogue() {
  std::string json = "{\"ciphers\":[";
  for (const CipherEntry& e : CipherCatalogue()) {
    if (e.position > 0) json += ',';
    json += "{\"text\":" + Quoted(e.menuText) + ",\"name\":" + Quoted(e.shortName) +
            ",\"algorithm\":" + Quoted(e.cipher.algorithm) + "}";
  }
  json += "],\"hashes\":[";
  for (const HashEntry& e : HashCatalogue()) {
    if (e.position > 0) json += ',';
    json += "{\"text\":" + Quoted(e.menuText) + ",\"name\":" + Quoted(e.shortName) +
            ",\"algorithm\":" + Quoted(e.hash.algorithm) + "}";
  }
  const std::pair<const char*, std::string_view> status[] = {
      {"started", kStatusStarted},           {"cleared", kStatusCleared},
      {"mismatch", kStatusMismatch},         {"encrypted", kStatusEncrypted},
      {"decrypted", kStatusDecrypted},       {"failed", kStatusFailed},
      {"cancelled", kStatusCancelled},       {"found", kStatusFound},
      {"severalFound", kStatusSeveralFound}, {"notFound", kStatusNotFound},
  };
  json += "],\"status\":{";
  for (const auto& [key, text] : status) {
    if (key != status[0].first) json += ',';
    json += Quoted(key) + ":" + Quoted(text);
  }
  json += "},\"chunk\":" + std::to_string(Cipher::kStreamChunk) + "}";
  return Answer(std::move(json));
}

// The known-answer test of every class: the names of those that failed, as a JSON list.
const char* kv_selftest() {
  std::string failed = "[";
  RunSelfTests(CipherCatalogue(), HashCatalogue(), [&](std::string_view algorithm, bool passed) {
    if (passed) return;
    if (failed.size() > 1) failed += ',';
    failed += Quoted(algorithm);
  });
  return Answer(failed + "]");
}

// Keys a job; 0 when the key is refused. phrase: UTF-8, wiped by the caller.
int kv_job_open(int encrypt, int cipherPosition, int hashPosition, const char* phrase,
                std::size_t phraseSize) {
  std::unique_ptr<Cipher> c = Keyed(cipherPosition, hashPosition, {phrase, phraseSize});
  if (!c) return 0;
  const int id = gNextJob++;
  gJobs[id] = Job{std::move(c), encrypt != 0};
  return id;
}

// Transforms the next size bytes of the stream in place, in the file job's 8192-byte calls so
// that the result is the file format's (RC4 restarts its indices with every call). Every piece
// but the last must be a whole number of calls; 1 when it was, 0 when refused.
int kv_job_update(int id, uint8_t* data, std::size_t size, int last) {
  const auto it = gJobs.find(id);
  if (it == gJobs.end()) return 0;
  if (last == 0 && size % Cipher::kStreamChunk != 0) return 0;
  Cipher& c = *it->second.cipher;
  for (std::size_t at = 0; at < size; at += Cipher::kStreamChunk) {
    const std::size_t n = std::min(Cipher::kStreamChunk, size - at);
    if (it->second.encrypt) {
      c.Encrypt(data + at, data + at, n);
    } else {
      c.Decrypt(data + at, data + at, n);
    }
  }
  return 1;
}

void kv_job_close(int id) {
  const auto it = gJobs.find(id);
  if (it == gJobs.end()) return;
  it->second.cipher->Wipe();
  gJobs.erase(it);
}

// The file job's guard on the start of a decryption's result:
// {"score","verdict","evidence","suspect"}. suspect: the result looks like what a wrong
// passphrase, cipher or hash gives, or is too short to tell from it.
const char* kv_check_result(const uint8_t* head, std::size_t size) {
  const Plausibility p = Assess({head, std::min(size, kAssessedBytes)});
  const bool suspect = size > 0 && (p.verdict == Verdict::kRandomLooking ||
                                    (p.verdict != Verdict::kPlausible && size < kShortResult));
  std::string json = PlausibilityJson(p);
  json.pop_back();
  return Answer(json + ",\"suspect\":" + (suspect ? "true" : "false") + "}");
}

// "Find cipher and hash": head is the start of the file (up to 4 KiB), fileSize its size.
// {"answer":"clear|ambiguous|nothing|empty|short","ranked":[{"cipher","hash","reading",
// "score","verdict","evidence"}...]} with the plausible candidates and the best one first.
const char* kv_identify(const uint8_t* head, std::size_t headSize, double fileSize,
                        const char* phrase, std::size_t phraseSize) {
  std::string texts[] = {std::string(phrase, phraseSize)};
  const std::vector<PassphraseReading> readings =
      PassphraseReadings(texts, PassphraseEncoding::kAuto);
  EraseString(texts[0]);
  const Identification found =
      IdentifyHead({head, headSize}, static_cast<uint64_t>(fileSize), readings);
  const char* answer = "nothing";
  switch (found.answer) {
    case IdentifyAnswer::kClear:
      answer = "clear";
      break;
    case IdentifyAnswer::kAmbiguous:
      answer = "ambiguous";
      break;
    case IdentifyAnswer::kEmpty:
      answer = "empty";
      break;
    case IdentifyAnswer::kTooShort:
      answer = "short";
      break;
    case IdentifyAnswer::kNothingPlausible:
    case IdentifyAnswer::kCancelled:
      break;
  }
  std::string json = "{\"answer\":" + Quoted(answer) + ",\"ranked\":[";
  bool first = true;
  for (const Candidate& c : found.ranked) {
    // The best always, then every other plausible one.
    if (!first && c.plausibility.verdict != Verdict::kPlausible) continue;
    if (!first) json += ',';
    std::string p = PlausibilityJson(c.plausibility);
    json += "{\"cipher\":" + std::to_string(c.cipher->position) +
            ",\"hash\":" + std::to_string(c.hash->position) +
            ",\"reading\":" + std::to_string(c.reading) + "," + p.substr(1);
    first = false;
  }
  return Answer(json + "]}");
}

// Text encryption as `kryvane-cli text`: a cipher fresh from the passphrase, 8-bit cipher feedback,
// Base64. encrypt: text is UTF-8 and the answer's "text" is Base64; decrypt: text is Base64 and
// the answer's "hex" holds the decrypted bytes. {"ok":false} when the key is refused.
const char* kv_text(int encrypt, int cipherPosition, int hashPosition, const char* phrase,
                    std::size_t phraseSize, const char* text, std::size_t textSize) {
  std::unique_ptr<Cipher> c = Keyed(cipherPosition, hashPosition, {phrase, phraseSize});
  if (!c) return Answer("{\"ok\":false}");
  std::string out =
      encrypt != 0 ? c->EncryptText({text, textSize}) : c->DecryptText({text, textSize});
  c->Wipe();
  std::string json = encrypt != 0 ? "{\"ok\":true,\"text\":" + Quoted(out) + "}"
                                  : "{\"ok\":true,\"hex\":\"" + Hex(out) + "\"}";
  EraseString(out);
  return Answer(std::move(json));
}

// A settings file that encryption wrote: its passphrase and menus, read by the same reader as
// `kryvane-cli --settings`. head and fileSize describe the source it belongs to: a file whose
// passphrase reads two ways is keyed the way that decrypts the head plausibly. The answer's
// "phrase" is the text to type, keyed as the window keys typed text: for the Windows reading of
// an ambiguous file that is the text Windows showed.
// {"ok":true,"phrase","cipher","hash","cipherText","hashText"} (-1 for a menu text no entry has)
// or {"ok":false,"error"}.
const char* kv_settings(const uint8_t* bytes, std::size_t size, const uint8_t* head,
                        std::size_t headSize, double fileSize) {
  // The reader reads files; this one lives in the module's memory file system only while read.
  const std::string path = "/kryvane-settings.txt";
  std::string json;
  {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return Answer("{\"ok\":false,\"error\":\"cannot hold the file\"}");
    std::fwrite(bytes, 1, size, f);
    std::fclose(f);
  }
  try {
    SavedSettings saved = ReadSavedSettings(path);
    const CipherEntry* cipher = CipherForMenuText(saved.cipherMenuText);
    const HashEntry* hash = HashForMenuText(saved.hashMenuText);
    Secret phrase = std::move(saved.phrase);
    if (saved.phraseAmbiguous && cipher != nullptr && hash != nullptr &&
        ChooseSettingsEncoding({head, headSize}, static_cast<uint64_t>(fileSize), *cipher, *hash,
                               phrase.View()) == PassphraseEncoding::kUtf8) {
      phrase = Cp1252ToUtf8(phrase.View());
    }
    json = "{\"ok\":true,\"phrase\":" + Quoted(phrase.View()) +
           ",\"cipher\":" + std::to_string(cipher != nullptr ? cipher->position : -1) +
           ",\"hash\":" + std::to_string(hash != nullptr ? hash->position : -1) +
           ",\"cipherText\":" + Quoted(saved.cipherMenuText) +
           ",\"hashText\":" + Quoted(saved.hashMenuText) + "}";
  } catch (const std::exception& e) {
    std::string why = e.what();
    // The reader names the file by its path here, which means nothing to the user.
    if (why.starts_with(path + ": ")) why.erase(0, path.size() + 2);
    json = "{\"ok\":false,\"error\":" + Quoted(why) + "}";
  }
  // Overwrite the passphrase before the file goes.
  if (FILE* f = std::fopen(path.c_str(), "r+b")) {
    const std::string zeros(size, '\0');
    std::fwrite(zeros.data(), 1, zeros.size(), f);
    std::fclose(f);
  }
  ::unlink(path.c_str());
  return Answer(std::move(json));
}

// A buffer of the module's memory for the page to fill; kv_free returns it after wiping it.
uint8_t* kv_alloc(std::size_t size) {
  return static_cast<uint8_t*>(std::malloc(size == 0 ? 1 : size));
}

void kv_free(uint8_t* p, std::size_t size) {
  if (p == nullptr) return;
  SecureZero(p, size);
  std::free(p);
}

}  // extern "C"
