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

// A POSIX file descriptor (file, pipe, terminal, device). Does not own the descriptor.
class FdSource final : public ByteSource {
 public:
  FdSource(int fd, std::string name) : fd_(fd), name_(std::move(name)) {}
  std::size_t Read(void* buffer, std::size_t n) override;

 private:
  int fd_;
  std::string name_;
};

class FdSink final : public ByteSink {
 public:
  FdSink(int fd, std::string name) : fd_(fd), name_(std::move(name)) {}
  void Write(const void* buffer, std::size_t n) override;

 private:
  int fd_;
  std::string name_;
};

}  // namespace kryvane
