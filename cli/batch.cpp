#include "cli/batch.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <set>
#include <thread>
#include <utility>

#include "app/base/file_util.h"
#include "app/base/text_util.h"
#include "app/settings_schema.h"
#include "cli/options.h"
#include "cli/report.h"
#include "cli/signals.h"

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
  if (name.empty()) return folder;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

// The name a folder given on the command line keeps under the output folder: its last step, with
// or without a trailing slash; "." and ".." (and "/") give their contents only.
std::string KeptFolderName(const std::string& source) {
  std::string trimmed = source;
  while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
  const std::string base = fs::path(trimmed).lexically_normal().filename().string();
  return base == "." || base == ".." || base == "/" ? std::string() : base;
}

// A source the walk could not look at: "FILE: OPERATION: CAUSE", as the job reports a file.
Error FailedToRead(const std::string& file, const char* operation, int err) {
  Error error;
  error.file = file;
  error.operation = operation;
  error.cause = ErrnoText(err);
  error.errnum = err;
  return error;
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
    // Not made here: a folder inside the sources that already exists is not walked into.
    if (const auto st = Status(options_.outputDir); st && S_ISDIR(st->st_mode)) {
      outputFolder_ = FileKey{st->st_dev, st->st_ino};
    }
    for (const std::string& source : sources) AddSource(source);
    RefuseCollisions();
    SkipExistingTargets();
    return std::move(plan_);
  }

 private:
  void AddSource(const std::string& source) {
    const auto st = LinkStatus(source);
    if (!st) {
      plan_.failed.push_back(FailedToRead(source, "open", errno));
      return;
    }
    if (S_ISDIR(st->st_mode)) {
      if (!options_.recursive) {
        Usage(source + " is a folder", {"-r/--recursive processes the files in folders"});
      }
      WalkRoot(source);
      return;
    }
    if (S_ISLNK(st->st_mode)) {
      const auto target = Status(source);
      if (target && S_ISDIR(target->st_mode)) {
        plan_.skipped.push_back({source, "a symbolic link to a folder, not followed"});
        return;
      }
    }
    // A file named on the command line: its links are the user's to follow.
    const auto target = Status(source);
    if (!target) {
      plan_.failed.push_back(FailedToRead(source, "open", errno));
      return;
    }
    AddFile(source, BaseName(source), BatchItem::kNamed, ParentFolder(source), "", *target);
  }

  void WalkRoot(const std::string& source) {
    UniqueFd fd(::open(source.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd) {
      plan_.failed.push_back(FailedToRead(source, "read folder", errno));
      return;
    }
    const std::size_t root = plan_.roots.size();
    plan_.roots.push_back(std::make_shared<UniqueFd>(std::move(fd)));
    plan_.rootNames.push_back(source);
    Walk(root, plan_.roots.back()->Get(), source, "", KeptFolderName(source));
  }

  // Files of the open folder (rel below its root, relOut below the output folder), depth first in
  // name order; every step is taken from the folder's descriptor, never by path.
  void Walk(std::size_t root, int folder, const std::string& display, const std::string& rel,
            const std::string& relOut) {
    std::vector<std::string> names;
    {
      DIR* dir = ::fdopendir(::fcntl(folder, F_DUPFD_CLOEXEC, 3));
      if (dir == nullptr) {
        plan_.failed.push_back(FailedToRead(display, "read folder", errno));
        return;
      }
      ::rewinddir(dir);
      errno = 0;
      while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
        errno = 0;
      }
      const int err = errno;
      ::closedir(dir);
      if (err != 0) plan_.failed.push_back(FailedToRead(display, "read folder", err));
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
      const std::string path = Join(display, name);
      const std::string childRel = rel.empty() ? name : rel + "/" + name;
      const std::string childOut = relOut.empty() ? name : relOut + "/" + name;
      struct stat st;
      if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        plan_.failed.push_back(FailedToRead(path, "open", errno));
      } else if (S_ISLNK(st.st_mode)) {
        plan_.skipped.push_back({path, "a symbolic link, not followed"});
      } else if (S_ISDIR(st.st_mode)) {
        if (outputFolder_ && FileKey{st.st_dev, st.st_ino} == *outputFolder_) {
          plan_.skipped.push_back({path, "the output folder"});
          continue;
        }
        const UniqueFd child(
            ::openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (!child) {
          plan_.failed.push_back(FailedToRead(path, "read folder", errno));
        } else {
          Walk(root, child.Get(), path, childRel, childOut);
        }
      } else if (!S_ISREG(st.st_mode)) {
        plan_.skipped.push_back({path, "not a regular file"});
      } else if (direction_ == JobDirection::kDecrypt && name.ends_with(kSettingsSuffix)) {
        plan_.skipped.push_back({path, "a settings file"});
      } else {
        AddFile(path, name, root, rel, relOut, st);
      }
    }
  }

  void AddFile(const std::string& source, const std::string& name, std::size_t root,
               const std::string& folder, const std::string& relOut, const struct stat& st) {
    // A file named twice (a folder and a file in it, say) is one source.
    if (!sources_.emplace(FileKey{st.st_dev, st.st_ino}, source).second) return;
    BatchItem item;
    item.source = source;
    item.root = root;
    item.folder = folder;
    item.name = name;
    item.targetName = options_.convert
                          ? ConvertTargetName(name, options_.legacySuffix, options_.suffix)
                          : BatchTargetName(name, direction_, options_.suffix);
    item.targetFolder = root == BatchItem::kNamed ? std::string() : relOut;
    item.target = Join(Join(options_.outputDir, item.targetFolder), item.targetName);
    // Encryption wrote the settings beside the plaintext, under the plaintext's name.
    const std::string plainName =
        options_.convert ? BatchTargetName(name, JobDirection::kDecrypt, options_.legacySuffix)
                         : item.targetName;
    item.settings =
        Join(fs::path(source).parent_path().string(), plainName + std::string(kSettingsSuffix));
    item.size = uint64_t(st.st_size);
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
  std::optional<FileKey> outputFolder_;
  std::map<FileKey, std::string> sources_;
};

BatchFileResult Failed(ErrorKind kind, std::string cause) {
  BatchFileResult result;
  result.kind = BatchFileResult::Kind::kFailed;
  result.error.emplace();
  result.error->kind = kind;
  result.error->cause = std::move(cause);
  return result;
}

// A file's error on one line: a batch shows no hint lines under each file, so what its kind
// suggests, if anything, ends the line.
std::string BatchErrorLine(const Error& error) {
  std::string line = error.Describe();
  if (const std::string_view hint = BatchHintFor(error.kind); !hint.empty()) {
    line += ' ';
    line += hint;
  }
  return line;
}

// Runs process for each item on `threads` workers; a set cancel flag stops the batch: running
// items cancel and leave nothing, the rest are not started. progress is called from the calling
// thread about ten times a second.
BatchSummary RunItems(const BatchPlan& plan, unsigned threads, const std::atomic<bool>* cancel,
                      const BatchProcess& process, ProgressBar& bar) {
  const auto start = std::chrono::steady_clock::now();
  BatchSummary summary;
  const std::size_t n = plan.items.size();
  summary.results.resize(n);
  uint64_t total = 0;
  for (const BatchItem& item : plan.items) total += item.size;

  threads = std::max(1u, std::min<unsigned>(threads, unsigned(n)));
  std::atomic<std::size_t> next{0};
  std::atomic<std::size_t> filesDone{0};
  std::atomic<uint64_t> bytesFinished{0};
  std::atomic<unsigned> running{threads};
  auto current = std::make_unique<std::atomic<uint64_t>[]>(threads);
  const auto cancelled = [cancel] {
    return cancel != nullptr && cancel->load(std::memory_order_relaxed);
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
        result =
            process(item, [&mine](uint64_t done) { mine.store(done, std::memory_order_relaxed); });
      } catch (const CommandError& e) {
        result = Failed(ErrorKind::kRefused, e.message);
      } catch (const ErrorException& e) {
        result.kind = BatchFileResult::Kind::kFailed;
        result.error = e.Get();
      } catch (const std::exception& e) {
        result = Failed(ErrorKind::kInternal, e.what());
      }
      mine.store(0, std::memory_order_relaxed);
      // A file that failed because the batch was stopped was simply not done.
      if (result.kind == BatchFileResult::Kind::kFailed && cancelled()) {
        result.kind = BatchFileResult::Kind::kNotStarted;
        result.error.reset();
      }
      bytesFinished.fetch_add(item.size);
      filesDone.fetch_add(1);
    }
    running.fetch_sub(1);
  };

  std::vector<std::thread> workers;
  for (unsigned w = 0; w < threads; ++w) workers.emplace_back(work, w);
  while (running.load() > 0) {
    uint64_t done = bytesFinished.load();
    for (unsigned w = 0; w < threads; ++w) done += current[w].load(std::memory_order_relaxed);
    bar.Update(std::min(done, total), total, ProgressBar::Files{filesDone.load(), n});
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  bar.Update(bytesFinished.load(), total, ProgressBar::Files{filesDone.load(), n});
  for (std::thread& t : workers) t.join();
  summary.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return summary;
}

// The targets' names were left to one flush per folder; a target is counted done only once it is
// durable.
void MarkUnflushed(const BatchPlan& plan, const std::map<std::string, int>& errors,
                   BatchSummary& summary) {
  for (std::size_t i = 0; i < summary.results.size(); ++i) {
    BatchFileResult& result = summary.results[i];
    const auto it = errors.find(plan.items[i].targetFolder);
    if (result.kind != BatchFileResult::Kind::kDone || it == errors.end()) continue;
    result = Failed(ErrorKind::kIo, ErrnoText(it->second) +
                                        "; the new target is in place but may not survive a crash");
    result.error->file = plan.items[i].target;
    result.error->operation = "write";
    result.error->errnum = it->second;
  }
}

int Report(const BatchPlan& plan, const BatchSummary& summary, bool deleteSource) {
  using Kind = BatchFileResult::Kind;
  for (const BatchNote& note : plan.skipped) PrintSkipped(note.file, note.reason);
  std::size_t warned = 0;
  for (std::size_t i = 0; i < summary.results.size(); ++i) {
    const BatchFileResult& r = summary.results[i];
    const std::string& source = plan.items[i].source;
    if (r.kind == Kind::kSkipped) PrintSkipped(source, r.skipped);
    if (r.kind == Kind::kDone && r.error) {
      PrintWarning(r.error->Describe());
      ++warned;
    }
    if (!r.note.empty()) PrintWarning(r.note);
  }
  for (const Error& error : plan.failed) PrintError(BatchErrorLine(error), {});
  for (const BatchFileResult& r : summary.results) {
    if (r.kind == Kind::kFailed) PrintError(BatchErrorLine(*r.error), {});
  }
  const std::size_t failed = summary.Count(Kind::kFailed) + plan.failed.size();
  const std::size_t notDone = summary.Count(Kind::kNotStarted);
  const std::size_t skipped = summary.Count(Kind::kSkipped) + plan.skipped.size();
  std::fprintf(stderr,
               "kryvane-cli: %zu done, %zu failed, %zu skipped, %zu not done; %.1f MiB in %.1f s\n",
               summary.Count(Kind::kDone), failed, skipped, notDone,
               double(summary.Bytes()) / 1048576.0, summary.seconds);
  if (deleteSource) {
    // What became of every source: only those of verified targets are gone.
    std::size_t deleted = 0;
    for (const BatchFileResult& r : summary.results) deleted += r.sourceDeleted ? 1 : 0;
    std::fprintf(stderr,
                 "kryvane-cli: %zu sources deleted; every other source was kept as it was\n",
                 deleted);
  }
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

}  // namespace

std::shared_ptr<UniqueFd> OutputTree::Folder(const std::string& rel) {
  std::lock_guard lock(mutex_);
  if (!rootFd_) MakeRoot();
  if (rel.empty()) return rootFd_;
  if (const auto it = folders_.find(rel); it != folders_.end()) return it->second;
  auto folder = std::make_shared<UniqueFd>(OpenFolderBeneath(rootFd_->Get(), rel, root_, true));
  if (folders_.size() >= kKeptOpen) {
    // Descriptors are few: a folder let go is flushed now instead of at the end.
    const auto oldest = folders_.begin();
    if (const int err = FlushFolderFd(oldest->second->Get()); err != 0) {
      errors_[oldest->first] = err;
    }
    folders_.erase(oldest);
  }
  folders_.emplace(rel, folder);
  return folder;
}

std::map<std::string, int> OutputTree::Flush() {
  std::lock_guard lock(mutex_);
  if (rootFd_) {
    if (const int err = FlushFolderFd(rootFd_->Get()); err != 0) errors_[""] = err;
  }
  for (const auto& [rel, fd] : folders_) {
    if (const int err = FlushFolderFd(fd->Get()); err != 0) errors_[rel] = err;
  }
  return errors_;
}

// The output folder and its missing parents, each new one flushed into its parent.
void OutputTree::MakeRoot() {
  fs::path made;
  for (const fs::path& step : fs::path(root_).lexically_normal()) {
    made /= step;
    if (step.empty() || step == "/" || step == "." || step == "..") continue;
    const std::string path = made.string();
    if (::mkdir(path.c_str(), 0777) == 0) {
      if (const int err = FlushFolder(ParentFolder(path)); err != 0) {
        throw IoError(path, "create folder", err);
      }
    } else if (errno != EEXIST) {
      throw IoError(path, "create folder", errno);
    }
  }
  UniqueFd fd(::open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd) throw IoError(root_, "create folder", errno);
  rootFd_ = std::make_shared<UniqueFd>(std::move(fd));
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

int RunBatch(const BatchPlan& plan, OutputTree& output, unsigned threads,
             const std::atomic<bool>* cancel, bool progress, bool deleteSource,
             const BatchProcess& process) {
  ProgressBar bar(progress);
  BatchSummary summary;
  {
    const StopSignals stopSignals;
    summary = RunItems(plan, threads, cancel, process, bar);
  }
  MarkUnflushed(plan, output.Flush(), summary);
  bar.Finish();
  return Report(plan, summary, deleteSource);
}

unsigned BatchThreads(unsigned jobs) {
  return jobs > 0 ? jobs : std::max(1u, std::thread::hardware_concurrency());
}

void RefuseStandardStreams(const std::vector<std::string>& sources) {
  if (sources.empty()) Usage("--output-dir needs at least one SOURCE");
  for (const std::string& path : sources) {
    if (IsStandardInput(path)) {
      Usage("standard input (\"-\") cannot be a SOURCE with --output-dir");
    }
  }
}

}  // namespace kryvane::cli
