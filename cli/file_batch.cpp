#include "cli/file_batch.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <string_view>

#include "app/base/file_util.h"
#include "cli/job_front.h"
#include "cli/report.h"

namespace kryvane::cli {
namespace {

// The key each file takes: without --use-settings one key serves every file; with it, a key
// given on the command line serves the files that have no settings file beside them.
class BatchKeys {
 public:
  BatchKeys(const AlgorithmOptions& algorithms, const PassphraseOptions& passphrase,
            bool useSettings, bool decrypting)
      : algorithms_(algorithms),
        useSettings_(useSettings),
        decrypting_(decrypting),
        encoding_(*ParsePassphraseEncoding(passphrase.encoding)) {
    const bool keyGiven =
        passphrase.FromFile() || passphrase.FromEnv() || passphrase.FromSettings();
    if (useSettings && passphrase.FromSettings()) {
      Usage("give only one of --use-settings and --settings");
    }
    if (!useSettings || keyGiven) common_ = ObtainKey(algorithms, passphrase, false);
  }

  // The key for an item found in folder, or nothing when it has none (the caller skips it). A
  // settings file is read from that folder, and must be a regular file there.
  std::optional<KeyChoice> For(const BatchItem& item, int folder) const {
    struct stat st;
    const std::string settingsName = BaseName(item.settings);
    if (useSettings_ && ::fstatat(folder, settingsName.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
      KeyChoice key =
          KeyFromSettingsFile(algorithms_, item.settings, encoding_, folder, settingsName);
      SettleSettingsEncoding(key, folder, item.name, item.source, item.root == BatchItem::kNamed);
      return key;
    }
    if (!common_) return std::nullopt;
    KeyChoice key;
    key.cipher = common_->cipher;
    key.hash = common_->hash;
    key.passphrase = common_->passphrase.Clone();
    key.retyped = common_->retyped.Clone();
    key.encoding = common_->encoding;
    // A passphrase longer than the Windows field may have keyed the file with its first 80
    // characters, as for a single file.
    if (decrypting_) {
      SettleSettingsEncoding(key, folder, item.name, item.source, item.root == BatchItem::kNamed);
    }
    return key;
  }

 private:
  const AlgorithmOptions& algorithms_;
  bool useSettings_;
  bool decrypting_;
  PassphraseEncoding encoding_;
  std::optional<KeyChoice> common_;
};

BatchFileResult ResultOf(const JobOutcome& outcome, const BatchItem& item) {
  BatchFileResult result;
  if (!outcome.Succeeded()) {
    result.kind = BatchFileResult::Kind::kFailed;
    if (outcome.error) {
      result.error = *outcome.error;
    } else {
      result.error.emplace();
      result.error->file = item.source;
      result.error->kind = ErrorKind::kInternal;
    }
    return result;
  }
  result.kind = BatchFileResult::Kind::kDone;
  result.bytes = outcome.bytes;
  result.sourceDeleted = outcome.sourceDeleted;
  if (outcome.warning) {
    result.error = *outcome.warning;  // the guard's reason is in it
  } else if (outcome.ResultLooksRandom()) {
    result.note = item.target + ": " + std::string(kRandomResultMeaning);
  }
  return result;
}

}  // namespace

int RunFileBatch(const BatchCommand& command, const std::atomic<bool>* cancel, bool progress,
                 const BatchExtra& extra) {
  const BatchOptions& options = command.options;
  RefuseStandardStreams(command.paths);
  if (options.useSettings && command.direction == JobDirection::kEncrypt) {
    Usage("--use-settings is for decryption");
  }
  // Everything the command line can get wrong is refused before anything is created.
  const BatchPlan plan = PlanBatch(command.paths, options, command.direction);
  const BatchKeys keys(command.algorithms, command.passphrase, options.useSettings,
                       command.direction == JobDirection::kDecrypt);
  OutputTree output(options.outputDir);

  const auto process = [&](const BatchItem& item, const std::function<void(uint64_t)>& progress) {
    const UniqueFd folder = item.root == BatchItem::kNamed
                                ? OpenParentFolder(item.source)
                                : OpenFolderBeneath(plan.roots[item.root]->Get(), item.folder,
                                                    plan.rootNames[item.root]);
    const std::optional<KeyChoice> key = keys.For(item, folder.Get());
    if (!key) {
      BatchFileResult skipped;
      skipped.kind = BatchFileResult::Kind::kSkipped;
      skipped.skipped = "no " + item.settings + " and no passphrase option given";
      return skipped;
    }
    const std::shared_ptr<UniqueFd> targetFolder = output.Folder(item.targetFolder);
    JobRequest request;
    request.direction = command.direction;
    SetJobKey(request, *key);
    request.sourcePath = item.source;
    request.sourceFolder = folder.Get();
    request.sourceName = item.name;
    // A file found in a folder is never reached through a link put in its place.
    request.sourceNoFollow = item.root != BatchItem::kNamed;
    request.targetPath = item.target;
    request.targetFolder = targetFolder->Get();
    request.targetName = item.targetName;
    request.targetNoFollow = true;
    request.deleteSource = command.deleteSource;
    request.saveSettings = command.saveSettings;
    request.folderFlushedLater = true;  // the output folders are flushed once, at the end
    request.cancel = cancel;
    request.progress = [&progress](uint64_t done, std::optional<uint64_t>) { progress(done); };
    const std::unique_ptr<TargetEncoder> encoder = extra ? extra(request) : nullptr;
    return ResultOf(RunFileJob(request), item);
  };

  return RunBatch(plan, output, BatchThreads(options.jobs), cancel, progress, command.deleteSource,
                  process);
}

}  // namespace kryvane::cli
