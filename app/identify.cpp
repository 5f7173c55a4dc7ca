#include "app/identify.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "app/base/file_util.h"
#include "app/base/io.h"
#include "crypto/bytes.h"
#include "crypto/components.h"

namespace kryvane {
namespace {

// The start of the file decrypted with one pair; nothing when the pair refuses the key.
std::optional<std::vector<uint8_t>> DecryptHead(std::span<const uint8_t> head,
                                                const CipherEntry& cipher, const HashEntry& hash,
                                                std::string_view passphraseBytes) {
  std::unique_ptr<Cipher> c = cipher.cipher.Create();
  try {
    c->InitFromPassphrase(passphraseBytes, hash.hash);
  } catch (const CipherError&) {
    return std::nullopt;
  }
  std::vector<uint8_t> plain(head.size());
  // One call over the whole head, as the first chunk of a full decryption: the same chain, and
  // for a file shorter than the head the same treatment of its last partial block.
  c->Decrypt(head.data(), plain.data(), head.size());
  c->Wipe();
  return plain;
}

}  // namespace

std::vector<PassphraseReading> PassphraseReadings(std::span<const std::string> texts,
                                                  PassphraseEncoding encoding) {
  std::vector<Secret> held;
  held.reserve(texts.size());
  for (const std::string& text : texts) held.emplace_back(text);
  return PassphraseReadings(held, encoding);
}

std::vector<PassphraseReading> PassphraseReadings(std::span<const Secret> texts,
                                                  PassphraseEncoding encoding) {
  std::vector<PassphraseReading> readings;
  const PassphraseEncoding tried[] = {PassphraseEncoding::kCp1252, PassphraseEncoding::kUtf8};
  for (std::size_t t = 0; t < texts.size(); ++t) {
    for (const PassphraseEncoding e : tried) {
      if (encoding != PassphraseEncoding::kAuto && encoding != e) continue;
      std::optional<Secret> bytes = EncodePassphrase(texts[t].View(), e);
      if (!bytes) continue;
      const bool seen = std::any_of(readings.begin(), readings.end(),
                                    [&](const PassphraseReading& r) { return r.bytes == *bytes; });
      if (!seen) {
        PassphraseReading r;
        r.text = t;
        r.encoding = e;
        r.bytes = std::move(*bytes);
        readings.push_back(std::move(r));
      }
    }
  }
  const std::size_t whole = readings.size();
  for (std::size_t i = 0; i < whole; ++i) {
    const std::optional<Secret> prefix = WindowsFieldPrefix(texts[readings[i].text].View());
    if (!prefix) continue;
    std::optional<Secret> bytes = EncodePassphrase(prefix->View(), readings[i].encoding);
    if (!bytes) continue;
    PassphraseReading r;
    r.text = readings[i].text;
    r.encoding = readings[i].encoding;
    r.bytes = std::move(*bytes);
    r.prefix = true;
    readings.push_back(std::move(r));
  }
  return readings;
}

Plausibility AssessDecryption(std::span<const uint8_t> head, uint64_t fileSize,
                              const CipherEntry& cipher, const HashEntry& hash,
                              std::string_view passphraseBytes) {
  head = head.first(std::min<std::size_t>({head.size(), kIdentifyHead, std::size_t(fileSize)}));
  const std::optional<std::vector<uint8_t>> plain =
      DecryptHead(head, cipher, hash, passphraseBytes);
  if (!plain) return {0, Verdict::kUnclear, "the key was refused"};
  return Assess(*plain);
}

PassphraseEncoding ChooseSettingsEncoding(std::span<const uint8_t> head, uint64_t fileSize,
                                          const CipherEntry& cipher, const HashEntry& hash,
                                          std::string_view passphraseText) {
  const auto plausible = [&](PassphraseEncoding encoding) {
    const std::optional<Secret> bytes = EncodePassphrase(passphraseText, encoding);
    return bytes && AssessDecryption(head, fileSize, cipher, hash, bytes->View()).verdict ==
                        Verdict::kPlausible;
  };
  if (fileSize == 0 || plausible(PassphraseEncoding::kAuto)) return PassphraseEncoding::kAuto;
  return plausible(PassphraseEncoding::kUtf8) ? PassphraseEncoding::kUtf8
                                              : PassphraseEncoding::kAuto;
}

Identification IdentifyHead(std::span<const uint8_t> head, uint64_t fileSize,
                            std::span<const PassphraseReading> readings,
                            const IdentifyOptions& options) {
  Identification result;
  result.fileSize = fileSize;
  if (fileSize == 0) {
    result.answer = IdentifyAnswer::kEmpty;
    return result;
  }
  if (fileSize < kIdentifyMinSize) {
    result.answer = IdentifyAnswer::kTooShort;
    return result;
  }
  head = head.first(std::min<std::size_t>({head.size(), kIdentifyHead, std::size_t(fileSize)}));

  const auto ciphers = CipherCatalogue();
  const auto hashes = HashCatalogue();
  const std::size_t pairs = ciphers.size() * hashes.size();
  // The prefixes of long passphrases come last and count only when nothing else fits.
  const std::size_t wholeReadings = std::size_t(std::count_if(
      readings.begin(), readings.end(), [](const PassphraseReading& r) { return !r.prefix; }));
  std::size_t total = pairs * wholeReadings;
  std::size_t done = 0;
  const auto anyPlausible = [&] {
    return std::any_of(result.ranked.begin(), result.ranked.end(), [](const Candidate& c) {
      return c.plausibility.verdict == Verdict::kPlausible;
    });
  };
  for (std::size_t r = 0; r < readings.size(); ++r) {
    if (readings[r].prefix) {
      if (anyPlausible()) break;
      total = std::max(total, done + pairs * (readings.size() - r));
    }
    for (const CipherEntry& cipher : ciphers) {
      for (const HashEntry& hash : hashes) {
        if (options.cancel != nullptr && options.cancel->load(std::memory_order_relaxed)) {
          result.answer = IdentifyAnswer::kCancelled;
          result.ranked.clear();
          return result;
        }
        Candidate c{&cipher, &hash, r, {}};
        c.plausibility = AssessDecryption(head, fileSize, cipher, hash, readings[r].bytes.View());
        result.ranked.push_back(std::move(c));
        if (options.progress) options.progress(++done, total);
      }
    }
  }
  // Best score first; among equals the menus' order, so the outcome never depends on chance.
  std::stable_sort(result.ranked.begin(), result.ranked.end(),
                   [](const Candidate& a, const Candidate& b) {
                     return a.plausibility.score > b.plausibility.score;
                   });
  const auto plausible = std::count_if(
      result.ranked.begin(), result.ranked.end(),
      [](const Candidate& c) { return c.plausibility.verdict == Verdict::kPlausible; });
  result.answer = plausible == 1   ? IdentifyAnswer::kClear
                  : plausible == 0 ? IdentifyAnswer::kNothingPlausible
                                   : IdentifyAnswer::kAmbiguous;
  return result;
}

Plausibility AssessResult(std::span<const uint8_t> head, std::string_view passphraseText,
                          PassphraseEncoding encoding) {
  Plausibility verdict = Assess(head);
  head = head.first(std::min(head.size(), kIdentifyHead));
  if (verdict.verdict != Verdict::kRandomLooking || head.size() < kIdentifyMinSize) return verdict;
  PassphraseReading reading;
  if (std::optional<Secret> bytes = EncodePassphrase(passphraseText, encoding)) {
    reading.bytes = std::move(*bytes);
  } else {
    return verdict;
  }
  const Identification inner = IdentifyHead(head, head.size(), std::span(&reading, 1));
  if (inner.answer != IdentifyAnswer::kClear && inner.answer != IdentifyAnswer::kAmbiguous) {
    return verdict;
  }
  const Candidate& best = *inner.Best();
  return {std::min(best.plausibility.score, 75), Verdict::kPlausible,
          "a file of this format encrypted again under the same passphrase (it decrypts as " +
              std::string(best.cipher->cipher.algorithm) + " with " +
              std::string(best.hash->hash.algorithm) + ": " + best.plausibility.evidence + ")"};
}

std::optional<Secret> FittingWindowsPrefix(std::span<const uint8_t> head, uint64_t fileSize,
                                           const CipherEntry& cipher, const HashEntry& hash,
                                           std::string_view passphraseText,
                                           PassphraseEncoding encoding) {
  std::optional<Secret> prefix = WindowsFieldPrefix(passphraseText);
  if (!prefix || fileSize == 0) return std::nullopt;
  const auto verdict = [&](std::string_view text) {
    const std::optional<Secret> bytes = EncodePassphrase(text, encoding);
    return bytes ? AssessDecryption(head, fileSize, cipher, hash, bytes->View()).verdict
                 : Verdict::kUnclear;
  };
  if (verdict(passphraseText) != Verdict::kRandomLooking) return std::nullopt;
  if (verdict(prefix->View()) != Verdict::kPlausible) return std::nullopt;
  return prefix;
}

std::vector<uint8_t> ReadFileHead(const std::string& path, uint64_t* fileSize) {
  return ReadFileHead(AT_FDCWD, path, path, true, fileSize);
}

std::vector<uint8_t> ReadFileHead(int folder, const std::string& name, const std::string& path,
                                  bool followLink, uint64_t* fileSize) {
  OpenedSource opened;
  try {
    opened = OpenSource(folder, name, path, followLink);
  } catch (const IoError& e) {
    throw IoError(path, "open", e.Errno() != 0 ? e.Errno() : ELOOP);
  }
  const struct stat& st = opened.status;
  if (!S_ISREG(st.st_mode)) {
    // The search reads the start and the decryption reads it all again: a pipe cannot do both.
    throw IoError(path, "open", "not a regular file");
  }
  const UniqueFd& fd = opened.fd;
  const std::size_t wanted = std::min<uint64_t>(uint64_t(st.st_size), kIdentifyHead);
  std::vector<uint8_t> head(wanted);
  std::size_t got = 0;
  while (got < wanted) {
    const ssize_t n = ::read(fd.Get(), head.data() + got, wanted - got);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n < 0) throw IoError(path, "read", errno);
    if (n == 0) break;
    got += std::size_t(n);
  }
  head.resize(got);
  // A file that shrank while being read is as long as what was there.
  *fileSize = got < wanted ? got : uint64_t(st.st_size);
  return head;
}

Identification IdentifyFile(const std::string& path, std::span<const PassphraseReading> readings,
                            const IdentifyOptions& options) {
  uint64_t size = 0;
  const std::vector<uint8_t> head = ReadFileHead(path, &size);
  return IdentifyHead(head, size, readings, options);
}

}  // namespace kryvane
