#include "app/base/atomic_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <random>
#include <utility>

#include "app/base/atomic_output_test_hook.h"
#include "app/base/file_util.h"

namespace kryvane {
namespace {

std::atomic<bool> gForceNamed{false};

// Tries make(name) on fresh hidden names derived from base until it gives anything but EEXIST.
template <class Make>
int WithFreshName(const std::string& base, std::string* chosen, Make make) {
  static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  // Seeded once per thread: opening the system's random source for every file costs more than
  // the rest of naming it.
  thread_local std::mt19937 rng{std::random_device{}()};
  for (int attempt = 0; attempt < 100; ++attempt) {
    // Within NAME_MAX however long the destination's name is.
    std::string candidate = ".";
    candidate.append(base, 0, NAME_MAX - 24);
    candidate += '.';
    for (int i = 0; i < 8; ++i) candidate += kAlphabet[rng() % (sizeof kAlphabet - 1)];
    candidate += ".tmp";
    const int result = make(candidate);
    if (result >= 0) {
      *chosen = std::move(candidate);
      return result;
    }
    if (errno != EEXIST) return -1;
  }
  errno = EEXIST;
  return -1;
}

}  // namespace

namespace test_hooks {
void ForceNamedTemporaryFiles(bool on) {
  gForceNamed.store(on);
}
}  // namespace test_hooks

AtomicOutput::AtomicOutput(std::string destination, mode_t newMode, std::string displayName,
                           bool readable)
    : destination_(std::move(destination)),
      base_(BaseName(destination_)),
      name_(displayName.empty() ? destination_ : std::move(displayName)),
      readable_(readable) {
  if (base_.empty() || base_ == "." || base_ == "..") throw IoError(name_, "open", EISDIR);
  const std::string folder = ParentFolder(destination_);
  folder_ = UniqueFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder_ && errno == EACCES) {
    // A folder we may write and enter but not list still takes the file; it just cannot be
    // flushed.
    folder_ = UniqueFd(::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    folderSyncable_ = false;
  }
  if (!folder_) throw IoError(name_, "open", errno);
  Open(newMode);
}

AtomicOutput::AtomicOutput(int folder, std::string name, mode_t newMode, std::string displayName,
                           bool readable)
    : destination_(std::move(name)),
      base_(destination_),
      name_(std::move(displayName)),
      readable_(readable) {
  if (base_.empty() || base_ == "." || base_ == ".." || base_.find('/') != std::string::npos) {
    throw IoError(name_, "open", EISDIR);
  }
  folder_ = UniqueFd(::fcntl(folder, F_DUPFD_CLOEXEC, 3));
  if (!folder_) throw IoError(name_, "open", errno);
  const int flags = ::fcntl(folder_.Get(), F_GETFL);
  folderSyncable_ = flags >= 0 && (flags & O_PATH) == 0;
  Open(newMode);
}

void AtomicOutput::Open(mode_t newMode) {
  const int access = readable_ ? O_RDWR : O_WRONLY;
  struct stat existing;
  if (::fstatat(folder_.Get(), base_.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISLNK(existing.st_mode)) {
      throw IoError(name_, "open", "it is a symbolic link, which is never written through");
    }
    if (S_ISDIR(existing.st_mode)) throw IoError(name_, "open", EISDIR);
    if (!S_ISREG(existing.st_mode)) throw IoError(name_, "open", "it is not a regular file");
    // The rename ignores the file's own permissions: a file its owner made read-only is refused,
    // as a write to it would be.
    if (::faccessat(folder_.Get(), base_.c_str(), W_OK, AT_EACCESS) != 0) {
      throw IoError(name_, "open", errno);
    }
    replaces_ = true;
  } else if (errno != ENOENT) {
    throw IoError(name_, "open", errno);
  }

#ifdef O_TMPFILE
  // Naming it later goes through /proc; without /proc the file could never be named.
  if (!gForceNamed.load() && ::access("/proc/self/fd", X_OK) == 0) {
    fd_ = UniqueFd(::openat(folder_.Get(), ".", O_TMPFILE | access | O_CLOEXEC, newMode));
  }
#endif
  // Some file systems refuse unnamed files; a named one does as well, short of a kill.
  if (!fd_) {
    fd_ = UniqueFd(WithFreshName(base_, &tempName_, [&](const std::string& candidate) {
      return ::openat(folder_.Get(), candidate.c_str(),
                      access | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, newMode);
    }));
    if (!fd_) throw IoError(name_, "create", errno);
  }
  // Only a file of our own passes its permissions on: root replacing another user's file must not
  // make the new content theirs, nor keep a mode they chose.
  if (replaces_ && existing.st_uid == ::geteuid()) {
    if (::fchown(fd_.Get(), uid_t(-1), existing.st_gid) != 0) {
      // Only a group we belong to can be kept; otherwise the file keeps ours.
    }
    if (::fchmod(fd_.Get(), existing.st_mode & 07777) != 0) {
      const int err = errno;
      Discard();
      throw IoError(name_, "create", err);
    }
  }
}

void AtomicOutput::LimitMode(mode_t mask) {
  struct stat st;
  if (::fstat(fd_.Get(), &st) != 0) throw IoError(name_, "create", errno);
  const mode_t limited = st.st_mode & 07777 & mask;
  if (limited != (st.st_mode & 07777) && ::fchmod(fd_.Get(), limited) != 0) {
    throw IoError(name_, "create", errno);
  }
}

AtomicOutput::~AtomicOutput() {
  if (!committed_) Discard();
}

void AtomicOutput::Flush(bool dropCache) {
  if (synced_) return;
  if (::fsync(fd_.Get()) != 0) throw IoError(name_, "write", errno);
  if (dropCache) ::posix_fadvise(fd_.Get(), 0, 0, POSIX_FADV_DONTNEED);
  GiveName();
  // A readable file stays open to be read; the commit closes it.
  if (!readable_) {
    if (const int err = fd_.Close(); err != 0) throw IoError(name_, "write", err);
  }
  synced_ = true;
}

void AtomicOutput::GiveName() {
  if (!tempName_.empty()) return;
  const std::string self = "/proc/self/fd/" + std::to_string(fd_.Get());
  const int linked = WithFreshName(base_, &tempName_, [&](const std::string& candidate) {
    return ::linkat(AT_FDCWD, self.c_str(), folder_.Get(), candidate.c_str(), AT_SYMLINK_FOLLOW);
  });
  if (linked != 0) throw IoError(name_, "create", errno);
}

void AtomicOutput::Commit(bool durable, bool flushFolder) {
  if (durable) Flush();
  GiveName();
  // The close reports a delayed write error (of a network file system, say).
  if (const int err = fd_.Close(); err != 0) throw IoError(name_, "write", err);
  if (::renameat(folder_.Get(), tempName_.c_str(), folder_.Get(), base_.c_str()) != 0) {
    throw IoError(name_, "replace", errno);
  }
  committed_ = true;
  tempName_.clear();
  // Some file systems cannot flush a folder; that is no reason to fail.
  if (durable && flushFolder && folderSyncable_ && ::fsync(folder_.Get()) != 0 && errno != EINVAL &&
      errno != ENOTSUP && errno != EROFS) {
    throw IoError(name_, "write", errno);
  }
}

void AtomicOutput::Discard() {
  fd_.Close();
  if (!tempName_.empty() && !committed_) ::unlinkat(folder_.Get(), tempName_.c_str(), 0);
  tempName_.clear();
}

}  // namespace kryvane
