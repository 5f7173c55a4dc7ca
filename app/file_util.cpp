#include "app/file_util.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <random>

#include "app/atomic_output_test_hook.h"

namespace kryvane {

std::string ErrnoText(int errnum) {
  char buffer[256];
  // The GNU strerror_r returns the text, possibly not in buffer.
  return strerror_r(errnum, buffer, sizeof buffer);
}

std::string ParentFolder(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string ResolveLinks(const std::string& path) {
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  char* real = ::realpath(path.c_str(), nullptr);
  if (real == nullptr) return path;
  std::string resolved(real);
  std::free(real);
  return resolved;
}

namespace {

std::string BaseName(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Tries make(candidate) on fresh hidden names beside path until it gives anything but EEXIST.
template <class Make>
int WithFreshName(const std::string& path, std::string* tempPath, Make make) {
  const std::string folder = ParentFolder(path);
  const std::string base = BaseName(path);
  static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device seed;
  std::mt19937 rng(seed());
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string suffix(8, 'x');
    for (char& c : suffix) c = kAlphabet[rng() % (sizeof kAlphabet - 1)];
    // Keep the name within NAME_MAX however long the target's name is.
    std::string candidate = folder;
    if (candidate.back() != '/') candidate += '/';
    candidate += '.';
    candidate.append(base, 0, NAME_MAX - 24);
    candidate += '.';
    candidate += suffix;
    candidate += ".tmp";
    const int result = make(candidate);
    if (result >= 0) {
      *tempPath = std::move(candidate);
      return result;
    }
    if (errno != EEXIST) return -1;
  }
  errno = EEXIST;
  return -1;
}

}  // namespace

int CreateTempBeside(const std::string& path, mode_t mode, std::string* tempPath) {
  return WithFreshName(path, tempPath, [mode](const std::string& candidate) {
    return ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
  });
}

namespace {
std::atomic<bool> gForceNamed{false};
}  // namespace

namespace test_hooks {
void ForceNamedTemporaryFiles(bool on) {
  gForceNamed.store(on);
}
}  // namespace test_hooks

int CreateUnnamedBeside(const std::string& path, mode_t mode) {
  if (gForceNamed.load()) {
    errno = EOPNOTSUPP;
    return -1;
  }
#ifdef O_TMPFILE
  // Naming it later goes through /proc; without /proc the file could never be named.
  if (::access("/proc/self/fd", X_OK) != 0) return -1;
  return ::open(ParentFolder(path).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
#else
  (void)path;
  (void)mode;
  errno = EOPNOTSUPP;
  return -1;
#endif
}

int LinkUnnamedBeside(int fd, const std::string& path, std::string* tempPath) {
  const std::string self = "/proc/self/fd/" + std::to_string(fd);
  const int result = WithFreshName(path, tempPath, [&self](const std::string& candidate) {
    return ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW);
  });
  return result == 0 ? 0 : errno;
}

bool SamePlace(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  const bool hasA = ::stat(a.c_str(), &sa) == 0;
  const bool hasB = ::stat(b.c_str(), &sb) == 0;
  if (hasA || hasB) return hasA && hasB && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  if (BaseName(a) != BaseName(b)) return false;
  const auto folder = [](const std::string& path) {
    const std::string parent = ParentFolder(path);
    char* real = ::realpath(parent.c_str(), nullptr);
    if (real == nullptr) return parent;
    std::string resolved(real);
    std::free(real);
    return resolved;
  };
  return folder(a) == folder(b);
}

int SyncParentFolder(const std::string& path) {
  const int fd = ::open(ParentFolder(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno;
  int result = 0;
  // Some file systems cannot flush a folder; that is no reason to fail.
  if (::fsync(fd) != 0 && errno != EINVAL && errno != ENOTSUP && errno != EROFS) result = errno;
  ::close(fd);
  return result;
}

int CloseFd(int fd) {
  if (::close(fd) != 0 && errno != EINTR) return errno;
  return 0;
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.Release();
  }
  return *this;
}

UniqueFd::~UniqueFd() {
  if (fd_ >= 0) ::close(fd_);
}

int UniqueFd::Close() {
  if (fd_ < 0) return 0;
  return CloseFd(Release());
}

}  // namespace kryvane
