#include "cli/batch.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <thread>
#include <utility>

#include "app/file_util.h"
#include "app/text_util.h"
#include "cli/commands.h"
#include "cli/common.h"
#include "cli/file_command.h"

namespace kryvane::cli {
namespace {

namespace fs = std::filesystem;

using FileKey = std::pair<dev_t, ino_t>;

std::optional<struct stat> LinkStatus(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
  return st;
}

std::optional<struct stat> Status(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return st;
}

std::string Join(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

class Planner {
 public:
  Planner(const BatchOptions& options, JobDirection direction)
      : options_(options), direction_(direction) {}

  BatchPlan Plan(const std::vector<std::string>& sources) {
    if (options_.suffix.find('/') != std::string::npos) {
      Usage("--suffix \"" + options_.suffix + "\" must not contain \"/\"");
    }
    if ((direction_ == JobDirection::kEncrypt || options_.convert) && options_.suffix.empty()) {
      Usage(options_.convert ? "--suffix must not be empty when converting"
                             : "--suffix must not be empty when encrypting",
            {"the targets would carry the names of their plaintexts"});
    }
    PrepareOutputFolder();
    for (const std::string& source : sources) AddSource(source);
    RefuseCollisions();
    SkipExistingTargets();
    return std::move(plan_);
  }

 private:
  void PrepareOutputFolder() {
    // The folders made here are flushed into their parents, as MakeTargetFolders does.
    std::vector<std::string> made;
    for (fs::path p = fs::path(options_.outputDir).lexically_normal();
         !p.empty() && !LinkStatus(p.string()) && p.has_relative_path(); p = p.parent_path()) {
      made.push_back(p.string());
    }
    std::error_code ec;
    fs::create_directories(options_.outputDir, ec);
    for (const std::string& folder : made) {
      if (LinkStatus(folder)) FlushFolder(ParentFolder(folder));
    }
    const auto st = Status(options_.outputDir);
    if (!st) Failure(options_.outputDir + ": create folder: " + ErrnoText(errno));
    if (!S_ISDIR(st->st_mode)) {
      Failure(options_.outputDir + ": create folder: " + ErrnoText(ENOTDIR));
    }
    outputFolder_ = FileKey{st->st_dev, st->st_ino};
  }

  void AddSource(const std::string& source) {
    const auto st = LinkStatus(source);
    if (!st) {
      plan_.failed.push_back({source, "open: " + ErrnoText(errno)});
      return;
    }
    if (S_ISDIR(st->st_mode)) {
      if (!options_.recursive) {
        Usage(source + " is a folder", {"-r/--recursive processes the files in folders"});
      }
      const std::string base = fs::path(source).lexically_normal().filename().string();
      const bool contentsOnly = base.empty() || base == "." || base == "..";
      Walk(source, contentsOnly ? "" : base);
      return;
    }
    if (S_ISLNK(st->st_mode)) {
      const auto target = Status(source);
      if (target && S_ISDIR(target->st_mode)) {
        plan_.skipped.push_back({source, "a symbolic link to a folder, not followed"});
        return;
      }
    }
    AddFile(source, fs::path(source).filename().string(), ".");
  }

  // Files of folder (named rel under the output folder), depth first in name order.
  void Walk(const std::string& folder, const std::string& rel) {
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec) {
      plan_.failed.push_back({folder, "read folder: " + ec.message()});
      return;
    }
    std::vector<std::string> names;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
      names.push_back(it->path().filename().string());
    }
    if (ec) plan_.failed.push_back({folder, "read folder: " + ec.message()});
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
      const std::string path = Join(folder, name);
      const std::string childRel = rel.empty() ? name : rel + "/" + name;
      const auto st = LinkStatus(path);
      if (!st) {
        plan_.failed.push_back({path, "open: " + ErrnoText(errno)});
      } else if (S_ISLNK(st->st_mode)) {
        plan_.skipped.push_back({path, "a symbolic link, not followed"});
      } else if (S_ISDIR(st->st_mode)) {
        if (FileKey{st->st_dev, st->st_ino} == outputFolder_) {
          plan_.skipped.push_back({path, "the output folder"});
        } else {
          Walk(path, childRel);
        }
      } else if (!S_ISREG(st->st_mode)) {
        plan_.skipped.push_back({path, "not a regular file"});
      } else if (direction_ == JobDirection::kDecrypt && name.ends_with(kSettingsSuffix)) {
        plan_.skipped.push_back({path, "a settings file"});
      } else {
        const std::string parent = rel.empty() ? "." : rel;
        AddFile(path, name, parent);
        plan_.items.back().inFolder = true;
      }
    }
  }

  void AddFile(const std::string& source, const std::string& name, const std::string& relFolder) {
    BatchItem item;
    item.source = source;
    const std::string targetName =
        options_.convert ? ConvertTargetName(name, options_.legacySuffix, options_.suffix)
                         : BatchTargetName(name, direction_, options_.suffix);
    const std::string folder =
        relFolder == "." ? options_.outputDir : Join(options_.outputDir, relFolder);
    item.target = Join(folder, targetName);
    // Encryption wrote the settings beside the plaintext, under the plaintext's name.
    const std::string plainName =
        options_.convert ? BatchTargetName(name, JobDirection::kDecrypt, options_.legacySuffix)
                         : targetName;
    item.settings =
        Join(fs::path(source).parent_path().string(), plainName + std::string(kSettingsSuffix));
    if (const auto st = Status(source)) {
      item.size = S_ISREG(st->st_mode) ? uint64_t(st->st_size) : 0;
      sources_[FileKey{st->st_dev, st->st_ino}] = source;
    }
    plan_.items.push_back(std::move(item));
  }

  void RefuseCollisions() {
    std::map<std::string, const BatchItem*> byTarget;
    for (const BatchItem& item : plan_.items) {
      const std::string key = fs::path(item.target).lexically_normal().string();
      const auto [it, inserted] = byTarget.emplace(key, &item);
      if (!inserted) {
        Usage(it->second->source + " and " + item.source + " would both become " + item.target,
              {"nothing was written; process them into different output folders"});
      }
      if (const auto st = Status(item.target)) {
        const auto source = sources_.find(FileKey{st->st_dev, st->st_ino});
        if (source != sources_.end()) {
          Usage(item.target + " would overwrite the source " + source->second,
                {"nothing was written; choose an output folder apart from the sources"});
        }
      }
    }
  }

  void SkipExistingTargets() {
    if (options_.force) return;
    std::vector<BatchItem> kept;
    for (BatchItem& item : plan_.items) {
      if (LinkStatus(item.target)) {
        plan_.skipped.push_back({item.source, item.target + " exists (--force replaces it)"});
      } else {
        kept.push_back(std::move(item));
      }
    }
    plan_.items = std::move(kept);
  }

  const BatchOptions& options_;
  JobDirection direction_;
  BatchPlan plan_;
  FileKey outputFolder_{};
  std::map<FileKey, std::string> sources_;
};

}  // namespace

std::optional<std::string> MakeTargetFolders(const std::string& outputDir,
                                             const std::string& target) {
  const fs::path rel = fs::path(target).parent_path().lexically_relative(outputDir);
  std::string path = outputDir;
  for (const fs::path& part : rel) {
    if (part == ".") continue;
    path = Join(path, part.string());
    if (::mkdir(path.c_str(), 0777) == 0) {
      // A new folder's own name must outlast a crash, or the files in it would go with it.
      if (const int err = FlushFolder(ParentFolder(path)); err != 0) {
        return path + ": create folder: " + ErrnoText(err);
      }
    } else if (errno != EEXIST) {
      return path + ": create folder: " + ErrnoText(errno);
    }
    const auto st = LinkStatus(path);
    if (!st) return path + ": create folder: " + ErrnoText(errno);
    if (!S_ISDIR(st->st_mode)) return path + ": create folder: " + ErrnoText(ENOTDIR);
  }
  return std::nullopt;
}

std::string BatchTargetName(std::string_view name, JobDirection direction,
                            std::string_view suffix) {
  if (direction == JobDirection::kEncrypt) return std::string(name) + std::string(suffix);
  if (!suffix.empty() && name.size() > suffix.size() && name.ends_with(suffix)) {
    return std::string(name.substr(0, name.size() - suffix.size()));
  }
  return std::string(name) + ".dec";
}

std::string ConvertTargetName(std::string_view name, std::string_view legacySuffix,
                              std::string_view suffix) {
  std::string_view base = name;
  if (!legacySuffix.empty() && name.size() > legacySuffix.size() && name.ends_with(legacySuffix)) {
    base.remove_suffix(legacySuffix.size());
  }
  return std::string(base) + std::string(suffix);
}

BatchPlan PlanBatch(const std::vector<std::string>& sources, const BatchOptions& options,
                    JobDirection direction) {
  return Planner(options, direction).Plan(sources);
}

std::size_t BatchSummary::Count(BatchFileResult::Kind kind) const {
  return std::size_t(std::count_if(results.begin(), results.end(),
                                   [kind](const BatchFileResult& r) { return r.kind == kind; }));
}

uint64_t BatchSummary::Bytes() const {
  uint64_t sum = 0;
  for (const BatchFileResult& r : results) sum += r.bytes;
  return sum;
}

namespace {

// The jobs leave their targets' names to one flush per folder here (a flush per file cost a
// batch of small files a quarter of its time); a target is counted done only once it is durable.
void FlushTargetFolders(const BatchPlan& plan, BatchSummary& summary) {
  std::map<std::string, std::vector<std::size_t>> done;
  for (std::size_t i = 0; i < summary.results.size(); ++i) {
    if (summary.results[i].kind == BatchFileResult::Kind::kDone) {
      done[ParentFolder(plan.items[i].target)].push_back(i);
    }
  }
  for (const auto& [folder, items] : done) {
    const int err = FlushFolder(folder);
    if (err == 0) continue;
    for (const std::size_t i : items) {
      BatchFileResult& result = summary.results[i];
      result.kind = BatchFileResult::Kind::kFailed;
      result.message = plan.items[i].target + ": write: " + ErrnoText(err) +
                       "; the new target is in place but may not survive a crash";
    }
  }
}

}  // namespace

BatchSummary RunBatch(const BatchPlan& plan, const BatchRun& run) {
  const auto start = std::chrono::steady_clock::now();
  BatchSummary summary;
  const std::size_t n = plan.items.size();
  summary.results.resize(n);
  uint64_t total = 0;
  for (const BatchItem& item : plan.items) total += item.size;

  const unsigned threads = std::max(1u, std::min<unsigned>(run.threads, unsigned(n)));
  std::atomic<std::size_t> next{0};
  std::atomic<std::size_t> filesDone{0};
  std::atomic<uint64_t> bytesFinished{0};
  std::atomic<unsigned> running{threads};
  auto current = std::make_unique<std::atomic<uint64_t>[]>(threads);
  const auto cancelled = [&run] {
    return run.cancel != nullptr && run.cancel->load(std::memory_order_relaxed);
  };

  auto work = [&](unsigned worker) {
    for (;;) {
      if (cancelled()) break;
      const std::size_t i = next.fetch_add(1);
      if (i >= n) break;
      const BatchItem& item = plan.items[i];
      BatchFileResult& result = summary.results[i];
      std::atomic<uint64_t>& mine = current[worker];
      try {
        result = run.process(
            item, [&mine](uint64_t done) { mine.store(done, std::memory_order_relaxed); });
      } catch (const CommandError& e) {
        result.kind = BatchFileResult::Kind::kFailed;
        result.message = e.message;
      }
      mine.store(0, std::memory_order_relaxed);
      // A file that failed because the batch was stopped was simply not done.
      if (result.kind == BatchFileResult::Kind::kFailed && cancelled()) {
        result.kind = BatchFileResult::Kind::kNotStarted;
        result.message.clear();
      }
      bytesFinished.fetch_add(item.size);
      filesDone.fetch_add(1);
    }
    running.fetch_sub(1);
  };

  std::vector<std::thread> workers;
  for (unsigned w = 0; w < threads; ++w) workers.emplace_back(work, w);
  if (run.progress) {
    while (running.load() > 0) {
      uint64_t done = bytesFinished.load();
      for (unsigned w = 0; w < threads; ++w) done += current[w].load(std::memory_order_relaxed);
      run.progress(std::min(done, total), total, filesDone.load(), n);
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    run.progress(bytesFinished.load(), total, filesDone.load(), n);
  }
  for (std::thread& t : workers) t.join();
  FlushTargetFolders(plan, summary);
  summary.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return summary;
}

namespace {

// One line on standard error for the whole batch: bytes and files.
class BatchBar {
 public:
  explicit BatchBar(bool enabled) : enabled_(enabled), terminal_(::isatty(STDERR_FILENO) == 1) {}
  ~BatchBar() { Finish(); }
  bool Enabled() const { return enabled_; }
  // On a terminal the bar vanishes before the summary; elsewhere its last state stays.
  void Finish() {
    if (drawn_) std::fputs(terminal_ ? "\r\033[K" : "\n", stderr);
    drawn_ = false;
  }
  void Update(uint64_t done, uint64_t total, std::size_t files, std::size_t fileTotal) {
    if (!enabled_) return;
    constexpr int kWidth = 30;
    const double fraction = total > 0 ? double(done) / double(total) : 0.0;
    std::string bar(std::size_t(fraction * kWidth), '#');
    bar.resize(kWidth, '.');
    char line[200];
    std::snprintf(line, sizeof line, "\r[%s] %3d%%  %.1f / %.1f MiB  %zu / %zu files", bar.c_str(),
                  int(fraction * 100), double(done) / 1048576.0, double(total) / 1048576.0, files,
                  fileTotal);
    std::fputs(line, stderr);
    std::fflush(stderr);
    drawn_ = true;
  }

 private:
  bool enabled_;
  bool terminal_;
  bool drawn_ = false;
};

void PrintNote(const std::string& file, const std::string& reason) {
  std::fprintf(stderr, "kryvane-cli: skipped: %s: %s\n", EscapeControls(file).c_str(),
               reason.c_str());
}

}  // namespace

BatchKeys::BatchKeys(const AlgorithmOptions& algorithms, const PassphraseOptions& passphrase,
                     bool useSettings)
    : algorithms_(algorithms),
      useSettings_(useSettings),
      encoding_(*ParsePassphraseEncoding(passphrase.encoding)) {
  const bool keyGiven = passphrase.fileOption->count() > 0 || passphrase.envOption->count() > 0 ||
                        passphrase.settingsOption->count() > 0;
  if (useSettings && passphrase.settingsOption->count() > 0) {
    Usage("give only one of --use-settings and --settings");
  }
  if (!useSettings || keyGiven) common_ = ObtainKey(algorithms, passphrase, false);
}

std::optional<KeyChoice> BatchKeys::For(const BatchItem& item) const {
  if (useSettings_ && LinkStatus(item.settings)) {
    KeyChoice key = KeyFromSettingsFile(algorithms_, item.settings, encoding_);
    SettleSettingsEncoding(key, item.source);
    return key;
  }
  if (!common_) return std::nullopt;
  KeyChoice key;
  key.cipher = common_->cipher;
  key.hash = common_->hash;
  key.passphrase = common_->passphrase.Clone();
  key.retyped = common_->retyped.Clone();
  key.encoding = common_->encoding;
  return key;
}

int RunAndReport(const BatchPlan& plan, BatchRun run, bool progress) {
  BatchBar bar(progress);
  if (bar.Enabled()) {
    run.progress = [&bar](uint64_t done, uint64_t total, std::size_t files, std::size_t all) {
      bar.Update(done, total, files, all);
    };
  }
  BatchSummary summary = RunBatch(plan, run);
  bar.Finish();

  for (const BatchNote& note : plan.skipped) PrintNote(note.file, note.reason);
  using Kind = BatchFileResult::Kind;
  std::size_t warned = 0;
  for (std::size_t i = 0; i < summary.results.size(); ++i) {
    const BatchFileResult& r = summary.results[i];
    const std::string& source = plan.items[i].source;
    if (r.kind == Kind::kSkipped) PrintNote(source, r.message);
    if (r.kind == Kind::kDone && !r.message.empty()) {
      PrintWarning(r.message);
      ++warned;
    }
    if (!r.note.empty()) PrintWarning(r.note);
  }
  for (const BatchNote& note : plan.failed) {
    PrintError(note.file + ": " + note.reason, {});
  }
  for (const BatchFileResult& r : summary.results) {
    if (r.kind == Kind::kFailed) PrintError(r.message, {});
  }
  const std::size_t failed = summary.Count(Kind::kFailed) + plan.failed.size();
  const std::size_t notDone = summary.Count(Kind::kNotStarted);
  const std::size_t skipped = summary.Count(Kind::kSkipped) + plan.skipped.size();
  std::fprintf(stderr,
               "kryvane-cli: %zu done, %zu failed, %zu skipped, %zu not done; %.1f MiB in %.1f s\n",
               summary.Count(Kind::kDone), failed, skipped, notDone,
               double(summary.Bytes()) / 1048576.0, summary.seconds);
  if (warned > 0) {
    // As for a single file: a target written but a source that was to go and is still there is
    // something scripts must know.
    std::fprintf(stderr, "kryvane-cli: %zu done with a warning above (their sources were kept)\n",
                 warned);
  }
  if (notDone > 0) {
    std::fputs(
        "kryvane-cli: stopped: the files not done were left as they were, finished ones stay\n",
        stderr);
  }
  return failed > 0 || notDone > 0 || warned > 0 ? kExitFailed : kExitOk;
}

BatchRun KeyedBatchRun(const BatchOptions& options, const BatchKeys& keys,
                       const std::atomic<bool>* cancel, KeyedProcess process) {
  BatchRun run;
  run.outputDir = options.outputDir;
  run.threads = BatchThreads(options.jobs);
  run.cancel = cancel;
  run.process = [&options, &keys, process = std::move(process)](
                    const BatchItem& item, const std::function<void(uint64_t)>& progress) {
    const std::optional<KeyChoice> key = keys.For(item);
    if (!key) {
      BatchFileResult skipped;
      skipped.kind = BatchFileResult::Kind::kSkipped;
      skipped.message = "no " + item.settings + " and no passphrase option given";
      return skipped;
    }
    if (auto error = MakeTargetFolders(options.outputDir, item.target)) Failure(*error);
    return process(item, *key, progress);
  };
  return run;
}

unsigned BatchThreads(unsigned jobs) {
  return jobs > 0 ? jobs : std::max(1u, std::thread::hardware_concurrency());
}

int RunBatchCommand(const FileCommand& command, const std::atomic<bool>* cancel) {
  const BatchOptions& options = command.batch;
  const bool encrypt = command.direction == JobDirection::kEncrypt;
  RefuseStandardStreams(command.paths);
  if (options.useSettings && encrypt) Usage("--use-settings is for decryption");

  const BatchPlan plan = PlanBatch(command.paths, options, command.direction);
  const BatchKeys keys(command.algorithms, command.passphrase, options.useSettings);

  BatchRun run = KeyedBatchRun(
      options, keys, cancel,
      [&](const BatchItem& item, const KeyChoice& key,
          const std::function<void(uint64_t)>& progress) {
        BatchFileResult result;
        JobRequest request;
        request.direction = command.direction;
        request.passphrase = key.passphrase.Clone();
        request.retypedPassphrase = key.retyped.Clone();
        SetBatchItem(request, item, key, cancel, progress);
        request.deleteSource = command.deleteSource;
        request.saveSettings = command.saveSettings;
        request.folderFlushedLater = true;  // RunBatch flushes each folder at the end
        const JobOutcome outcome = RunFileJob(request);
        if (outcome.Succeeded()) {
          result.kind = BatchFileResult::Kind::kDone;
          result.bytes = outcome.bytes;
          if (outcome.warning) {
            result.message = outcome.warning->Describe();
            if (outcome.resultSuspect)
              result.message += " (passphrase, cipher or hash probably wrong)";
          } else if (outcome.ResultLooksRandom()) {
            result.note = item.target +
                          ": the result looks like random bytes, so the passphrase, cipher or hash "
                          "is probably wrong";
          }
        } else {
          result.kind = BatchFileResult::Kind::kFailed;
          result.message = outcome.error ? outcome.error->Describe() : item.source;
        }
        return result;
      });
  return RunAndReport(plan, std::move(run), command.progress.Enabled());
}

void RefuseStandardStreams(const std::vector<std::string>& sources) {
  if (sources.empty()) Usage("--output-dir needs at least one SOURCE");
  for (const std::string& path : sources) {
    if (path == "-") Usage("standard input (\"-\") cannot be a SOURCE with --output-dir");
  }
}

}  // namespace kryvane::cli
