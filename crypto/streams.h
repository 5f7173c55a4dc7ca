// Byte streams the cipher's stream operations read and write. Implementations must fill a read
// completely unless the data has run out, because a short read in the middle of a stream would
// end a cipher chain early and change every byte after it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace kryvane {

// A read or write that failed or stored fewer bytes than asked.
class StreamError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads up to n bytes; returns fewer only at the end of the data. Throws StreamError on failure.
  virtual std::size_t Read(void* buffer, std::size_t n) = 0;
};

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Writes all n bytes or throws StreamError.
  virtual void Write(const void* buffer, std::size_t n) = 0;
};

class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(std::span<const uint8_t> data) : data_(data) {}
  std::size_t Read(void* buffer, std::size_t n) override;
  std::size_t Position() const { return pos_; }

 private:
  std::span<const uint8_t> data_;
  std::size_t pos_ = 0;
};

class MemorySink final : public ByteSink {
 public:
  void Write(const void* buffer, std::size_t n) override;
  const std::vector<uint8_t>& Data() const { return data_; }

 private:
  std::vector<uint8_t> data_;
};

// The one read loop and the one write loop over a POSIX descriptor (file, pipe, terminal,
// device), which every reader and writer of a descriptor goes through.

// Reads until n bytes are in or the data ends; a short count means the end of the data, or an
// error when *errnum is set (to 0 otherwise). Interrupted calls are retried.
std::size_t ReadFd(int fd, void* buffer, std::size_t n, int* errnum);

// Writes all n bytes; returns 0, or the errno of the failure (ENOSPC for a descriptor that takes
// nothing). Interrupted calls are retried.
int WriteFd(int fd, const void* buffer, std::size_t n);

// strerror(errnum) in a way that is safe on any thread.
std::string ErrnoText(int errnum);

// A failed read or write of a descriptor, with its errno.
class FdStreamError : public StreamError {
 public:
  FdStreamError(const std::string& name, const char* operation, int errnum);
  int Errno() const { return errno_; }

 private:
  int errno_;
};

// Does not own the descriptor. Throws FdStreamError("NAME: read: CAUSE").
class FdSource final : public ByteSource {
 public:
  FdSource(int fd, std::string name) : fd_(fd), name_(std::move(name)) {}
  std::size_t Read(void* buffer, std::size_t n) override;

 private:
  int fd_;
  std::string name_;
};

// Does not own the descriptor. Throws FdStreamError("NAME: write: CAUSE").
class FdSink final : public ByteSink {
 public:
  FdSink(int fd, std::string name) : fd_(fd), name_(std::move(name)) {}
  void Write(const void* buffer, std::size_t n) override;

 private:
  int fd_;
  std::string name_;
};

}  // namespace kryvane
