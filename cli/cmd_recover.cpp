// `recover`: finds a forgotten passphrase of one's own file among candidates (what the user
// remembers and its near variants, a word list with rules, or a mask), on every core, with a
// restore point that lets a long search go on after an interruption.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/base/file_util.h"
#include "app/base/io.h"
#include "app/base/secret.h"
#include "app/base/text_util.h"
#include "app/identify.h"
#include "app/recover/candidates.h"
#include "app/recover/like.h"
#include "app/recover/lists.h"
#include "app/recover/mask.h"
#include "app/recover/recovery.h"
#include "app/recover/restore.h"
#include "app/recover/rules.h"
#include "app/recover/search.h"
#include "app/settings_schema.h"
#include "cli/commands.h"
#include "cli/keys.h"
#include "cli/options.h"
#include "cli/report.h"
#include "cli/signals.h"

namespace kryvane::cli {
namespace {

struct RecoverCommand {
  std::string source;
  std::string wordlist;
  std::string rules;
  std::string mask;
  std::string like;
  std::string likeFile;
  std::array<std::string, 4> custom;
  bool increment = false;
  std::size_t incrementMin = 0;
  std::size_t incrementMax = 0;
  CLI::Option* incrementMinOption = nullptr;
  CLI::Option* incrementMaxOption = nullptr;
  bool toStdout = false;
  std::vector<std::string> ciphers;
  std::vector<std::string> hashes;
  std::string settings;
  std::string encoding = "auto";
  unsigned jobs = 0;
  uint64_t skip = 0;
  uint64_t limit = 0;
  CLI::Option* limitOption = nullptr;
  std::string node;
  bool restore = false;
  bool fresh = false;
  ProgressOptions progress;

  int Run();
};

recover::RuleSet ReadRules(const std::string& path) {
  try {
    return recover::ReadRuleFile(path, &StopRequested());
  } catch (const recover::RuleError& e) {
    Failure(path + ": " + e.what());
  } catch (const IoError& e) {
    Failure(e.what());
  }
}

// The candidates the options ask for, and facts that tell this space from another one without a
// candidate in them (for the restore point).
struct Space {
  std::unique_ptr<recover::CandidateSource> source;
  std::vector<std::string> facts;
  std::string description;
};

Space MakeSpace(RecoverCommand& c, Secret& remembered) {
  Space space;
  const int modes = !c.wordlist.empty() + !c.mask.empty() + !remembered.empty();
  if (modes > 1) Usage("give one of --like, --like-file, --wordlist and --mask");
  if (!c.rules.empty() && c.wordlist.empty()) Usage("--rules goes with --wordlist");
  if (c.increment && c.mask.empty()) Usage("--increment goes with --mask");
  if (!c.mask.empty()) {
    recover::MaskOptions options;
    options.custom = c.custom;
    options.increment = c.increment;
    if (c.incrementMinOption->count() > 0) options.increment_min = c.incrementMin;
    if (c.incrementMaxOption->count() > 0) options.increment_max = c.incrementMax;
    try {
      space.source = std::make_unique<recover::MaskSource>(c.mask, options);
    } catch (const recover::MaskError& e) {
      Usage(std::string("--mask: ") + e.what());
    }
    space.facts = {"mask", std::to_string(*space.source->size())};
    space.description = "mask";
  } else if (!c.wordlist.empty()) {
    recover::RuleSet rules = ReadRules(c.rules);
    const std::size_t ruleCount = rules.size();
    try {
      recover::OpenedList list =
          recover::OpenWordlist(c.wordlist, std::move(rules), &StopRequested());
      space.source = std::move(list.source);
      space.facts = std::move(list.identity);
    } catch (const IoError& e) {
      Failure(e.what());
    }
    space.description = "word list with " + std::to_string(ruleCount) + " rules";
  } else {
    space.source = std::make_unique<recover::LikeSource>(remembered.View());
    space.facts = {"like", std::to_string(space.source->size().value_or(0))};
    space.description = "what you remember and its variants";
  }
  return space;
}

std::vector<recover::Pair> ChoosePairs(const RecoverCommand& c) {
  std::vector<const CipherEntry*> ciphers;
  std::vector<const HashEntry*> hashes;
  if (!c.settings.empty()) {
    if (!c.ciphers.empty() || !c.hashes.empty())
      Usage("--settings chooses the pair: leave out -c and -H");
    SavedSettings saved;
    try {
      saved = ReadSavedSettings(c.settings);
    } catch (const SettingsError& e) {
      Failure(e.what());
    }
    const CipherEntry* cipher = FindCipherName(saved.cipherMenuText);
    const HashEntry* hash = FindHashName(saved.hashMenuText);
    if (!cipher || !hash)
      Failure(FormatError(c.settings, "read", "it names no cipher and hash of the menus"));
    return {{cipher, hash}};
  }
  for (const std::string& name : c.ciphers) ciphers.push_back(&ResolveCipher(name));
  for (const std::string& name : c.hashes) hashes.push_back(&ResolveHash(name));
  if (ciphers.empty()) {
    for (const CipherEntry& e : CipherCatalogue()) ciphers.push_back(&e);
  }
  if (hashes.empty()) {
    for (const HashEntry& e : HashCatalogue()) hashes.push_back(&e);
  }
  std::vector<recover::Pair> pairs;
  for (const CipherEntry* cipher : ciphers) {
    for (const HashEntry* hash : hashes) {
      if (std::none_of(pairs.begin(), pairs.end(), [&](const recover::Pair& p) {
            return p.cipher == cipher && p.hash == hash;
          })) {
        pairs.push_back({cipher, hash});
      }
    }
  }
  return pairs;
}

// A found passphrase as it can be shown and typed back: as it is when it is plain text,
// otherwise in the $HEX[...] form word lists take.
std::string Printable(std::string_view text) {
  if (!HasControls(text)) return std::string(text);
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out = "$HEX[";
  for (const unsigned char ch : text) {
    out += kDigits[ch >> 4];
    out += kDigits[ch & 15];
  }
  return out + "]";
}

std::string Quantity(double n) {
  char text[32];
  if (n >= 1e9) {
    std::snprintf(text, sizeof text, "%.2fG", n / 1e9);
  } else if (n >= 1e6) {
    std::snprintf(text, sizeof text, "%.2fM", n / 1e6);
  } else if (n >= 1e3) {
    std::snprintf(text, sizeof text, "%.1fk", n / 1e3);
  } else {
    std::snprintf(text, sizeof text, "%.0f", n);
  }
  return text;
}

std::string Duration(double seconds) {
  char text[32];
  const uint64_t s = uint64_t(seconds);
  if (s >= 86400) {
    std::snprintf(text, sizeof text, "%" PRIu64 "d %02" PRIu64 "h", s / 86400, s / 3600 % 24);
  } else {
    std::snprintf(text, sizeof text, "%02" PRIu64 ":%02" PRIu64 ":%02" PRIu64, s / 3600,
                  s / 60 % 60, s % 60);
  }
  return text;
}

int RecoverCommand::Run() {
  Secret remembered;
  if (!like.empty()) remembered = Secret(like);
  EraseString(like);
  if (!likeFile.empty()) {
    if (!remembered.empty()) Usage("give one of --like and --like-file");
    remembered = ReadPassphraseFile(likeFile);
    if (remembered.empty()) Failure(likeFile + ": read: it holds no text");
  }
  if (remembered.empty() && wordlist.empty() && mask.empty()) {
    // The most common case, and the one that keeps what the user remembers out of argv.
    const UniqueFd tty =
        OpenTerminal("candidates", {"use --like-file FILE, --wordlist FILE or --mask MASK"});
    std::optional<Secret> text = AskHidden(tty.Get(), "What do you remember of the passphrase: ");
    if (!text || text->empty()) Failure("nothing given to start from");
    remembered = std::move(*text);
  }

  Space space = MakeSpace(*this, remembered);
  recover::Selection selection;
  selection.skip = skip;
  if (limitOption->count() > 0) selection.limit = limit;
  recover::Range range;
  try {
    if (!node.empty()) selection = recover::ParseNode(node, selection);
    range = recover::SelectRange(space.source->size(), selection);
  } catch (const recover::SelectionError& e) {
    Usage(e.what());
  }

  if (toStdout) {
    if (!source.empty()) Usage("--stdout prints the candidates: give no SOURCE");
    space.source->Seek(range.first);
    recover::WriteCandidates(*space.source, std::cout, range.end);
    return kExitOk;
  }
  if (source.empty()) Usage("no SOURCE given: the encrypted file whose passphrase is wanted");

  const std::optional<PassphraseEncoding> parsedEncoding = ParsePassphraseEncoding(encoding);
  if (!parsedEncoding) Usage("--encoding: unknown encoding " + encoding);
  recover::SearchOptions searchOptions;
  searchOptions.pairs = ChoosePairs(*this);
  searchOptions.encoding = *parsedEncoding;

  uint64_t fileSize = 0;
  std::vector<uint8_t> head;
  try {
    head = ReadFileHead(source, &fileSize);
  } catch (const std::exception& e) {
    Failure(e.what());
  }
  if (head.empty()) Failure(source + ": the file is empty: any passphrase decrypts it");
  const recover::Search search(head, fileSize, searchOptions);
  if (!search.CanConfirm()) {
    PrintWarning(source +
                 ": the file is too short for a found passphrase to be sure; every "
                 "candidate that fits is listed");
  }

  // Where a search of this space stopped, and whether to go on from there.
  std::vector<std::string> facts = space.facts;
  facts.push_back(std::to_string(searchOptions.pairs.size()) + " pairs");
  for (const recover::Pair& p : searchOptions.pairs) {
    facts.push_back(std::string(p.cipher->shortName) + "/" + std::string(p.hash->shortName));
  }
  facts.push_back(encoding);
  facts.push_back(std::to_string(range.first) + "-" + std::to_string(range.end));
  const std::string fingerprint = SpaceFingerprint(facts);
  std::string restoreFolder;
  std::string restoreName = RestoreFileName(head, fileSize);
  uint64_t start = range.first;
  try {
    restoreFolder = RestoreFolder(true);
    const std::optional<RestorePoint> saved = LoadRestorePoint(restoreFolder, restoreName);
    if (restore) {
      if (!saved) Failure(source + ": no restore point to go on from");
      if (saved->fingerprint != fingerprint) {
        Failure(source + ": the restore point is for another search",
                {"give the options of the search that was stopped, or --fresh to start over"});
      }
      start = std::clamp(saved->position, range.first, range.end);
    } else if (saved && !fresh) {
      Usage(source + ": an earlier search of this file stopped at a restore point",
            {"--restore goes on from it (with the same options), --fresh starts over"});
    }
  } catch (const IoError& e) {
    Failure(e.what());
  }
  try {
    space.source->Seek(start);
  } catch (const std::exception& e) {
    Failure(source + ": cannot go on from the restore point: " + e.what());
  }

  const unsigned threads = jobs > 0 ? jobs : std::max(1u, std::thread::hardware_concurrency());
  const std::optional<uint64_t> size = space.source->size();
  const std::optional<uint64_t> total =
      size ? std::optional<uint64_t>(std::min(*size, range.end) - start) : std::nullopt;
  ProgressBar bar(progress.Enabled());
  const auto save = [&](uint64_t position) {
    try {
      SaveRestorePoint(restoreFolder, restoreName,
                       {position, fingerprint, source, space.description});
    } catch (const IoError& e) {
      PrintWarning(std::string(e.what()) + " (the search goes on without a restore point)");
    }
  };
  recover::RecoveryRequest request;
  request.search = &search;
  request.source = space.source.get();
  request.end = range.end;
  request.threads = threads;
  request.stop = &StopRequested();
  request.checkpoint = save;
  request.progress = [&](const recover::RecoveryProgress& p) {
    const double rate = double(p.candidates) / std::max(p.seconds, 1e-3);
    std::string line = Quantity(double(p.position - start)) +
                       (total ? " of " + Quantity(double(*total)) : "") + " candidates, " +
                       Quantity(rate) + " a second, length " + std::to_string(p.currentLength);
    if (total && rate > 0 && *total >= p.position - start) {
      line += ", " + Duration(double(*total - (p.position - start)) / rate) + " left";
    }
    bar.Show(line);
  };
  StopSignals signals;
  const recover::RecoveryOutcome outcome = recover::RunRecovery(request);
  bar.Finish();

  const uint64_t tried = outcome.counters.candidates;
  std::cerr << "kryvane-cli: " << tried << " candidates tried in " << Duration(outcome.seconds)
            << " (" << Quantity(double(tried) / std::max(outcome.seconds, 1e-3)) << " a second)\n";
  if (outcome.found) {
    RemoveRestorePoint(restoreFolder, restoreName);
    const recover::Hit& hit = outcome.found->hit;
    std::cout << "passphrase: " << Printable(outcome.found->passphrase.View()) << "\n"
              << "cipher: " << hit.pair.cipher->menuText << "\n"
              << "hash: " << hit.pair.hash->menuText << "\n";
    if (hit.prefix) {
      std::cerr << "kryvane-cli: note: the file was keyed with the passphrase's first "
                << kWindowsPhraseLength << " characters, as the Windows program cut it\n";
    }
    std::string command = "kryvane-cli decrypt -c " + std::string(hit.pair.cipher->shortName) +
                          " -H " + std::string(hit.pair.hash->shortName);
    if (hit.encoding == PassphraseEncoding::kUtf8 && *parsedEncoding != PassphraseEncoding::kUtf8) {
      command += " --encoding utf-8";
    }
    PrintHint("decrypt it with: " + command + " " + ShellWord(source) + " TARGET");
    return kExitOk;
  }
  if (outcome.end == recover::RecoveryEnd::kStopped) {
    PrintWarning("stopped; " + restoreFolder + "/" + restoreName +
                 " records where: --restore with the same options goes on from there");
    return kExitFailed;
  }
  RemoveRestorePoint(restoreFolder, restoreName);
  for (const recover::Recovered& f : outcome.unconfirmed) {
    std::cout << "possible passphrase: " << Printable(f.passphrase.View()) << "\n"
              << "cipher: " << f.hit.pair.cipher->menuText << "\n"
              << "hash: " << f.hit.pair.hash->menuText << "\n"
              << "evidence: " << f.hit.plausibility.evidence << "\n";
  }
  if (!outcome.unconfirmed.empty()) {
    Failure(source +
                ": candidates decrypt its start into something plausible, but too little "
                "of it to be sure",
            {"try each with `kryvane-cli decrypt` and look at the result"});
  }
  Failure(source + ": no candidate decrypts it into a recognisable file (the space was exhausted)",
          {"a file that holds compressed or encrypted data of a kind the detector does not know "
           "cannot be recognised, whatever the passphrase"});
}

}  // namespace

void AddRecoverCommand(CLI::App& app, int* status) {
  auto command = std::make_shared<RecoverCommand>();
  CLI::App* cmd = app.add_subcommand(
      "recover", "Find a forgotten passphrase of your own file among candidates");
  cmd->add_option("SOURCE", command->source, "Encrypted file");
  cmd->add_option("--like", command->like,
                  "What you remember of the passphrase; it and its near variants are tried, "
                  "nearest first (visible to other users in the process list: --like-file or "
                  "the terminal's question keep it private)")
      ->type_name("TEXT");
  cmd->add_option("--like-file", command->likeFile,
                  "The same, read from a file (\"-\": standard input)")
      ->type_name("FILE");
  cmd->add_option("--wordlist", command->wordlist, "Candidates, one a line (\"-\": standard input)")
      ->type_name("FILE");
  cmd->add_option("--rules", command->rules, "Rule file in hashcat's syntax, applied to each word")
      ->type_name("FILE");
  cmd->add_option("--mask", command->mask, "Mask in hashcat's syntax (?l ?u ?d ?s ?a ?b ?1-?4)");
  for (int i = 0; i < 4; ++i) {
    const std::string n = std::to_string(i + 1);
    cmd->add_option("-" + n + ",--custom-charset" + n, command->custom[i],
                    "Custom charset ?" + n + " of the mask")
        ->type_name("CHARS");
  }
  cmd->add_flag("--increment", command->increment, "Also the mask's shorter prefixes");
  command->incrementMinOption =
      cmd->add_option("--increment-min", command->incrementMin, "Shortest prefix (default 1)");
  command->incrementMaxOption =
      cmd->add_option("--increment-max", command->incrementMax, "Longest prefix");
  cmd->add_flag("--stdout", command->toStdout, "Print the candidates instead of trying them");
  cmd->add_option("-c,--cipher", command->ciphers,
                  "Ciphers to try (names, positions or menu texts; default all)")
      ->delimiter(',')
      ->allow_extra_args(false)
      ->type_name("NAME");
  cmd->add_option("-H,--hash", command->hashes, "Hashes to try (default all)")
      ->delimiter(',')
      ->allow_extra_args(false)
      ->type_name("NAME");
  cmd->add_option("--settings", command->settings,
                  "The cipher and hash a settings file names (its passphrase is not used)")
      ->type_name("FILE");
  cmd->add_option("--encoding", command->encoding,
                  "How candidates become bytes: auto (both readings), cp1252 or utf-8");
  cmd->add_option("-j,--jobs", command->jobs, "Threads (default: every core)");
  cmd->add_option("--skip", command->skip, "Start at this position of the space");
  command->limitOption =
      cmd->add_option("--limit", command->limit, "Try at most this many positions");
  cmd->add_option("--node", command->node,
                  "This machine's share K of N near-equal shares of the space")
      ->type_name("K/N");
  cmd->add_flag("--restore", command->restore,
                "Go on from where a search with the same options stopped");
  cmd->add_flag("--fresh", command->fresh, "Start over, replacing an earlier restore point");
  AddProgressOptions(*cmd, command->progress);
  cmd->callback([command, status] { *status = command->Run(); });
}

}  // namespace kryvane::cli
