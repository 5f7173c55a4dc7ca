// Small POSIX file helpers shared by the file job and the settings file.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <string>

namespace kryvane {

// strerror(errnum), thread-safe.
std::string ErrnoText(int errnum);

// The folder that holds path ("." for a bare name).
std::string ParentFolder(const std::string& path);

// The path itself, or where it finally points when it is a symbolic link to an existing file, so
// that replacing the file keeps the link.
std::string ResolveLinks(const std::string& path);

// A new, empty file beside path (same folder, hidden name derived from path), opened for writing.
// Mode as for open(); the umask applies. Returns the descriptor and stores the name in *tempPath;
// -1 with errno set on failure.
int CreateTempBeside(const std::string& path, mode_t mode, std::string* tempPath);

// An unnamed file in the folder that will hold path (O_TMPFILE), opened for writing: a crash or a
// kill leaves nothing behind. Mode as for open(); the umask applies. -1 with errno set when the
// system or the file system cannot make one; CreateTempBeside then does instead.
int CreateUnnamedBeside(const std::string& path, mode_t mode);

// Gives the unnamed file fd a new, hidden name beside path (as CreateTempBeside names them) and
// stores it in *tempPath. Returns 0 or an errno.
int LinkUnnamedBeside(int fd, const std::string& path, std::string* tempPath);

// Whether a and b name the same file: the same device and inode when both exist, otherwise the
// same folder (symbolic links resolved) and the same name.
bool SamePlace(const std::string& a, const std::string& b);

// Flushes the folder that holds path, so that a rename into it is durable. Returns 0 or an errno.
int SyncParentFolder(const std::string& path);

// Closes fd, retrying nothing (Linux always releases the descriptor). Returns 0 or an errno.
int CloseFd(int fd);

// Owns a descriptor.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  ~UniqueFd();

  int Get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  // Closes now and reports the close's errno (0 when fine); a delayed write error of a network
  // file system shows up only here.
  int Close();

 private:
  int fd_ = -1;
};

}  // namespace kryvane
