#include "app/base/file_util.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace kryvane {
namespace {

std::string RealPath(const std::string& path) {
  char* real = ::realpath(path.c_str(), nullptr);
  if (real == nullptr) return path;
  std::string resolved(real);
  std::free(real);
  return resolved;
}

constexpr char kLinkRefused[] = "it is a symbolic link now, which is not followed";

// How often a wait for a FIFO's writer looks at the cancel flag.
constexpr int kWaitStepMs = 50;

}  // namespace

void ClearNonBlocking(int fd, const std::string& name) {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    throw IoError(name, "open", errno);
  }
}

std::string BaseName(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
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
  return RealPath(path);
}

bool SamePlace(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  const bool hasA = ::stat(a.c_str(), &sa) == 0;
  const bool hasB = ::stat(b.c_str(), &sb) == 0;
  if (hasA || hasB) return hasA && hasB && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
  return BaseName(a) == BaseName(b) && RealPath(ParentFolder(a)) == RealPath(ParentFolder(b));
}

int FlushFolder(const std::string& path) {
  const UniqueFd folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder) return errno == EACCES ? 0 : errno;
  return FlushFolderFd(folder.Get());
}

int FlushFolderFd(int folder) {
  // Some file systems cannot flush a folder, and an O_PATH descriptor cannot be flushed at all;
  // neither is a failure.
  if (::fsync(folder) != 0 && errno != EINVAL && errno != ENOTSUP && errno != EROFS &&
      errno != EBADF) {
    return errno;
  }
  return 0;
}

UniqueFd OpenFolderBeneath(int root, std::string_view rel, const std::string& display,
                           bool create) {
  UniqueFd folder(::fcntl(root, F_DUPFD_CLOEXEC, 3));
  if (!folder) throw IoError(display, "open", errno);
  std::string at = display;
  while (!rel.empty()) {
    const std::size_t slash = rel.find('/');
    const std::string step(rel.substr(0, slash));
    rel = slash == std::string_view::npos ? std::string_view() : rel.substr(slash + 1);
    if (step.empty() || step == ".") continue;
    at = at.empty() || at.back() == '/' ? at + step : at + "/" + step;
    if (step == "..") throw IoError(at, "open", "it leads out of the folder");
    bool made = false;
    if (create) {
      if (::mkdirat(folder.Get(), step.c_str(), 0777) == 0) {
        made = true;
      } else if (errno != EEXIST) {
        throw IoError(at, "create folder", errno);
      }
    }
    UniqueFd next(
        ::openat(folder.Get(), step.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!next && errno == EACCES) {
      // A folder we may enter but not list still takes files; it just cannot be flushed.
      next = UniqueFd(
          ::openat(folder.Get(), step.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    }
    if (!next) {
      const int err = errno;
      struct stat st;
      if ((err == ELOOP || err == ENOTDIR) &&
          ::fstatat(folder.Get(), step.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
          S_ISLNK(st.st_mode)) {
        throw IoError(at, "open", kLinkRefused);
      }
      throw IoError(at, create ? "create folder" : "open", err);
    }
    // A new folder's name must outlast a crash, or the files written into it would go with it.
    if (made) {
      if (const int err = FlushFolderFd(folder.Get()); err != 0) {
        throw IoError(at, "create folder", err);
      }
    }
    folder = std::move(next);
  }
  return folder;
}

UniqueFd OpenParentFolder(const std::string& path) {
  const std::string parent = ParentFolder(path);
  UniqueFd folder(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder && errno == EACCES) {
    folder = UniqueFd(::open(parent.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  }
  if (!folder) throw IoError(path, "open", errno);
  return folder;
}

OpenedSource OpenSource(int folder, const std::string& name, const std::string& display,
                        bool followLink) {
  OpenedSource source;
  source.fd = UniqueFd(
      ::openat(folder, name.c_str(),
               O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | (followLink ? 0 : O_NOFOLLOW)));
  if (!source.fd) {
    const int err = errno;
    struct stat st;
    if (!followLink && err == ELOOP &&
        ::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
      throw IoError(display, "open", kLinkRefused);
    }
    throw IoError(display, "open", err);
  }
  if (::fstat(source.fd.Get(), &source.status) != 0) throw IoError(display, "open", errno);
  if (S_ISDIR(source.status.st_mode)) throw IoError(display, "open", EISDIR);
  return source;
}

bool AwaitReadable(int fd, const struct stat& status, const std::string& display,
                   const std::atomic<bool>* cancel) {
  if (S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode)) {
    for (;;) {
      if (cancel != nullptr && cancel->load(std::memory_order_relaxed)) return false;
      pollfd p = {fd, POLLIN, 0};
      const int ready = ::poll(&p, 1, kWaitStepMs);
      if (ready > 0) break;
      if (ready < 0 && errno != EINTR) throw IoError(display, "read", errno);
    }
  }
  ClearNonBlocking(fd, display);
  return true;
}

bool IsLinkRefusal(const IoError& e) {
  return e.Errno() == 0 && e.Cause() == kLinkRefused;
}

UniqueFd OpenRegularFile(int folder, const std::string& name, const std::string& display) {
  UniqueFd fd(
      ::openat(folder, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW));
  if (!fd) {
    if (errno == ELOOP)
      throw IoError(display, "open", "it is a symbolic link, which is not followed");
    throw IoError(display, "open", errno);
  }
  struct stat st;
  if (::fstat(fd.Get(), &st) != 0) throw IoError(display, "open", errno);
  if (S_ISDIR(st.st_mode)) throw IoError(display, "open", EISDIR);
  if (!S_ISREG(st.st_mode)) throw IoError(display, "open", "it is not a regular file");
  ClearNonBlocking(fd.Get(), display);
  return fd;
}

bool SameContentState(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
         a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

}  // namespace kryvane
