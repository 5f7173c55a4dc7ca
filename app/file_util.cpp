#include "app/file_util.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace kryvane {
namespace {

std::string BaseName(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string RealPath(const std::string& path) {
  char* real = ::realpath(path.c_str(), nullptr);
  if (real == nullptr) return path;
  std::string resolved(real);
  std::free(real);
  return resolved;
}

}  // namespace

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
  if (::fsync(folder.Get()) != 0 && errno != EINVAL && errno != ENOTSUP && errno != EROFS) {
    return errno;
  }
  return 0;
}

}  // namespace kryvane
