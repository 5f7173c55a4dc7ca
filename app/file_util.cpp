#include "app/file_util.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <random>

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

int CreateTempBeside(const std::string& path, mode_t mode, std::string* tempPath) {
  const std::string folder = ParentFolder(path);
  const auto slash = path.find_last_of('/');
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
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
    const int fd =
        ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd >= 0) {
      *tempPath = std::move(candidate);
      return fd;
    }
    if (errno != EEXIST) return -1;
  }
  errno = EEXIST;
  return -1;
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
