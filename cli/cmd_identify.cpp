// `identify`: which cipher and hash decrypt SOURCE under the passphrase, and the command to do it.
#include <sys/stat.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <memory>
#include <sstream>

#include "app/base/text_util.h"
#include "app/file_job.h"
#include "app/identify.h"
#include "cli/commands.h"
#include "cli/job_front.h"
#include "cli/keys.h"
#include "cli/options.h"
#include "cli/report.h"

namespace kryvane::cli {
namespace {

constexpr std::size_t kShown = 5;  // candidates listed

// What the search found: the candidates that -c and -H leave, best first.
struct Search {
  // The passphrase as typed, as the readings refer to it (PassphraseReadings takes strings);
  // erased when the search goes.
  std::vector<std::string> texts;
  std::vector<PassphraseReading> readings;
  Identification found;
  std::size_t plausible = 0;

  Search() = default;
  Search(const Search&) = delete;
  Search& operator=(const Search&) = delete;
  ~Search() {
    for (std::string& t : texts) EraseString(t);
  }
};

struct IdentifyCommand {
  std::string source;
  std::string decryptTarget;
  AlgorithmOptions algorithms;
  PassphraseOptions passphrase;
  CLI::Option* decryptOption = nullptr;

  int Run() const;
  // Decrypts the start of the source under every pair the options leave.
  void Find(Search& search) const;
  // Prints the candidates and what to do; the one clearly plausible candidate, or nothing (after
  // a failure for none, or for several with --decrypt).
  const Candidate* Print(const Search& search) const;
  // The decrypt command for a candidate: the passphrase from where it came this time.
  std::string DecryptCommand(const Search& search, const Candidate& c) const;
  // --decrypt: the whole source with the candidate's key.
  int Decrypt(const Search& search, const Candidate& best) const;
  bool FromSettings() const { return passphrase.FromSettings(); }
};

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

// Where the decrypted file could go: "x.enc" becomes "x" unless that is taken.
std::string SuggestedTarget(const std::string& source) {
  for (const std::string_view suffix : {".enc", ".kry", ".encrypted"}) {
    if (source.size() > suffix.size() && source.ends_with(suffix)) {
      const std::string stripped = source.substr(0, source.size() - suffix.size());
      if (!Exists(stripped) && stripped.back() != '/') return stripped;
    }
  }
  return source + ".decrypted";
}

// The encoding option that makes `decrypt` key with this reading's bytes, or nothing when its
// automatic choice already does.
std::optional<PassphraseEncoding> EncodingOption(const PassphraseReading& reading,
                                                 const std::string& text) {
  const std::optional<Secret> automatic = EncodePassphrase(text, PassphraseEncoding::kAuto);
  if (automatic && automatic->View() == reading.bytes) return std::nullopt;
  return reading.encoding;
}

std::string_view EncodingName(PassphraseEncoding e) {
  return e == PassphraseEncoding::kCp1252 ? "cp1252"
         : e == PassphraseEncoding::kUtf8 ? "utf-8"
                                          : "auto";
}

std::string ReadingLabel(const PassphraseReading& r, bool fromSettings) {
  std::string label;
  if (fromSettings && r.text == 1) {
    label = r.encoding == PassphraseEncoding::kCp1252 ? "settings as Windows-1252"
                                                      : "settings as Windows-1252, UTF-8 bytes";
  } else {
    label = r.encoding == PassphraseEncoding::kCp1252 ? "Windows-1252" : "UTF-8";
  }
  return r.prefix ? "first 80, " + label : label;
}

}  // namespace

int IdentifyCommand::Run() const {
  if (NamedStream(source, true)) {
    Usage("identify needs a named SOURCE file, not \"-\"",
          {"the start of the file is read for the search and all of it again to decrypt"});
  }
  const bool decrypting = decryptOption->count() > 0;
  if (decrypting && decryptTarget.empty()) Usage("--decrypt needs a file name");
  Search search;
  Find(search);
  const Candidate* best = Print(search);
  if (best == nullptr) return kExitFailed;
  return decrypting ? Decrypt(search, *best) : kExitOk;
}

void IdentifyCommand::Find(Search& search) const {
  const KeyChoice key = ObtainKey(algorithms, passphrase, false);
  if (key.passphrase != key.retyped) {
    Failure("the two passphrases differ; nothing was searched", HintsFor(ErrorKind::kMismatch));
  }
  search.texts.emplace_back(key.passphrase.View());
  search.readings = PassphraseReadings(search.texts, key.encoding);
  if (search.readings.empty()) Failure("the passphrase has characters outside Windows-1252");

  Identification& found = search.found;
  try {
    found = IdentifyFile(source, search.readings);
  } catch (const IoError& e) {
    Failure(e.what(), HintsFor(e.Kind()));
  }
  if (found.answer == IdentifyAnswer::kEmpty) {
    Failure(source +
            ": identify: the file is empty; every passphrase, cipher and hash decrypt it "
            "to an empty file");
  }
  if (found.answer == IdentifyAnswer::kTooShort) {
    Failure(source + ": identify: the file has only " + std::to_string(found.fileSize) +
            " bytes, less than one cipher block; every cipher and hash give bytes that could be "
            "anything");
  }

  // -c and -H narrow the search to what the user remembers.
  std::erase_if(found.ranked, [&](const Candidate& c) {
    return (algorithms.CipherGiven() && c.cipher != key.cipher) ||
           (algorithms.HashGiven() && c.hash != key.hash);
  });
  for (const Candidate& c : found.ranked) {
    search.plausible += c.plausibility.verdict == Verdict::kPlausible;
  }
}

const Candidate* IdentifyCommand::Print(const Search& search) const {
  const Identification& found = search.found;
  const std::vector<PassphraseReading>& readings = search.readings;
  const bool fromSettings = FromSettings();
  // The column appears when the candidates come from more than one reading.
  const bool showReading =
      std::any_of(found.ranked.begin(), found.ranked.end(),
                  [&](const Candidate& c) { return c.reading != found.ranked.front().reading; });
  const std::size_t shown = std::min(found.ranked.size(), kShown);
  std::size_t readingWidth = 0;
  if (showReading) {
    readingWidth = std::string_view("passphrase bytes").size();
    for (std::size_t i = 0; i < shown; ++i) {
      readingWidth = std::max(readingWidth,
                              ReadingLabel(readings[found.ranked[i].reading], fromSettings).size());
    }
    readingWidth += 2;
  }
  auto padded = [](std::string_view text, std::size_t width) {
    std::string s(text);
    if (s.size() < width) s.resize(width, ' ');
    return s;
  };
  std::ostringstream out;
  out << EscapeControls(source) << ": " << found.fileSize << " bytes; the first "
      << std::min<uint64_t>(found.fileSize, kIdentifyHead) << " decrypted under "
      << found.ranked.size() << " cipher and hash pairs";
  if (showReading) {
    const auto whole = std::count_if(readings.begin(), readings.end(),
                                     [](const PassphraseReading& r) { return !r.prefix; });
    out << " (" << whole << " passphrase encoding" << (whole == 1 ? "" : "s");
    const std::size_t pairs = CipherCatalogue().size() * HashCatalogue().size();
    if (found.ranked.size() > std::size_t(whole) * pairs) out << ", and its first 80 characters";
    out << ")";
  }
  out << "\n";
  char line[300];
  std::snprintf(line, sizeof line, "  %-3s %-10s %-10s %s%5s  %s\n", "#", "cipher", "hash",
                padded(showReading ? "passphrase bytes" : "", readingWidth).c_str(), "score",
                "evidence");
  out << line;
  for (std::size_t i = 0; i < shown; ++i) {
    const Candidate& c = found.ranked[i];
    const std::string reading =
        showReading ? padded(ReadingLabel(readings[c.reading], fromSettings), readingWidth) : "";
    std::snprintf(line, sizeof line, "  %-3zu %-10s %-10s %s%5d  %s\n", i + 1,
                  std::string(c.cipher->shortName).c_str(), std::string(c.hash->shortName).c_str(),
                  reading.c_str(), c.plausibility.score, c.plausibility.evidence.c_str());
    out << line;
  }

  if (search.plausible == 0) {
    std::cout << out.str() << std::flush;
    Failure(source + ": identify: nothing plausible under any cipher and hash",
            {"under every pair " + std::string(kRandomResultMeaning),
             "check the passphrase: one wrong character gives only random-looking bytes"});
  }
  if (search.plausible > 1) {
    out << "Several candidates are plausible; try them in this order:\n";
    for (const Candidate& c : found.ranked) {
      if (c.plausibility.verdict == Verdict::kPlausible) {
        out << "  " << DecryptCommand(search, c) << "\n";
      }
    }
    std::cout << out.str() << std::flush;
    if (decryptOption->count() > 0) {
      Failure(source + ": identify: several candidates are plausible, so nothing was decrypted",
              {"run the decrypt command of the one you want"});
    }
    return nullptr;
  }
  const Candidate& best = found.ranked.front();
  out << "Best: " << best.cipher->cipher.algorithm << " with " << best.hash->hash.algorithm << " ("
      << best.plausibility.evidence << ")";
  if (readings[best.reading].prefix) {
    // decrypt finds the prefix by itself, so the command stays as it is.
    out << ", keyed with the first 80 characters of the passphrase, as the Windows program kept "
           "them of a longer paste";
  }
  out << ". Decrypt with:\n  " << DecryptCommand(search, best) << "\n";
  std::cout << out.str() << std::flush;
  return &best;
}

std::string IdentifyCommand::DecryptCommand(const Search& search, const Candidate& c) const {
  std::string cmd = "kryvane-cli decrypt -c " + std::string(c.cipher->shortName) + " -H " +
                    std::string(c.hash->shortName);
  const PassphraseReading& r = search.readings[c.reading];
  if (const auto e = EncodingOption(r, search.texts[r.text])) {
    cmd += " --encoding " + std::string(EncodingName(*e));
  }
  if (passphrase.FromFile()) cmd += " --passphrase-file " + ShellWord(passphrase.file);
  if (passphrase.FromEnv()) cmd += " --passphrase-env " + ShellWord(passphrase.env);
  if (FromSettings()) cmd += " --settings " + ShellWord(passphrase.settings);
  const std::string target = decryptTarget.empty() ? SuggestedTarget(source) : decryptTarget;
  return cmd + " " + ShellWord(source) + " " + ShellWord(target);
}

int IdentifyCommand::Decrypt(const Search& search, const Candidate& best) const {
  const PassphraseReading& r = search.readings[best.reading];
  const std::string& text = search.texts[r.text];
  KeyChoice chosen;
  chosen.cipher = best.cipher;
  chosen.hash = best.hash;
  chosen.passphrase = r.prefix ? *WindowsFieldPrefix(text) : Secret(text);
  chosen.retyped = chosen.passphrase.Clone();
  chosen.encoding = r.encoding;
  JobRequest request;
  request.direction = JobDirection::kDecrypt;
  SetJobFiles(request, source, decryptTarget);
  SetJobKey(request, chosen);
  return ReportJobOutcome(RunFileJob(request), request, source);
}

void AddIdentifyCommand(CLI::App& app, int* status) {
  auto command = std::make_shared<IdentifyCommand>();
  CLI::App* cmd = app.add_subcommand(
      "identify", "Find the cipher and hash that decrypt SOURCE under the passphrase");
  cmd->add_option("SOURCE", command->source, "Encrypted file")->required();
  AddCipherOption(*cmd, command->algorithms);
  AddHashOption(*cmd, command->algorithms);
  command->algorithms.cipherOption->description("Search only this cipher");
  command->algorithms.hashOption->description("Search only this hash");
  AddPassphraseOptions(*cmd, command->passphrase);
  command->decryptOption =
      cmd->add_option("--decrypt", command->decryptTarget,
                      "Decrypt SOURCE into TARGET with the best candidate when it is clear")
          ->type_name("TARGET");
  cmd->footer(
      "Decrypts the first 4096 bytes under all 170 cipher and hash pairs (and, for a passphrase "
      "beyond ASCII, with both its Windows-1252 and its UTF-8 bytes), ranks the results by how "
      "much they look like a real file, and prints the decrypt command for the best.\n"
      "Exit status: 0 when one candidate is clearly plausible, 1 when none or several are.\n\n"
      "Example:\n  kryvane-cli identify --passphrase-file pw.txt report.pdf.enc\n");
  cmd->callback([command, status] { *status = command->Run(); });
}

}  // namespace kryvane::cli
