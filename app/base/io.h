// Descriptor I/O shared by the file job, the settings file and kryvane-cli: one read loop, one
// write loop, and errors that carry the file, the operation and the cause as data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/base/error.h"
#include "app/base/secret.h"
#include "crypto/streams.h"

namespace kryvane {

// A failed system call on a file, or a file whose content cannot be used: the one exception, of
// kind kIo.
using IoError = ErrorException;

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
  // file system shows up only here. Linux always releases the descriptor, so nothing is retried.
  int Close();

 private:
  int fd_ = -1;
};

// The read and write loops themselves (ReadFd, WriteFd) and ErrnoText are crypto/streams.h's;
// FdReader and FdWriter put IoError on them.

// Reads a descriptor (file, pipe, terminal, device) that it does not own. A read returns fewer
// bytes than asked only at the end of the data; failures throw IoError(name, "read", errno).
class FdReader final : public ByteSource {
 public:
  FdReader(int fd, std::string name) : fd_(fd), name_(std::move(name)) {}
  std::size_t Read(void* buffer, std::size_t n) override;
  uint64_t BytesRead() const { return done_; }

 private:
  int fd_;
  std::string name_;
  uint64_t done_ = 0;
};

// Writes all bytes to a descriptor it does not own; failures throw IoError(name, "write", errno).
class FdWriter final : public ByteSink {
 public:
  FdWriter(int fd, std::string name) : fd_(fd), name_(std::move(name)) {}
  void Write(const void* buffer, std::size_t n) override;

 private:
  int fd_;
  std::string name_;
};

// Opens /dev/null on each of descriptors 0-2 that is closed, so that no file opened later takes
// its number (a target that became descriptor 2 would receive the progress bar). Call first thing
// in main.
void EnsureStandardDescriptors();
// Whether descriptor fd (0-2) was closed when EnsureStandardDescriptors ran: what stands there now
// is only a placeholder, and "-" on it must fail rather than read or write /dev/null.
bool StandardDescriptorWasClosed(int fd);

// The most a passphrase, a settings file or a text may hold: anything larger is a mistake (such as
// /dev/zero) that must not grow memory without bound.
inline constexpr std::size_t kMaxSmallRead = std::size_t(1) << 20;

// Reads fd to its end. More than limit bytes throws IoError(name, "read", "larger than ...").
Secret ReadAllSecret(int fd, const std::string& name, std::size_t limit = kMaxSmallRead);

}  // namespace kryvane
